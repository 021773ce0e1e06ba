// glimmer log reads show.log through the one rule for files: what is not a
// regular file is refused at once, before it is opened.
#include <fcntl.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/posix/unique_fd.h"
#include "tests/fakes/special_files.h"
#include "tests/fakes/temp_dir.h"
#include "tests/tools/glimmer_process.h"

namespace {

// A pipe named show.log, with a writer that never writes: reading it used
// to wait for ever.
TEST(GlimmerLog, RefusesAPipeAFolderAndADeviceAtOnce) {
  for (const fakes::SpecialFile& special : fakes::SpecialFiles()) {
    SCOPED_TRACE(special.name);
    fakes::TempDir dir;
    const std::string log = dir.File("show.log");
    special.make(log);
    platform::UniqueFd writer;
    if (std::string(special.name) == "pipe") {
      writer.Reset(::open(log.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    }
    tools_test::GlimmerProcess glimmer(dir, {"log", "--dir", dir.path().string()});
    ASSERT_TRUE(glimmer.Started());
    EXPECT_EQ(glimmer.Wait(), 1);
    EXPECT_NE(glimmer.Err().find("cannot read " + log + ": " + special.reason), std::string::npos)
        << glimmer.Err();
  }
}

TEST(GlimmerLog, SumsUpTheNightsAndSaysHowManyLinesItCouldNotRead) {
  fakes::TempDir dir;
  fakes::WriteBytes(dir.File("show.log"),
                    "2026-12-24 17:30:00 Show started (Start button)\n"
                    "2026-12-24 17:33:00 Entry 1 finished\n"
                    "2026-13-01 05:00:00 Entry 1 finished\n"
                    "garbage\n");
  tools_test::GlimmerProcess glimmer(dir, {"log", "--dir", dir.path().string()});
  EXPECT_EQ(glimmer.Wait(), 0) << glimmer.Err();
  EXPECT_NE(glimmer.Out().find("2026-12-24        1       1"), std::string::npos) << glimmer.Out();
  EXPECT_NE(glimmer.Err().find("2 line(s) of "), std::string::npos) << glimmer.Err();
}

}  // namespace
