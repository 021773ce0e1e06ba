#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/qt/qt_user_interface.h"
#include "tests/shell/window_fixture.h"

namespace {

using namespace std::chrono_literals;

// The show player waits for its next moment inside WaitForEvents; a click on
// Stop that arrives meanwhile must be handled then, and end the wait, rather
// than when the time is up. The waits here are an hour long: a wait that
// did not end with the event would hold the test until its time-out.
TEST(QtUserInterfaceTest, EventArrivingDuringAWaitIsHandledAtOnceAndEndsIt) {
  shelltest::TestApp();
  platform::qt::QtUserInterface ui;
  for (const bool fromAnotherThread : {false, true}) {
    SCOPED_TRACE(fromAnotherThread ? "posted by another thread" : "already pending");
    std::atomic<bool> handled{false};
    const auto post = [&] {
      QMetaObject::invokeMethod(
          qApp, [&] { handled = true; }, Qt::QueuedConnection);
    };
    std::thread poster = fromAnotherThread ? std::thread(post) : std::thread();
    if (!fromAnotherThread) post();
    int waits = 0;
    while (!handled) {
      ui.WaitForEvents(1h);
      ++waits;
    }
    if (poster.joinable()) poster.join();
    EXPECT_GE(waits, 1);
  }
  // Waits shorter than Qt's millisecond timers still return.
  ui.WaitForEvents(300us);
  ui.WaitForEvents(0us);
}

// The window's show yields through the same hooks as the console's: the
// phone page and the watchdog are polled at every yield and wait.
TEST(QtUserInterfaceTest, YieldHooksRunAtEveryYieldAndWait) {
  shelltest::TestApp();
  platform::qt::QtUserInterface ui;
  int first = 0, second = 0;
  ui.AddYieldHook([&] { ++first; });
  ui.AddYieldHook([&] { ++second; });
  ui.DoEvents();
  ui.WaitForEvents(0us);
  ui.WaitForEvents(1ms);
  EXPECT_EQ(std::pair(first, second), std::pair(3, 3));
}

}  // namespace
