#pragma once

#include <string>

#include "platform/audio_player.h"
#include "platform/dispatch_priority.h"
#include "playback/serial_link.h"
#include "playback/show_calendar.h"
#include "playback/show_context.h"

namespace playback {

inline constexpr const char* kRunningText =
    "Show Running... Press Stop To Stop The Show And/Or Change Settings";
inline constexpr const char* kPausedText =
    "Show Paused - Waiting For Time Between The Specified Start And End Times";
inline constexpr const char* kStoppedText = "Show Scheduler Stopped - Click Start To Resume";
inline constexpr const char* kEmptyPlaylistMessage =
    "You must add a sequence to the playlist before the show can be started";
inline constexpr const char* kNothingPlayableText =
    "No playlist entry could be played - retrying in 10 seconds";

// The message of a Start whose port will not open; `reason` names the port
// and the device (as SerialLink::OpenPort words it).
std::string StartPortFailedMessage(const std::string& reason);

// The show: plays the playlist again and again while the calendar says it
// may, and waits with the port closed while it may not.
class ShowScheduler {
 public:
  ShowScheduler(ShowContext& show, SerialLink& link, platform::AudioPlayer& audio,
                ShowCalendar& calendar)
      : show_(show), link_(link), audio_(audio), calendar_(calendar) {}

  // Runs the show; returns when it has ended (Stop, empty playlist, or a port
  // that cannot be opened).
  void Run();

  // The priority the player's dispatch runs at (none: ordinary).
  void SetDispatchPriority(platform::DispatchPriority* priority) { priority_ = priority; }

 private:
  ShowContext& show_;
  SerialLink& link_;
  platform::AudioPlayer& audio_;
  ShowCalendar& calendar_;
  platform::DispatchPriority* priority_ = nullptr;
};

}  // namespace playback
