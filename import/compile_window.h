#pragma once

#include <string>

#include "sequence_format/event_table.h"

namespace importer {

// The narrow view of the main window that the sequence compiler needs.
class CompileWindow {
 public:
  virtual ~CompileWindow() = default;
  // Sets StatusText and shows it in the status line.
  virtual void SetStatus(const std::string& text) = 0;
  // True when chkPerformBitmask is ticked (read once per import).
  virtual bool PerformBitmask() const = 0;
  // The table just saved, in playback order: what the player will send. The
  // window and `glimmer compile` tell from it how the serial line will keep
  // up. Its cursor must be left where it is.
  virtual void SequenceCompiled(const sequence_format::EventTable& table) { (void)table; }
};

}  // namespace importer
