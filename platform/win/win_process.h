#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/process_launcher.h"
#include "platform/win/wide_text.h"
#include "platform/win/win_handle.h"

namespace platform::win {

// The command line that the C runtime of the started program splits back
// into exactly `argv`: arguments with blanks, tabs or quotes (and empty ones)
// are quoted, quotes escaped, and backslashes doubled only where they come
// before a quote, so "C:\App\Temp\" arrives as C:\App\Temp\ .
std::wstring CommandLineFor(const std::vector<std::string>& argv);

// A job object that kills every process in it when its last handle closes:
// when the player ends, however it ends, the programs it started go with it.
// Processes started inside a job are in it too, so the kill reaches what
// they started.
UniqueHandle MakeKillOnCloseJob();

// Starts a program with CreateProcessW, inside this process's job, without
// a window of its own and without a shell. A program named without a folder
// is found the way Windows finds it (the program's folder, the system
// folders, PATH; ".exe" added).
//
// Exit: its exit code. Exception codes (0xC0000005 and the like) are an
// error naming the program and the code, since the program crashed and a
// caller that ignores exit codes must still hear about it.
class WinProcessLauncher final : public ProcessLauncher {
 public:
  WinProcessLauncher();

  Result<int> Run(const std::vector<std::string>& argv) override;
  Result<int> RunWatched(const std::vector<std::string>& argv,
                         const KeepWaiting& keepWaiting) override;
  std::string LastErrorOutput() const override { return lastErrorOutput_; }

 private:
  UniqueHandle job_;
  std::string lastErrorOutput_;
};

// Background programs through CreateProcessW, each in a job of its own so
// that a kill reaches whatever it started, with standard output and error
// going to one pipe and nothing on standard input.
class WinChildStarter final : public ChildStarter {
 public:
  Result<std::unique_ptr<ChildProcess>> Start(const std::vector<std::string>& argv) override;
};

// Blocks until `child`, made by WinChildStarter, has ended, at most
// `timeoutMs`; its next Poll reports the end. False on timeout.
bool AwaitEnd(ChildProcess& child, DWORD timeoutMs);

// Whether an exit code is an exception status rather than a code the program
// chose to exit with.
bool IsExceptionCode(DWORD code);

}  // namespace platform::win
