#include "import/sequence_cache.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/posix/posix_file_store.h"
#include "tests/fakes/fake_file_store.h"

namespace importer {
namespace {

namespace fs = std::filesystem;

using Values = std::array<Value, kColumnCount>;

void AddValues(EventTable& table, const Values& values) {
  table.AddRow();
  for (int c = 0; c < kColumnCount; ++c) {
    table.Set(static_cast<Column>(c), values[static_cast<std::size_t>(c)]);
  }
}

std::vector<Values> ReadAll(EventTable& table) {
  std::vector<Values> rows;
  for (table.MoveFirst(); !table.AtEnd(); table.MoveNext()) {
    Values values;
    for (int c = 0; c < kColumnCount; ++c) {
      values[static_cast<std::size_t>(c)] = table.Get(static_cast<Column>(c));
    }
    rows.push_back(values);
  }
  return rows;
}

class SequenceCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("glimmer-cache-test-" + std::to_string(random()));
    fs::create_directories(dir_);
    path_ = (dir_ / "Show.csq").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Save(const EventTable& table) { ASSERT_TRUE(SaveSequenceCache(table, path_, files_).ok()); }

  std::string ReadBytes() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void WriteBytes(const std::string& bytes) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  // A small valid file: two rows, one with null intervals.
  std::string TwoRowFile() {
    EventTable table;
    AddValues(table, {88200, 3, 4, 34, 0, 255, 2, 244});
    AddValues(table, {176400, 3, 4, 33, 255, 255, std::nullopt, std::nullopt});
    Save(table);
    return ReadBytes();
  }

  fs::path dir_;
  std::string path_;
  platform::PosixFileStore files_;
};

TEST_F(SequenceCacheTest, RoundTripKeepsValuesNullsAndStoredOrder) {
  const std::vector<Values> rows = {
      {5, 1, 1, 34, 0, 255, 19, 195},
      {INT32_MIN, INT32_MAX, -1, -10, 0, 0, std::nullopt, std::nullopt},
      {0, 2, 128, 24, 240, 240, 128, 20},
      {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
       std::nullopt, std::nullopt},
  };
  EventTable table;
  for (const Values& row : rows) AddValues(table, row);
  Save(table);

  auto loaded = LoadSequenceCache(path_);
  ASSERT_TRUE(loaded.ok()) << loaded.message();
  EXPECT_EQ(loaded.value().RowCount(), rows.size());
  EXPECT_EQ(ReadAll(loaded.value()), rows);
}

TEST_F(SequenceCacheTest, StoresTheLiveRowsInTheCurrentOrder) {
  EventTable table;
  AddValues(table, {200, 1, 1, 33, 0, 0, std::nullopt, std::nullopt});
  AddValues(table, {100, 2, 1, 33, 0, 0, std::nullopt, std::nullopt});
  AddValues(table, {100, 1, 2, 33, 0, 0, std::nullopt, std::nullopt});
  AddValues(table, {100, 1, 1, 33, 0, 0, std::nullopt, std::nullopt});
  AddValues(table, {50, 9, 9, 33, 0, 0, std::nullopt, std::nullopt});
  table.DeleteCurrent();
  ASSERT_TRUE(table.Sort("SampleNumber asc, Device asc, Channel asc").ok());
  Save(table);

  auto loaded = LoadSequenceCache(path_);
  ASSERT_TRUE(loaded.ok()) << loaded.message();
  std::vector<std::tuple<int, int, int>> keys;
  for (const Values& row : ReadAll(loaded.value())) keys.emplace_back(*row[0], *row[1], *row[2]);
  const std::vector<std::tuple<int, int, int>> expected = {
      {100, 1, 1}, {100, 1, 2}, {100, 2, 1}, {200, 1, 1}};
  EXPECT_EQ(keys, expected);
}

TEST_F(SequenceCacheTest, EmptyTableGivesAValidFileWithTheEightColumns) {
  Save(EventTable());
  const std::string bytes = ReadBytes();
  for (std::string_view name : kColumnNames) {
    EXPECT_NE(bytes.find(name), std::string::npos) << name;
  }
  auto loaded = LoadSequenceCache(path_);
  ASSERT_TRUE(loaded.ok()) << loaded.message();
  EXPECT_EQ(loaded.value().RowCount(), 0u);
  EXPECT_TRUE(loaded.value().AtEnd());
}

TEST_F(SequenceCacheTest, SavingAgainReplacesTheWholeFile) {
  EventTable big;
  for (int i = 0; i < 50; ++i) AddValues(big, {i, 1, 1, 33, 0, 0, std::nullopt, std::nullopt});
  Save(big);
  EventTable small;
  AddValues(small, {7, 2, 2, 34, 1, 2, 3, 4});
  Save(small);

  auto loaded = LoadSequenceCache(path_);
  ASSERT_TRUE(loaded.ok()) << loaded.message();
  EXPECT_EQ(ReadAll(loaded.value()), (std::vector<Values>{{7, 2, 2, 34, 1, 2, 3, 4}}));
}

TEST_F(SequenceCacheTest, WriteFailureSaysWhy) {
  fakes::FakeFileStore failing;
  failing.failWith = "Cannot write /ro/Show.csq: Read-only file system";
  const platform::Status status = SaveSequenceCache(EventTable(), "/ro/Show.csq", failing);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.message(), failing.failWith);
}

TEST_F(SequenceCacheTest, MissingFileCannotBeOpened) {
  auto loaded = LoadSequenceCache((dir_ / "absent.csq").string());
  ASSERT_FALSE(loaded.ok());
  EXPECT_NE(loaded.message().find("cannot open"), std::string::npos) << loaded.message();
}

void PutLittle(std::string& bytes, std::size_t at, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i)
    bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
}

TEST_F(SequenceCacheTest, DamagedFilesAreRejectedWithTheReason) {
  const std::string good = TwoRowFile();
  struct Case {
    const char* name;
    std::function<void(std::string&)> damage;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"empty", [](std::string& b) { b.clear(); }, "truncated: the file is empty"},
      {"inside the magic", [](std::string& b) { b.resize(5); }, "truncated"},
      {"inside the fixed header", [](std::string& b) { b.resize(20); }, "truncated"},
      {"inside the columns", [](std::string& b) { b.resize(60); }, "truncated"},
      {"inside the rows", [&](std::string& b) { b.resize(b.size() - 20); }, "truncated"},
      {"checksum cut", [](std::string& b) { b.pop_back(); }, "truncated"},
      {"bytes appended", [](std::string& b) { b += "xyz"; }, "damaged: 3 bytes after the last"},
      {"foreign file", [](std::string& b) { b.replace(0, 4, "PK\x03\x04"); },
       "not a Glimmerfield cache file"},
      {"short foreign file", [](std::string& b) { b = "hello"; }, "not a Glimmerfield cache file"},
      {"newer version", [](std::string& b) { PutLittle(b, 8, 7, 4); },
       "unknown cache format version 7"},
      {"impossible count", [](std::string& b) { PutLittle(b, 16, 1ull << 40, 8); },
       "impossible row count 1099511627776"},
      {"huge count", [](std::string& b) { PutLittle(b, 16, 1000000000, 8); },
       "truncated: the header claims 1000000000 rows"},
      {"header size beyond the file", [](std::string& b) { PutLittle(b, 12, 0xFFFFFFFF, 4); },
       "truncated"},
      {"header size below its fixed part", [](std::string& b) { PutLittle(b, 12, 3, 4); },
       "damaged header"},
      {"row size", [](std::string& b) { PutLittle(b, 26, 40, 2); }, "damaged header"},
      {"bit flipped in a row", [&](std::string& b) { b[b.size() - 20] ^= 0x10; },
       "checksum mismatch"},
      {"bit flipped in a column name", [](std::string& b) { b[30] ^= 0x01; }, "checksum mismatch"},
      {"checksum changed", [](std::string& b) { b.back() ^= 0x80; }, "checksum mismatch"},
  };
  for (const Case& c : cases) {
    std::string bytes = good;
    c.damage(bytes);
    WriteBytes(bytes);
    auto loaded = LoadSequenceCache(path_);
    ASSERT_FALSE(loaded.ok()) << c.name;
    EXPECT_NE(loaded.message().find(c.expected), std::string::npos)
        << c.name << ": " << loaded.message();
  }
}

// One flipped bit in every byte, a different bit from byte to byte: header,
// column list, rows and checksum all have to notice.
TEST_F(SequenceCacheTest, NoFlippedBitGoesUnnoticed) {
  const std::string good = TwoRowFile();
  for (std::size_t byte = 0; byte < good.size(); ++byte) {
    std::string bytes = good;
    bytes[byte] = static_cast<char>(bytes[byte] ^ (1 << (byte % 8)));
    WriteBytes(bytes);
    EXPECT_FALSE(LoadSequenceCache(path_).ok()) << "byte " << byte;
  }
}

}  // namespace
}  // namespace importer
