#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/user_interface.h"

namespace fakes {

// Records every message and dialog; dialogs answer from a script (cancel when
// the script is empty); DoEvents can run a scripted action, such as clicking
// Stop at the n-th yield.
class FakeUserInterface : public platform::UserInterface {
 public:
  struct DialogCall {
    std::string filter, title, initialFolder, fileName;
  };

  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  // Kept with the messages, in order; `notices` tells the two apart.
  void ShowNotice(const std::string& text) override {
    messages.push_back(text);
    notices.push_back(text);
  }

  std::optional<std::string> ShowOpenDialog(const std::string& filter, const std::string& title,
                                            const std::string& initialFolder,
                                            const std::string& fileName) override {
    dialogs.push_back({filter, title, initialFolder, fileName});
    if (dialogAnswers.empty()) return std::nullopt;
    auto answer = dialogAnswers.front();
    dialogAnswers.pop_front();
    return answer;
  }

  void DoEvents() override {
    RunYieldHooks();
    ++doEventsCount;
    if (onDoEvents) onDoEvents(doEventsCount);
  }

  // Never sleeps: `onWait` stands for the time passing (a rig moves its fake
  // audio position by the timeout, or clicks Stop during the wait).
  void WaitForEvents(std::chrono::microseconds timeout) override {
    RunYieldHooks();
    ++waitCount;
    longestWait = std::max(longestWait, timeout);
    if (onWait) onWait(timeout);
  }

  void SetHourglass(bool busy) override { hourglassChanges.push_back(busy); }

  std::vector<std::string> messages;
  std::vector<std::string> notices;
  std::vector<DialogCall> dialogs;
  std::deque<std::optional<std::string>> dialogAnswers;
  int doEventsCount = 0;
  std::function<void(int)> onDoEvents;  // gets the 1-based count of this yield
  int waitCount = 0;
  std::chrono::microseconds longestWait{0};
  std::function<void(std::chrono::microseconds)> onWait;
  std::vector<bool> hourglassChanges;
};

}  // namespace fakes
