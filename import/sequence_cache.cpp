#include "import/sequence_cache.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

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

namespace importer {

namespace {

constexpr char kMagic[8] = {'G', 'L', 'M', 'F', 'C', 'S', 'Q', '\x1A'};
constexpr std::uint32_t kFormatVersion = 1;
constexpr std::size_t kFixedHeaderSize = 28;
constexpr std::size_t kChecksumSize = 8;
constexpr std::uint8_t kTypeInt32 = 3;
constexpr std::uint8_t kFlagIndexHint = 1;
constexpr std::size_t kRowSize = 1 + 4 * kColumnCount;
// The table addresses its rows with 32-bit indices.
constexpr std::uint64_t kMaxRows = std::numeric_limits<std::uint32_t>::max();

bool IndexHinted(int column) {
  return column <= static_cast<int>(Column::Channel);
}

// --- little-endian numbers -------------------------------------------------

template <typename T>
T ReadLittle(const unsigned char* p) {
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(T{p[i]} << (8 * i));
  return value;
}

// A number whose bytes in memory are its little-endian form.
std::uint32_t ToLittle(std::uint32_t value) {
  if constexpr (std::endian::native == std::endian::little) return value;
  return ((value & 0xFF) << 24) | ((value & 0xFF00) << 8) | ((value >> 8) & 0xFF00) | (value >> 24);
}

template <typename T>
void AppendLittle(std::string& out, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    out.push_back(static_cast<char>(static_cast<unsigned char>(value >> (8 * i))));
  }
}

// --- checksum ----------------------------------------------------------------
//
// A 64-bit hash built like xxHash64: four independent lanes keep the CPU busy,
// so checking a million-row file costs a few milliseconds, and any flipped bit
// changes the result.

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ull;
constexpr std::uint64_t kPrime4 = 0x85EBCA77C2B2AE63ull;
constexpr std::uint64_t kPrime5 = 0x27D4EB2F165667C5ull;

std::uint64_t Round(std::uint64_t acc, std::uint64_t lane) {
  acc += lane * kPrime2;
  acc = std::rotl(acc, 31);
  return acc * kPrime1;
}

std::uint64_t MergeRound(std::uint64_t acc, std::uint64_t lane) {
  acc ^= Round(0, lane);
  return acc * kPrime1 + kPrime4;
}

std::uint64_t Checksum(const unsigned char* p, std::size_t size) {
  const unsigned char* const end = p + size;
  std::uint64_t h;
  if (size >= 32) {
    std::uint64_t v1 = kPrime1 + kPrime2, v2 = kPrime2, v3 = 0, v4 = 0 - kPrime1;
    for (; end - p >= 32; p += 32) {
      v1 = Round(v1, ReadLittle<std::uint64_t>(p));
      v2 = Round(v2, ReadLittle<std::uint64_t>(p + 8));
      v3 = Round(v3, ReadLittle<std::uint64_t>(p + 16));
      v4 = Round(v4, ReadLittle<std::uint64_t>(p + 24));
    }
    h = std::rotl(v1, 1) + std::rotl(v2, 7) + std::rotl(v3, 12) + std::rotl(v4, 18);
    h = MergeRound(h, v1);
    h = MergeRound(h, v2);
    h = MergeRound(h, v3);
    h = MergeRound(h, v4);
  } else {
    h = kPrime5;
  }
  h += size;
  for (; end - p >= 8; p += 8) {
    h ^= Round(0, ReadLittle<std::uint64_t>(p));
    h = std::rotl(h, 27) * kPrime1 + kPrime4;
  }
  if (end - p >= 4) {
    h ^= std::uint64_t{ReadLittle<std::uint32_t>(p)} * kPrime1;
    h = std::rotl(h, 23) * kPrime2 + kPrime3;
    p += 4;
  }
  for (; p < end; ++p) {
    h ^= *p * kPrime5;
    h = std::rotl(h, 11) * kPrime1;
  }
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  h *= kPrime3;
  h ^= h >> 32;
  return h;
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

using LoadResult = platform::Result<EventTable>;

LoadResult Fail(std::string why) {
  return LoadResult::Error(std::move(why));
}

std::string Bytes(std::uint64_t n) {
  return std::to_string(n) + (n == 1 ? " byte" : " bytes");
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
    at += 1 + length + 2;
  }
  if (at != headerSize) {
    return platform::Status::Error("damaged header: " + Bytes(headerSize - at) +
                                   " after the column list");
  }
  return platform::Status::Ok();
}

std::vector<EventTable::Record> DecodeRows(const unsigned char* p, std::size_t rowCount) {
  std::vector<EventTable::Record> records;
  records.reserve(rowCount);
  for (std::size_t row = 0; row < rowCount; ++row, p += kRowSize) {
    EventTable::Record& record = records.emplace_back();
    record.nullMask = p[0];
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(record.values.data(), p + 1, 4 * kColumnCount);
    } else {
      for (std::size_t c = 0; c < kColumnCount; ++c) {
        record.values[c] = static_cast<std::int32_t>(ReadLittle<std::uint32_t>(p + 1 + 4 * c));
      }
    }
  }
  return records;
}

}  // namespace

platform::Status SaveSequenceCache(const EventTable& table, const std::string& path,
                                   platform::FileStore& files) {
  return files.ReplaceFile(path, Encode(table.Records()));
}

platform::Result<EventTable> LoadSequenceCache(const std::string& path) {
  // Opening a pipe waits for a writer, and a device may never end.
  std::error_code statusError;
  const auto status = std::filesystem::status(path, statusError);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    return Fail("not a regular file (a folder, device or pipe)");
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return Fail(std::string("cannot open the file") +
                (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()));
  }
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  in.seekg(0, std::ios::beg);
  if (end < 0 || !in) return Fail("cannot read the file");
  const auto fileSize = static_cast<std::uint64_t>(end);

  unsigned char fixed[kFixedHeaderSize] = {};
  const std::size_t fixedRead =
      static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kFixedHeaderSize));
  if (!in.read(reinterpret_cast<char*>(fixed), static_cast<std::streamsize>(fixedRead))) {
    return Fail("cannot read the file");
  }

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
  if (rowCount > kMaxRows) return Fail("impossible row count " + std::to_string(rowCount));
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

  // The size is now known to be the file's own; read all of it in one go.
  const auto size = static_cast<std::size_t>(fileSize);
  auto bytes = std::make_unique_for_overwrite<unsigned char[]>(size);
  std::memcpy(bytes.get(), fixed, kFixedHeaderSize);
  if (!in.read(reinterpret_cast<char*>(bytes.get() + kFixedHeaderSize),
               static_cast<std::streamsize>(size - kFixedHeaderSize))) {
    return Fail("truncated: the file ended while being read");
  }

  const std::uint64_t stored = ReadLittle<std::uint64_t>(bytes.get() + size - kChecksumSize);
  if (Checksum(bytes.get(), size - kChecksumSize) != stored) {
    return Fail("checksum mismatch: the file is damaged");
  }
  if (const platform::Status columns = CheckColumns(bytes.get(), headerSize, columnCount);
      !columns.ok()) {
    return Fail(columns.message());
  }
  return EventTable::FromRecords(
      DecodeRows(bytes.get() + headerSize, static_cast<std::size_t>(rowCount)));
}

}  // namespace importer
