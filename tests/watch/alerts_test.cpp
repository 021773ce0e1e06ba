#include "watch/alerts.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "platform/posix/posix_child_starter.h"
#include "tests/fakes/fake_time_source.h"
#include "tests/fakes/script_file.h"
#include "tests/fakes/temp_dir.h"
#include "watch/alert_settings.h"

namespace {

using namespace std::chrono_literals;

// Blocks until some child of the test has ended, without reaping it: the
// runner's next poll finds it ended. No sleeping, no real-time limit.
void AwaitAChildsEnd() {
  siginfo_t info{};
  ::waitid(P_ALL, 0, &info, WEXITED | WNOWAIT);
}

class AlertRunnerTest : public ::testing::Test {
 protected:
  std::string Script(const std::string& name, const std::string& body) {
    const std::string path = dir.File(name);
    fakes::WriteScript(path, body);
    return path;
  }
  watch::AlertRunner Runner(const std::string& command) {
    return watch::AlertRunner(command, starter, time, [this](const playback::ShowEvent& event) {
      log.push_back(playback::Describe(event));
    });
  }
  bool Logged(const std::string& line) const {
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  void Reap(watch::AlertRunner& runner) {
    AwaitAChildsEnd();
    runner.Poll();
  }

  fakes::TempDir dir;
  platform::PosixChildStarter starter;
  fakes::FakeTimeSource time;
  std::vector<std::string> log;
};

TEST_F(AlertRunnerTest, TwoArgumentsExactlyWithoutAShellAndTheOutputInTheLog) {
  watch::AlertRunner runner =
      Runner(Script("tell me", "printf '%s|%s|%s\\n' \"$#\" \"$1\" \"$2\"; echo oops >&2"));
  runner.Raise(watch::alert::kPortLost, "Port COM1 lost: $HOME `x` \"quoted\"\nsecond line");
  Reap(runner);
  EXPECT_FALSE(runner.Busy());
  EXPECT_TRUE(Logged("Alert port-lost: Port COM1 lost: $HOME `x` \"quoted\" second line"));
  EXPECT_TRUE(
      Logged("Alert command said: 2|port-lost|Port COM1 lost: $HOME `x` \"quoted\" second line"))
      << ::testing::PrintToString(log);
  EXPECT_TRUE(Logged("Alert command said: oops"));
}

TEST_F(AlertRunnerTest, AFailingCommandIsLoggedAndTheNextAlertStillRuns) {
  watch::AlertRunner runner = Runner(Script("fail", "echo \"$1\"; exit 3"));
  runner.Raise(watch::alert::kSummary, "one");
  runner.Raise(watch::alert::kNightShort, "two");
  EXPECT_TRUE(runner.Busy());
  Reap(runner);
  Reap(runner);
  EXPECT_FALSE(runner.Busy());
  EXPECT_TRUE(Logged("Alert command for summary failed with exit status 3"));
  EXPECT_TRUE(Logged("Alert command said: night-short"));
  EXPECT_TRUE(Logged("Alert command for night-short failed with exit status 3"));
}

TEST_F(AlertRunnerTest, AMissingCommandIsLoggedAtOnce) {
  watch::AlertRunner runner = Runner(dir.File("not-there"));
  runner.Raise(watch::alert::kRestarted, "back");
  EXPECT_FALSE(runner.Busy());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].rfind("Alert command for restarted not run: cannot run " +
                             dir.File("not-there") + ": No such file or directory",
                         0),
            0u)
      << log[1];
}

// A command that never ends: every poll returns at once, and after ten
// seconds (on the test's clock) it is killed and the queue goes on.
TEST_F(AlertRunnerTest, AHangingCommandIsStoppedAtItsTimeLimit) {
  watch::AlertRunner runner = Runner(Script("hang", "exec sleep 1000"));
  runner.Raise(watch::alert::kClockJump, "first");
  runner.Raise(watch::alert::kSummary, "second");
  for (int i = 0; i < 99; ++i) {
    time.Advance(100ms);
    runner.Poll();
  }
  EXPECT_TRUE(runner.Busy());
  EXPECT_FALSE(Logged("Alert command for clock-jump stopped after 10 seconds without ending"));
  time.Advance(100ms);
  runner.Poll();  // kills
  Reap(runner);   // starts the next
  EXPECT_TRUE(Logged("Alert command for clock-jump stopped after 10 seconds without ending"));
  EXPECT_TRUE(runner.Busy());  // the second one runs now
  time.Advance(10s);
  runner.Poll();
  Reap(runner);
  EXPECT_FALSE(runner.Busy());
}

TEST_F(AlertRunnerTest, AtTheEndEveryRaisedAlertStillReachesTheCommand) {
  const std::string told = dir.File("told");
  watch::AlertRunner runner = Runner(Script("tell", "echo \"$1\" >>'" + told + "'"));
  runner.Raise(watch::alert::kRestarted, "back");
  runner.Raise(watch::alert::kCheckFailed, "no port");
  runner.Raise(watch::alert::kMissedStart, "dark");
  EXPECT_EQ(runner.Drain(15s, [] { AwaitAChildsEnd(); }), "");
  EXPECT_FALSE(runner.Busy());
  EXPECT_EQ(fakes::ReadBytes(told), "restarted\ncheck-failed\nmissed-start\n");
}

TEST_F(AlertRunnerTest, TheEndWaitsNoLongerThanItsLimitForAHangingCommand) {
  watch::AlertRunner runner = Runner(Script("hang", "exec sleep 1000"));
  runner.Raise(watch::alert::kClockJump, "first");
  runner.Raise(watch::alert::kSummary, "second");
  int pauses = 0;
  const std::string told = runner.Drain(watch::kAlertExitGrace, [&] {
    ++pauses;
    time.Advance(500ms);
  });
  EXPECT_EQ(pauses, 4);
  // The operator, waiting on Ctrl+C, hears why and what was lost.
  EXPECT_EQ(told,
            "The alert command for clock-jump did not end within 2 seconds of the show's end and "
            "was stopped; 1 alerts not passed on (show.log has them)");
  EXPECT_TRUE(Logged("Alert command still busy as the show ended: 1 alerts not passed on"));
  EXPECT_TRUE(Logged("Alert command for clock-jump stopped as the show ended"));
  Reap(runner);  // the hanging command was stopped, or this never returns
  EXPECT_FALSE(runner.Busy());
}

// Past the system's limit for one argument the command never ran ("Argument
// list too long"), exactly when there was most to tell: the text reaches
// it cut, with its length, and the log keeps it whole.
TEST_F(AlertRunnerTest, ATextPastTheArgumentLimitReachesTheCommandCut) {
  const std::string got = dir.File("got");
  watch::AlertRunner runner = Runner(Script("tell", "printf '%s' \"$2\" > '" + got + "'"));
  // Two-byte characters, so a cut in the middle of one would show.
  std::string text = "40 problems: ";
  while (text.size() < 200 * 1024) text += "\xC3\xA9";
  runner.Raise(watch::alert::kCheckFailed, text);
  Reap(runner);
  const std::string received = fakes::ReadBytes(got);
  EXPECT_LE(received.size(), watch::kAlertTextLimit);
  EXPECT_GT(received.size(), watch::kAlertTextLimit - 40);
  const std::string tail = " ... (" + std::to_string(text.size()) + " bytes in all)";
  ASSERT_TRUE(received.ends_with(tail)) << received.substr(received.size() - 60);
  EXPECT_EQ(received.substr(0, received.size() - tail.size()),
            text.substr(0, received.size() - tail.size()));
  EXPECT_EQ((received.size() - tail.size() - 13) % 2, 0u);  // whole characters only
  EXPECT_TRUE(Logged("Alert check-failed: " + text));
  EXPECT_FALSE(runner.Busy());
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) {
                            return line.find("failed") != line.npos &&
                                   line.starts_with("Alert command");
                          }),
            0);
}

TEST_F(AlertRunnerTest, WithoutACommandTheAlertIsOnlyLogged) {
  watch::AlertRunner runner = Runner("");
  runner.Raise(watch::alert::kMissedStart, "no song");
  EXPECT_FALSE(runner.Busy());
  EXPECT_EQ(log, std::vector<std::string>{"Alert missed-start: no song"});
}

TEST(AlertSettings, ReadsTheAlertsTableAndSaysWhereItIsWrong) {
  // No command: an error beginning with the last text.
  const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
      {"empty", "", "", nullptr},
      {"other tables only", "[web]\nlisten = \"127.0.0.1:8080\"\n", "", nullptr},
      {"command", "[web]\ntoken = \"x\"\n[alerts]\ncommand = \"/usr/local/bin/tell-me\"  # hi\n",
       "/usr/local/bin/tell-me", nullptr},
      {"table without command", "[alerts]\n", "", nullptr},
      {"number", "[alerts]\ncommand = 5\n", nullptr, "settings.toml, line 2: alerts.command"},
      {"not a table", "alerts = 1\n", nullptr, "settings.toml, line 1: alerts must be a table"},
      {"broken", "[alerts\ncommand = \"x\"\n", nullptr, "settings.toml, line 1"},
  };
  for (const auto& [name, text, command, error] : cases) {
    SCOPED_TRACE(name);
    const auto read = watch::ParseAlertSettings(text, "settings.toml");
    if (command) {
      ASSERT_TRUE(read.ok()) << read.message();
      EXPECT_EQ(read.value().command, command);
    } else {
      ASSERT_FALSE(read.ok());
      EXPECT_EQ(read.message().rfind(error, 0), 0u) << read.message();
    }
  }
  const auto absent = watch::ReadAlertSettings(fakes::TempDir().File("settings.toml"));
  ASSERT_TRUE(absent.ok()) << absent.message();
  EXPECT_EQ(absent.value().command, "");  // a file that is not there: no alerts
}

}  // namespace
