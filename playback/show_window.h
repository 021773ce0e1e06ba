#pragma once

#include <string>

#include "import/fade_timing.h"
#include "playlist/playlist_entry.h"

namespace playback {

// The part of the main window that the serial link, the show player and the
// show scheduler work with. The Qt window implements it, so does the console
// window of `glimmer play`, and so do the tests.
//
// Every getter reads the control afresh: the frame timing in particular may
// change while an entry plays and must take effect on the next pass.
class ShowWindow {
 public:
  virtual ~ShowWindow() = default;

  // True while a show has been started and not stopped. Stop and closing the
  // window clear it; the scheduler sets it when a show starts.
  virtual bool ShowRunning() const = 0;
  virtual void SetShowRunning(bool running) = 0;

  // The FadeTimingTable the window filled at start-up: the codes for a fade
  // whose row carries none.
  virtual const importer::FadeTimingTable& FadeTimings() const = 0;
  // The whole number in cboFrameComp (1 to 10).
  virtual int FrameTiming() const = 0;
  // The whole number in cboPort (1 to 16).
  virtual int PortNumber() const = 0;
  // The text of cboDataRate ("56000" or "115200").
  virtual std::string DataRateText() const = 0;
  // The texts of cboStartTime and cboEndTime ("5:30:00 PM").
  virtual std::string StartTimeText() const = 0;
  virtual std::string EndTimeText() const = 0;

  // Sets StatusText and then shows it in lblStatus. Only the show's own
  // status texts go here (running, paused, stopped), at their moments.
  virtual void SetStatus(const std::string& text) = 0;
  // What the player adds about the entry under way, such as why its song
  // plays silently. Shown beside the entry, never in place of the status
  // text; the next entry starts without it.
  virtual void SetPlayingNote(const std::string& text) = 0;
  // Something the operator should be able to read later: a skipped entry, a
  // lost port, events that were not sent. Shown beside the status text,
  // never in place of it, and kept until a newer notice or the next start.
  virtual void ShowNotice(const std::string& text) = 0;
  // Shows the gap between the last two keep-alives in Text1, in whole seconds.
  virtual void SetKeepAliveGap(int seconds) = 0;

  virtual void SetRunningState() = 0;
  virtual void SetStoppedState() = 0;
  // Writes preferences.txt (the autostart flag follows ShowRunning).
  virtual void SavePreferences() = 0;

  // Rows of lstPlayList, row 0 first.
  virtual int PlaylistRowCount() const = 0;
  // The entry that list row `row` stands for (PlaylistEntries(ItemData(row))).
  virtual playlist::PlaylistEntry PlaylistEntryAt(int row) const = 0;
  // Highlights the row that is playing.
  virtual void SelectPlaylistRow(int row) = 0;

  // Appends one event of the show (texts in playback/show_log.h) to the show
  // log, for the operator to read the next morning. Never fails: a log that
  // cannot be written must not stop the show. Without a log, nothing.
  virtual void LogShowEvent(const std::string& event) { (void)event; }
};

}  // namespace playback
