// Whole seasons on a simulated clock: the preview worked out beforehand and
// what the show then played agree night for night. With GLIMMER_SEASON_REPORT
// set to a folder, each run leaves its preview and its show log there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/calendar/time_zone.h"
#include "tests/playback/calendar_show_rig.h"

namespace {

using calendar::Date;

void Report(const std::string& name, const std::vector<calendar::Night>& nights,
            const std::string& log) {
  const char* folder = std::getenv("GLIMMER_SEASON_REPORT");
  if (folder == nullptr) return;
  std::ofstream preview(std::string(folder) + "/" + name + ".preview.txt");
  for (const calendar::Night& night : nights) preview << calendar::PreviewLine(night) << "\n";
  std::ofstream(std::string(folder) + "/" + name + ".preview.json")
      << calendar::PreviewJson(nights);
  std::ofstream(std::string(folder) + "/" + name + ".show.log") << log;
}

TEST(ShowSeasonTest, AcrossTheAutumnClockChangeInNewYork) {
  calendar_test::ScopedTimeZone zone("America/New_York");
  std::ifstream file(std::string(GLIMMER_SOURCE_DIR) + "/tests/golden/calendar/calendar.toml");
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(text.empty());
  const auto nights = calendar_show::Preview(text, {2026, 10, 19}, 24);
  calendar_show::Rig rig(text);
  rig.Run({2026, 10, 19}, 12 * 3600, {2026, 11, 11}, 12 * 3600);
  Report("new_york", nights, rig.log.text);

  // Halloween ends in the first 1:30 AM; the next evening opens at 4:52 PM
  // by the clocks, 25 hours after the evening before's 5:43 PM... less the
  // earlier dusk.
  EXPECT_EQ(calendar::Iso8601(*nights[12].end), "2026-11-01T01:30:00-04:00");
  EXPECT_EQ(calendar::Iso8601(*nights[13].start), "2026-11-01T16:52:00-05:00");
  calendar_show::ExpectPlayedAsPreviewed(rig, nights, 60);
  EXPECT_TRUE(rig.ui.messages.empty());
}

}  // namespace
