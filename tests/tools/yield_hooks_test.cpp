#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "tools/glimmer/console_show_window.h"

namespace {

using namespace std::chrono_literals;

// `glimmer show` runs the watchdog's check and the phone page's server at
// the same yields; adding the second must not drop the first, whichever
// way the show yields. A hook may yield itself (a server answering while
// the show waits) or add another; neither runs the hooks over again nor
// loses the new one.
TEST(YieldHooks, EveryHookRunsOnceInOrderAtEachYieldAndWaitEvenIfItYieldsOrAddsOne) {
  glimmer::ConsoleUserInterface ui;
  std::string ran;
  ui.AddYieldHook([&] { ran += "watchdog "; });
  ui.AddYieldHook([&] {
    if (ran == "watchdog ") ui.AddYieldHook([&] { ran += "added "; });
    ran += "page ";
    ui.DoEvents();
  });
  ui.DoEvents();
  ui.WaitForEvents(0us);
  ui.WaitForEvents(1us);
  EXPECT_EQ(ran, "watchdog page added watchdog page added watchdog page added ");
}

}  // namespace
