#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace platform {

// What the program needs from the window toolkit besides its own window:
// message boxes, the open-file dialog, yielding to pending window events and
// the hourglass pointer. Texts are byte strings as the program holds them.
class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // Modal message box, OK button only, title "Glimmerfield". Line breaks
  // ("\r\n") are shown as given. Returns when the user has closed it.
  virtual void ShowMessage(const std::string& text) = 0;

  // The same message box, but the caller goes on while it is shown: for
  // notices that must not hold up an unattended start (a show that starts by
  // itself after a power cut must not wait for someone to click OK).
  virtual void ShowNotice(const std::string& text) { ShowMessage(text); }

  // Modal open-file dialog. `filter` is in the form
  // "WAV Files (*.wav) | *.wav| MP3 Files (*.mp3) | *.mp3" (description and
  // pattern pairs separated by "|"). Returns the chosen full path, or nothing
  // when the user cancelled.
  virtual std::optional<std::string> ShowOpenDialog(const std::string& filter,
                                                    const std::string& title,
                                                    const std::string& initialFolder,
                                                    const std::string& fileName) = 0;

  // Lets pending window events run (repaint, clicks) and returns.
  virtual void DoEvents() = 0;

  // Lets pending window events run; when there are none, waits up to
  // `timeout` for one to arrive and handles it at once. Returns after events
  // were handled or when the time is up, whichever comes first. This is how
  // the show player waits for its next moment without taking a core while
  // the window stays responsive. Toolkits that cannot wait on their events
  // get a plain sleep followed by a yield.
  virtual void WaitForEvents(std::chrono::microseconds timeout) {
    if (timeout.count() > 0) std::this_thread::sleep_for(timeout);
    DoEvents();
  }

  // Shows the hourglass pointer over the main window (true) or the normal one.
  virtual void SetHourglass(bool busy) = 0;

  // Adds work that runs at every yield and wait of this thread (a server's
  // poll, a watchdog's check), after the hooks added before it. Each front
  // end adds its own; none replaces another's.
  void AddYieldHook(std::function<void()> hook) { yieldHooks_.push_back(std::move(hook)); }

 protected:
  // Every DoEvents and WaitForEvents runs this once. A hook that yields does
  // not run the hooks again from inside itself.
  void RunYieldHooks() {
    if (runningHooks_) return;
    runningHooks_ = true;
    // By index, to the current size: a deque keeps the running hook in place
    // when another is added meanwhile, and the new one runs in this pass.
    for (std::size_t i = 0; i < yieldHooks_.size(); ++i) yieldHooks_[i]();
    runningHooks_ = false;
  }

 private:
  std::deque<std::function<void()>> yieldHooks_;
  bool runningHooks_ = false;
};

}  // namespace platform
