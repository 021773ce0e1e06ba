#include <gtest/gtest.h>

#include <numeric>

#include "platform/posix/posix_file_store.h"
#include "tests/fakes/temp_dir.h"
#include "tests/files/crash_rig.h"

namespace {

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

// A writer killed at random moments while it rewrites the three files leaves
// each one whole: old or new. bench/crash_consistency runs hundreds of kills.
TEST(CrashConsistencyTest, KilledWhileRewritingEveryFileIsTheOldOrTheNewVersion) {
  fakes::TempDir dir;
  platform::PosixFileStore files;
  const crash_rig::Figures figures = crash_rig::Run(dir.path(), files, 40, 20261207);
  EXPECT_EQ(figures.kills, 40);
  EXPECT_TRUE(figures.faults.empty()) << Joined(figures.faults);
  // A temporary file a kill left behind goes with the next save of its file.
  EXPECT_EQ(figures.leftoverFiles, 0);
  // The kills must land inside writes, or the check proves nothing.
  EXPECT_GT(std::accumulate(figures.killsDuring.begin(), figures.killsDuring.end(), 0), 10);
}

}  // namespace
