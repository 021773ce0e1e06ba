#include "import/event_table.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace importer {
namespace {

// A row as the tests write it; StartIntensity doubles as the row's name so a
// walk can show which rows it met in which order.
struct Row {
  Value sample, device, channel;
  std::int32_t id;
};

EventTable MakeTable(const std::vector<Row>& rows) {
  EventTable table;
  for (const Row& r : rows) {
    table.AddRow();
    table.Set(Column::SampleNumber, r.sample);
    table.Set(Column::Device, r.device);
    table.Set(Column::Channel, r.channel);
    table.Set(Column::Command, 33);
    table.Set(Column::StartIntensity, r.id);
    table.Set(Column::EndIntensity, 0);
  }
  return table;
}

std::vector<std::int32_t> WalkIds(EventTable& table) {
  std::vector<std::int32_t> ids;
  for (table.MoveFirst(); !table.AtEnd(); table.MoveNext()) {
    ids.push_back(*table.Get(Column::StartIntensity));
  }
  return ids;
}

TEST(ColumnByName, MatchesEveryColumnWithoutRegardToCase) {
  const std::vector<std::tuple<std::string, std::optional<Column>>> cases = {
      {"SampleNumber", Column::SampleNumber},
      {"samplenumber", Column::SampleNumber},
      {"DEVICE", Column::Device},
      {"Channel", Column::Channel},
      {"command", Column::Command},
      {"StartIntensity", Column::StartIntensity},
      {"endintensity", Column::EndIntensity},
      {"shortinterval", Column::ShortInterval},
      {"LongInterval", Column::LongInterval},
      {"Sample", std::nullopt},
      {"", std::nullopt},
      {"Device ", std::nullopt},
  };
  for (const auto& [name, expected] : cases) {
    EXPECT_EQ(ColumnByName(name), expected) << name;
  }
}

TEST(EventTable, AddedRowIsAllNullAndCurrent) {
  EventTable table;
  table.AddRow();
  table.Set(Column::Device, 7);
  table.AddRow();
  for (int c = 0; c < kColumnCount; ++c) EXPECT_EQ(table.Get(static_cast<Column>(c)), std::nullopt);
  EXPECT_EQ(table.RowCount(), 2u);
  EXPECT_EQ(table.Position(), 2u);
  table.MoveFirst();
  EXPECT_EQ(table.Get(Column::Device), 7);
}

TEST(EventTable, EmptyTableIsAtEnd) {
  EventTable table;
  table.MoveFirst();
  EXPECT_TRUE(table.AtEnd());
  EXPECT_EQ(table.RowCount(), 0u);
  EXPECT_EQ(table.Get(Column::Device), std::nullopt);
  table.DeleteCurrent();  // nothing to delete: no effect
  table.MoveNext();
  EXPECT_TRUE(table.AtEnd());
}

// Ties in the sort keys keep the order the rows had before the sort.
TEST(EventTableSort, TheThreeOrdersOfTheCompiler) {
  const std::vector<Row> rows = {
      {100, 2, 1, 1}, {50, 1, 2, 2},  {100, 1, 2, 3}, {50, 1, 1, 4},
      {100, 1, 1, 5}, {100, 1, 1, 6}, {0, 2, 1, 7},   {50, 1, 2, 8},
  };
  const std::vector<std::tuple<std::string, std::vector<std::int32_t>>> cases = {
      {"Device, Channel, SampleNumber desc", {5, 6, 4, 3, 2, 8, 1, 7}},
      {"Device asc, Channel asc, SampleNumber asc", {4, 5, 6, 2, 8, 3, 7, 1}},
      {"SampleNumber asc, Device asc, Channel asc", {7, 4, 2, 8, 5, 6, 3, 1}},
  };
  for (const auto& [text, expected] : cases) {
    EventTable table = MakeTable(rows);
    ASSERT_TRUE(table.Sort(text).ok()) << text;
    table.MoveFirst();
    EXPECT_EQ(WalkIds(table), expected) << text;
  }
}

TEST(EventTableSort, IsStableAcrossSuccessiveSorts) {
  EventTable table = MakeTable({{3, 1, 1, 1}, {1, 2, 1, 2}, {2, 1, 1, 3}, {1, 1, 1, 4}});
  ASSERT_TRUE(table.Sort("SampleNumber").ok());
  ASSERT_TRUE(table.Sort("Device").ok());
  EXPECT_EQ(WalkIds(table), (std::vector<std::int32_t>{4, 3, 1, 2}));
}

TEST(EventTableSort, NullsComeFirstInEitherDirection) {
  for (const char* text : {"SampleNumber", "SampleNumber desc"}) {
    EventTable table = MakeTable({{5, 1, 1, 1}, {std::nullopt, 1, 1, 2}, {-3, 1, 1, 3}});
    ASSERT_TRUE(table.Sort(text).ok());
    EXPECT_EQ(WalkIds(table).front(), 2) << text;
  }
}

TEST(EventTableSort, OrdersTheWholeIntegerRange) {
  EventTable table = MakeTable(
      {{INT32_MAX, 1, 1, 1}, {-1, 1, 1, 2}, {INT32_MIN, 1, 1, 3}, {0, 1, 1, 4}, {1, 1, 1, 5}});
  ASSERT_TRUE(table.Sort("SampleNumber asc").ok());
  EXPECT_EQ(WalkIds(table), (std::vector<std::int32_t>{3, 2, 4, 5, 1}));
  ASSERT_TRUE(table.Sort("samplenumber DESC").ok());
  EXPECT_EQ(WalkIds(table), (std::vector<std::int32_t>{1, 5, 4, 2, 3}));
}

TEST(EventTableSort, BlankTextRestoresTheOrderOfAdding) {
  EventTable table = MakeTable({{3, 1, 1, 1}, {1, 1, 1, 2}, {2, 1, 1, 3}});
  ASSERT_TRUE(table.Sort("SampleNumber").ok());
  ASSERT_TRUE(table.Sort("").ok());
  EXPECT_EQ(WalkIds(table), (std::vector<std::int32_t>{1, 2, 3}));
}

TEST(EventTableSort, RejectsWhatItDoesNotUnderstand) {
  const std::vector<std::tuple<std::string, std::string>> cases = {
      {"Device, Chanel", "unknown column \"Chanel\""},
      {"Device up", "unknown direction \"up\""},
      {"Device asc desc", "unknown direction \"asc desc\""},
      {"Device,,Channel", "missing"},
      {"Device,", "missing"},
  };
  for (const auto& [text, expected] : cases) {
    EventTable table = MakeTable({{2, 1, 1, 1}, {1, 1, 1, 2}});
    const platform::Status status = table.Sort(text);
    ASSERT_FALSE(status.ok()) << text;
    EXPECT_NE(status.message().find(expected), std::string::npos) << status.message();
    EXPECT_NE(status.message().find(text), std::string::npos) << status.message();
    // A rejected sort leaves the order as it was.
    EXPECT_EQ(WalkIds(table), (std::vector<std::int32_t>{1, 2})) << text;
  }
}

TEST(EventTableDelete, WalkGoesOnWithTheFollowingRow) {
  EventTable table = MakeTable({{1, 1, 1, 1}, {2, 1, 1, 2}, {3, 1, 1, 3}, {4, 1, 1, 4}});
  std::vector<std::tuple<std::int32_t, std::size_t, std::size_t>> seen;  // id, position, count
  for (table.MoveFirst(); !table.AtEnd(); table.MoveNext()) {
    const std::int32_t id = *table.Get(Column::StartIntensity);
    seen.emplace_back(id, table.Position(), table.RowCount());
    if (id == 2 || id == 3) table.DeleteCurrent();
  }
  const std::vector<std::tuple<std::int32_t, std::size_t, std::size_t>> expected = {
      {1, 1, 4}, {2, 2, 4}, {3, 2, 3}, {4, 2, 2}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(WalkIds(table), (std::vector<std::int32_t>{1, 4}));
}

TEST(EventTableDelete, DeletingTheLastRowEndsTheWalk) {
  EventTable table = MakeTable({{1, 1, 1, 1}, {2, 1, 1, 2}});
  table.MoveFirst();
  table.MoveNext();
  table.DeleteCurrent();
  table.MoveNext();
  EXPECT_TRUE(table.AtEnd());
  EXPECT_EQ(table.Position(), 2u);
  EXPECT_EQ(table.RowCount(), 1u);
}

TEST(EventTableDelete, DeletedRowsStayGoneAfterASort) {
  EventTable table = MakeTable({{3, 1, 1, 1}, {2, 1, 1, 2}, {1, 1, 1, 3}});
  table.MoveFirst();
  table.DeleteCurrent();
  ASSERT_TRUE(table.Sort("SampleNumber").ok());
  EXPECT_EQ(WalkIds(table), (std::vector<std::int32_t>{3, 2}));
  EXPECT_EQ(table.RowCount(), 2u);
}

TEST(EventTableClone, HasItsOwnOrderAndCursorOverTheSameRows) {
  EventTable table = MakeTable({{3, 1, 1, 1}, {2, 1, 1, 2}, {1, 1, 1, 3}});
  EventTable clone = table.Clone();
  ASSERT_TRUE(clone.Sort("SampleNumber").ok());
  clone.MoveFirst();
  table.MoveFirst();
  EXPECT_EQ(*clone.Get(Column::StartIntensity), 3);
  EXPECT_EQ(*table.Get(Column::StartIntensity), 1);

  clone.Set(Column::EndIntensity, 99);  // row 3, seen through the original
  table.MoveNext();
  table.MoveNext();
  EXPECT_EQ(table.Get(Column::EndIntensity), 99);
}

TEST(EventTableClone, SeesDeletionsMadeThroughTheOriginal) {
  EventTable table = MakeTable({{1, 1, 1, 1}, {2, 1, 1, 2}, {3, 1, 1, 3}, {4, 1, 1, 4}});
  EventTable clone = table.Clone();
  clone.MoveFirst();
  clone.MoveNext();
  clone.MoveNext();  // on row 3, position 3
  EXPECT_EQ(clone.Position(), 3u);

  table.MoveFirst();
  table.DeleteCurrent();  // row 1, before the clone's cursor
  EXPECT_EQ(clone.RowCount(), 3u);
  EXPECT_EQ(clone.Position(), 2u);
  table.MoveNext();
  table.MoveNext();
  table.MoveNext();
  table.DeleteCurrent();  // row 4, ahead of the clone's cursor

  clone.MoveNext();
  EXPECT_TRUE(clone.AtEnd());
  EXPECT_EQ(WalkIds(clone), (std::vector<std::int32_t>{2, 3}));
}

TEST(EventTableClone, RowsAddedThroughTheOriginalJoinAtTheNextWalk) {
  EventTable table = MakeTable({{1, 1, 1, 1}});
  EventTable clone = table.Clone();
  table.AddRow();
  table.Set(Column::StartIntensity, 2);
  EXPECT_EQ(clone.RowCount(), 2u);
  EXPECT_EQ(WalkIds(clone), (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ(clone.Records().size(), 2u);
}

TEST(EventTableRecords, AreTheLiveRowsInTheCurrentOrder) {
  EventTable table = MakeTable({{3, 1, 1, 1}, {1, 1, 1, 2}, {2, 1, 1, 3}});
  table.MoveFirst();
  table.Set(Column::ShortInterval, 19);
  table.MoveNext();
  table.DeleteCurrent();
  ASSERT_TRUE(table.Sort("SampleNumber").ok());

  const auto records = table.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].Get(Column::StartIntensity), 3);
  EXPECT_EQ(records[1].Get(Column::StartIntensity), 1);
  EXPECT_EQ(records[1].Get(Column::ShortInterval), 19);
  EXPECT_EQ(records[0].Get(Column::ShortInterval), std::nullopt);

  EventTable copy = EventTable::FromRecords(records);
  EXPECT_EQ(copy.RowCount(), 2u);
  EXPECT_EQ(WalkIds(copy), (std::vector<std::int32_t>{3, 1}));
  copy.MoveFirst();
  EXPECT_EQ(copy.Position(), 1u);
}

}  // namespace
}  // namespace importer
