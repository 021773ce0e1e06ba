#pragma once

#include <cstdlib>
#include <string_view>

#include <gtest/gtest.h>

namespace fakes {

// CI=true: the machine is meant to have everything a test needs.
inline bool RunningInCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string_view(ci) == "true";
}

}  // namespace fakes

// Skips a test that cannot run on this machine, saying why; under CI=true the
// same is a failure, so a missing dependency never hides a test there.
#define SKIP_OUTSIDE_CI(message) \
  do {                           \
    if (fakes::RunningInCi()) {  \
      GTEST_FAIL() << message;   \
    } else {                     \
      GTEST_SKIP() << message;   \
    }                            \
  } while (false)
