#pragma once

#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace calendar_test {

// Runs a test in a named zone and puts the old one back. glibc quietly
// falls back to UTC for a zone it cannot find, so a missing zone fails here.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    EXPECT_TRUE(std::filesystem::exists("/usr/share/zoneinfo/" + zone))
        << zone << " is not installed (Debian package tzdata)";
    setenv("TZ", zone.c_str(), 1);
    tzset();
  }
  ~ScopedTimeZone() {
    old_ ? setenv("TZ", old_->c_str(), 1) : unsetenv("TZ");
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> old_;
};

}  // namespace calendar_test
