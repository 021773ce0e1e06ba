#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "playback/show_event.h"
#include "playback/status_text.h"
#include "playlist/playlist_entry.h"
#include "shell/main_view.h"

// The main window's texts and colours as pure functions of what it shows,
// so every window says the same.
namespace shell {

// The controls the window's states switch, in the order of its state table.
inline constexpr Control kStateControls[] = {
    Control::Port,     Control::DataRate, Control::FrameTiming, Control::StartTime,
    Control::EndTime,  Control::Add,      Control::Remove,      Control::MoveUp,
    Control::MoveDown, Control::Playlist, Control::Start,       Control::Stop};

// The status line's words for a phase.
using playback::StatusTextOf;

// The button a status text highlights: "Running" highlights Start,
// "Stopped" Stop (Running decides when both are there); nothing for a text
// with neither word, which leaves the faces as they are.
std::optional<Control> HighlightedButton(const std::string& statusText);

// The line under the status while the show does not play: why the calendar
// cannot be used, or when the next show opens ("Next show: Thu 1 Jan, 5:30
// PM, open until 11:00 PM" while tonight's is open); empty while an entry
// plays and when no show will open. `now`: seconds since 1970.
std::string NextShowLineOf(const playback::ShowState& state, std::int64_t now);

// "Playlist entry 2 of 5", the entry's list text and its audio file, one a
// line.
std::string NowPlayingText(int row, int rowCount, const playlist::PlaylistEntry& entry);

// "1:05 played, 2:10 to go"; "1:05 played" until the song's length is known.
std::string PlayingTimeText(const playback::ShowState::Playing& playing);

// The colour a notice is shown in: the alarm colour, but for good news.
std::uint32_t NoticeColour(const std::string& notice);

// The tooltip a control carries while nothing else replaces it; empty for
// one without.
std::string ToolTipOf(Control control);
// Every control with a tooltip of its own.
std::vector<std::pair<Control, std::string>> ControlToolTips();

// The phone page dialog's content: the ready link (empty while the page is
// off) with its QR code; `loopbackOnly` when only this machine reaches the
// page, which the note then says with how to let phones in.
PhonePageCode PhonePageCodeOf(const std::string& link, bool loopbackOnly);

inline constexpr const char* kCalendarDecidesTip =
    "calendar.toml decides when the show plays; 'glimmer calendar' lists its nights";

}  // namespace shell
