#include <chrono>
#include <cstdint>
#include <random>

#include <gtest/gtest.h>

#include "platform/audio/position_estimator.h"

namespace {

using namespace std::chrono_literals;
using platform::HandOverMailbox;
using platform::PositionEstimator;
using platform::SteadyTime;

constexpr double kRate = 44100;

class PositionEstimatorTest : public ::testing::Test {
 protected:
  double At(std::chrono::microseconds t) { return estimator.FramesAt(mailbox.Latest(), t0 + t); }
  void Callback(std::int64_t frames, std::chrono::microseconds t) {
    mailbox.Publish(frames, t0 + t);
  }
  SteadyTime t0 = SteadyTime(1000s);
  HandOverMailbox mailbox;
  PositionEstimator estimator{kRate};
};

TEST_F(PositionEstimatorTest, JitteryCallbacksGiveASmoothNeverFallingNeverAheadPosition) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> jitter(-8000, 8000);  // µs around 23.2 ms
  std::uniform_int_distribution<int> burst(0, 9);          // sometimes two back to back
  std::int64_t handed = 0;
  std::chrono::microseconds t{0};
  double last = 0;
  double largestStep = 0;
  for (int k = 0; k < 2000; ++k) {
    Callback(1024, t);
    handed += 1024;
    const auto next =
        burst(random) == 0 ? 1ms : 23220us + std::chrono::microseconds(jitter(random));
    for (int q = 0; q < 8; ++q) {
      const double p = At(t + next * q / 8);
      ASSERT_GE(p, last) << "went backwards at callback " << k;
      ASSERT_LE(p, static_cast<double>(handed)) << "ahead of the audio at callback " << k;
      largestStep = std::max(largestStep, p - last);
      last = p;
    }
    t += next;
  }
  // Steps stay a fraction of a callback: the position moves smoothly.
  EXPECT_LT(largestStep, 1024.0);
  // And it keeps up with the audio over the long run.
  EXPECT_GT(last, static_cast<double>(handed) - 3 * 1024);
}

// What the device and the audio server still hold is not heard yet: with
// 50 ms of them, a callback's frames count from 50 ms after it ran.
TEST_F(PositionEstimatorTest, FramesStillInTheDeviceAreNotCountedAsHeard) {
  mailbox.Publish(4410, t0 + 50ms);  // ran at 0 ms: heard from 50 ms to 150 ms
  EXPECT_EQ(At(0us), 0.0);
  EXPECT_EQ(At(50ms), 0.0);
  EXPECT_NEAR(At(100ms), 2205.0, 1e-6) << "counted what is still in the device";
  mailbox.Publish(4410, t0 + 150ms);  // ran at 100 ms
  EXPECT_NEAR(At(100ms), 2205.0, 1e-6);
  EXPECT_NEAR(At(160ms), 4410.0 + 441.0, 1e-6);
  EXPECT_NEAR(At(10s), 8820.0, 1e-6);
}

TEST_F(PositionEstimatorTest, ResetStartsANewFileFromZero) {
  Callback(1024, 0us);
  EXPECT_GT(At(10ms), 0.0);
  mailbox.Reset();
  estimator.Reset();
  EXPECT_EQ(At(20ms), 0.0);
  Callback(100, 30ms);
  EXPECT_DOUBLE_EQ(At(30ms), 0.0);
  EXPECT_DOUBLE_EQ(At(1s), 100.0);
}

}  // namespace
