#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <time.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "platform/posix/unique_fd.h"
#include "platform/user_interface.h"
#include "playback/show_window.h"

// The show player's view of a window, for programs without one (`glimmer
// play`, the playback benchmark): one playlist entry, status texts on stderr,
// Ctrl+C as the Stop button. Header-only so the benchmark can use it too.
namespace glimmer {

class ConsoleShowWindow final : public playback::ShowWindow {
 public:
  ConsoleShowWindow(playlist::PlaylistEntry entry, int frameTiming, int portNumber,
                    std::string dataRate, bool quiet = false)
      : entry_(std::move(entry)),
        frameTiming_(frameTiming),
        portNumber_(portNumber),
        dataRate_(std::move(dataRate)),
        quiet_(quiet) {}

  bool ShowRunning() const override { return running_; }
  void SetShowRunning(bool running) override { running_ = running; }
  const importer::FadeTimingTable& FadeTimings() const override { return fadeTimings_; }
  int FrameTiming() const override { return frameTiming_; }
  int PortNumber() const override { return portNumber_; }
  std::string DataRateText() const override { return dataRate_; }
  // No daily window on the console: the entry plays now.
  std::string StartTimeText() const override { return "12:00:00 AM"; }
  std::string EndTimeText() const override { return "11:59:59 PM"; }

  void SetStatus(const std::string& text) override {
    lastStatus_ = text;
    if (!quiet_) std::fprintf(stderr, "status: %s\n", text.c_str());
  }
  void SetPlayingNote(const std::string& text) override {
    if (!text.empty() && !quiet_) std::fprintf(stderr, "note: %s\n", text.c_str());
  }
  void ShowNotice(const std::string& text) override {
    lastNotice_ = text;
    if (!quiet_) std::fprintf(stderr, "notice: %s\n", text.c_str());
  }
  // A gap of two seconds or more is the one visible sign of a stalled line.
  void SetKeepAliveGap(int seconds) override {
    if (seconds >= 2 && !quiet_) std::fprintf(stderr, "keep-alive gap: %d s\n", seconds);
  }
  void SetRunningState() override {}
  void SetStoppedState() override {}
  void SavePreferences() override {}

  int PlaylistRowCount() const override { return 1; }
  playlist::PlaylistEntry PlaylistEntryAt(int) const override { return entry_; }
  void SelectPlaylistRow(int) override {}

  const std::string& LastStatus() const { return lastStatus_; }
  const std::string& LastNotice() const { return lastNotice_; }

 private:
  playlist::PlaylistEntry entry_;
  importer::FadeTimingTable fadeTimings_ = importer::FillFadeTimingTable();
  int frameTiming_;
  int portNumber_;
  std::string dataRate_;
  bool quiet_;
  bool running_ = false;
  std::string lastStatus_;
  std::string lastNotice_;
};

// Yielding on the console means looking for Ctrl+C (SIGINT or SIGTERM), which
// stops the show as the Stop button does. The signals are blocked and read
// from a descriptor, so threads started later (the audio thread) never take
// them and no handler state is needed.
class ConsoleUserInterface final : public platform::UserInterface {
 public:
  explicit ConsoleUserInterface(playback::ShowWindow& window) : window_(window) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    signals_.Reset(signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
  }

  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  std::optional<std::string> ShowOpenDialog(const std::string&, const std::string&,
                                            const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void DoEvents() override { Wait(std::chrono::microseconds(0)); }
  // Ctrl+C during the wait ends it at once.
  void WaitForEvents(std::chrono::microseconds timeout) override { Wait(timeout); }
  void SetHourglass(bool) override {}

  bool Interrupted() const { return interrupted_; }
  // Runs at every yield and wait (the benchmark counts them).
  std::function<void()> onYield;
  // Runs for SIGINT or SIGTERM in place of clearing ShowRunning.
  std::function<void(int)> onSignal;

 private:
  void Wait(std::chrono::microseconds timeout) {
    if (onYield) onYield();
    const timespec wait{static_cast<time_t>(timeout.count() / 1000000),
                        static_cast<long>(timeout.count() % 1000000) * 1000};
    if (!signals_) {
      if (timeout.count() > 0) ::nanosleep(&wait, nullptr);
      return;
    }
    pollfd p{signals_.get(), POLLIN, 0};
    if (::ppoll(&p, 1, &wait, nullptr) == 1) {
      signalfd_siginfo info{};
      int signal = 0;
      while (::read(signals_.get(), &info, sizeof info) == sizeof info) {
        signal = static_cast<int>(info.ssi_signo);
      }
      interrupted_ = true;
      if (onSignal) {
        onSignal(signal);
      } else {
        window_.SetShowRunning(false);
      }
      // The show ends at the player's next check; should it not, a second
      // Ctrl+C ends the program at once.
      sigset_t interrupt;
      sigemptyset(&interrupt);
      sigaddset(&interrupt, SIGINT);
      sigprocmask(SIG_UNBLOCK, &interrupt, nullptr);
    }
  }

  playback::ShowWindow& window_;
  platform::UniqueFd signals_;
  bool interrupted_ = false;
};

}  // namespace glimmer
