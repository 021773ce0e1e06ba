#pragma once

#include <string>
#include <vector>

#include "import/compile_window.h"
#include "tests/fakes/fake_user_interface.h"

namespace importer_tests {

// Records every status text; the bitmask box answers as set. Hooked to a fake
// user interface, it also notes how many texts had been shown at each yield.
class RecordingCompileWindow : public importer::CompileWindow {
 public:
  explicit RecordingCompileWindow(fakes::FakeUserInterface& ui, bool performBitmask = false)
      : performBitmask_(performBitmask) {
    ui.onDoEvents = [this](int) { textsAtYield.push_back(static_cast<int>(statuses.size())); };
  }
  void SetStatus(const std::string& text) override { statuses.push_back(text); }
  bool PerformBitmask() const override {
    ++bitmaskReads;
    return performBitmask_;
  }

  // The texts that carry a percentage.
  std::vector<std::string> ProgressTexts() const {
    std::vector<std::string> texts;
    for (const auto& s : statuses) {
      if (s.find("% completed)") != std::string::npos) texts.push_back(s);
    }
    return texts;
  }
  // True when a yield followed every text, before the next one.
  bool YieldedAfterEveryText() const {
    std::vector<int> expected;
    for (int i = 1; i <= static_cast<int>(statuses.size()); ++i) expected.push_back(i);
    return textsAtYield == expected;
  }

  std::vector<std::string> statuses;
  std::vector<int> textsAtYield;
  mutable int bitmaskReads = 0;

 private:
  bool performBitmask_;
};

}  // namespace importer_tests
