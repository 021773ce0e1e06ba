// The companion command run as a program: compile a document or an archive,
// dump the compiled file, refuse a damaged one.
#include <poll.h>
#include <sys/inotify.h>
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

// glimmer compile ended by SIGTERM, SIGINT or SIGHUP while it extracted an
// archive left its scratch folder (64 MB with the document in it) until the
// next compile. It stops the extractor and removes the folder, then ends by
// the signal as before.
TEST(GlimmerCli, ACompileEndedByASignalLeavesNoScratchFolder) {
  fakes::TempDir dir;
  fakes::Sequence sequence;
  sequence.filePath = dir.File("song.wav");
  sequence.controllers = {{"1", {{"1", {{"0", "1", "0", "255"}}}}}};
  // Large enough that the extraction is still under way when the signal comes.
  const std::string archive = dir.File("Carol.msq");
  fakes::WriteRar4(archive, {{"Carol", fakes::ToXml(sequence) + std::string(48 << 20, ' ')}});
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    const std::string scratch = dir.File("tmp" + std::to_string(sig));
    std::filesystem::create_directories(scratch);
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, scratch.c_str(), IN_CREATE), 0);
    const char* bin = std::getenv("GLIMMER_BIN");
    fakes::ChildOptions options;
    options.environment = {"TMPDIR=" + scratch};
    fakes::ChildProcess compile(
        {(bin != nullptr ? std::string(bin) : platform::ApplicationDirectory()) + "/glimmer",
         "compile", archive, dir.File("out.csq")},
        options);
    ASSERT_TRUE(compile.Started());
    // The scratch folder is made, then the extractor writes into it: the
    // signal comes while it does.
    const auto nextCreated = [&] {
      pollfd ready{watch, POLLIN, 0};
      if (poll(&ready, 1, 60000) != 1) return std::string();
      alignas(inotify_event) char events[4096];
      const ssize_t got = read(watch, events, sizeof events);
      const auto* event = reinterpret_cast<const inotify_event*>(events);
      return got > 0 && event->len > 0 ? std::string(event->name) : std::string();
    };
    const std::string folder = nextCreated();
    ASSERT_FALSE(folder.empty()) << "no scratch folder was made";
    ASSERT_GE(inotify_add_watch(watch, (scratch + "/" + folder).c_str(), IN_CREATE), 0);
    if (std::filesystem::is_empty(scratch + "/" + folder)) {
      ASSERT_FALSE(nextCreated().empty()) << "the extractor wrote nothing";
    }
    compile.Signal(sig);
    EXPECT_EQ(compile.Wait(), 128 + sig);
    close(watch);
    EXPECT_EQ(std::vector<std::filesystem::path>(std::filesystem::directory_iterator(scratch), {}),
              std::vector<std::filesystem::path>{});
  }
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
