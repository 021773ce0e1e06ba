#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "tools/glimmer/console_show_window.h"

namespace {

using namespace std::chrono_literals;

// `glimmer show` runs the watchdog's check and the phone page's server at
// the same yields; adding the second must not drop the first, whichever
// way the show yields.
TEST(YieldHooks, EveryHookRunsInOrderAtEachYieldAndWait) {
  glimmer::ConsoleUserInterface ui;
  std::string ran;
  ui.AddYieldHook([&] { ran += "watchdog "; });
  ui.AddYieldHook([&] { ran += "page "; });
  ui.DoEvents();
  ui.WaitForEvents(0us);
  ui.WaitForEvents(1us);
  EXPECT_EQ(ran, "watchdog page watchdog page watchdog page ");
}

// A hook may yield itself (a server answering while the show waits) or add
// another; neither runs the hooks over again nor loses the new one.
TEST(YieldHooks, AHookThatYieldsOrAddsAHookRunsOncePerYield) {
  glimmer::ConsoleUserInterface ui;
  int outer = 0, added = 0;
  ui.AddYieldHook([&] {
    if (++outer == 1) ui.AddYieldHook([&] { ++added; });
    ui.DoEvents();
  });
  ui.DoEvents();
  EXPECT_EQ(outer, 1);
  EXPECT_EQ(added, 1);
  ui.DoEvents();
  EXPECT_EQ(outer, 2);
  EXPECT_EQ(added, 2);
}

}  // namespace
