#pragma once

#include <optional>
#include <string>
#include <utility>

#include "platform/clock.h"
#include "platform/user_interface.h"
#include "playback/show_front_end.h"
#include "playback/show_log.h"
#include "sequence_format/fade_timing.h"

namespace playback {

// What the serial link, the player and the scheduler of one session share:
// the front end's running flag, settings and playlist, the show log, and the
// view, to which a status, notice or note goes only when it changes.
class ShowContext {
 public:
  ShowContext(bool& showRunning, const sequence_format::FadeTimingTable& fadeTimings,
              ShowSettingsSource& settings, PlaylistSource& playlist, ShowView& view, ShowLog& log,
              platform::UserInterface& ui, platform::Clock& clock)
      : showRunning_(showRunning),
        fadeTimings_(fadeTimings),
        settings_(settings),
        playlist_(playlist),
        view_(view),
        log_(log),
        ui_(ui),
        clock_(clock) {}

  bool ShowRunning() const { return showRunning_; }
  // The show starts: the flag is set, requests of the last show are gone.
  void SetRunning() {
    showRunning_ = true;
    skipRequested_ = false;
    stopAfterSong_.reset();
  }
  // Stop: the show ends at its next check and will not start by itself next
  // time. Only a show that ran is logged as stopped.
  void Stop(const Origin& who) {
    if (showRunning_) log_.Write(show_event::ShowStopped(who.name));
    showRunning_ = false;
    settings_.SaveSettings();
  }
  // Clears the flag without saving: the autostart flag stays as it was.
  void ClearRunning(const Origin& who) {
    if (showRunning_) log_.Write(show_event::ShowStopped(who.name));
    showRunning_ = false;
  }
  // The entry under way ends at the player's next check; the show goes on.
  void RequestSkip() { skipRequested_ = showRunning_; }
  bool SkipRequested() const { return skipRequested_; }
  bool TakeSkip() { return std::exchange(skipRequested_, false); }
  // The show stops, as by `who`, once the entry under way has ended.
  void RequestStopAfterSong(const Origin& who) {
    if (showRunning_) stopAfterSong_ = who;
  }
  std::optional<Origin> TakeStopAfterSong() { return std::exchange(stopAfterSong_, {}); }
  const sequence_format::FadeTimingTable& FadeTimings() const { return fadeTimings_; }
  ShowSettings Settings() const { return settings_.CurrentSettings(); }
  void SaveSettings() { settings_.SaveSettings(); }
  PlaylistSource& Playlist() { return playlist_; }
  platform::UserInterface& UI() { return ui_; }
  platform::Clock& Clock() { return clock_; }
  void Log(const std::string& event) { log_.Write(event); }

  // A new show: its first status and notice reach the view whatever the last
  // show ended with.
  void BeginShow() {
    status_.clear();
    notice_.clear();
    note_.clear();
    nextShow_.clear();
    view_.ShowStarted();
  }
  void EndShow() { view_.ShowEnded(); }
  void SetStatus(const std::string& text) {
    if (text == status_) return;
    status_ = text;
    view_.StatusChanged(text);
  }
  void AddNotice(const std::string& text) {
    if (text == notice_) return;
    notice_ = text;
    view_.NoticeAdded(text);
  }
  void SetNextShow(const std::string& text) {
    if (text == nextShow_) return;
    nextShow_ = text;
    view_.NextShowChanged(text);
  }
  void SetPlayingNote(const std::string& text) {
    if (text == note_) return;
    note_ = text;
    view_.PlayingNoteChanged(text);
  }
  // The row that starts playing; its note starts empty, as the view shows it.
  void SelectRow(int row) {
    note_.clear();
    playlist_.SelectRow(row);
  }
  void KeepAliveGap(int seconds, bool late) { view_.KeepAliveGap(seconds, late); }

 private:
  bool& showRunning_;
  const sequence_format::FadeTimingTable& fadeTimings_;
  ShowSettingsSource& settings_;
  PlaylistSource& playlist_;
  ShowView& view_;
  ShowLog& log_;
  platform::UserInterface& ui_;
  platform::Clock& clock_;
  bool skipRequested_ = false;
  std::optional<Origin> stopAfterSong_;
  std::string status_;
  std::string notice_;
  std::string note_;
  std::string nextShow_;
};

}  // namespace playback
