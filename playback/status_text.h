#pragma once

#include "playback/show_event.h"
#include "playback/show_scheduler.h"

namespace playback {

// The status line's words for where the show stands: the one mapping every
// front end that shows the desktop's status text reads.
inline const char* StatusTextOf(ShowState::Phase phase) {
  switch (phase) {
    case ShowState::Phase::Playing:
      return kRunningText;
    case ShowState::Phase::Waiting:
      return kPausedText;
    case ShowState::Phase::Stopped:
      break;
  }
  return kStoppedText;
}

}  // namespace playback
