#include "sequence_format/sequence_cache.h"

#include "binary/little_endian.h"
#include "platform/file_store.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#include <xxhash.h>

// File layout, every number little-endian:
//
//   0  8  magic "GLMFCSQ" 0x1A
//   8  4  format version (1)
//  12  4  header size: offset of the first row
//  16  8  row count
//  24  2  column count (8)
//  26  2  row size in bytes (1 + 4 x column count)
//  28  .  per column: name length (1), name, type (1; 3 = 32-bit signed
//         integer), flags (1; bit 0 = index hint)
//   H  .  rows in stored order: null mask (1; bit i = column i is null), then
//         each column's value (4; 0 when null)
// end-8 8 checksum of everything before it
//
// The reader learns the file's real size before reading more than the fixed
// header, so a damaged or foreign file can never make it allocate or read
// more than the file actually holds.

namespace sequence_format {

namespace {

constexpr char kMagic[8] = {'G', 'L', 'M', 'F', 'C', 'S', 'Q', '\x1A'};
constexpr std::uint32_t kFormatVersion = 1;
constexpr std::size_t kFixedHeaderSize = 28;
constexpr std::size_t kChecksumSize = 8;
constexpr std::uint8_t kTypeInt32 = 3;
constexpr std::uint8_t kFlagIndexHint = 1;
constexpr std::size_t kRowSize = 1 + 4 * kColumnCount;
// The most rows a cache file holds (2 GiB of rows): far more than the
// largest document the compiler reads can make, few enough that a header
// cannot ask for a read of tens of gigabytes (a sparse file costs nothing).
constexpr std::uint64_t kMaxRows = std::uint64_t{64} << 20;
// How often a long read asks whether to go on: every 4 MB.
constexpr std::size_t kStepsPerQuestion = 16;

bool IndexHinted(int column) {
  return column <= static_cast<int>(Column::Channel);
}

// --- little-endian numbers -------------------------------------------------

using binary::AppendLittle;
using binary::ReadLittle;

// A number whose bytes in memory are its little-endian form.
std::uint32_t ToLittle(std::uint32_t value) {
  if constexpr (std::endian::native == std::endian::little) return value;
  return ((value & 0xFF) << 24) | ((value & 0xFF00) << 8) | ((value >> 8) & 0xFF00) | (value >> 24);
}

// --- checksum ----------------------------------------------------------------
//
// XXH64 with seed 0 of every byte before the checksum itself: any flipped bit
// changes it, and checking a million-row file costs a few milliseconds.

std::uint64_t Checksum(const unsigned char* p, std::size_t size) {
  return XXH64(p, size, 0);
}

// --- writing -------------------------------------------------------------------

std::string Encode(const std::vector<EventTable::Record>& records) {
  std::string header;
  header.append(kMagic, sizeof kMagic);
  AppendLittle<std::uint32_t>(header, kFormatVersion);
  AppendLittle<std::uint32_t>(header, 0);  // header size, filled in below
  AppendLittle<std::uint64_t>(header, records.size());
  AppendLittle<std::uint16_t>(header, kColumnCount);
  AppendLittle<std::uint16_t>(header, kRowSize);
  for (int c = 0; c < kColumnCount; ++c) {
    const std::string_view name = kColumnNames[static_cast<std::size_t>(c)];
    header.push_back(static_cast<char>(name.size()));
    header.append(name);
    header.push_back(static_cast<char>(kTypeInt32));
    header.push_back(static_cast<char>(IndexHinted(c) ? kFlagIndexHint : 0));
  }
  const auto headerSize = static_cast<std::uint32_t>(header.size());
  for (std::size_t i = 0; i < 4; ++i) {
    header[12 + i] = static_cast<char>(static_cast<unsigned char>(headerSize >> (8 * i)));
  }

  // Rows are written in place, one block of kRowSize bytes each.
  std::string out(header.size() + records.size() * kRowSize, '\0');
  std::memcpy(out.data(), header.data(), header.size());
  char* row = out.data() + header.size();
  for (const EventTable::Record& record : records) {
    std::array<std::uint32_t, kColumnCount> values;
    for (std::size_t c = 0; c < kColumnCount; ++c) {
      const bool isNull = record.nullMask & (1u << c);
      values[c] = isNull ? 0 : ToLittle(static_cast<std::uint32_t>(record.values[c]));
    }
    row[0] = static_cast<char>(record.nullMask);
    std::memcpy(row + 1, values.data(), sizeof values);
    row += kRowSize;
  }
  out.reserve(out.size() + kChecksumSize);
  AppendLittle<std::uint64_t>(
      out, Checksum(reinterpret_cast<const unsigned char*>(out.data()), out.size()));
  return out;
}

// --- reading -------------------------------------------------------------------

using LoadResult = platform::Result<CacheRows>;

LoadResult Fail(std::string why) {
  return LoadResult::Error(std::move(why));
}

std::string Bytes(std::uint64_t n) {
  return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

std::string Hex(unsigned value) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[(value >> 4) & 0xF] + kDigits[value & 0xF];
}

// Checks the column list against the eight columns this program writes.
platform::Status CheckColumns(const unsigned char* header, std::size_t headerSize,
                              std::size_t columnCount) {
  if (columnCount != kColumnCount) {
    return platform::Status::Error("the file has " + std::to_string(columnCount) +
                                   " columns, expected " + std::to_string(kColumnCount));
  }
  std::size_t at = kFixedHeaderSize;
  for (std::size_t c = 0; c < columnCount; ++c) {
    const std::string_view expected = kColumnNames[c];
    if (at >= headerSize) {
      return platform::Status::Error("damaged header: the description of column " +
                                     std::to_string(c + 1) + " is missing");
    }
    const std::size_t length = header[at];
    if (at + 1 + length + 2 > headerSize) {
      return platform::Status::Error("damaged header: the description of column " +
                                     std::to_string(c + 1) + " runs past the header at byte " +
                                     std::to_string(at));
    }
    const std::string_view name(reinterpret_cast<const char*>(header + at + 1), length);
    const std::uint8_t type = header[at + 1 + length];
    const std::uint8_t flags = header[at + 2 + length];
    if (name != expected) {
      return platform::Status::Error("column " + std::to_string(c + 1) + " is \"" +
                                     std::string(name) + "\", expected \"" + std::string(expected) +
                                     "\"");
    }
    if (type != kTypeInt32) {
      return platform::Status::Error("column " + std::string(expected) + " has type code " +
                                     std::to_string(type) + ", expected " +
                                     std::to_string(kTypeInt32) + " (32-bit integer)");
    }
    const std::uint8_t writtenFlags = IndexHinted(static_cast<int>(c)) ? kFlagIndexHint : 0;
    if (flags != writtenFlags) {
      return platform::Status::Error("column " + std::string(expected) + " has flags " +
                                     Hex(flags) + ", expected " + Hex(writtenFlags));
    }
    at += 1 + length + 2;
  }
  if (at != headerSize) {
    return platform::Status::Error("damaged header: " + Bytes(headerSize - at) +
                                   " after the column list");
  }
  return platform::Status::Ok();
}

constexpr std::uint8_t kIntervalsNull = 0xC0;  // ShortInterval and LongInterval

// What the writer never writes into a row: a null in one of the six columns
// every row has, one fade timing code without the other. Empty when the
// row's nulls are sound.
std::string NullFault(std::uint8_t mask) {
  if (mask == 0 || mask == kIntervalsNull) return {};
  for (std::size_t c = 0; c < 6; ++c) {
    if (mask & (1u << c)) {
      return "it has no value in " + std::string(kColumnNames[c]) + ", which every row has";
    }
  }
  return "it has only one of ShortInterval and LongInterval";
}

// The same, and a value stored under a null (the writer stores 0 there).
std::string RowFault(const EventTable::Record& row) {
  if (std::string fault = NullFault(row.nullMask); !fault.empty()) return fault;
  for (std::size_t c = 6; c < kColumnCount; ++c) {
    if ((row.nullMask & (1u << c)) && row.values[c] != 0) {
      return "it holds a value under its null " + std::string(kColumnNames[c]);
    }
  }
  return {};
}

// The first row whose nulls the writer never writes, by RowFault's rules on
// the stored bytes, from row `from` of `count`; `count` when there is none.
std::size_t FirstFaultyRow(const unsigned char* rows, std::size_t from, std::size_t count) {
  for (std::size_t i = from; i < count; ++i) {
    const unsigned char* p = rows + i * kRowSize;
    if (p[0] == 0) continue;
    if (p[0] != kIntervalsNull) return i;
    std::uint64_t intervals;
    std::memcpy(&intervals, p + 1 + 4 * 6, sizeof intervals);
    if (intervals != 0) return i;
  }
  return count;
}

std::int32_t StoredSampleNumber(const unsigned char* row) {
  return static_cast<std::int32_t>(ReadLittle<std::uint32_t>(row + 1));
}

// The first row, from row `from` of `count`, due before the row stored ahead
// of it; `count` when there is none. The player walks the rows once in
// stored order, so such a row would go out when the one ahead of it is due,
// seconds early, while the line report called the line on time.
std::size_t FirstRowOutOfOrder(const unsigned char* rows, std::size_t from, std::size_t count) {
  for (std::size_t i = std::max<std::size_t>(from, 1); i < count; ++i) {
    if (StoredSampleNumber(rows + i * kRowSize) < StoredSampleNumber(rows + (i - 1) * kRowSize)) {
      return i;
    }
  }
  return count;
}

// Why `row`, row `number` (counted from 1), cannot be, by the checks above;
// out of order, the row before it is just ahead of it in memory.
std::string RowProblem(const unsigned char* row, std::size_t number) {
  std::string why = RowFault(CacheRows::Decode(row));
  if (why.empty()) {
    why = "it is due at position " + std::to_string(StoredSampleNumber(row)) + ", before row " +
          std::to_string(number - 1) + " at " + std::to_string(StoredSampleNumber(row - kRowSize)) +
          "; rows are stored in the order they are sent";
  }
  return "row " + std::to_string(number) + " cannot be: " + why;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The checksum runs over the file in steps this size, and each step's rows
// are checked while they are still in the processor's cache.
constexpr std::size_t kCheckStep = 256 * 1024;

// How a file is read: for playing its rows must be in the order they are
// sent; only checked, its rows pass and nothing of them is kept (an empty
// CacheRows on success).
struct ReadAs {
  bool keepRows = true;
  bool forPlaying = true;
};

LoadResult LoadRows(const std::string& path, const KeepLoading& keepLoading, ReadAs as) {
  const bool keepRows = as.keepRows;
  // Opening a pipe waits for a writer, and a device may never end.
  if (const std::string reason = platform::NotAFileReason(platform::KindOfPath(path));
      !reason.empty()) {
    return Fail(reason);
  }
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    return Fail(std::string("cannot open the file") +
                (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()));
  }
  // One read straight into the final buffer; a stdio buffer on the way
  // would only cost another copy.
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  const auto read = [&](void* into, std::size_t size) {
    return std::fread(into, 1, size, file.get()) == size;
  };
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return Fail("cannot read the file");
  const long end = std::ftell(file.get());
  if (end < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) return Fail("cannot read the file");
  const auto fileSize = static_cast<std::uint64_t>(end);

  unsigned char fixed[kFixedHeaderSize] = {};
  const std::size_t fixedRead =
      static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kFixedHeaderSize));
  if (!read(fixed, fixedRead)) return Fail("cannot read the file");

  if (fileSize == 0) return Fail("truncated: the file is empty");
  const std::size_t magicSeen = std::min<std::size_t>(fixedRead, sizeof kMagic);
  if (std::memcmp(fixed, kMagic, magicSeen) != 0) return Fail("not a Glimmerfield cache file");
  if (fixedRead < kFixedHeaderSize) {
    return Fail("truncated: the file has " + Bytes(fileSize) + ", its header alone needs " +
                Bytes(kFixedHeaderSize));
  }
  const auto version = ReadLittle<std::uint32_t>(fixed + 8);
  if (version != kFormatVersion) {
    return Fail("unknown cache format version " + std::to_string(version) +
                " (this program reads version " + std::to_string(kFormatVersion) + ")");
  }
  const auto headerSize = ReadLittle<std::uint32_t>(fixed + 12);
  const auto rowCount = ReadLittle<std::uint64_t>(fixed + 16);
  const auto columnCount = ReadLittle<std::uint16_t>(fixed + 24);
  const auto rowSize = ReadLittle<std::uint16_t>(fixed + 26);

  if (headerSize < kFixedHeaderSize) {
    return Fail("damaged header: header size " + std::to_string(headerSize) +
                " is below the fixed part's " + std::to_string(kFixedHeaderSize));
  }
  if (rowSize != 1 + 4 * std::uint32_t{columnCount}) {
    return Fail("damaged header: rows of " + Bytes(rowSize) + " do not fit " +
                std::to_string(columnCount) + " columns");
  }
  if (rowCount > kMaxRows) {
    return Fail("impossible row count " + std::to_string(rowCount) +
                " (a cache file holds at most " + std::to_string(kMaxRows) + ")");
  }
  if (std::uint64_t{headerSize} + kChecksumSize > fileSize) {
    return Fail("truncated: the header claims " + Bytes(headerSize) + ", the file has only " +
                Bytes(fileSize));
  }
  // Both factors are small enough (below 2^32 and 2^16) for the product to fit.
  const std::uint64_t rowBytes = rowCount * rowSize;
  const std::uint64_t roomForRows = fileSize - headerSize - kChecksumSize;
  if (rowBytes > roomForRows) {
    return Fail("truncated: the header claims " + std::to_string(rowCount) + " rows (" +
                Bytes(rowBytes) + ") but only " + Bytes(roomForRows) + " follow the header");
  }
  if (rowBytes < roomForRows) {
    return Fail("damaged: " + Bytes(roomForRows - rowBytes) + " after the last of " +
                std::to_string(rowCount) + " rows");
  }

  // The size is now known to be the file's own. It is read in steps of
  // whole rows, each checksummed and its rows checked while still in the
  // processor's cache. The checksum comes first among the remaining
  // complaints: a damaged file is called damaged, not described by whatever
  // its damage looks like. Kept, the rows go straight into the final buffer;
  // only checked, each step reuses one buffer with the row before it ahead.
  const auto size = static_cast<std::size_t>(fileSize);
  const auto count = static_cast<std::size_t>(rowCount);
  const std::size_t rowsPerStep = std::max<std::size_t>(1, kCheckStep / rowSize);
  const std::size_t windowSize = keepRows ? size : headerSize + (rowsPerStep + 1) * rowSize;
  auto bytes = std::make_unique_for_overwrite<unsigned char[]>(windowSize);
  std::memcpy(bytes.get(), fixed, kFixedHeaderSize);
  if (!read(bytes.get() + kFixedHeaderSize, headerSize - kFixedHeaderSize)) {
    return Fail("truncated: the file ended while being read");
  }
  const platform::Status columns = CheckColumns(bytes.get(), headerSize, columnCount);
  XXH64_state_t* const hash = XXH64_createState();
  if (hash == nullptr) return Fail("cannot read the file: out of memory");
  const std::unique_ptr<XXH64_state_t, XXH_errorcode (*)(XXH64_state_t*)> hashOwner(
      hash, XXH64_freeState);
  XXH64_reset(hash, 0);
  XXH64_update(hash, bytes.get(), headerSize);

  std::string problem;  // the first row that cannot be, and why
  std::size_t steps = 0;
  for (std::size_t first = 0; first < count; first += rowsPerStep) {
    if (keepLoading && ++steps % kStepsPerQuestion == 0 && !keepLoading()) {
      return Fail(kLoadingStopped);
    }
    const std::size_t n = std::min(rowsPerStep, count - first);
    // Where this step's rows go; the row before them, if any, just ahead.
    unsigned char* const into =
        keepRows ? bytes.get() + headerSize + first * rowSize : bytes.get() + headerSize + rowSize;
    if (!read(into, n * rowSize)) return Fail("truncated: the file ended while being read");
    XXH64_update(hash, into, n * rowSize);
    if (columns.ok() && problem.empty()) {
      const std::size_t behind = first > 0 ? 1 : 0;
      const unsigned char* const from = into - behind * kRowSize;
      std::size_t bad = FirstFaultyRow(from, behind, n + behind);
      if (as.forPlaying) bad = std::min(bad, FirstRowOutOfOrder(from, behind, n + behind));
      if (bad != n + behind) problem = RowProblem(from + bad * kRowSize, first + bad - behind + 1);
    }
    if (!keepRows) std::memcpy(bytes.get() + headerSize, into + (n - 1) * rowSize, rowSize);
  }
  unsigned char checksum[kChecksumSize];
  if (!read(checksum, kChecksumSize)) return Fail("truncated: the file ended while being read");
  if (XXH64_digest(hash) != ReadLittle<std::uint64_t>(checksum)) {
    return Fail("checksum mismatch: the file is damaged");
  }
  if (!columns.ok()) return Fail(columns.message());
  if (!problem.empty()) return Fail(problem);
  if (!keepRows) return CacheRows(nullptr, headerSize, 0);
  return CacheRows(std::move(bytes), headerSize, count);
}

}  // namespace

platform::Status SaveSequenceCache(const EventTable& table, const std::string& path,
                                   platform::FileStore& files) {
  const std::vector<EventTable::Record> records = table.Records();
  if (records.size() > kMaxRows) {
    return platform::Status::Error("the table has " + std::to_string(records.size()) +
                                   " rows, more than a cache file holds (" +
                                   std::to_string(kMaxRows) + ")");
  }
  // What the reader would refuse is never written.
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (const std::string fault = NullFault(records[i].nullMask); !fault.empty()) {
      return platform::Status::Error("row " + std::to_string(i + 1) + " cannot be saved: " + fault);
    }
  }
  return files.ReplaceFile(path, Encode(records));
}

EventTable::Record CacheRows::Decode(const unsigned char* row) {
  EventTable::Record record;
  record.nullMask = row[0];
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(record.values.data(), row + 1, 4 * kColumnCount);
  } else {
    for (std::size_t c = 0; c < kColumnCount; ++c) {
      record.values[c] = static_cast<std::int32_t>(ReadLittle<std::uint32_t>(row + 1 + 4 * c));
    }
  }
  return record;
}

EventTable::Record CacheRows::operator[](std::size_t i) const {
  return Decode(bytes_.get() + first_ + i * kRowSize);
}

platform::Result<CacheRows> LoadSequenceRows(const std::string& path,
                                             const KeepLoading& keepLoading) {
  return LoadRows(path, keepLoading, {});
}

platform::Status CheckSequenceCache(const std::string& path, const KeepLoading& keepLoading) {
  return LoadRows(path, keepLoading, {.keepRows = false, .forPlaying = true}).status();
}

platform::Result<EventTable> LoadSequenceCache(const std::string& path) {
  auto loaded = LoadRows(path, nullptr, {.keepRows = true, .forPlaying = false});
  if (!loaded) return platform::Result<EventTable>::Error(loaded.message());
  const CacheRows& rows = loaded.value();
  std::vector<EventTable::Record> records;
  records.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) records.push_back(rows[i]);
  return EventTable::FromRecords(std::move(records));
}

}  // namespace sequence_format
