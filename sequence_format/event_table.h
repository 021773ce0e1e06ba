#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace sequence_format {

// The eight columns, in their fixed order.
enum class Column : int {
  SampleNumber = 0,
  Device,
  Channel,
  Command,
  StartIntensity,
  EndIntensity,
  ShortInterval,
  LongInterval,
};
inline constexpr int kColumnCount = 8;
inline constexpr std::array<std::string_view, kColumnCount> kColumnNames = {
    "SampleNumber",   "Device",       "Channel",       "Command",
    "StartIntensity", "EndIntensity", "ShortInterval", "LongInterval"};

// A column's value: a 32-bit signed integer, or null.
using Value = std::optional<std::int32_t>;

// Column by name (exact, as in kColumnNames; case-insensitive), or nothing.
std::optional<Column> ColumnByName(std::string_view name);

// The compiled form of one sequence: rows of timed controller commands with a
// current-row cursor.
//
// Rows live in shared storage; Clone() gives a second table object over the
// same rows with its own order and cursor. A row deleted through one object is
// gone for every object over the storage.
//
// Sort texts: comma-separated column names, each optionally followed by a
// blank and "asc" or "desc" ("Device, Channel, SampleNumber desc"); names and
// directions are matched without regard to case. Nulls sort before every
// number, whichever the direction. The sort is stable: rows equal in every key
// keep their previous relative order. A blank sort text restores the order in
// which the rows were added.
//
// Rows added through one object join another object's walk at its next
// MoveFirst or Sort.
class EventTable {
 public:
  EventTable();  // empty, eight columns
  EventTable(EventTable&&) noexcept;
  EventTable& operator=(EventTable&&) noexcept;
  EventTable(const EventTable&) = delete;
  EventTable& operator=(const EventTable&) = delete;
  ~EventTable();

  // Appends a row with every column null and makes it the current row.
  void AddRow();

  // Current row's columns. Must not be called at the end (Get then gives null
  // and Set does nothing).
  Value Get(Column column) const;
  void Set(Column column, Value value);

  // The current row as a whole, or null at the end: for passes that read
  // every column of every row.
  struct Record;
  const Record* Current() const;

  // Reorders the rows this object walks. Rejects unknown column names and
  // directions. After sorting, the caller moves to the first row itself.
  platform::Status Sort(std::string_view sortText);

  void MoveFirst();
  void MoveNext();
  bool AtEnd() const;

  // Removes the current row at once; MoveNext then goes on with the row that
  // followed it. RowCount no longer counts it.
  void DeleteCurrent();

  // Rows not deleted.
  std::size_t RowCount() const;
  // 1-based position of the current row among the rows not deleted, in the
  // current order; RowCount() + 1 at the end. Right after DeleteCurrent it is
  // the position the following row will have.
  std::size_t Position() const;

  // A second table object over the same rows, with its own order (a copy of
  // this one's) and its cursor at the first row.
  EventTable Clone() const;

  // The rows not deleted, in the current order, as plain records: what the
  // cache file stores.
  struct Record {
    std::array<std::int32_t, kColumnCount> values{};
    std::uint8_t nullMask = 0;  // bit i set: column i is null
    Value Get(Column c) const {
      const int i = static_cast<int>(c);
      if (nullMask & (1u << i)) return std::nullopt;
      return values[static_cast<std::size_t>(i)];
    }
  };
  std::vector<Record> Records() const;
  // Builds a table whose rows are `records` in the given order.
  static EventTable FromRecords(std::vector<Record> records);

 private:
  struct Storage;
  explicit EventTable(std::shared_ptr<Storage> storage);
  void SkipDeleted();
  // Appends to order_ the rows another object over the storage has added.
  void TakeNewRows();
  bool CursorOnLiveRow() const;

  std::shared_ptr<Storage> storage_;
  std::vector<std::uint32_t> order_;  // row indices in walking order
  std::size_t cursor_ = 0;            // index into order_
  std::size_t rowsSeen_ = 0;          // storage rows already in order_
  // Rows not deleted before the cursor, valid while deletionsSeen_ equals the
  // storage's deletion count. Another object deleting rows makes it stale; it is
  // then counted again on the next Position().
  mutable std::size_t liveBefore_ = 0;
  mutable std::uint64_t deletionsSeen_ = 0;
};

}  // namespace sequence_format
