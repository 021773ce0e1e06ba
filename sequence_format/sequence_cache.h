#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_store.h"
#include "platform/status.h"
#include "sequence_format/event_table.h"

namespace sequence_format {

// Writes the rows of `table` not deleted, in its current order, to a
// SequenceCache file at `path`, replacing any file there atomically.
platform::Status SaveSequenceCache(const EventTable& table, const std::string& path,
                                   platform::FileStore& files);

// Reads a SequenceCache file into a new table whose rows are in stored order,
// cursor at the first row. Damaged or foreign files give an error that says
// what is wrong with the file ("not a Glimmerfield cache file", "unknown cache
// format version 7 ...", "truncated: ...", "checksum mismatch: ...",
// "impossible row count ..."). The message does not name the file: callers put
// the path in front of it.
//
// The stored name is the archive's base name with ".csq", in the Cache folder.
//
// Besides a damaged file, a file with a sound checksum is refused when it
// holds what the writer never writes: a column list other than the eight
// columns with their types and index hints, a null in one of the six columns
// every row has, one fade timing code without the other, or a value under a
// null ("row 12 cannot be: ...").
platform::Result<EventTable> LoadSequenceCache(const std::string& path);

// The rows of a SequenceCache file as they were read: checked once, kept in
// the file's own bytes and taken apart only when a row is asked for, so a
// reader that walks them once in stored order (the player) holds no second
// copy and waits for little more than the read.
class CacheRows {
 public:
  CacheRows() = default;
  CacheRows(std::unique_ptr<unsigned char[]> bytes, std::size_t firstRow, std::size_t count)
      : bytes_(std::move(bytes)), first_(firstRow), count_(count) {}

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  EventTable::Record operator[](std::size_t i) const;  // i < size()

  // One stored row.
  static EventTable::Record Decode(const unsigned char* row);

 private:
  std::unique_ptr<unsigned char[]> bytes_;
  std::size_t first_ = 0;
  std::size_t count_ = 0;
};

// Asked every few megabytes while a large file is read; false stops it.
using KeepLoading = std::function<bool()>;
// The error of a load that `keepLoading` stopped.
inline constexpr const char* kLoadingStopped = "loading was stopped";

// The same file, with the same checks and messages, for playing: the rows
// must also be in the order they are sent ("row 12 cannot be: it is due at
// position ..., before row 11 at ..."), as the player walks them once. A file is
// never read past what its header's row count allows (a larger one is
// refused first), and `keepLoading` lets a show answer Stop while a large
// one is read.
platform::Result<CacheRows> LoadSequenceRows(const std::string& path,
                                             const KeepLoading& keepLoading = nullptr);

// The same checks and messages, keeping nothing: the rows pass through one
// buffer of a few hundred kilobytes, so checking a cache of gigabytes before
// a night costs a read of it and no more memory than a small one.
platform::Status CheckSequenceCache(const std::string& path,
                                    const KeepLoading& keepLoading = nullptr);

}  // namespace sequence_format
