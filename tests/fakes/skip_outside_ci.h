#pragma once

#include <cstdlib>
#include <string_view>

#include <gtest/gtest.h>

// Skips a test that cannot run on this machine, saying why; under CI=true
// (the machine is meant to have everything a test needs) the same is a
// failure, so a missing dependency never hides a test there.
#define SKIP_OUTSIDE_CI(message)                                                    \
  do {                                                                              \
    if (const char* ci = std::getenv("CI"); ci && std::string_view(ci) == "true") { \
      GTEST_FAIL() << message;                                                      \
    } else {                                                                        \
      GTEST_SKIP() << message;                                                      \
    }                                                                               \
  } while (false)
