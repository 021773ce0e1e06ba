#include "watch/service_watch.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/posix/notify_socket.h"
#include "platform/posix/unique_fd.h"
#include "tests/fakes/fake_time_source.h"
#include "tests/fakes/temp_dir.h"

namespace {

using namespace std::chrono_literals;

// The service manager's end: a datagram socket the test listens on, by path
// or by abstract name ("@...").
class ManagerSocket {
 public:
  explicit ManagerSocket(const std::string& address) : address_(address) {
    sockaddr_un at{};
    at.sun_family = AF_UNIX;
    std::memcpy(at.sun_path, address.data(), address.size());
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size());
    if (address[0] == '@') {
      at.sun_path[0] = '\0';
    } else {
      ++length;
    }
    fd_.Reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&at), length) != 0) {
      throw std::runtime_error("bind " + address + ": " + std::strerror(errno));
    }
  }
  // Every datagram that has arrived, in order (sendto has returned by then).
  std::vector<std::string> Received() {
    std::vector<std::string> all;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd_.get(), buffer, sizeof buffer, 0)) >= 0;) {
      all.emplace_back(buffer, static_cast<std::size_t>(n));
    }
    return all;
  }
  const std::string& address() const { return address_; }

 private:
  std::string address_;
  platform::UniqueFd fd_;
};

std::string AbstractName() {
  return "@glimmer-test-notify-" + std::to_string(std::random_device{}());
}

TEST(NotifySocket, ReachesAPathAndAnAbstractName) {
  fakes::TempDir dir;
  for (const std::string& address : {dir.File("notify"), AbstractName()}) {
    SCOPED_TRACE(address);
    ManagerSocket manager(address);
    platform::NotifySocket socket(address, 0us);
    EXPECT_TRUE(socket.Notify("READY=1").ok());
    EXPECT_EQ(manager.Received(), std::vector<std::string>{"READY=1"});
  }
}

TEST(ConnectServiceManager, NothingWithoutTheVariableAndTheWatchdogOnlyForUs) {
  ::unsetenv("NOTIFY_SOCKET");
  ::setenv("WATCHDOG_USEC", "30000000", 1);
  EXPECT_EQ(platform::ConnectServiceManager(), nullptr);

  ::setenv("NOTIFY_SOCKET", "@glimmer-x", 1);
  ::setenv("WATCHDOG_USEC", "30000000", 1);
  auto ours = platform::ConnectServiceManager();
  ASSERT_NE(ours, nullptr);
  EXPECT_EQ(ours->WatchdogInterval(), 30s);
  // Taken away, so an alert command does not speak for the show.
  EXPECT_EQ(std::getenv("NOTIFY_SOCKET"), nullptr);

  ::setenv("NOTIFY_SOCKET", "@glimmer-x", 1);
  ::setenv("WATCHDOG_USEC", "30000000", 1);
  ::setenv("WATCHDOG_PID", std::to_string(::getpid() + 1).c_str(), 1);
  auto someoneElses = platform::ConnectServiceManager();
  ASSERT_NE(someoneElses, nullptr);
  EXPECT_EQ(someoneElses->WatchdogInterval(), 0us);
}

class ServiceWatchTest : public ::testing::Test {
 protected:
  ManagerSocket manager{AbstractName()};
  platform::NotifySocket socket{manager.address(), 2s};
  fakes::FakeTimeSource time;
  watch::ServiceWatch watch{&socket, time};
};

TEST_F(ServiceWatchTest, ReadyOnceStatusOnChangeOnlyStoppingAtTheEnd) {
  watch.Ready();
  watch.Status("Show Running");
  watch.Status("Show Running");
  watch.Ready();
  watch.Status("Show Paused\nwaiting");
  watch.Status("Show Paused\nwaiting");
  watch.Stopping();
  watch.Stopping();
  EXPECT_EQ(manager.Received(),
            (std::vector<std::string>{"READY=1", "STATUS=Show Running",
                                      "STATUS=Show Paused waiting", "STOPPING=1"}));
}

// The dispatch loop calls in very often, the pause wait every 100 ms; both
// must ping at least twice per interval and not flood the manager.
TEST_F(ServiceWatchTest, WatchdogAtItsRateFromABusyLoopAndFromThePauseWait) {
  for (const auto step : {1ms, 100ms}) {
    SCOPED_TRACE(step.count());
    manager.Received();
    const auto until = time.steady + 10s;  // five watchdog intervals
    int pings = 0;
    while (time.steady < until) {
      watch.Alive();
      time.Advance(step);
      // Read as the manager does, before its queue of a few datagrams fills.
      const std::vector<std::string> sent = manager.Received();
      pings += std::count(sent.begin(), sent.end(), "WATCHDOG=1");
    }
    EXPECT_GE(pings, 2 * 5);
    EXPECT_LE(pings, 4 * 5 + 1);
  }
}

TEST_F(ServiceWatchTest, ALoopThatStopsComingRoundStopsPinging) {
  watch.Alive();
  manager.Received();
  time.Advance(60s);  // the loop hangs (or the process is stopped): nobody calls
  EXPECT_TRUE(manager.Received().empty());
  watch.Alive();
  EXPECT_EQ(manager.Received(), std::vector<std::string>{"WATCHDOG=1"});
}

// The manager stops reading (it is busy, or stopped): the show's sends fail
// at once rather than wait for room.
TEST(NotifySocket, AFullQueueAtTheManagerNeverBlocksTheSender) {
  ManagerSocket manager(AbstractName());
  platform::NotifySocket socket(manager.address(), 0us);
  int refused = 0;
  for (int i = 0; i < 1000; ++i) refused += socket.Notify("WATCHDOG=1").ok() ? 0 : 1;
  EXPECT_GT(refused, 0);
  EXPECT_FALSE(manager.Received().empty());
}

TEST(ServiceWatch, AFailedNotificationIsToldOnceAndWithoutAManagerNothingHappens) {
  fakes::FakeTimeSource time;
  watch::ServiceWatch none(nullptr, time);
  none.Ready();
  none.Status("x");
  none.Alive();
  none.Stopping();
  EXPECT_EQ(none.TakeFailure(), "");

  fakes::TempDir dir;
  platform::NotifySocket socket(dir.File("nobody-listens"), 1s);
  watch::ServiceWatch watch(&socket, time);
  watch.Ready();
  EXPECT_NE(watch.TakeFailure().find("nobody-listens"), std::string::npos);
  watch.Status("x");
  EXPECT_EQ(watch.TakeFailure(), "");
  platform::NotifySocket nonsense("relative/path", 0us);
  EXPECT_NE(nonsense.Notify("READY=1").message().find("not a socket address"), std::string::npos);
}

}  // namespace
