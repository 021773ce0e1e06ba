// The companion command run as a program: compile a document, dump the
// compiled file, refuse a damaged one.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/paths.h"
#include "tests/fakes/temp_dir.h"
#include "tests/import/import_support.h"

namespace {

struct Ran {
  int exitCode;
  std::string out, err;
};

// Runs `glimmer ARGS` (arguments already quoted for the shell).
Ran Glimmer(const fakes::TempDir& dir, const std::string& args) {
  const char* bin = std::getenv("GLIMMER_BIN");
  const std::string program =
      (bin != nullptr ? std::string(bin) : platform::ApplicationDirectory()) + "/glimmer";
  const std::string errFile = dir.File("stderr.txt");
  const std::string command = "'" + program + "' " + args + " 2>'" + errFile + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, "", "popen failed"};
  Ran ran{-1, "", ""};
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    ran.out.append(buffer, n);
  const int status = pclose(pipe);
  if (WIFEXITED(status)) ran.exitCode = WEXITSTATUS(status);
  ran.err = fakes::ReadBytes(errFile);
  return ran;
}

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

TEST(GlimmerCli, CompilesADocumentAndDumpsTheCompiledFile) {
  fakes::TempDir dir;
  import_test::Sequence sequence;
  sequence.filePath = dir.File("song.wav");
  fakes::WriteBytes(sequence.filePath, "RIFF");
  // Channel 2 fades for half a second, then holds; channel 1 is set later.
  sequence.controllers = {{"1",
                           {{"1", {{"88200", "3", "0", "255"}}},
                            {"2", {{"0", "1", "0", "255"}, {"44100", "3", "7", "7"}}}}}};
  const std::string document = dir.File("Carol"), cache = dir.File("Carol.csq");
  fakes::WriteBytes(document, import_test::ToXml(sequence));

  const Ran compiled = Glimmer(dir, "compile " + Quoted(document) + " " + Quoted(cache));
  ASSERT_EQ(compiled.exitCode, 0) << compiled.err;
  EXPECT_EQ(compiled.out, "audio: " + sequence.filePath + "\ntitle: Carol - Choir\n");

  const Ran dumped = Glimmer(dir, "dump " + Quoted(cache));
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
  const Ran refused = Glimmer(dir, "dump " + Quoted(damaged));
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(refused.err.find(damaged + ": "), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("not a Glimmerfield cache file"), std::string::npos) << refused.err;
}

}  // namespace
