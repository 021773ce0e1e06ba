#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <sys/signalfd.h>
#include <time.h>
#endif
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "platform/log_file.h"
#ifdef _WIN32
#include "platform/win/line_output.h"
#include "platform/win/win_timing.h"
#else
#include "platform/posix/line_output.h"
#include "platform/posix/unique_fd.h"
#endif
#include "platform/user_interface.h"
#include "playback/show_front_end.h"
#include "playback/show_scheduler.h"
#include "playlist/playlist_entry.h"

// The show's front ends without a window (`glimmer show`, `glimmer play`,
// the playback benchmark). Header-only so the benchmark can use them too.
namespace glimmer {

// Ctrl+C on a console is the Stop button.
inline const playback::Origin kInterrupted{"SIGINT, as the Stop button"};

// What every console front end shows: each change the show sends, one line
// each, never waiting for the reader. `labelled` puts "status: ", "notice: "
// and "note: " before the texts and adds late keep-alive gaps (glimmer play
// on a terminal); otherwise the texts stand alone, one a line (glimmer show,
// whose lines a service journal keeps).
class ConsoleShowView : public playback::ShowView {
 public:
  ConsoleShowView(platform::LineOutput& out, bool labelled, bool quiet = false)
      : out_(out), labelled_(labelled), quiet_(quiet) {}

  // The window's status texts tell a person at the window what to press;
  // a console's reader (a journal, a terminal over SSH) gets the show's
  // state in a few words instead, and each song as it starts.
  void SpeakOwnWords() { ownWords_ = true; }

  void StatusChanged(const std::string& text) override {
    lastStatus_ = text;
    Print("status: ", ownWords_ ? OwnWords(text) : text);
  }
  // "Playing 2 of 5: Carol of the Bells - Choir"; the archive's path stays
  // in the log.
  void EntryStarted(int row, int rowCount, const std::string& listText) {
    Print("", "Playing " + std::to_string(row + 1) + " of " + std::to_string(rowCount) + ": " +
                  playlist::TitleOfListText(listText));
  }

  // The running, paused and stopped texts in a console's words; any other
  // text as it is.
  static std::string OwnWords(const std::string& statusText) {
    if (statusText == playback::kRunningText) return kShowRunningWords;
    if (statusText == playback::kPausedText) return kShowWaitingWords;
    if (statusText == playback::kStoppedText) return kShowStoppedWords;
    return statusText;
  }
  static constexpr const char* kShowRunningWords = "Show running";
  static constexpr const char* kShowWaitingWords = "Show waiting for its time window";
  static constexpr const char* kShowStoppedWords = "Show stopped";
  void NoticeAdded(const std::string& text) override {
    lastNotice_ = text;
    Print("notice: ", text);
  }
  void NextShowChanged(const std::string& text) override {
    if (!text.empty()) Print("", text);
  }
  void PlayingNoteChanged(const std::string& text) override {
    if (!text.empty()) Print("note: ", text);
  }
  // A late gap is the one visible sign of a stalled line.
  void KeepAliveGap(int seconds, bool late) override {
    if (late && labelled_) Print("", "keep-alive gap: " + std::to_string(seconds) + " s");
  }

  const std::string& LastStatus() const { return lastStatus_; }
  const std::string& LastNotice() const { return lastNotice_; }

 private:
  void Print(const char* label, const std::string& text) {
    if (!quiet_) out_.Write(labelled_ ? label + text : text);
  }

  platform::LineOutput& out_;
  bool labelled_;
  bool quiet_;
  bool ownWords_ = false;
  std::string lastStatus_;
  std::string lastNotice_;
};

// Settings fixed for the run, from the command line.
class FixedShowSettings final : public playback::ShowSettingsSource {
 public:
  explicit FixedShowSettings(playback::ShowSettings settings) : settings_(std::move(settings)) {}
  playback::ShowSettings CurrentSettings() const override { return settings_; }

 private:
  playback::ShowSettings settings_;
};

// A playlist of one entry.
class SingleEntry final : public playback::PlaylistSource {
 public:
  explicit SingleEntry(playlist::PlaylistEntry entry) : entry_(std::move(entry)) {}
  int RowCount() const override { return 1; }
  playlist::PlaylistEntry EntryAt(int) const override { return entry_; }

 private:
  playlist::PlaylistEntry entry_;
};

// A run that keeps no show.log (glimmer play, the demo).
class NoShowLog final : public platform::LogFile {
 public:
  platform::Status AppendLine(const std::string&) override { return platform::Status::Ok(); }
};

#ifdef _WIN32
// Yielding on the console means looking for Ctrl+C, Ctrl+Break and the
// console closing (or the user logging off), which `onSignal` receives as
// SIGINT and SIGTERM and turns into a Stop or a close of the show. The
// console's handler runs on a thread of its own: it only records the event
// and wakes the wait, and the show acts on it at its next yield.
class ConsoleUserInterface final : public platform::UserInterface {
 public:
  ConsoleUserInterface() : wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    Current() = this;
    SetConsoleCtrlHandler(&ConsoleUserInterface::OnConsoleEvent, TRUE);
  }
  ~ConsoleUserInterface() override {
    SetConsoleCtrlHandler(&ConsoleUserInterface::OnConsoleEvent, FALSE);
    Current() = nullptr;
    if (wake_ != nullptr) CloseHandle(wake_);
  }
  ConsoleUserInterface(const ConsoleUserInterface&) = delete;
  ConsoleUserInterface& operator=(const ConsoleUserInterface&) = delete;

  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  std::optional<std::string> ShowOpenDialog(const std::string&, const std::string&,
                                            const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void DoEvents() override { Wait(std::chrono::microseconds(0)); }
  // A console event during the wait ends it at once.
  void WaitForEvents(std::chrono::microseconds timeout) override { Wait(timeout); }
  void SetHourglass(bool) override {}

  bool Interrupted() const { return interrupted_; }
  // Runs for each event taken, at a yield point of the show.
  std::function<void(int)> onSignal;
  // Windows' server has no descriptor to wait on: the show polls it at its
  // yields instead (its yield hook).
  void WakeOn(int, std::function<void()>) {}

 private:
  static ConsoleUserInterface*& Current() {
    static ConsoleUserInterface* current = nullptr;
    return current;
  }

  static BOOL WINAPI OnConsoleEvent(DWORD event) {
    ConsoleUserInterface* self = Current();
    if (self == nullptr) return FALSE;
    const int signal = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM;
    // The show ends at the player's next check; should it not, a second
    // Ctrl+C ends the program at once (the default handler).
    if (InterlockedIncrement(&self->pending_) > 1 && signal == SIGINT) return FALSE;
    InterlockedExchange(&self->lastSignal_, signal);
    SetEvent(self->wake_);
    return TRUE;
  }

  void Wait(std::chrono::microseconds timeout) {
    RunYieldHooks();
    bool woken = false;
    if (wake_ == nullptr) {
      waiter_.SleepFor(timeout);
    } else if (timeout.count() <= 0) {
      woken = WaitForSingleObject(wake_, 0) == WAIT_OBJECT_0;
    } else {
      // The show's next moment, not the next whole millisecond after it.
      woken = waiter_.WaitUntil(std::chrono::steady_clock::now() + timeout, [this](HANDLE timer) {
        const HANDLE either[] = {wake_, timer};
        return WaitForMultipleObjects(2, either, FALSE, INFINITE) == WAIT_OBJECT_0;
      });
    }
    if (!woken || handled_ == InterlockedCompareExchange(&pending_, 0, 0)) return;
    handled_ = InterlockedCompareExchange(&pending_, 0, 0);
    interrupted_ = true;
    if (onSignal) onSignal(static_cast<int>(InterlockedCompareExchange(&lastSignal_, 0, 0)));
  }

  HANDLE wake_;
  platform::win::PreciseWaiter waiter_;
  volatile LONG pending_ = 0;
  volatile LONG lastSignal_ = 0;
  LONG handled_ = 0;
  bool interrupted_ = false;
};

#else
// Yielding on the console means looking for SIGINT, SIGTERM and SIGHUP, which
// `onSignal` turns into a Stop or a close of the show. The signals are
// blocked and read from a descriptor, so threads started later (the audio
// thread) never take them and no handler state is needed.
class ConsoleUserInterface final : public platform::UserInterface {
 public:
  ConsoleUserInterface() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    signals_.Reset(signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
  }

  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  std::optional<std::string> ShowOpenDialog(const std::string&, const std::string&,
                                            const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void DoEvents() override { Wait(std::chrono::microseconds(0)); }
  // A signal during the wait ends it at once.
  void WaitForEvents(std::chrono::microseconds timeout) override { Wait(timeout); }
  void SetHourglass(bool) override {}

  bool Interrupted() const { return interrupted_; }
  // Runs for each signal taken, at a yield point of the show.
  std::function<void(int)> onSignal;
  // A descriptor that ends a wait when it turns readable (the phone page's
  // server), and what then runs.
  void WakeOn(int fd, std::function<void()> onWake) {
    wakeFd_ = fd;
    onWake_ = std::move(onWake);
  }

 private:
  void Wait(std::chrono::microseconds timeout) {
    RunYieldHooks();
    const timespec wait{static_cast<time_t>(timeout.count() / 1000000),
                        static_cast<long>(timeout.count() % 1000000) * 1000};
    if (!signals_) {
      if (timeout.count() > 0) ::nanosleep(&wait, nullptr);
      return;
    }
    pollfd p[2] = {{signals_.get(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const nfds_t watched = wakeFd_ >= 0 ? 2 : 1;
    if (::ppoll(p, watched, &wait, nullptr) > 0 && watched == 2 && (p[1].revents & POLLIN) &&
        onWake_) {
      onWake_();
    }
    if (p[0].revents & POLLIN) {
      signalfd_siginfo info{};
      int signal = 0;
      while (::read(signals_.get(), &info, sizeof info) == sizeof info) {
        signal = static_cast<int>(info.ssi_signo);
      }
      interrupted_ = true;
      if (onSignal) onSignal(signal);
      // The show ends at the player's next check; should it not, a second
      // Ctrl+C ends the program at once.
      sigset_t interrupt;
      sigemptyset(&interrupt);
      sigaddset(&interrupt, SIGINT);
      sigprocmask(SIG_UNBLOCK, &interrupt, nullptr);
    }
  }

  platform::UniqueFd signals_;
  bool interrupted_ = false;
  int wakeFd_ = -1;
  std::function<void()> onWake_;
};
#endif

}  // namespace glimmer
