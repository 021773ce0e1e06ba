#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/audio_player.h"
#include "platform/clock.h"
#include "platform/dispatch_priority.h"
#include "platform/user_interface.h"
#include "playback/serial_link.h"
#include "playback/show_window.h"

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

// Seconds since midnight for a 12-hour time of day such as "5:30:00 PM",
// or nothing when the text is not one.
std::optional<int> ParseTimeOfDay(std::string_view text);

// The show: plays the playlist again and again inside the daily window between
// the start and end times, and waits with the port closed outside it.
class ShowScheduler {
 public:
  ShowScheduler(ShowWindow& window, SerialLink& link, platform::AudioPlayer& audio,
                platform::UserInterface& ui, platform::Clock& clock);

  // Runs the show; returns when it has ended (Stop, empty playlist, or a port
  // that cannot be opened).
  void cmdShowStart_Click();

  // The priority the player's dispatch runs at (none: ordinary).
  void SetDispatchPriority(platform::DispatchPriority* priority) { priority_ = priority; }

 private:
  ShowWindow& window_;
  SerialLink& link_;
  platform::AudioPlayer& audio_;
  platform::UserInterface& ui_;
  platform::Clock& clock_;
  platform::DispatchPriority* priority_ = nullptr;
};

}  // namespace playback
