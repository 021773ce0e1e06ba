// The show without a window reads its settings as the window's lists would
// select them.
#include <gtest/gtest.h>

#include <string>

#include "shell/preferences.h"

namespace {

TEST(SelectedChoices, SavedValuesOfTheListsStayOthersBecomeTheDefaults) {
  struct Case {
    shell::Preferences saved;
    shell::Preferences chosen;
  };
  const Case cases[] = {
      {{"", "", "", "", "", "", ""}, {"1", "115200", "5", "5:30:00 PM", "11:00:00 PM", "", ""}},
      {{"16", "56000", "10", "12:00:00 AM", "11:59:59 PM", "1", "/shows"},
       {"16", "56000", "10", "12:00:00 AM", "11:59:59 PM", "1", "/shows"}},
      // Not entries of their lists: port 17, 9600 baud, frame timing 0, a
      // start time off the quarter hours, the last second as a start time.
      {{"17", "9600", "0", "5:31:00 PM", "11:00:00 PM", "0", "c:\\"},
       {"1", "115200", "5", "5:30:00 PM", "11:00:00 PM", "0", "c:\\"}},
      {{" 1", "115200 ", "05", "11:59:59 PM", "5:30:00 pm", "0", ""},
       {"1", "115200", "5", "5:30:00 PM", "11:00:00 PM", "0", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(shell::FormatPreferences(c.saved));
    EXPECT_EQ(shell::FormatPreferences(shell::SelectedChoices(c.saved)),
              shell::FormatPreferences(c.chosen));
  }
}

}  // namespace
