#include "sequence_format/sequence_cache.h"

#include <unistd.h>

#include <gtest/gtest.h>
#include <xxhash.h>

#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/posix/posix_file_store.h"
#include "tests/fakes/special_files.h"
#include "tests/fakes/temp_dir.h"
#include "tests/import/import_support.h"

namespace sequence_format {
namespace {

using import_test::MakeTable;
using import_test::null;
using import_test::ReadAll;
using import_test::Values;

class SequenceCacheTest : public ::testing::Test {
 protected:
  void Save(const EventTable& table) { ASSERT_TRUE(SaveSequenceCache(table, path_, files_).ok()); }
  std::vector<Values> Load() {
    auto loaded = LoadSequenceCache(path_);
    EXPECT_TRUE(loaded.ok()) << loaded.message();
    return loaded.ok() ? ReadAll(loaded.value()) : std::vector<Values>{};
  }

  fakes::TempDir dir_;
  std::string path_ = dir_.File("Show.csq");
  platform::PosixFileStore files_;
};

TEST_F(SequenceCacheTest, KeepsValuesNullsAndTheLiveRowsInTheirCurrentOrderOrNone) {
  const std::vector<Values> rows = {
      {200, 1, 1, 34, 0, 255, 19, 195},
      {INT32_MIN, INT32_MAX, -1, -10, 0, 0},
      {100, 2, 128, 24, 240, 240, 128, 20},
      {0, 1, 1, 33, 0, 0, null, null},
      {50, 9, 9, 33, 0, 0},  // deleted
  };
  EventTable table = MakeTable(rows);
  table.DeleteCurrent();
  ASSERT_TRUE(table.Sort("SampleNumber desc").ok());
  Save(table);
  EXPECT_EQ(Load(), (std::vector<Values>{rows[0], rows[2], rows[3], rows[1]}));

  // Saving again replaces the file, and an empty table is a valid one.
  Save(EventTable());
  const std::string bytes = fakes::ReadBytes(path_);
  for (std::string_view name : kColumnNames) EXPECT_NE(bytes.find(name), std::string::npos);
  EXPECT_TRUE(Load().empty());
}

void PutLittle(std::string& bytes, std::size_t at, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

TEST_F(SequenceCacheTest, DamagedFilesAndNonFilesAreRejectedWithTheReason) {
  EXPECT_NE(LoadSequenceCache(dir_.File("absent.csq")).message().find("cannot open"),
            std::string::npos);
  // A pipe used to hold the reader forever, waiting for a writer.
  for (const fakes::SpecialFile& special : fakes::SpecialFiles()) {
    const std::string path = dir_.File(std::string(special.name) + ".csq");
    special.make(path);
    EXPECT_EQ(LoadSequenceCache(path).message(), special.reason) << path;
  }
  Save(MakeTable({{88200, 3, 4, 34, 0, 255, 2, 244}, {176400, 3, 4, 33, 255, 255}}));
  const std::string good = fakes::ReadBytes(path_);
  const std::pair<std::function<void(std::string&)>, const char*> cases[] = {
      {[](std::string& b) { b.clear(); }, "truncated: the file is empty"},
      {[](std::string& b) { b.resize(5); }, "truncated"},              // inside the magic
      {[](std::string& b) { b.resize(20); }, "truncated"},             // inside the fixed header
      {[](std::string& b) { b.resize(60); }, "truncated"},             // inside the column names
      {[](std::string& b) { b.resize(b.size() - 20); }, "truncated"},  // inside the rows
      {[](std::string& b) { b.pop_back(); }, "truncated"},             // checksum cut
      {[](std::string& b) { b += "xyz"; }, "damaged: 3 bytes after the last"},
      {[](std::string& b) { b.replace(0, 4, "PK\x03\x04"); }, "not a Glimmerfield cache file"},
      {[](std::string& b) { b = "hello"; }, "not a Glimmerfield cache file"},
      {[](std::string& b) { PutLittle(b, 8, 7, 4); }, "unknown cache format version 7"},
      {[](std::string& b) { PutLittle(b, 16, 1ull << 40, 8); },
       "impossible row count 1099511627776"},
      {[](std::string& b) { PutLittle(b, 16, 10000000, 8); },
       "truncated: the header claims 10000000 rows"},
      {[](std::string& b) { PutLittle(b, 16, 1000000000, 8); },
       "impossible row count 1000000000 (a cache file holds at most 67108864)"},
      {[](std::string& b) { PutLittle(b, 12, 0xFFFFFFFF, 4); }, "truncated"},  // header size
      {[](std::string& b) { PutLittle(b, 12, 3, 4); }, "damaged header"},
      {[](std::string& b) { PutLittle(b, 26, 40, 2); }, "damaged header"},  // row size
      {[](std::string& b) { b[b.size() - 20] ^= 0x10; }, "checksum mismatch"},
      {[](std::string& b) { b.back() ^= 0x80; }, "checksum mismatch"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    std::string bytes = good;
    cases[i].first(bytes);
    fakes::WriteBytes(path_, bytes);
    auto loaded = LoadSequenceCache(path_);
    ASSERT_FALSE(loaded.ok()) << "case " << i;
    EXPECT_NE(loaded.message().find(cases[i].second), std::string::npos)
        << "case " << i << ": " << loaded.message();
  }
  // One flipped bit in every byte, a different bit from byte to byte: header,
  // column names, rows and checksum all have to notice.
  for (std::size_t byte = 0; byte < good.size(); ++byte) {
    std::string bytes = good;
    bytes[byte] = static_cast<char>(bytes[byte] ^ (1 << (byte % 8)));
    fakes::WriteBytes(path_, bytes);
    EXPECT_FALSE(LoadSequenceCache(path_).ok()) << "byte " << byte;
  }
}

// A 10 GB sparse file was read whole (10.5 GB, 54 s) before "checksum
// mismatch", and in the show a 3 GB one kept Stop waiting on every retry.
TEST_F(SequenceCacheTest, LargeFilesAreRefusedBeforeReadingAndLoadingAnswersStop) {
  Save(MakeTable({{88200, 3, 4, 34, 0, 255, 2, 244}}));
  const std::string good = fakes::ReadBytes(path_);
  const std::uint64_t headerSize = good.size() - 33 - 8;
  // The header's claim of rows, the (sparse) file's size, what is said.
  const std::tuple<const char*, std::uint64_t, std::uint64_t, const char*> cases[] = {
      {"MoreThanItsRowsAllow", 1, 10ull << 30, "bytes after the last of 1 rows"},
      {"RowsPastTheLimit", 100000000, headerSize + 100000000ull * 33 + 8, "impossible row count"},
  };
  for (const auto& [name, claimed, fileSize, said] : cases) {
    SCOPED_TRACE(name);
    std::string bytes = good;
    PutLittle(bytes, 16, claimed, 8);
    fakes::WriteBytes(path_, bytes);
    ASSERT_EQ(truncate(path_.c_str(), static_cast<off_t>(fileSize)), 0);
    int asked = 0;
    const auto loaded = LoadSequenceRows(path_, [&] { return ++asked > 0; });
    ASSERT_FALSE(loaded.ok());
    EXPECT_NE(loaded.message().find(said), std::string::npos) << loaded.message();
    EXPECT_EQ(asked, 0);  // refused before reading
  }

  // A large sound file is read in steps, and the reader is asked between them.
  std::vector<Values> rows(300000, Values{88200, 3, 4, 33, 255, 255});
  Save(MakeTable(rows));
  int asked = 0;
  const auto stopped = LoadSequenceRows(path_, [&] { return ++asked < 2; });
  ASSERT_FALSE(stopped.ok());
  EXPECT_EQ(std::tie(stopped.message(), asked), std::tuple(kLoadingStopped, 2));
  asked = 0;
  const auto whole = LoadSequenceRows(path_, [&] { return ++asked > 0; });
  ASSERT_TRUE(whole.ok()) << whole.message();
  EXPECT_EQ(whole.value().size(), rows.size());
  EXPECT_GE(asked, 2);
}

// A file whose checksum is sound may still hold what no writer of this
// program writes; the reader refuses it instead of playing it.
TEST_F(SequenceCacheTest, RowsAndColumnsTheWriterNeverWritesAreRefused) {
  Save(MakeTable({{88200, 3, 4, 34, 0, 255, 2, 244}, {176400, 3, 4, 33, 255, 255}}));
  const std::string good = fakes::ReadBytes(path_);
  constexpr std::size_t kFirstRow = 135, kSecondRow = kFirstRow + 33;
  // The flags byte of a column follows its name and type.
  const auto flagsOf = [&](std::string_view name) { return good.find(name) + name.size() + 1; };
  const std::pair<std::function<void(std::string&)>, std::string> cases[] = {
      {[&](std::string& b) { b[kFirstRow] = 0x02; },
       "row 1 cannot be: it has no value in Device, which every row has"},
      {[&](std::string& b) { b[kSecondRow] = char(0xFF); },
       "row 2 cannot be: it has no value in SampleNumber, which every row has"},
      {[&](std::string& b) { b[kSecondRow] = 0x40; },
       "row 2 cannot be: it has only one of ShortInterval and LongInterval"},
      {[&](std::string& b) { b[kFirstRow] = char(0xC0); },
       "row 1 cannot be: it holds a value under its null ShortInterval"},
      {[&](std::string& b) { b[kSecondRow + 1 + 4 * 7] = 1; },
       "row 2 cannot be: it holds a value under its null LongInterval"},
      {[&](std::string& b) { b[flagsOf("Command")] = 1; },
       "column Command has flags 0x01, expected 0x00"},
      {[&](std::string& b) { b[flagsOf("SampleNumber")] = 0; },
       "column SampleNumber has flags 0x00, expected 0x01"},
      {[&](std::string& b) { b[flagsOf("Device")] = char(0x81); },
       "column Device has flags 0x81, expected 0x01"},
  };
  for (const auto& [change, expected] : cases) {
    std::string bytes = good;
    change(bytes);
    PutLittle(bytes, bytes.size() - 8, XXH64(bytes.data(), bytes.size() - 8, 0), 8);
    fakes::WriteBytes(path_, bytes);
    const auto loaded = LoadSequenceCache(path_);
    ASSERT_FALSE(loaded.ok()) << expected;
    EXPECT_EQ(loaded.message(), expected);
    EXPECT_EQ(LoadSequenceRows(path_).message(), expected);
  }

  // Nor does the writer write such a row when a table holds one; the file
  // there stays as it was.
  Save(MakeTable({{1, 1, 1, 33, 0, 0}}));
  const std::string before = fakes::ReadBytes(path_);
  for (const Values& row : {Values{0, null, 1, 33, 0, 0}, Values{0, 1, 1, 34, 0, 0, 19, null}}) {
    const auto saved = SaveSequenceCache(MakeTable({{1, 1, 1, 33, 0, 0}, row}), path_, files_);
    ASSERT_FALSE(saved.ok());
    EXPECT_NE(saved.message().find("row 2 cannot be saved: it "), std::string::npos)
        << saved.message();
  }
  EXPECT_EQ(fakes::ReadBytes(path_), before);
}

// A hand-made cache with a row stored after a later one loaded, and the
// player sent that row ten seconds early while `glimmer check` called the
// line on time. For playing, and for the check before a night, a row due
// before the one stored ahead of it is refused, wherever in the file it
// falls (within a step of the read or across two); a table for inspection
// still reads the file as it is.
TEST_F(SequenceCacheTest, RowsOutOfPlayingOrderAreRefusedForPlayingAndTheNightCheck) {
  constexpr std::size_t kRows = 20000;  // a few steps of the read
  std::vector<Values> sorted;
  for (std::size_t i = 0; i < kRows; ++i) {
    sorted.push_back(Values{static_cast<int>(i) * 100, 1, 1, 33, 0, 0});
  }
  Save(MakeTable(sorted));
  EXPECT_TRUE(LoadSequenceRows(path_).ok());
  EXPECT_TRUE(CheckSequenceCache(path_).ok());
  // The first row of the second step, one inside it, the last of the file.
  for (const std::size_t late : {std::size_t{262144 / 33}, std::size_t{9000}, kRows - 1}) {
    SCOPED_TRACE(late);
    std::vector<Values> rows = sorted;
    rows[late][0] = 5;
    Save(MakeTable(rows));
    const std::string said = "row " + std::to_string(late + 1) +
                             " cannot be: it is due at position 5, before row " +
                             std::to_string(late) + " at " + std::to_string((late - 1) * 100) +
                             "; rows are stored in the order they are sent";
    EXPECT_EQ(LoadSequenceRows(path_).message(), said);
    EXPECT_EQ(CheckSequenceCache(path_).message(), said);
    EXPECT_TRUE(LoadSequenceCache(path_).ok());
  }
}

// The check before a night read a 2 GB cache whole (4.35 GB of memory) with
// no word to the watchdog. It keeps no rows, asks between steps (where the
// watchdog is fed) and says what the loaders say.
TEST_F(SequenceCacheTest, TheCheckKeepsNothingAsksAsItReadsAndSaysWhatTheLoadersSay) {
  std::vector<Values> rows(300000, Values{88200, 3, 4, 33, 255, 255});
  Save(MakeTable(rows));
  int asked = 0;
  EXPECT_TRUE(CheckSequenceCache(path_, [&] { return ++asked > 0; }).ok());
  EXPECT_GE(asked, 2);
  asked = 0;
  EXPECT_EQ(CheckSequenceCache(path_, [&] { return ++asked < 2; }).message(), kLoadingStopped);

  std::string bytes = fakes::ReadBytes(path_);
  bytes[bytes.size() / 2] ^= 1;
  fakes::WriteBytes(path_, bytes);
  EXPECT_EQ(CheckSequenceCache(path_).message(), "checksum mismatch: the file is damaged");
  for (const fakes::SpecialFile& special : fakes::SpecialFiles()) {
    SCOPED_TRACE(special.name);
    const std::string other = dir_.File(std::string("other-") + special.name);
    special.make(other);
    EXPECT_EQ(CheckSequenceCache(other).message(), LoadSequenceRows(other).message());
  }
}

}  // namespace
}  // namespace sequence_format
