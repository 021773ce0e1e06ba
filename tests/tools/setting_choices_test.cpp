// What the window's lists offer, and what the show without a window reads
// from saved settings, which must be what those lists would select.
#include <gtest/gtest.h>

#include <string>

#include "playback/show_front_end.h"
#include "shell/preferences.h"
#include "shell/setting_choices.h"

namespace {

TEST(SettingChoices, EachListHoldsItsEntriesAndFallsBackToItsDefault) {
  const struct {
    const char* name;
    const shell::ChoiceList& list;
    std::size_t count;
    const char *first, *last, *fallback;
  } lists[] = {{"port", shell::PortChoices(), 16, "1", "16", "1"},
               {"data rate", shell::DataRateChoices(), 2, "56000", "115200", "115200"},
               {"frame timing", shell::FrameTimingChoices(), 10, "1", "10", "5"},
               {"start", shell::StartTimeChoices(), 96, "12:00:00 AM", "11:45:00 PM", "5:30:00 PM"},
               {"end", shell::EndTimeChoices(), 97, "12:00:00 AM", "11:59:59 PM", "11:00:00 PM"}};
  for (const auto& l : lists) {
    SCOPED_TRACE(l.name);
    ASSERT_EQ(l.list.entries.size(), l.count);
    EXPECT_EQ(l.list.entries.front(), l.first);
    EXPECT_EQ(l.list.entries.back(), l.last);
    EXPECT_EQ(l.list.Default(), l.fallback);
    EXPECT_EQ(l.list.IndexOf(l.last), l.count - 1);
  }
  EXPECT_EQ(shell::StartTimeChoices().entries[48], "12:00:00 PM");
  EXPECT_EQ(shell::StartTimeChoices().entries[1], "12:15:00 AM");
}

// The show reads the lists' texts as numbers and times once; an entry it
// could not read would leave the show waiting or refuse the line.
TEST(SettingChoices, EveryEntryReadsAsTheShowsRateOrTime) {
  for (const std::string& rate : shell::DataRateChoices().entries) {
    const platform::Result<int> baud = playback::ParseLineRate(rate);
    ASSERT_TRUE(baud.ok()) << baud.message();
    EXPECT_EQ(std::to_string(baud.value()), rate);
  }
  for (const shell::ChoiceList* times : {&shell::StartTimeChoices(), &shell::EndTimeChoices()}) {
    for (std::size_t i = 0; i < times->entries.size(); ++i) {
      const playback::TimeOfDay time(times->entries[i]);
      ASSERT_TRUE(time.Seconds()) << times->entries[i];
      EXPECT_EQ(shell::TimeOfDayText(*time.Seconds()), times->entries[i]);
    }
  }
}

TEST(SettingChoices, TimeOfDayTextsAreTwelveHourWithoutALeadingZero) {
  const struct {
    int seconds;
    const char* text;
  } cases[] = {{0, "12:00:00 AM"},     {3661, "1:01:01 AM"},  {43199, "11:59:59 AM"},
               {43200, "12:00:00 PM"}, {63000, "5:30:00 PM"}, {86399, "11:59:59 PM"},
               {86400, "12:00:00 AM"}, {-1, "11:59:59 PM"}};
  for (const auto& c : cases) EXPECT_EQ(shell::TimeOfDayText(c.seconds), c.text) << c.seconds;
}

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
      // Near misses: blanks, leading zeros, lower case, a 24-hour time.
      {{" 1", "115200 ", "05", "8:15:00 pm", "23:00:00", "0", ""},
       {"1", "115200", "5", "5:30:00 PM", "11:00:00 PM", "0", ""}},
      {{"07", "56000", "3", "11:59:59 PM", "5:30:00 pm", "0", ""},
       {"1", "56000", "3", "5:30:00 PM", "11:00:00 PM", "0", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(shell::FormatPreferences(c.saved));
    EXPECT_EQ(shell::FormatPreferences(shell::SelectedChoices(c.saved)),
              shell::FormatPreferences(c.chosen));
  }
}

}  // namespace
