#pragma once

#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#ifdef _WIN32
#include "calendar/windows_zone.h"
#endif

namespace calendar_test {

#ifdef _WIN32
// Windows names zones after its registry keys and has no TZ: the zones the
// tests use, by the Windows zone that keeps the same rules.
inline std::string WindowsZoneFor(const std::string& zone) {
  static const std::map<std::string, std::string> kZones = {
      {"America/Anchorage", "Alaskan Standard Time"},
      {"America/New_York", "Eastern Standard Time"},
      {"Europe/Amsterdam", "W. Europe Standard Time"},
      {"Europe/Oslo", "W. Europe Standard Time"},
      {"Pacific/Apia", "Samoa Standard Time"},
      {"Pacific/Chatham", "Chatham Islands Standard Time"},
      {"Pacific/Fakaofo", "Tonga Standard Time"},
      {"Pacific/Kiritimati", "Line Islands Standard Time"},
      {"Pacific/Tongatapu", "Tonga Standard Time"},
      {"UTC", "UTC"},
  };
  const auto it = kZones.find(zone);
  return it == kZones.end() ? std::string() : it->second;
}

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& zone) {
    const std::string windows = WindowsZoneFor(zone);
    EXPECT_FALSE(windows.empty()) << zone << " has no Windows zone in the tests' table";
    EXPECT_TRUE(calendar::UseWindowsZone(windows)) << windows << " is not known to this system";
  }
  ~ScopedTimeZone() { calendar::UseWindowsZone(""); }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;
};
#else

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
#endif

}  // namespace calendar_test
