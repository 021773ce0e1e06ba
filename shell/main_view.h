#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "playlist/list_box.h"

// What a main window must be able to show and tell, without any toolkit: the
// presenter decides every text, colour and state, and a window (Qt on Linux,
// Win32 on Windows) only puts them on the screen and forwards the operator's
// clicks. Message boxes, the open-file dialog, yielding and the hourglass go
// through platform::UserInterface, as everywhere else.
namespace shell {

// The controls the window's states enable and disable, and that carry a
// tooltip.
enum class Control {
  Port,         // cboPort
  DataRate,     // cboDataRate
  FrameTiming,  // cboFrameComp
  StartTime,    // cboStartTime
  EndTime,      // cboEndTime
  Add,          // cmdPlayListAdd
  Remove,       // cmdPlaylistRemove
  MoveUp,       // cmdPlayListMoveUp
  MoveDown,     // cmdPlaylistMoveDown
  Playlist,     // lstPlayList
  Start,        // cmdShowStart
  Stop,         // cmdStop
};

// The five setting lists.
enum class Choice {
  Port,         // cboPort
  DataRate,     // cboDataRate
  FrameTiming,  // cboFrameComp
  StartTime,    // cboStartTime
  EndTime,      // cboEndTime
};

inline constexpr Choice kChoices[] = {Choice::Port, Choice::DataRate, Choice::FrameTiming,
                                      Choice::StartTime, Choice::EndTime};

// The control a setting list is.
constexpr Control ControlOf(Choice list) {
  switch (list) {
    case Choice::Port:
      return Control::Port;
    case Choice::DataRate:
      return Control::DataRate;
    case Choice::FrameTiming:
      return Control::FrameTiming;
    case Choice::StartTime:
      return Control::StartTime;
    case Choice::EndTime:
      return Control::EndTime;
  }
  return Control::Port;
}

// A line of text in a colour (see shell/colours.h: system colours
// 0x800000nn, plain colours 0x00BBGGRR).
struct ColouredText {
  std::string text;
  std::uint32_t colour = 0;
  bool operator==(const ColouredText&) const = default;
};

// The notice line under the status: what it shows, and the history its
// tooltip keeps (newest first, one per line).
struct NoticeLine {
  std::string text;
  std::string history;
  std::uint32_t colour = 0;
  bool operator==(const NoticeLine&) const = default;
};

// A counter box at the right of the status line (Text1, Text2).
struct CounterBox {
  std::string text = "0";
  std::uint32_t background = 0;
  bool operator==(const CounterBox&) const = default;
};

// The phone page's ready link and its QR code, for a phone's camera, as the
// window's phone page dialog shows them.
struct PhonePageCode {
  // The link that opens the page with its token; empty while the page is
  // off.
  std::string link;
  // The code's modules row by row, true for dark, without the quiet zone
  // (the view leaves four light modules around them); empty for no code.
  std::vector<std::vector<bool>> modules;
  // Said with it: how to turn the page on, or who can open the link.
  std::string note;
  bool operator==(const PhonePageCode&) const = default;
};

class MainView {
 public:
  virtual ~MainView() = default;

  // The caption, with the version filled in; then the window on screen.
  virtual void SetCaption(const std::string& text) = 0;
  virtual void ShowWindow() = 0;

  // Enables or disables a control. The presenter never disables the
  // bitmask check box or makes the counters take input.
  virtual void SetEnabled(Control control, bool enabled) = 0;
  // The face colour of Start or Stop: kButtonHighlight or kButtonFace.
  virtual void SetButtonFace(Control button, std::uint32_t colour) = 0;
  // Empty: no tooltip.
  virtual void SetToolTip(Control control, const std::string& text) = 0;

  // Fills a setting list with `entries` and leaves it with no selection.
  virtual void SetChoices(Choice list, const std::vector<std::string>& entries) = 0;
  // Selects entry `index` of a list. A selection the presenter makes is not
  // reported back to it (MainPresenter::ChoiceChanged is for the operator's).
  virtual void SelectChoice(Choice list, int index) = 0;
  // The selected entry's index, -1 for none.
  virtual int SelectedChoice(Choice list) const = 0;
  // The selected entry's text, empty for none.
  virtual std::string SelectedChoiceText(Choice list) const = 0;

  // The playlist's rows and selection, as the playlist module drives them.
  virtual playlist::ListBox& PlaylistBox() = 0;
  // Whether "Perfrom Bitmask Optimization When Importing" is ticked.
  virtual bool PerformBitmask() const = 0;

  // The status line along the bottom (bold).
  virtual void SetStatusLine(const ColouredText& line) = 0;
  // The line under it: when the show opens next, and the notices.
  virtual void SetNoticeLine(const NoticeLine& line) = 0;
  // Text1 (seconds since the last keep-alive) and Text2 (late keep-alives).
  virtual void SetKeepAliveBox(const CounterBox& box) = 0;
  virtual void SetLateCountBox(const CounterBox& box) = 0;
  // What plays, in the audio player's area ("Playlist entry 1 of 3", its
  // list text and audio file, and its time), and the note under it.
  virtual void SetNowPlaying(const std::string& text) = 0;
  virtual void SetPlayingNote(const ColouredText& note) = 0;
  // How far the entry under way is, "1:05 played, 2:10 to go"; empty when
  // nothing plays.
  virtual void SetPlayingTime(const std::string& text) = 0;
  // The Show Schedule frame's caption.
  virtual void SetScheduleTitle(const std::string& text) = 0;
  // Where a phone finds the show; empty hides the line.
  virtual void SetPhonePage(const std::string& text) = 0;
  // What the phone page dialog shows, whenever it changes; the dialog opens
  // at the operator's click and shows the latest.
  virtual void SetPhonePageCode(const PhonePageCode& code) = 0;
  // The "Please wait while the sequence is being imported..." panel, over
  // everything else of the window.
  virtual void ShowImportingPanel(bool visible) = 0;

  // Runs `task` soon from the window's own event loop, not inside the call
  // that asks for it (a Start asked from the phone page).
  virtual void Post(std::function<void()> task) = 0;
  // Readable when the phone page's server has something to answer (-1:
  // nothing to watch): the view calls MainPresenter::Tick when it is.
  virtual void WatchWakeFd(int fd) = 0;
  // Every status text and notice as it is shown ("status: ...", "notice:
  // ..."), for whoever watches the window from outside; nothing by default.
  virtual void Trace(const std::string& line) { (void)line; }
};

}  // namespace shell
