#pragma once

#include <string>

namespace importer {

// The narrow view of the main window that the sequence compiler needs.
class CompileWindow {
 public:
  virtual ~CompileWindow() = default;
  // Sets StatusText and shows it in the status line.
  virtual void SetStatus(const std::string& text) = 0;
  // True when chkPerformBitmask is ticked (read once per import).
  virtual bool PerformBitmask() const = 0;
};

}  // namespace importer
