#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix/unique_fd.h"

extern char** environ;

namespace {

using platform::UniqueFd;

// `glimmer monitor` run on the slave side of a pseudo-terminal; the test
// plays the controller line on the master side.
class MonitorCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("GLIMMER_BIN");
    program = std::string(bin ? bin : "build/bin") + "/glimmer";
    if (!std::filesystem::exists(program)) {
      GTEST_SKIP() << program << " is not built; build the glimmer target to run this test";
    }
    int m = -1, s = -1;
    // Raw from the start: bytes sent before the monitor has set the line up
    // must not be echoed or translated by a cooked line discipline.
    termios raw{};
    cfmakeraw(&raw);
    ASSERT_EQ(openpty(&m, &s, nullptr, &raw, nullptr), 0);
    // The monitor must not inherit the master, or closing it here would not
    // close the line.
    fcntl(m, F_SETFD, FD_CLOEXEC);
    fcntl(s, F_SETFD, FD_CLOEXEC);
    master.Reset(m);
    slaveName = ttyname(s);
    // Held until the monitor has the line open, so closing the master later
    // is what the monitor sees as the far end going away.
    slave.Reset(s);
  }

  void TearDown() override {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }

  void Start() {
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    outRead.Reset(out[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<std::string> args = {program, "monitor", "--baud", "56000", slaveName};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
  }

  // Output lines until `count` have come or the monitor has gone quiet for
  // five seconds (a safety net, not a timing check).
  std::vector<std::string> ReadLines(std::size_t count) {
    while (Lines().size() < count) {
      pollfd p{outRead.get(), POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) break;
      char buffer[4096];
      const ssize_t n = read(outRead.get(), buffer, sizeof buffer);
      if (n <= 0) break;
      output.append(buffer, static_cast<std::size_t>(n));
    }
    return Lines();
  }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }

  // The exit status, or -1 when it did not end within the safety net.
  int WaitForExit() {
    for (int i = 0; i < 500; ++i) {
      int status = 0;
      const pid_t r = waitpid(pid, &status, WNOHANG);
      if (r == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      pollfd none{-1, 0, 0};
      poll(&none, 0, 10);
    }
    return -1;
  }

  void Send(const std::string& bytes) {
    ASSERT_EQ(write(master.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // "123 keep-alive" -> "keep-alive"
  static std::string Text(const std::string& line) { return line.substr(line.find(' ') + 1); }

  std::string program, slaveName, output;
  UniqueFd master, slave, outRead;
  pid_t pid = -1;
};

TEST_F(MonitorCommandTest, PrintsMessagesAndEndsWhenTheOtherSideCloses) {
  Start();
  Send(std::string("\x00\xFF\x41\x00", 4));
  auto lines = ReadLines(1);
  ASSERT_EQ(lines.size(), 1u) << output;
  EXPECT_EQ(lines[0], "0 port-open");
  slave.Reset();

  Send(std::string("\x00\x03\x34\x00\xFF\x01\xFA\x04\x00\x01\x02", 11));
  lines = ReadLines(2);
  ASSERT_EQ(lines.size(), 2u) << output;
  EXPECT_EQ(Text(lines[1]), "device 3 fade bank 1 start 0 end 255 short 1 long 250 mask 0x04");

  master.Reset();
  EXPECT_EQ(WaitForExit(), 0);
  lines = ReadLines(3);
  ASSERT_EQ(lines.size(), 3u) << output;
  EXPECT_EQ(Text(lines[2]), "unknown bytes: 01 02") << "held bytes lost at the close";
}

TEST_F(MonitorCommandTest, CtrlCEndsItCleanly) {
  Start();
  Send(std::string("\x00\xFF\x81\x00", 4));
  ASSERT_EQ(ReadLines(1).size(), 1u) << output;
  kill(pid, SIGINT);
  EXPECT_EQ(WaitForExit(), 0);
}

}  // namespace
