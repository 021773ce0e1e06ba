#include "sequence_format/event_table.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <utility>

#include "text/text.h"

namespace sequence_format {

namespace {

constexpr std::uint8_t kAllNull = 0xFF;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

struct SortKey {
  int column;
  bool descending;
};

// Parses "Name [asc|desc], ..." into keys. Blank text means the order the
// rows were added in.
platform::Result<std::vector<SortKey>> ParseSortText(std::string_view text) {
  std::vector<SortKey> keys;
  if (Trim(text).empty()) return keys;
  const auto fail = [&](const std::string& why) {
    return platform::Result<std::vector<SortKey>>::Error("Cannot sort by \"" + std::string(text) +
                                                         "\": " + why);
  };
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    const std::string_view item = Trim(text.substr(start, comma - start));
    if (item.empty()) return fail("a column name is missing between commas");

    std::size_t nameEnd = 0;
    while (nameEnd < item.size() && !IsBlank(item[nameEnd])) ++nameEnd;
    const std::string_view name = item.substr(0, nameEnd);
    const std::string_view direction = Trim(item.substr(nameEnd));

    const auto column = ColumnByName(name);
    if (!column) return fail("unknown column \"" + std::string(name) + "\"");
    bool descending = false;
    if (direction.empty() || text::EqualsIgnoringAsciiCase(direction, "asc")) {
      descending = false;
    } else if (text::EqualsIgnoringAsciiCase(direction, "desc")) {
      descending = true;
    } else {
      return fail("unknown direction \"" + std::string(direction) + "\" after " +
                  std::string(name) + " (expected asc or desc)");
    }
    keys.push_back({static_cast<int>(*column), descending});
    start = comma + 1;
  }
  return keys;
}

// OrderKey values take 33 bits; three of them fit one 128-bit number.
constexpr int kKeyBits = 33;
constexpr std::size_t kPackedKeys = 3;

// Maps a value onto an unsigned key that orders as the sort wants: null
// first in either direction, then the numbers up or down.
std::uint64_t OrderKey(const EventTable::Record& record, const SortKey& key) {
  if (record.nullMask & (1u << key.column)) return 0;
  const std::uint32_t biased =
      static_cast<std::uint32_t>(record.values[static_cast<std::size_t>(key.column)]) ^ 0x80000000u;
  return 1u + static_cast<std::uint64_t>(key.descending ? ~biased : biased);
}

}  // namespace

std::optional<Column> ColumnByName(std::string_view name) {
  for (int i = 0; i < kColumnCount; ++i) {
    if (text::EqualsIgnoringAsciiCase(name, kColumnNames[static_cast<std::size_t>(i)])) {
      return static_cast<Column>(i);
    }
  }
  return std::nullopt;
}

struct EventTable::Storage {
  std::vector<Record> rows;
  std::vector<std::uint8_t> deleted;  // one flag per row
  std::uint64_t deletions = 0;        // rows deleted so far; rows are deleted once only
};

EventTable::EventTable() : EventTable(std::make_shared<Storage>()) {}

EventTable::EventTable(std::shared_ptr<Storage> storage) : storage_(std::move(storage)) {}

EventTable::EventTable(EventTable&&) noexcept = default;
EventTable& EventTable::operator=(EventTable&&) noexcept = default;
EventTable::~EventTable() = default;

void EventTable::TakeNewRows() {
  order_.reserve(storage_->rows.size());
  for (std::size_t row = rowsSeen_; row < storage_->rows.size(); ++row) {
    order_.push_back(static_cast<std::uint32_t>(row));
  }
  rowsSeen_ = storage_->rows.size();
}

bool EventTable::CursorOnLiveRow() const {
  return cursor_ < order_.size() && !storage_->deleted[order_[cursor_]];
}

void EventTable::SkipDeleted() {
  while (cursor_ < order_.size() && storage_->deleted[order_[cursor_]]) ++cursor_;
}

void EventTable::AddRow() {
  TakeNewRows();
  Record record;
  record.nullMask = kAllNull;
  storage_->rows.push_back(record);
  storage_->deleted.push_back(0);
  order_.push_back(static_cast<std::uint32_t>(storage_->rows.size() - 1));
  rowsSeen_ = storage_->rows.size();
  cursor_ = order_.size() - 1;
  // order_ holds every live row, so all the others are before the new one.
  liveBefore_ = RowCount() - 1;
  deletionsSeen_ = storage_->deletions;
}

const EventTable::Record* EventTable::Current() const {
  return cursor_ < order_.size() ? &storage_->rows[order_[cursor_]] : nullptr;
}

Value EventTable::Get(Column column) const {
  const int c = static_cast<int>(column);
  if (cursor_ >= order_.size() || c < 0 || c >= kColumnCount) return std::nullopt;
  return storage_->rows[order_[cursor_]].Get(column);
}

void EventTable::Set(Column column, Value value) {
  const int c = static_cast<int>(column);
  if (cursor_ >= order_.size() || c < 0 || c >= kColumnCount) return;
  Record& record = storage_->rows[order_[cursor_]];
  const auto bit = static_cast<std::uint8_t>(1u << c);
  if (value) {
    record.values[static_cast<std::size_t>(c)] = *value;
    record.nullMask = static_cast<std::uint8_t>(record.nullMask & ~bit);
  } else {
    record.values[static_cast<std::size_t>(c)] = 0;
    record.nullMask = static_cast<std::uint8_t>(record.nullMask | bit);
  }
}

platform::Status EventTable::Sort(std::string_view sortText) {
  auto parsed = ParseSortText(sortText);
  if (!parsed) return parsed.status();
  const std::vector<SortKey>& keys = parsed.value();

  TakeNewRows();
  // Deleted rows are never visited again; leaving them out makes the sort cheaper.
  std::erase_if(order_, [&](std::uint32_t row) { return storage_->deleted[row] != 0; });

  if (keys.empty()) {
    std::sort(order_.begin(), order_.end());
  } else if (keys.size() <= kPackedKeys) {
    // Up to three keys of 33 bits each pack into one 128-bit number per row,
    // sorted directly rather than through the rows; the position breaks
    // ties, which makes std::sort stable.
    struct Entry {
      std::uint64_t high, low;
      std::uint32_t position;
    };
    std::vector<Entry> entries(order_.size());
    for (std::size_t i = 0; i < order_.size(); ++i) {
      const Record& record = storage_->rows[order_[i]];
      std::uint64_t high = 0, low = 0;
      for (const SortKey& key : keys) {
        const std::uint64_t k = OrderKey(record, key);
        high = (high << kKeyBits) | (low >> (64 - kKeyBits));
        low = (low << kKeyBits) | k;
      }
      entries[i] = {high, low, static_cast<std::uint32_t>(i)};
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      if (a.high != b.high) return a.high < b.high;
      if (a.low != b.low) return a.low < b.low;
      return a.position < b.position;
    });
    std::vector<std::uint32_t> sorted(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) sorted[i] = order_[entries[i].position];
    order_ = std::move(sorted);
  } else {
    // Keys are laid out once so the comparisons stay within one flat array
    // instead of chasing rows across the storage. The position breaks ties,
    // which makes std::sort stable.
    const std::size_t n = order_.size();
    const std::size_t k = keys.size();
    std::vector<std::uint64_t> flat(n * k);
    for (std::size_t i = 0; i < n; ++i) {
      const Record& record = storage_->rows[order_[i]];
      for (std::size_t j = 0; j < k; ++j) flat[i * k + j] = OrderKey(record, keys[j]);
    }
    std::vector<std::uint32_t> positions(n);
    std::iota(positions.begin(), positions.end(), 0u);
    std::sort(positions.begin(), positions.end(), [&](std::uint32_t a, std::uint32_t b) {
      const std::uint64_t* ka = &flat[a * k];
      const std::uint64_t* kb = &flat[b * k];
      for (std::size_t j = 0; j < k; ++j) {
        if (ka[j] != kb[j]) return ka[j] < kb[j];
      }
      return a < b;
    });
    std::vector<std::uint32_t> sorted(n);
    for (std::size_t i = 0; i < n; ++i) sorted[i] = order_[positions[i]];
    order_ = std::move(sorted);
  }
  MoveFirst();
  return platform::Status::Ok();
}

void EventTable::MoveFirst() {
  TakeNewRows();
  cursor_ = 0;
  liveBefore_ = 0;
  deletionsSeen_ = storage_->deletions;
  SkipDeleted();
}

void EventTable::MoveNext() {
  if (cursor_ >= order_.size()) return;
  if (deletionsSeen_ == storage_->deletions && CursorOnLiveRow()) ++liveBefore_;
  ++cursor_;
  SkipDeleted();
}

bool EventTable::AtEnd() const {
  return cursor_ >= order_.size();
}

void EventTable::DeleteCurrent() {
  if (!CursorOnLiveRow()) return;
  const bool countUpToDate = deletionsSeen_ == storage_->deletions;
  storage_->deleted[order_[cursor_]] = 1;
  ++storage_->deletions;
  // The row was at the cursor, not before it, so the count before it holds.
  if (countUpToDate) deletionsSeen_ = storage_->deletions;
}

std::size_t EventTable::RowCount() const {
  return storage_->rows.size() - static_cast<std::size_t>(storage_->deletions);
}

std::size_t EventTable::Position() const {
  if (deletionsSeen_ != storage_->deletions) {
    liveBefore_ = static_cast<std::size_t>(
        std::count_if(order_.begin(), order_.begin() + static_cast<std::ptrdiff_t>(cursor_),
                      [&](std::uint32_t row) { return storage_->deleted[row] == 0; }));
    deletionsSeen_ = storage_->deletions;
  }
  return liveBefore_ + 1;
}

EventTable EventTable::Clone() const {
  EventTable clone(storage_);
  clone.order_ = order_;
  clone.rowsSeen_ = rowsSeen_;
  clone.MoveFirst();
  return clone;
}

std::vector<EventTable::Record> EventTable::Records() const {
  std::vector<Record> records;
  records.reserve(RowCount());
  for (const std::uint32_t row : order_) {
    if (!storage_->deleted[row]) records.push_back(storage_->rows[row]);
  }
  for (std::size_t row = rowsSeen_; row < storage_->rows.size(); ++row) {
    if (!storage_->deleted[row]) records.push_back(storage_->rows[row]);
  }
  return records;
}

EventTable EventTable::FromRecords(std::vector<Record> records) {
  auto storage = std::make_shared<Storage>();
  storage->deleted.assign(records.size(), 0);
  storage->rows = std::move(records);
  EventTable table(std::move(storage));
  table.MoveFirst();
  return table;
}

}  // namespace sequence_format
