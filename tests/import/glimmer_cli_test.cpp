// The companion command run as a program: compile a document or an archive,
// dump the compiled file, refuse a damaged one.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "platform/paths.h"
#include "tests/fakes/rar_writer.h"
#include "tests/fakes/run_program.h"
#include "tests/fakes/sequence_document.h"
#include "tests/fakes/temp_dir.h"

namespace {

// Runs `glimmer ARGS`, no shell in between.
fakes::ProgramRun Glimmer(std::vector<std::string> args) {
  const char* bin = std::getenv("GLIMMER_BIN");
  args.insert(args.begin(),
              (bin != nullptr ? std::string(bin) : platform::ApplicationDirectory()) + "/glimmer");
  return fakes::RunProgram(args);
}

TEST(GlimmerCli, CompilesADocumentOrAnArchiveAndDumpsTheCompiledFile) {
  fakes::TempDir dir;
  fakes::Sequence sequence;
  sequence.filePath = dir.File("song.wav");
  fakes::WriteBytes(sequence.filePath, "RIFF");
  // Channel 2 fades for half a second, then holds; channel 1 is set later.
  sequence.controllers = {{"1",
                           {{"1", {{"88200", "3", "0", "255"}}},
                            {"2", {{"0", "1", "0", "255"}, {"44100", "3", "7", "7"}}}}}};
  const std::string document = dir.File("Carol"), cache = dir.File("Carol.csq");
  fakes::WriteBytes(document, fakes::ToXml(sequence));

  const auto compiled = Glimmer({"compile", document, cache});
  ASSERT_EQ(compiled.exitCode, 0) << compiled.err;
  EXPECT_EQ(compiled.out, "audio: " + sequence.filePath + "\ntitle: Carol - Choir\n");

  const auto dumped = Glimmer({"dump", cache});
  ASSERT_EQ(dumped.exitCode, 0) << dumped.err;
  EXPECT_EQ(dumped.out,
            "SampleNumber,Device,Channel,Command,StartIntensity,EndIntensity,ShortInterval,"
            "LongInterval\n"
            "0,1,2,34,0,255,2,244\n"
            "44100,1,2,33,7,7,,\n"
            "88200,1,1,33,0,255,,\n");
  EXPECT_EQ(dumped.err, "");

  const std::string damaged = dir.File("damaged.csq");
  fakes::WriteBytes(damaged, "this is not a compiled sequence");
  const auto refused = Glimmer({"dump", damaged});
  EXPECT_EQ(std::tie(refused.exitCode, refused.out), std::tuple(1, ""));
  EXPECT_NE(refused.err.find(damaged + ": "), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("not a Glimmerfield cache file"), std::string::npos) << refused.err;

  // The same document in an archive. A killed compile left its scratch folder
  // behind for good: the next one clears those of dead runs only.
  const std::string archive = dir.File("Carol.msq");
  fakes::WriteRar4(archive, {{"Carol", fakes::ToXml(sequence)}});
  const std::string scratch = dir.File("tmp"), prefix = scratch + "/glimmer-compile-";
  const std::string dead = prefix + std::to_string(fakes::EndedProcessId()) + "-7";
  const std::string alive = prefix + std::to_string(getpid()) + "-7";
  for (const std::string& folder : {dead, alive}) {
    std::filesystem::create_directories(folder);
    fakes::WriteBytes(folder + "/.glimmer-extract-partial", "1.3 GB once");
  }
  setenv("TMPDIR", scratch.c_str(), 1);
  const auto run = Glimmer({"compile", archive, dir.File("out.csq")});
  unsetenv("TMPDIR");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(fakes::ReadBytes(dir.File("out.csq")), fakes::ReadBytes(cache));
  // The dead run's scratch folder and its own are gone; the live run's stays.
  EXPECT_EQ(std::vector<std::filesystem::path>(std::filesystem::directory_iterator(scratch), {}),
            std::vector<std::filesystem::path>{alive});
}

// A pipe or device used to be read until memory ran out (or, for a pipe,
// waited for a writer forever). One test of whether it is a regular file
// refuses folders and devices too.
TEST(GlimmerCli, SourcesThatAreNotRegularFilesAreRefusedBeforeAnythingIsRead) {
  fakes::TempDir dir;
  const std::string fifo = dir.File("pipe.msq");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string cache = dir.File("out.csq");
  const auto ran = Glimmer({"compile", fifo, cache});
  EXPECT_EQ(ran.exitCode, 1);
  EXPECT_NE(ran.err.find("the source " + fifo + " is not a regular file"), std::string::npos)
      << ran.err;
  EXPECT_FALSE(std::filesystem::exists(cache));
}

}  // namespace
