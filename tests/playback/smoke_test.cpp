#include <gtest/gtest.h>

// Keeps the suite buildable until its first real test lands.
TEST(Smoke, Builds) { SUCCEED(); }
