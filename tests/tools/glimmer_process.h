#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "tests/fakes/run_program.h"
#include "tests/fakes/temp_dir.h"

namespace tools_test {

inline std::string GlimmerProgram() {
  const char* bin = std::getenv("GLIMMER_BIN");
  return (bin != nullptr ? std::string(bin) : platform::ApplicationDirectory()) + "/glimmer";
}

// `glimmer ARGS` as a child process, its output kept in files of `dir` so it
// can be read while it runs. `environment` entries ("NAME=value") are added
// to ours.
class GlimmerProcess : public fakes::ChildProcess {
 public:
  GlimmerProcess(const fakes::TempDir& dir, std::vector<std::string> args,
                 const std::vector<std::string>& environment = {})
      : fakes::ChildProcess(WithProgram(std::move(args)), {.outFile = dir.File("glimmer.out"),
                                                           .errFile = dir.File("glimmer.err"),
                                                           .environment = environment}),
        out_(dir.File("glimmer.out")),
        err_(dir.File("glimmer.err")) {}

  std::string Out() const { return fakes::ReadBytes(out_); }
  std::string Err() const { return fakes::ReadBytes(err_); }

 private:
  static std::vector<std::string> WithProgram(std::vector<std::string> args) {
    args.insert(args.begin(), GlimmerProgram());
    return args;
  }
  std::string out_, err_;
};

}  // namespace tools_test
