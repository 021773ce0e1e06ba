#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/posix/unique_fd.h"
#include "playback/wire_protocol.h"

extern char** environ;

namespace {

using platform::UniqueFd;

// `glimmer monitor` run on the slave side of a pseudo-terminal; the test
// plays the controller line on the master side.
TEST(MonitorCommand, PrintsMessagesAndEndsWhenTheOtherSideCloses) {
  const char* bin = std::getenv("GLIMMER_BIN");
  std::string program = std::string(bin ? bin : GLIMMER_BUILD_BIN) + "/glimmer";
  ASSERT_TRUE(std::filesystem::exists(program)) << program;

  // Raw from the start: bytes sent before the monitor has set the line up
  // must not be echoed or translated by a cooked line discipline.
  int m = -1, s = -1, out[2];
  termios raw{};
  cfmakeraw(&raw);
  ASSERT_EQ(openpty(&m, &s, nullptr, &raw, nullptr), 0);
  // The monitor must not inherit the master, or closing it here would not
  // close the line. The slave is held until the monitor has the line open, so
  // closing the master is what the monitor sees as the far end going away.
  fcntl(m, F_SETFD, FD_CLOEXEC);
  fcntl(s, F_SETFD, FD_CLOEXEC);
  UniqueFd master(m), slave(s);
  std::string slaveName = ttyname(s);
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  UniqueFd outRead(out[0]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  std::string monitor = "monitor", baudFlag = "--baud", baud = "56000";
  char* argv[] = {program.data(), monitor.data(),   baudFlag.data(),
                  baud.data(),    slaveName.data(), nullptr};
  struct Child {
    pid_t pid = -1;
    ~Child() {  // ends a monitor left running by a failed check
      if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    }
  } child;
  ASSERT_EQ(posix_spawn(&child.pid, program.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);

  std::string output;
  // Output until it holds `count` lines or the monitor has gone quiet for five
  // seconds (a safety net, not a timing check).
  const auto readLines = [&](int count) {
    while (std::count(output.begin(), output.end(), '\n') < count) {
      pollfd p{outRead.get(), POLLIN, 0};
      char buffer[4096];
      if (poll(&p, 1, 5000) <= 0) break;
      const ssize_t n = read(outRead.get(), buffer, sizeof buffer);
      if (n <= 0) break;
      output.append(buffer, static_cast<std::size_t>(n));
    }
    return output;
  };
  const auto send = [&](const std::string& bytes) {
    ASSERT_EQ(write(master.get(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
  };

  send(std::string("\x00\xFF\x41\x00", 4));
  ASSERT_EQ(readLines(1), "0 port-open\n");
  slave.Reset();
  send(std::string("\x00\x03\x34\x00\xFF\x01\xFA\x04\x00\x01\x02", 11));
  const std::string fade = " device 3 fade bank 1 start 0 end 255 short 1 long 250 mask 0x04\n";
  ASSERT_NE(readLines(2).find(fade), std::string::npos) << output;

  // With the line gone the monitor prints what it held and ends: its output
  // closes, and only then is it waited for.
  master.Reset();
  readLines(3);
  pollfd p{outRead.get(), POLLIN, 0};
  char rest[256];
  ASSERT_TRUE(poll(&p, 1, 5000) == 1 && read(outRead.get(), rest, sizeof rest) == 0)
      << "the monitor did not end: " << output;
  int status = -1;
  ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
  child.pid = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(output.ends_with(" unknown bytes: 01 02\n")) << "held bytes lost: " << output;
}

// Bytes queued on a pseudo-terminal before the monitor opened it (the show
// played while nobody read the line) all arrive at once and show at 0 ms; the
// monitor says so on standard error, so they are not taken for the show's
// timing. (Whether a line with nothing queued gets no note cannot be told
// apart here from the monitor opening the line late.)
TEST(MonitorCommand, SaysWhenBytesWereWaitingBeforeItStarted) {
  const char* bin = std::getenv("GLIMMER_BIN");
  std::string program = std::string(bin ? bin : GLIMMER_BUILD_BIN) + "/glimmer";
  const std::string portOpen(playback::kPortOpenBurst), keepAlive(playback::kKeepAliveMessage);
  int m = -1, s = -1, out[2], err[2];
  termios raw{};
  cfmakeraw(&raw);
  ASSERT_EQ(openpty(&m, &s, nullptr, &raw, nullptr), 0);
  fcntl(m, F_SETFD, FD_CLOEXEC);
  fcntl(s, F_SETFD, FD_CLOEXEC);
  UniqueFd master(m), slave(s);
  std::string slaveName = ttyname(s);
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(err, O_CLOEXEC), 0);
  UniqueFd outRead(out[0]), errRead(err[0]);
  const std::string backlog = portOpen + keepAlive;  // the show, played before
  ASSERT_EQ(write(master.get(), backlog.data(), backlog.size()), ssize_t(backlog.size()));

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  std::string monitor = "monitor";
  char* argv[] = {program.data(), monitor.data(), slaveName.data(), nullptr};
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);

  // Reads `fd` into `text` until `done` or its end; a monitor gone quiet
  // for five seconds ends the wait (a safety net, not a timing check).
  const auto readUntil = [](int fd, std::string& text, auto done) {
    char buffer[4096];
    while (!done(text)) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) break;
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
  };
  const auto lines = [](std::size_t count) {
    return [count](const std::string& t) {
      return static_cast<std::size_t>(std::count(t.begin(), t.end(), '\n')) >= count;
    };
  };
  // The backlog's lines show the monitor has the line; then one live
  // message, then the far end goes away, the monitor ends and its standard
  // error is read to its end.
  std::string output, errors;
  readUntil(outRead.get(), output, lines(2));
  EXPECT_EQ(output, "0 port-open\n0 keep-alive\n");
  slave.Reset();
  ASSERT_EQ(write(master.get(), keepAlive.data(), keepAlive.size()), 4);
  readUntil(outRead.get(), output, lines(3));
  EXPECT_TRUE(output.ends_with(" keep-alive\n")) << output;
  master.Reset();
  readUntil(errRead.get(), errors, [](const std::string&) { return false; });
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << errors;
  EXPECT_TRUE(errors.starts_with("glimmer monitor: 8 bytes were already waiting on " + slaveName +
                                 ", written before the monitor started"))
      << errors;
}

}  // namespace
