#include "import/compiler_passes.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "sequence_format/sequence_cache.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/temp_dir.h"
#include "tests/import/import_support.h"

namespace importer {
using namespace sequence_format;
namespace {

using import_test::MakeTable;
using import_test::ReadAll;
using import_test::RecordingWindow;
using import_test::Values;
using Rows = std::vector<Values>;

class Passes : public ::testing::Test {
 protected:
  Rows Durations(const Rows& events) {
    EventTable table = MakeTable(events);
    EXPECT_TRUE(GenerateEventDurations(table, FillFadeTimingTable(), window_, ui_).ok());
    EXPECT_TRUE(table.Sort(kPlaybackSort).ok());
    return ReadAll(table);
  }
  // The SampleNumbers of the rows redundant removal keeps, in playback order.
  std::vector<Value> Kept(const Rows& events) {
    EventTable table = MakeTable(events);
    EXPECT_TRUE(RemoveRedundantCommands(table, window_, ui_).ok());
    EXPECT_TRUE(table.Sort(kPlaybackSort).ok());
    std::vector<Value> kept;
    for (const Values& row : ReadAll(table)) kept.push_back(row[0]);
    return kept;
  }

  fakes::FakeUserInterface ui_;
  RecordingWindow window_{ui_};
};
class FadeTimings : public Passes {};
class RedundantRemoval : public Passes {};

// `events` in playback order; `codes` the ShortInterval and LongInterval each
// row gets ({} for none), all else unchanged.
using Codes = std::vector<std::pair<Value, Value>>;
Rows WithCodes(Rows events, const Codes& codes) {
  for (std::size_t i = 0; i < events.size() && i < codes.size(); ++i) {
    std::tie(events[i][6], events[i][7]) = codes[i];
  }
  return events;
}

// Rows at one moment on one channel are sent in the order they were added: a
// fade followed at once by another event lasts 0.
TEST_F(FadeTimings, EachFadeLastsUntilTheNextEventOfItsChannel) {
  const std::tuple<const char*, Rows, Codes> cases[] = {
      {"half a second, two seconds and 25 seconds; another controller's event does not count",
       {{0, 3, 8, 34, 0, 255},
        {44100, 3, 8, 34, 255, 0},
        {100000, 4, 8, 33, 0, 0},
        {220500, 3, 8, 34, 0, 9},
        {2425500, 3, 8, 33, 0, 0}},
       {{2, 244}, {8, 253}, {}, {128, 20}, {}}},
      {"fade, then an event at the same moment",
       {{500, 1, 2, 34, 0, 255}, {500, 1, 2, 33, 255, 255}},
       {{19, 195}, {}}},
      {"event, then the fade, then a later event",
       {{500, 1, 2, 33, 255, 255}, {500, 1, 2, 34, 0, 255}, {44600, 1, 2, 33, 0, 0}},
       {{}, {2, 244}, {}}},
      {"two fades at one moment",
       {{500, 1, 2, 34, 0, 9}, {500, 1, 2, 34, 0, 255}, {44600, 1, 2, 33, 0, 0}},
       {{19, 195}, {2, 244}, {}}},
      {"the other bank at the same moment does not count",
       {{500, 1, 2, 34, 0, 255}, {500, 1, 2, 23, 255, 255}},
       {}},
      {"a later bank 2 event does not end a channel 128 fade",
       {{0, 2, 128, 34, 0, 255}, {44100, 2, 128, 27, 0, 0}},
       {}},
      // Channels 1 and 9 share Channel value 1, in other banks.
      {"channel 9 does not cut a channel 1 fade",
       {{0, 1, 1, 34, 0, 255},
        {10000, 1, 1, 24, 0, 255},
        {54100, 1, 1, 23, 255, 255},
        {176400, 1, 1, 33, 255, 255}},
       {{8, 253}, {2, 244}}},
  };
  for (const auto& [name, events, codes] : cases) {
    EXPECT_EQ(Durations(events), WithCodes(events, codes)) << name;
  }
}

TEST_F(RedundantRemoval, RemovesOnlyRepeatsOfTheSameChannelsLastCommand) {
  const std::tuple<const char*, Rows, std::vector<Value>> cases[] = {
      {"equal non-fades", {{0, 1, 1, 33, 0, 255}, {10, 1, 1, 33, 0, 255}}, {0}},
      {"three equal", {{0, 1, 1, 36, 5, 5}, {10, 1, 1, 36, 5, 5}, {20, 1, 1, 36, 5, 5}}, {0}},
      {"bank 2 repeats", {{0, 1, 4, 23, 9, 9}, {10, 1, 4, 23, 9, 9}}, {0}},
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
      {"channel 9 in between does not make a channel 1 repeat new",
       {{0, 1, 1, 33, 0, 255},
        {10, 1, 1, 23, 0, 255},
        {20, 1, 1, 33, 0, 255},
        {30, 1, 1, 23, 0, 255},
        {40, 1, 1, 23, 9, 9}},
       {0, 10, 40}},
  };
  for (const auto& [name, events, kept] : cases) EXPECT_EQ(Kept(events), kept) << name;
}

// Rows with distinct intensities on one channel: nothing to remove.
Rows DistinctRows(int count, std::int32_t device = 1) {
  Rows rows;
  for (int i = 0; i < count; ++i) rows.push_back({i, device, 1, 33, i % 2, 0});
  return rows;
}

const std::string kRemoving = "Optimization - Removing Redundant Commands";
std::string Progress(const std::string& percent, const std::string& level) {
  return kRemoving + " (" + percent + "% completed) Optimization Level: " + level + "%";
}

// Every hundredth position shows how far it got, halves rounded to even, and
// the level: the share of the rows removed so far. Deleted rows give up their
// position: the rows after them are counted at the same position again, and
// each shows the text with the count of that moment.
TEST_F(RedundantRemoval, ShowsProgressEveryHundredRowsAndTheShareRemovedSoFar) {
  Rows repeatsFirst;  // 500 repeats gone before position 100, of 2,500 rows
  for (int i = 0; i <= 500; ++i) repeatsFirst.push_back({i, 1, 1, 33, 0, 0});
  for (const Values& row : DistinctRows(1999, 2)) repeatsFirst.push_back(row);
  std::vector<std::string> twentyPercent = {kRemoving};
  for (int done = 5; done <= 100; done += 5) {
    twentyPercent.push_back(Progress(std::to_string(done), "20"));
  }
  Rows repeatsLast = DistinctRows(98);  // then positions 99, 100, 100 again and once more
  repeatsLast.insert(repeatsLast.end(),
                     {Values{1000, 1, 1, 36, 1, 1}, Values{1001, 1, 1, 36, 1, 1},
                      Values{1002, 1, 1, 36, 1, 1}, Values{1003, 1, 1, 36, 2, 2}});
  const std::pair<Rows, std::vector<std::string>> cases[] = {
      {DistinctRows(99), {kRemoving}},
      {DistinctRows(100), {kRemoving, Progress("100", "0")}},
      {DistinctRows(800),
       {kRemoving, Progress("12", "0"), Progress("25", "0"), Progress("38", "0"),
        Progress("50", "0"), Progress("62", "0"), Progress("75", "0"), Progress("88", "0"),
        Progress("100", "0")}},
      {repeatsFirst, twentyPercent},
      {repeatsLast, {kRemoving, Progress("98", "0"), Progress("99", "1"), Progress("100", "2")}},
  };
  for (const auto& [rows, expected] : cases) {
    SCOPED_TRACE(rows.size());
    fakes::FakeUserInterface ui;
    RecordingWindow window(ui);
    EventTable table = MakeTable(rows);
    ASSERT_TRUE(RemoveRedundantCommands(table, window, ui).ok());
    EXPECT_EQ(window.statuses, expected);
    EXPECT_TRUE(window.YieldedAfterEveryText());
  }
}

// The whole second half, with and without the bitmask box ticked.
TEST(FinishCompile, WritesTheOptimisedTableInPlaybackOrder) {
  const Rows show = {
      {88200, 2, 1, 33, 255, 255},  // repeat of the row at 44100: removed
      {0, 2, 1, 34, 0, 255},        // fade over half a second
      {44100, 2, 1, 33, 255, 255},  // the end of that fade
      {0, 1, 4, 34, 0, 255},        // fade, last of its channel
      {0, 1, 1, 34, 0, 255},        // same command as channel 4 at that moment
      {0, 1, 1, 24, 0, 255},        // channel 9: same Channel value, other bank
  };
  const Rows unmerged = {{0, 1, 1, 34, 0, 255},
                         {0, 1, 1, 24, 0, 255},
                         {0, 1, 4, 34, 0, 255},
                         {0, 2, 1, 34, 0, 255, 2, 244},
                         {44100, 2, 1, 33, 255, 255}};
  const Rows merged = {{0, 1, 1, 24, 0, 255},
                       {0, 1, 5, 34, 0, 255},  // channels 1 and 3
                       {0, 2, 1, 34, 0, 255, 2, 244},
                       {44100, 2, 1, 33, 255, 255}};
  for (const bool bitmask : {false, true}) {
    fakes::TempDir dir;
    fakes::FakeUserInterface ui;
    fakes::FakeFileStore files;
    RecordingWindow window(ui, bitmask);
    EventTable events = MakeTable(show);
    const std::string cacheFile = dir.File("Show.csq");
    ASSERT_TRUE(FinishCompile(events, FillFadeTimingTable(), cacheFile, window, ui, files).ok());

    auto stored = LoadSequenceCache(cacheFile);
    ASSERT_TRUE(stored.ok()) << stored.message();
    EXPECT_EQ(ReadAll(stored.value()), bitmask ? merged : unmerged);
    EXPECT_EQ(window.statuses,
              (std::vector<std::string>{"Generating event durations", kRemoving,
                                        "Optimization - Bitmask Of Identical Commands",
                                        "Sorting data into playback order", "Writing File"}));
    EXPECT_TRUE(window.YieldedAfterEveryText());
    EXPECT_EQ(window.bitmaskReads, 1);
    EXPECT_EQ(files.written, (std::vector<std::string>{cacheFile}));
  }
}

}  // namespace
}  // namespace importer
