#include "import/compiler_passes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "import/sequence_cache.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/import/recording_compile_window.h"

namespace importer {
namespace {

using importer_tests::RecordingCompileWindow;

// One row as the reader makes it, intervals null.
struct Event {
  std::int32_t sample, device, channel, command, startIntensity, endIntensity;
};

EventTable MakeTable(const std::vector<Event>& events) {
  EventTable table;
  for (const Event& e : events) {
    table.AddRow();
    table.Set(Column::SampleNumber, e.sample);
    table.Set(Column::Device, e.device);
    table.Set(Column::Channel, e.channel);
    table.Set(Column::Command, e.command);
    table.Set(Column::StartIntensity, e.startIntensity);
    table.Set(Column::EndIntensity, e.endIntensity);
  }
  return table;
}

struct Timed {
  std::int32_t sample, device, channel, command;
  Value shortInterval, longInterval;
  bool operator==(const Timed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Timed& t) {
  const auto show = [](const Value& v) { return v ? std::to_string(*v) : std::string("null"); };
  return out << "{" << t.sample << "," << t.device << "," << t.channel << "," << t.command << ","
             << show(t.shortInterval) << "," << show(t.longInterval) << "}";
}

// The rows in playback order with their timing codes.
std::vector<Timed> Playback(EventTable& table) {
  EXPECT_TRUE(table.Sort(kPlaybackSort).ok());
  std::vector<Timed> rows;
  for (table.MoveFirst(); !table.AtEnd(); table.MoveNext()) {
    rows.push_back({*table.Get(Column::SampleNumber), *table.Get(Column::Device),
                    *table.Get(Column::Channel), *table.Get(Column::Command),
                    table.Get(Column::ShortInterval), table.Get(Column::LongInterval)});
  }
  return rows;
}

class PassTest : public ::testing::Test {
 protected:
  std::vector<Timed> Durations(const std::vector<Event>& events) {
    EventTable table = MakeTable(events);
    EXPECT_TRUE(GenerateEventDurations(table, FillFadeTimingTable(), window_, ui_).ok());
    return Playback(table);
  }
  // The rows left after redundant removal, in playback order.
  std::vector<Timed> Kept(const std::vector<Event>& events) {
    EventTable table = MakeTable(events);
    EXPECT_TRUE(RemoveRedundantCommands(table, window_, ui_).ok());
    return Playback(table);
  }

  fakes::FakeUserInterface ui_;
  RecordingCompileWindow window_{ui_};
};

// --- fade timings --------------------------------------------------------------

TEST_F(PassTest, FadeLastsUntilTheNextEventOfItsChannel) {
  const std::vector<std::tuple<std::int32_t, Value, Value>> cases = {
      {44100, 2, 244},     // half a second: row 5
      {176400, 8, 253},    // two seconds: row 20
      {2205000, 128, 20},  // 25 seconds
      {9000000, 128, 20},  // longer still
      {0, 19, 195},        // the next event at the same moment: row 0
      {8820, 19, 195},     // row 1
  };
  for (const auto& [span, shortCode, longCode] : cases) {
    const auto rows = Durations({{1000, 1, 4, 34, 0, 255}, {1000 + span, 1, 4, 33, 255, 255}});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (Timed{1000, 1, 4, 34, shortCode, longCode})) << span;
    EXPECT_EQ(rows[1], (Timed{1000 + span, 1, 4, 33, std::nullopt, std::nullopt})) << span;
  }
}

TEST_F(PassTest, OnlyFadesWithALaterEventOnTheSameChannelGetCodes) {
  const auto rows = Durations({
      {0, 1, 1, 34, 0, 255},       // fade, next event of channel 1 at 88200
      {0, 1, 2, 33, 0, 255},       // not a fade: no codes, though followed
      {44100, 1, 2, 24, 0, 255},   // bank 2 fade (channel 10): last of its channel
      {44100, 2, 1, 34, 0, 255},   // another controller: last of its channel
      {88200, 1, 1, 34, 255, 0},   // fade, last of channel 1
      {88200, 1, 2, 33, 255, 255}  // last of channel 2
  });
  const std::vector<Timed> expected = {
      {0, 1, 1, 34, 1, 250},
      {0, 1, 2, 33, std::nullopt, std::nullopt},
      {44100, 1, 2, 24, std::nullopt, std::nullopt},
      {44100, 2, 1, 34, std::nullopt, std::nullopt},
      {88200, 1, 1, 34, std::nullopt, std::nullopt},
      {88200, 1, 2, 33, std::nullopt, std::nullopt},
  };
  EXPECT_EQ(rows, expected);
}

TEST_F(PassTest, EachFadeMeasuresToItsOwnNextEvent) {
  const auto rows =
      Durations({{0, 3, 8, 34, 0, 255}, {44100, 3, 8, 34, 255, 0}, {220500, 3, 8, 33, 0, 0}});
  EXPECT_EQ(rows[0], (Timed{0, 3, 8, 34, 2, 244}));
  EXPECT_EQ(rows[1], (Timed{44100, 3, 8, 34, 8, 253}));
}

// Rows at one moment on one channel are sent in the order they were added:
// a fade followed at once by another event lasts 0; the last of the moment
// lasts until the channel's next moment.
TEST_F(PassTest, RowsAtTheSameMomentFollowEachOtherInTheOrderAdded) {
  struct Case {
    const char* name;
    std::vector<Event> events;
    std::vector<Timed> expected;
  };
  const std::vector<Case> cases = {
      {"fade, then an event at the same moment",
       {{500, 1, 2, 34, 0, 255}, {500, 1, 2, 33, 255, 255}},
       {{500, 1, 2, 34, 19, 195}, {500, 1, 2, 33, std::nullopt, std::nullopt}}},
      {"event, then the fade: the fade is the channel's last",
       {{500, 1, 2, 33, 255, 255}, {500, 1, 2, 34, 0, 255}},
       {{500, 1, 2, 33, std::nullopt, std::nullopt}, {500, 1, 2, 34, std::nullopt, std::nullopt}}},
      {"event, then the fade, then a later event",
       {{500, 1, 2, 33, 255, 255}, {500, 1, 2, 34, 0, 255}, {44600, 1, 2, 33, 0, 0}},
       {{500, 1, 2, 33, std::nullopt, std::nullopt},
        {500, 1, 2, 34, 2, 244},
        {44600, 1, 2, 33, std::nullopt, std::nullopt}}},
      {"two fades at one moment before a later event",
       {{500, 1, 2, 34, 0, 9}, {500, 1, 2, 34, 0, 255}, {44600, 1, 2, 33, 0, 0}},
       {{500, 1, 2, 34, 19, 195},
        {500, 1, 2, 34, 2, 244},
        {44600, 1, 2, 33, std::nullopt, std::nullopt}}},
      {"the other bank at the same moment does not count",
       {{500, 1, 2, 34, 0, 255}, {500, 1, 2, 23, 255, 255}},
       {{500, 1, 2, 34, std::nullopt, std::nullopt}, {500, 1, 2, 23, std::nullopt, std::nullopt}}},
  };
  for (const Case& c : cases) EXPECT_EQ(Durations(c.events), c.expected) << c.name;
}

// Channel 1 (bank 1) and channel 9 (bank 2) share Channel value 1; an event on
// channel 9 must not end a fade on channel 1.
TEST(FadeTimings, Channel9DoesNotCutChannel1Fade) {
  fakes::FakeUserInterface ui;
  RecordingCompileWindow window(ui);
  EventTable table = MakeTable({
      {0, 1, 1, 34, 0, 255},         // channel 1 fade
      {10000, 1, 1, 24, 0, 255},     // channel 9 fade
      {54100, 1, 1, 23, 255, 255},   // channel 9 event
      {176400, 1, 1, 33, 255, 255},  // channel 1 event
  });
  ASSERT_TRUE(GenerateEventDurations(table, FillFadeTimingTable(), window, ui).ok());
  const std::vector<Timed> expected = {
      {0, 1, 1, 34, 8, 253},      // 176400 to the next channel 1 event
      {10000, 1, 1, 24, 2, 244},  // 44100 to the next channel 9 event
      {54100, 1, 1, 23, std::nullopt, std::nullopt},
      {176400, 1, 1, 33, std::nullopt, std::nullopt},
  };
  EXPECT_EQ(Playback(table), expected);
}

TEST(FadeTimings, LastFadeOfBank1StaysOpenAfterABank2Event) {
  fakes::FakeUserInterface ui;
  RecordingCompileWindow window(ui);
  EventTable table = MakeTable({{0, 2, 128, 34, 0, 255}, {44100, 2, 128, 27, 0, 0}});
  ASSERT_TRUE(GenerateEventDurations(table, FillFadeTimingTable(), window, ui).ok());
  EXPECT_EQ(Playback(table)[0], (Timed{0, 2, 128, 34, std::nullopt, std::nullopt}));
}

// --- redundant removal -----------------------------------------------------------

TEST_F(PassTest, RemovesOnlyRepeatsOfTheSameChannelsLastCommand) {
  struct Case {
    const char* name;
    std::vector<Event> events;
    std::vector<std::int32_t> keptSamples;
  };
  const std::vector<Case> cases = {
      {"equal non-fades in a row", {{0, 1, 1, 33, 0, 255}, {10, 1, 1, 33, 0, 255}}, {0}},
      {"three equal non-fades",
       {{0, 1, 1, 36, 5, 5}, {10, 1, 1, 36, 5, 5}, {20, 1, 1, 36, 5, 5}},
       {0}},
      {"equal fades", {{0, 1, 1, 34, 0, 255}, {10, 1, 1, 34, 0, 255}}, {0, 10}},
      {"equal bank 2 fades", {{0, 1, 1, 24, 0, 255}, {10, 1, 1, 24, 0, 255}}, {0, 10}},
      {"other controller", {{0, 1, 1, 33, 0, 255}, {10, 2, 1, 33, 0, 255}}, {0, 10}},
      {"other channel", {{0, 1, 1, 33, 0, 255}, {10, 1, 2, 33, 0, 255}}, {0, 10}},
      {"other command", {{0, 1, 1, 33, 0, 255}, {10, 1, 1, 36, 0, 255}}, {0, 10}},
      {"other start", {{0, 1, 1, 33, 0, 255}, {10, 1, 1, 33, 1, 255}}, {0, 10}},
      {"other end", {{0, 1, 1, 33, 0, 255}, {10, 1, 1, 33, 0, 254}}, {0, 10}},
      {"back to an earlier state",
       {{0, 1, 1, 33, 0, 0}, {10, 1, 1, 33, 255, 255}, {20, 1, 1, 33, 0, 0}},
       {0, 10, 20}},
      {"a fade in between",
       {{0, 1, 1, 33, 0, 0}, {10, 1, 1, 34, 0, 0}, {20, 1, 1, 33, 0, 0}},
       {0, 10, 20}},
      {"the order is by time, not by adding",
       {{20, 1, 1, 33, 7, 7}, {0, 1, 1, 33, 7, 7}, {10, 1, 1, 33, 8, 8}},
       {0, 10, 20}},
      {"bank 2 repeats", {{0, 1, 4, 23, 9, 9}, {10, 1, 4, 23, 9, 9}}, {0}},
  };
  for (const Case& c : cases) {
    std::vector<std::int32_t> kept;
    for (const Timed& row : Kept(c.events)) kept.push_back(row.sample);
    EXPECT_EQ(kept, c.keptSamples) << c.name;
  }
}

// Channel 1 and channel 9 share Channel value 1; a command on channel 9 in
// between does not make a repeat on channel 1 new.
TEST(RedundantRemoval, Channel9DoesNotHideARepeatOnChannel1) {
  fakes::FakeUserInterface ui;
  RecordingCompileWindow window(ui);
  EventTable table = MakeTable({
      {0, 1, 1, 33, 0, 255},   // channel 1
      {10, 1, 1, 23, 0, 255},  // channel 9
      {20, 1, 1, 33, 0, 255},  // channel 1 again, same state: redundant
      {30, 1, 1, 23, 0, 255},  // channel 9 again, same state: redundant
      {40, 1, 1, 23, 9, 9},    // channel 9, new state
  });
  ASSERT_TRUE(RemoveRedundantCommands(table, window, ui).ok());
  std::vector<std::int32_t> kept;
  for (const Timed& row : Playback(table)) kept.push_back(row.sample);
  EXPECT_EQ(kept, (std::vector<std::int32_t>{0, 10, 40}));
}

// Rows with distinct intensities on one channel: nothing to remove.
std::vector<Event> DistinctRows(int count, std::int32_t device = 1) {
  std::vector<Event> events;
  for (int i = 0; i < count; ++i) events.push_back({i, device, 1, 33, i % 2, 0});
  return events;
}

TEST_F(PassTest, NinetyNineRowsShowNoPercentage) {
  Kept(DistinctRows(99));
  EXPECT_EQ(window_.statuses,
            (std::vector<std::string>{"Optimization - Removing Redundant Commands"}));
  EXPECT_TRUE(window_.YieldedAfterEveryText());
}

TEST_F(PassTest, HundredRowsShowTheirPercentageOnceAtTheLastRow) {
  Kept(DistinctRows(100));
  EXPECT_EQ(window_.statuses,
            (std::vector<std::string>{
                "Optimization - Removing Redundant Commands",
                "Optimization - Removing Redundant Commands (100% completed) Optimization Level: "
                "0%"}));
  EXPECT_TRUE(window_.YieldedAfterEveryText());
}

TEST_F(PassTest, PercentagesRoundHalvesToEven) {
  Kept(DistinctRows(800));
  const std::string head = "Optimization - Removing Redundant Commands (";
  const std::string tail = "% completed) Optimization Level: 0%";
  std::vector<std::string> expected;
  for (const char* p : {"12", "25", "38", "50", "62", "75", "88", "100"}) {
    expected.push_back(head + p + tail);
  }
  EXPECT_EQ(window_.ProgressTexts(), expected);
}

// 2,500 rows, the first 500 repeats gone before position 500 is reached: at
// position 500 of 2,000 remaining the level reads 20%.
TEST_F(PassTest, LevelIsTheShareOfRowsRemovedSoFar) {
  std::vector<Event> events;
  for (int i = 0; i <= 500; ++i) events.push_back({i, 1, 1, 33, 0, 0});  // 500 repeats
  for (const Event& e : DistinctRows(1999, 2)) events.push_back(e);
  Kept(events);
  const auto texts = window_.ProgressTexts();
  ASSERT_EQ(texts.size(), 20u);
  EXPECT_EQ(texts[4],
            "Optimization - Removing Redundant Commands (25% completed) Optimization Level: 20%");
  EXPECT_EQ(texts[19],
            "Optimization - Removing Redundant Commands (100% completed) Optimization Level: 20%");
}

// Deleted rows give up their position: the rows after them are counted at the
// same position again, and each shows the text with the count of that moment.
TEST_F(PassTest, APositionShowsAgainAfterTheRowThereWasRemoved) {
  std::vector<Event> events = DistinctRows(98);
  events.push_back({1000, 1, 1, 36, 1, 1});  // position 99
  events.push_back({1001, 1, 1, 36, 1, 1});  // position 100, removed
  events.push_back({1002, 1, 1, 36, 1, 1});  // position 100 again, removed
  events.push_back({1003, 1, 1, 36, 2, 2});  // position 100 once more, kept
  Kept(events);
  const std::string head = "Optimization - Removing Redundant Commands (";
  EXPECT_EQ(window_.ProgressTexts(),
            (std::vector<std::string>{head + "98% completed) Optimization Level: 0%",
                                      head + "99% completed) Optimization Level: 1%",
                                      head + "100% completed) Optimization Level: 2%"}));
}

// --- the whole second half ---------------------------------------------------------

class FinishCompileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("glimmer-finish-test-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(dir_);
    cacheFile_ = (dir_ / "Show.csq").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::vector<Timed> Stored() {
    auto loaded = LoadSequenceCache(cacheFile_);
    EXPECT_TRUE(loaded.ok()) << loaded.message();
    std::vector<Timed> rows;
    if (!loaded.ok()) return rows;
    EventTable& table = loaded.value();
    for (table.MoveFirst(); !table.AtEnd(); table.MoveNext()) {
      rows.push_back({*table.Get(Column::SampleNumber), *table.Get(Column::Device),
                      *table.Get(Column::Channel), *table.Get(Column::Command),
                      table.Get(Column::ShortInterval), table.Get(Column::LongInterval)});
    }
    return rows;
  }

  std::filesystem::path dir_;
  std::string cacheFile_;
  fakes::FakeUserInterface ui_;
  fakes::FakeFileStore files_;
};

const std::vector<Event> kShow = {
    {88200, 2, 1, 33, 255, 255},                         // repeat of the row at 44100: removed
    {0, 2, 1, 34, 0, 255},                               // fade over half a second
    {44100, 2, 1, 33, 255, 255}, {0, 1, 4, 34, 0, 255},  // fade, last of its channel
    {0, 1, 1, 34, 0, 255},                               // same command as channel 4 at that moment
    {0, 1, 1, 24, 0, 255},  // channel 9: same Channel value, other bank
};

TEST_F(FinishCompileTest, WritesTheOptimisedTableInPlaybackOrder) {
  RecordingCompileWindow window(ui_, false);
  EventTable events = MakeTable(kShow);
  ASSERT_TRUE(FinishCompile(events, cacheFile_, window, ui_, files_).ok());

  const std::vector<Timed> expected = {
      {0, 1, 1, 34, std::nullopt, std::nullopt},     {0, 1, 1, 24, std::nullopt, std::nullopt},
      {0, 1, 4, 34, std::nullopt, std::nullopt},     {0, 2, 1, 34, 2, 244},
      {44100, 2, 1, 33, std::nullopt, std::nullopt},
  };
  EXPECT_EQ(Stored(), expected);
  EXPECT_EQ(window.statuses,
            (std::vector<std::string>{"Generating event durations",
                                      "Optimization - Removing Redundant Commands",
                                      "Optimization - Bitmask Of Identical Commands",
                                      "Sorting data into playback order", "Writing File"}));
  EXPECT_TRUE(window.YieldedAfterEveryText());
  EXPECT_EQ(window.bitmaskReads, 1);
  EXPECT_EQ(files_.written, (std::vector<std::string>{cacheFile_}));
}

TEST_F(FinishCompileTest, MergesIdenticalCommandsWhenTheBoxIsTicked) {
  RecordingCompileWindow window(ui_, true);
  EventTable events = MakeTable(kShow);
  ASSERT_TRUE(FinishCompile(events, cacheFile_, window, ui_, files_).ok());

  const std::vector<Timed> expected = {
      {0, 1, 1, 24, std::nullopt, std::nullopt},  // the other bank stays apart
      {0, 1, 5, 34, std::nullopt, std::nullopt},  // channels 1 and 3 together
      {0, 2, 1, 34, 2, 244},
      {44100, 2, 1, 33, std::nullopt, std::nullopt},
  };
  EXPECT_EQ(Stored(), expected);
  EXPECT_EQ(window.statuses.size(), 5u);
}

TEST_F(FinishCompileTest, AFileThatCannotBeWrittenIsAnErrorThatSaysWhy) {
  RecordingCompileWindow window(ui_);
  files_.failWith = "Cannot write " + cacheFile_ + ": No space left on device";
  EventTable events = MakeTable(kShow);
  const platform::Status status = FinishCompile(events, cacheFile_, window, ui_, files_);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.message(), files_.failWith);
  EXPECT_FALSE(std::filesystem::exists(cacheFile_));
}

}  // namespace
}  // namespace importer
