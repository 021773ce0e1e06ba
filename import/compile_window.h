#pragma once

#include <functional>
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
  // The table just compiled, in playback order: what the player will send.
  // The window and `glimmer compile` tell from it how the serial line will
  // keep up. It comes as the file starts to be written, so that work on it
  // can go on meanwhile on a thread of its own; what it returns tells the
  // result once the file is saved, and is dropped when it could not be. The
  // table's cursor must be left where it is; the table stays as it is until
  // what this returns has run or been dropped.
  virtual std::function<void()> SequenceCompiled(const sequence_format::EventTable& table) {
    (void)table;
    return {};
  }
};

}  // namespace importer
