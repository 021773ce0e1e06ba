#include "sequence_format/event_table.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/import/import_support.h"

namespace sequence_format {
namespace {

using import_test::MakeTable;
using Ids = std::vector<std::int32_t>;

// Rows {SampleNumber, Device, Channel, id}: the id goes into StartIntensity so
// a walk shows which rows it met in which order.
EventTable Table(const std::vector<std::array<Value, 4>>& rows) {
  std::vector<import_test::Values> values;
  for (const auto& r : rows) values.push_back({r[0], r[1], r[2], 33, r[3], 0});
  return MakeTable(values);
}

Ids WalkIds(EventTable& table) {
  Ids ids;
  for (const auto& row : import_test::ReadAll(table)) ids.push_back(*row[4]);  // StartIntensity
  return ids;
}

TEST(EventTable, NewRowsAreNullAndCurrentAndAnEmptyTableIsAtItsEnd) {
  EXPECT_EQ(ColumnByName("endintensity"), Column::EndIntensity);
  EXPECT_EQ(ColumnByName("Device "), std::nullopt);
  EventTable table;
  table.MoveFirst();
  EXPECT_TRUE(table.AtEnd());
  table.DeleteCurrent();  // nothing to delete: no effect
  table.AddRow();
  table.Set(Column::Device, 7);
  table.AddRow();
  for (int c = 0; c < kColumnCount; ++c) EXPECT_EQ(table.Get(static_cast<Column>(c)), std::nullopt);
  EXPECT_EQ(std::tuple(table.RowCount(), table.Position()), std::tuple(2u, 2u));
  table.MoveFirst();
  EXPECT_EQ(table.Get(Column::Device), 7);
}

// Each case applies its sort texts in turn. Ties keep the order the rows had
// before the sort.
TEST(EventTable, SortsStablyWithNullsFirst) {
  const std::vector<std::array<Value, 4>> tied = {{100, 2, 1, 1}, {50, 1, 2, 2},  {100, 1, 2, 3},
                                                  {50, 1, 1, 4},  {100, 1, 1, 5}, {100, 1, 1, 6},
                                                  {0, 2, 1, 7},   {50, 1, 2, 8}};
  const std::vector<std::array<Value, 4>> extremes = {
      {INT32_MAX, 1, 1, 1}, {-1, 1, 1, 2}, {INT32_MIN, 1, 1, 3}, {std::nullopt, 1, 1, 4}};
  const std::tuple<std::vector<std::array<Value, 4>>, std::vector<std::string>, Ids> cases[] = {
      {tied, {"Device, Channel, SampleNumber desc"}, {5, 6, 4, 3, 2, 8, 1, 7}},
      {tied, {"Device asc, Channel asc, SampleNumber asc"}, {4, 5, 6, 2, 8, 3, 7, 1}},
      {tied, {"SampleNumber asc, Device asc, Channel asc"}, {7, 4, 2, 8, 5, 6, 3, 1}},
      {tied, {"SampleNumber", "Device"}, {2, 4, 8, 3, 5, 6, 7, 1}},
      {tied, {"SampleNumber", ""}, {1, 2, 3, 4, 5, 6, 7, 8}},
      {extremes, {"SampleNumber asc"}, {4, 3, 2, 1}},
      {extremes, {"samplenumber DESC"}, {4, 1, 2, 3}},
  };
  for (const auto& [rows, sorts, expected] : cases) {
    SCOPED_TRACE(sorts.back());
    EventTable table = Table(rows);
    for (const auto& text : sorts) ASSERT_TRUE(table.Sort(text).ok());
    EXPECT_EQ(WalkIds(table), expected);
  }
}

TEST(EventTable, RejectedSortSaysWhyAndKeepsTheOrder) {
  const std::pair<std::string, std::string> cases[] = {
      {"Device, Chanel", "unknown column \"Chanel\""},
      {"Device asc desc", "unknown direction \"asc desc\""},
      {"Device,,Channel", "missing"},
      {"Device,", "missing"},
  };
  for (const auto& [text, expected] : cases) {
    EventTable table = Table({{2, 1, 1, 1}, {1, 1, 1, 2}});
    const platform::Status status = table.Sort(text);
    ASSERT_FALSE(status.ok()) << text;
    EXPECT_NE(status.message().find(expected), std::string::npos) << status.message();
    EXPECT_NE(status.message().find(text), std::string::npos) << status.message();
    EXPECT_EQ(WalkIds(table), (Ids{1, 2})) << text;
  }
}

TEST(EventTable, DeleteDuringAWalkGoesOnWithTheFollowingRow) {
  EventTable table = Table({{4, 1, 1, 1}, {3, 1, 1, 2}, {2, 1, 1, 3}, {1, 1, 1, 4}});
  std::vector<std::array<std::size_t, 3>> seen;  // id, position, count
  for (table.MoveFirst(); !table.AtEnd(); table.MoveNext()) {
    const auto id = static_cast<std::size_t>(*table.Get(Column::StartIntensity));
    seen.push_back({id, table.Position(), table.RowCount()});
    if (id == 2 || id == 3 || id == 4) table.DeleteCurrent();  // the last one ends the walk
  }
  const std::vector<std::array<std::size_t, 3>> expected = {
      {1, 1, 4}, {2, 2, 4}, {3, 2, 3}, {4, 2, 2}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(table.Position(), 2u);
  table.AddRow();
  table.Set(Column::StartIntensity, 5);
  ASSERT_TRUE(table.Sort("SampleNumber").ok());  // deleted rows stay gone
  EXPECT_EQ(WalkIds(table), (Ids{5, 1}));
}

TEST(EventTable, CloneHasItsOwnOrderAndCursorAndSeesChangesToTheRows) {
  EventTable table = Table({{1, 1, 1, 1}, {2, 1, 1, 2}, {3, 1, 1, 3}, {4, 1, 1, 4}});
  EventTable clone = table.Clone();
  ASSERT_TRUE(clone.Sort("SampleNumber desc").ok());
  clone.MoveFirst();
  clone.MoveNext();  // on row 3, position 2 of 4, 3, 2, 1
  clone.Set(Column::EndIntensity, 99);
  table.MoveFirst();
  EXPECT_EQ(*table.Get(Column::StartIntensity), 1);

  table.DeleteCurrent();  // row 1, ahead of the clone's cursor
  table.MoveNext();
  table.MoveNext();
  EXPECT_EQ(table.Get(Column::EndIntensity), 99);  // row 3, changed through the clone
  table.MoveNext();
  table.DeleteCurrent();  // row 4, behind the clone's cursor
  EXPECT_EQ(clone.RowCount(), 2u);
  EXPECT_EQ(clone.Position(), 1u);
  table.AddRow();  // joins the clone's next walk
  table.Set(Column::StartIntensity, 5);

  clone.MoveNext();
  clone.MoveNext();
  EXPECT_TRUE(clone.AtEnd());
  EXPECT_EQ(WalkIds(clone), (Ids{3, 2, 5}));
}

}  // namespace
}  // namespace sequence_format
