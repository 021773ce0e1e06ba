// glimmer check: the import's serial line report for a compiled sequence.
#include <gtest/gtest.h>

#include <vector>

#include "platform/posix/posix_file_store.h"
#include "sequence_format/event_table.h"
#include "sequence_format/sequence_cache.h"
#include "tests/fakes/run_program.h"
#include "tests/fakes/temp_dir.h"
#include "tests/tools/glimmer_process.h"

namespace {

using Record = sequence_format::EventTable::Record;

TEST(CheckCommand, WarnsAtTheSlowRateOnlyAndRefusesAMissingFile) {
  fakes::TempDir dir;
  // 32 fades on every 50 ms for a minute: more than 56000 baud carries.
  std::vector<Record> rows;
  for (std::int32_t t = 4410; t < 60 * 88200; t += 4410) {
    for (std::int32_t d = 1; d <= 32; ++d) rows.push_back(Record{{t, d, 3, 34, 0, 255, 1, 20}, 0});
  }
  const std::string cache = dir.File("dense.csq");
  platform::PosixFileStore files;
  ASSERT_TRUE(sequence_format::SaveSequenceCache(sequence_format::EventTable::FromRecords(rows),
                                                 cache, files)
                  .ok());

  const std::string glimmer = tools_test::GlimmerProgram();
  const auto slow = fakes::RunProgram({glimmer, "check", "--baud", "56000", cache});
  EXPECT_EQ(slow.exitCode, 0) << slow.err;
  EXPECT_NE(slow.out.find("Warning: The lights will fall up to "), std::string::npos) << slow.out;
  EXPECT_NE(slow.out.find("Serial line at 115200 baud: p99 "), std::string::npos) << slow.out;
  // Channels 1 and 2 in one row: the merge was on, so it is not suggested.
  EXPECT_EQ(slow.out.find("Perform bitmask"), std::string::npos) << slow.out;

  const auto fast = fakes::RunProgram({glimmer, "check", cache});
  EXPECT_EQ(fast.exitCode, 0) << fast.err;
  EXPECT_EQ(fast.out.find("Warning"), std::string::npos) << fast.out;
  EXPECT_NE(fast.out.find("Serial line at 115200 baud: on time"), std::string::npos) << fast.out;

  const auto missing = fakes::RunProgram({glimmer, "check", dir.File("none.csq")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("none.csq"), std::string::npos) << missing.err;
}

}  // namespace
