#include "platform/win/win_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

using platform::win::UniqueHandle;
using platform::win::Widen;

std::string Beside(const std::string& name) {
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::string self = platform::win::Narrow(std::wstring_view(path, n));
  return self.substr(0, self.find_last_of("\\/") + 1) + name;
}

const std::string& Child() {
  static const std::string path = Beside("win_test_child.exe");
  return path;
}

// A name no other test run uses, for the events and mutexes of one test.
std::string UniqueName(const char* what) {
  return std::string("glimmer-test-") + what + "-" + std::to_string(::GetCurrentProcessId());
}

// The event a hanging child sets once it holds its "alive" mutex.
struct HangSignals {
  explicit HangSignals(const std::string& name)
      : ready(::CreateEventW(nullptr, TRUE, FALSE, Widen(name + "-ready").c_str())) {}
  bool WaitReady() const { return ::WaitForSingleObject(ready.get(), 20000) == WAIT_OBJECT_0; }
  UniqueHandle ready;
};

// True once the hanging child named `name` has ended: its mutex is abandoned
// (or gone). The wait is bounded so a survivor fails the test, not hangs it.
bool Ended(const std::string& name) {
  UniqueHandle alive(::OpenMutexW(SYNCHRONIZE, FALSE, Widen(name + "-alive").c_str()));
  if (!alive) return true;
  const DWORD got = ::WaitForSingleObject(alive.get(), 20000);
  if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) ::ReleaseMutex(alive.get());
  return got == WAIT_ABANDONED || got == WAIT_OBJECT_0;
}

// Each argument reaches the started program's own command-line parser
// unchanged: blanks, quotes, backslashes before a closing quote (the
// archiver's destination folder), empty arguments and non-ASCII text.
TEST(WinProcessTest, ArgumentsArriveExactlyAsGiven) {
  const std::vector<std::string> args = {
      "plain",         "with blank",     "",          "C:\\App\\Temp\\", "say \"hi\"",
      "a\\\\\"b",      "trailing\\\\",   "tab\there", "Café Ωmega",      "-o+",
      "\\\\server\\x", "quote\"inside\\"};
  std::vector<std::string> argv = {Child(), "args"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string expected;
  for (const auto& a : args) expected += "[" + a + "]";

  platform::win::WinChildStarter starter;
  auto child = starter.Start(argv);
  ASSERT_TRUE(child) << child.message();
  ASSERT_TRUE(platform::win::AwaitEnd(*child.value(), 20000));
  ASSERT_TRUE(child.value()->Poll());
  EXPECT_EQ(child.value()->TakeOutput(), expected);
}

TEST(WinProcessTest, LauncherGivesExitCodesAndErrorOutputOrSaysWhyNot) {
  platform::win::WinProcessLauncher launcher;
  const struct {
    std::vector<std::string> argv;
    int code;             // when it runs
    std::string message;  // part of the error, when it does not
    std::string errorOutput;
  } cases[] = {
      {{Child(), "exit", "0"}, 0, "", "err-0\n"},
      {{Child(), "exit", "3"}, 3, "", "err-3\n"},
      {{Child(), "crash"}, 0, "crashed (exception 0xC0000005)", ""},
      {{Beside("no such program.exe"), "X"}, 0, "Cannot start the program ", ""},
      {{}, 0, "Cannot start a program: no program was named.", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argv.empty() ? "(none)" : c.argv.back());
    const auto ran = launcher.Run(c.argv);
    if (c.message.empty()) {
      ASSERT_TRUE(ran) << ran.message();
      EXPECT_EQ(ran.value(), c.code);
      EXPECT_EQ(launcher.LastErrorOutput(), c.errorOutput);
    } else {
      ASSERT_FALSE(ran);
      EXPECT_NE(ran.message().find(c.message), std::string::npos) << ran.message();
    }
  }
}

// A caller that stops waiting ends the program and everything it started.
TEST(WinProcessTest, StoppedWaitEndsTheProgramAndWhatItStarted) {
  const std::string name = UniqueName("stopped");
  HangSignals signals(name);
  platform::win::WinProcessLauncher launcher;
  std::atomic<bool> seenReady = false;
  const auto ran = launcher.RunWatched({Child(), "player", name}, [&] {
    if (!seenReady) seenReady = signals.WaitReady();
    return false;
  });
  ASSERT_FALSE(ran);
  EXPECT_EQ(ran.message(), "The program " + Child() + " was stopped before it ended.");
  EXPECT_TRUE(seenReady);
  EXPECT_TRUE(Ended(name)) << "the archiver the player started is still running";
}

// The player killed outright (Task Manager, a crash) takes its archiver
// with it: the job's last handle closes with the player.
TEST(WinProcessTest, KilledPlayerTakesItsArchiverAlong) {
  const std::string name = UniqueName("killed");
  HangSignals signals(name);
  std::wstring line = platform::win::CommandLineFor({Child(), "player", name});
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &info));
  UniqueHandle player(info.hProcess);
  UniqueHandle thread(info.hThread);
  ASSERT_TRUE(signals.WaitReady());
  ::TerminateProcess(player.get(), 1);
  EXPECT_TRUE(Ended(name));
}

TEST(WinChildStarterTest, CollectsOutputAndExitWithNothingOnInput) {
  platform::win::WinChildStarter starter;
  const struct {
    std::vector<std::string> argv;
    std::string output;
    int code;
  } cases[] = {
      {{Child(), "exit", "7"}, "out\nerr-7\n", 7},
      {{Child(), "stdin"}, "nothing", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argv[1]);
    auto child = starter.Start(c.argv);
    ASSERT_TRUE(child) << child.message();
    ASSERT_TRUE(platform::win::AwaitEnd(*child.value(), 20000));
    const std::optional<platform::ChildExit> exit = child.value()->Poll();
    ASSERT_TRUE(exit);
    EXPECT_EQ(child.value()->TakeOutput(), c.output);
    EXPECT_FALSE(exit->signalled);
    EXPECT_EQ(exit->code, c.code);
  }
  const auto missing = starter.Start({Beside("no such alert.exe")});
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.message().rfind("cannot run " + Beside("no such alert.exe") + ": ", 0), 0u)
      << missing.message();
}

TEST(WinChildStarterTest, KillReachesWhatTheChildStarted) {
  const std::string name = UniqueName("alert");
  HangSignals signals(name);
  platform::win::WinChildStarter starter;
  auto child = starter.Start({Child(), "player", name});
  ASSERT_TRUE(child) << child.message();
  ASSERT_TRUE(signals.WaitReady());
  EXPECT_FALSE(child.value()->Poll());
  child.value()->Kill();
  EXPECT_TRUE(Ended(name));
  ASSERT_TRUE(platform::win::AwaitEnd(*child.value(), 20000));
  EXPECT_TRUE(child.value()->Poll()) << "a killed child is reported as ended";
}

}  // namespace
