#pragma once

#include <string>

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

  // The whole number in cboFrameComp (1 to 10).
  virtual int FrameTiming() const = 0;
  // The whole number in cboPort (1 to 16).
  virtual int PortNumber() const = 0;
  // The text of cboDataRate ("56000" or "115200").
  virtual std::string DataRateText() const = 0;
  // The texts of cboStartTime and cboEndTime ("5:30:00 PM").
  virtual std::string StartTimeText() const = 0;
  virtual std::string EndTimeText() const = 0;

  // Sets StatusText and then shows it in lblStatus.
  virtual void SetStatus(const std::string& text) = 0;
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
};

}  // namespace playback
