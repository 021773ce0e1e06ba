#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/audio_player.h"
#include "platform/dispatch_priority.h"
#include "playback/line_model.h"
#include "playback/serial_link.h"
#include "playback/show_context.h"

namespace playback {

enum class PlayOutcome {
  Finished,  // the audio ended or was stopped
  Stopped,   // ShowRunning was found cleared
  Skipped,   // the entry's cache or audio file could not be used; a notice says why
  Cut,       // a skip was asked for while the entry played; the show goes on
};

// Plays playlist entries for one show: one object per show, because the output
// buffer and the idle pass counter carry over from entry to entry.
class ShowPlayer {
 public:
  // With `priority`, each entry's dispatch runs at its raised priority where
  // the system allows it; the loop waits whenever nothing is due, so it never
  // spins.
  ShowPlayer(ShowContext& show, SerialLink& link, platform::AudioPlayer& audio,
             platform::DispatchPriority* priority = nullptr);

  // Plays list row `row`: starts its audio and sends every row of its cache
  // file when the audio position reaches it. Leaves the port open and the
  // audio closed.
  PlayOutcome PlayEntry(int row);

  // Opens the sound output ahead of the entries and waits, the keep-alives
  // going on, until it plays what it is given as it is given (an audio
  // server with nothing to play can take seconds to hear a new output), so
  // the first entry's song is heard as the entry starts. At most a few
  // seconds; ends early when the show stops.
  void ReadySound();

  // Rows of the last entry that were not sent because a field was missing or
  // outside 0..255.
  int RejectedRowCount() const { return rejectedRows_; }
  // Why the last skipped entry was skipped, as given in its notice.
  const std::string& LastSkipReason() const { return lastSkipReason_; }

 private:
  PlayOutcome Play(int row);
  // The notice reads `plainReason` when given, else `what` and `reason`, which
  // the log and the song area always keep.
  PlayOutcome Skip(int row, const std::string& what, const std::string& reason,
                   const std::string& plainReason = {});
  // Also says whether any of the song has been heard yet.
  std::int64_t SamplePosition(bool& heard);
  std::chrono::steady_clock::time_point SteadyNow();
  // Whether the entry under way is to end now: the show was stopped, or the
  // entry is to be skipped.
  bool EntryEnds() const;
  // Waits, letting window events run, until the audio should have reached
  // `target` (at most a few milliseconds at a time).
  void WaitForPosition(std::int64_t position, std::int64_t target, bool playing);
  // Tells the log and the view once per entry when its messages reached the
  // controllers visibly late.
  void ReportLineHealth(int row);

  ShowContext& show_;
  SerialLink& link_;
  platform::AudioPlayer& audio_;
  platform::DispatchPriority* priority_;
  std::string output_;
  // What the player's own writes do on the line.
  LineWatch lineWatch_{56000};
  // Whether the show log heard that the dispatch runs without real-time
  // priority: once a show is enough.
  bool toldNoRealtime_ = false;
  int idlePasses_ = 0;
  int rejectedRows_ = 0;
  std::string lastSkipReason_;
  // The silent playback the show log was last told about.
  std::string loggedSilentReason_;
  bool loggedHighLatency_ = false;
};

}  // namespace playback
