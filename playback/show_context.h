#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "platform/clock.h"
#include "platform/user_interface.h"
#include "playback/show_event.h"
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
    ClearRunning(who);
    settings_.SaveSettings();
  }
  // Clears the flag without saving: the autostart flag stays as it was.
  void ClearRunning(const Origin& who) {
    if (showRunning_) Publish(show_event::ShowStopped(who.name));
    showRunning_ = false;
  }
  // The entry under way ends at the player's next check; the show goes on.
  void RequestSkip() { skipRequested_ = showRunning_; }
  bool SkipRequested() const { return skipRequested_; }
  bool TakeSkip() { return std::exchange(skipRequested_, false); }
  // The show stops, as by `who`, once the entry under way has ended.
  void RequestStopAfterSong(const Origin& who) {
    if (!showRunning_) return;
    stopAfterSong_ = who;
    state_.stopAfterSongAsked = true;
  }
  std::optional<Origin> TakeStopAfterSong() {
    state_.stopAfterSongAsked = false;
    return std::exchange(stopAfterSong_, {});
  }
  const sequence_format::FadeTimingTable& FadeTimings() const { return fadeTimings_; }
  ShowSettings Settings() const { return settings_.CurrentSettings(); }
  void SaveSettings() { settings_.SaveSettings(); }
  PlaylistSource& Playlist() { return playlist_; }
  platform::UserInterface& UI() { return ui_; }
  platform::Clock& Clock() { return clock_; }
  // An event of the show: its line in the log, the state, then every
  // subscriber, who thus reads a state that already knows of it.
  void Publish(const ShowEvent& event) {
    log_.Write(event);
    ApplyToState(state_, event);
    if (event.kind == ShowEventKind::EntryStarted) NoteNextEntry(event.row);
    // A pause ends the pass: the show comes back at the first row.
    switch (event.kind) {
      case ShowEventKind::Paused:
      case ShowEventKind::PausedNeverOpens:
      case ShowEventKind::PausedByCalendar:
      case ShowEventKind::PausedCalendarRefused:
      case ShowEventKind::Resumed:
        NoteNextEntry(-1);
        break;
      default:
        break;
    }
    events_.Publish(event);
  }
  void Log(const ShowEvent& event) { Publish(event); }
  ShowEventBus& Events() { return events_; }
  const ShowState& State() const { return state_; }
  // The port was closed on purpose (paused, ended): not lost.
  void PortClosed() { state_.line.portOpen = false; }
  // Where the entry under way stands; `length` once the song's is known.
  void PlayingTime(double elapsed, std::optional<double> length) {
    if (!state_.playing) return;
    state_.playing->elapsedSeconds = elapsed;
    if (length) state_.playing->remainingSeconds = std::max(0.0, *length - elapsed);
  }
  // Tonight's window as the calendar answers now.
  void SetWindow(const ShowState::Window& window) { state_.window = window; }

  // A new show: its first status and notice reach the view whatever the last
  // show ended with.
  void BeginShow() {
    status_.clear();
    notice_.clear();
    note_.clear();
    nextShow_.clear();
    state_.latestNotice.clear();
    state_.playing.reset();
    state_.lateKeepAlives = 0;
    // A show's first pass begins at the list's first row.
    NoteNextEntry(-1);
    view_.ShowStarted();
  }
  void EndShow() {
    state_.playing.reset();
    state_.next.reset();
    state_.stopAfterSongAsked = false;
    state_.line.portOpen = false;
    state_.keepAliveGapSeconds = -1;
    state_.keepAliveLate = false;
    view_.ShowEnded();
  }
  // The status line's text; the state's phase follows it.
  void SetStatus(const std::string& text) {
    state_.phase = PhaseOfStatus(text);
    if (state_.phase != ShowState::Phase::Playing) {
      state_.keepAliveGapSeconds = -1;
      state_.keepAliveLate = false;
    }
    if (text == status_) return;
    status_ = text;
    view_.StatusChanged(text);
  }
  void AddNotice(const std::string& text) {
    if (text == notice_) return;
    notice_ = text;
    ShowEvent notice;
    notice.kind = ShowEventKind::Notice;
    notice.text = text;
    Publish(notice);
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
    if (state_.playing) state_.playing->note = text;
    view_.PlayingNoteChanged(text);
  }
  // The row that starts playing; its note starts empty, as the view shows it.
  void SelectRow(int row) {
    note_.clear();
    playlist_.SelectRow(row);
  }
  void KeepAliveGap(int seconds, bool late) {
    state_.keepAliveGapSeconds = seconds;
    state_.keepAliveLate = late;
    if (late) ++state_.lateKeepAlives;
    view_.KeepAliveGap(seconds, late);
  }

 private:
  // The entry after `row`: the list starts again after its last.
  void NoteNextEntry(int row) {
    const int rows = playlist_.RowCount();
    if (rows <= 0) {
      state_.next.reset();
      return;
    }
    const int next = row + 1 < rows ? row + 1 : 0;
    state_.next = ShowState::Entry{next, playlist_.EntryAt(next).ListText};
  }

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
  ShowEventBus events_;
  ShowState state_;
};

}  // namespace playback
