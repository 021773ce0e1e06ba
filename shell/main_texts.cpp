#include "shell/main_texts.h"

#include <cmath>
#include <cstdio>

#include "playback/calendar_file_window.h"
#include "playback/show_calendar.h"
#include "playback/show_scheduler.h"
#include "qr/qr_code.h"
#include "shell/colours.h"

namespace shell {
namespace {

// "m:ss" of whole seconds.
std::string MinutesText(double seconds) {
  const long whole = std::lround(std::max(0.0, seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

}  // namespace

std::optional<Control> HighlightedButton(const std::string& statusText) {
  if (statusText.find("Running") != std::string::npos) return Control::Start;
  if (statusText.find("Stopped") != std::string::npos) return Control::Stop;
  return std::nullopt;
}

std::string NextShowLineOf(const playback::ShowState& state, std::int64_t now) {
  if (state.phase == playback::ShowState::Phase::Playing) return {};
  const playback::ShowState::Window& window = state.window;
  if (!window.problem.empty()) return playback::CalendarRefusedText(window.problem);
  if (!window.start || !window.end) return {};
  playback::ShowNight night;
  night.start = *window.start;
  night.end = *window.end;
  night.volumePercent = window.volumePercent;
  night.startText = window.startText;
  night.endText = window.endText;
  night.opensText = window.nextOpeningText;
  return playback::NextShowLine(night, now);
}

std::string NowPlayingText(int row, int rowCount, const playlist::PlaylistEntry& entry) {
  return "Playlist entry " + std::to_string(row + 1) + " of " + std::to_string(rowCount) + "\n" +
         entry.ListText + "\n" + entry.AudioPath;
}

std::string PlayingTimeText(const playback::ShowState::Playing& playing) {
  std::string text = MinutesText(playing.elapsedSeconds) + " played";
  if (playing.remainingSeconds) text += ", " + MinutesText(*playing.remainingSeconds) + " to go";
  return text;
}

std::uint32_t NoticeColour(const std::string& notice) {
  // The line's forecast for a new sequence, and the port come back.
  const bool goodNews = (notice.find("Serial line at ") != std::string::npos &&
                         notice.find(" baud: on time") != std::string::npos) ||
                        notice.find(" back: the lights follow the show again") != std::string::npos;
  return goodNews ? kDarkGreen : kDarkRed;
}

std::vector<std::pair<Control, std::string>> ControlToolTips() {
  return {
      {Control::FrameTiming,
       "How early each light command is sent, to make up for the controllers' own delay: each "
       "step sends 5.8 ms earlier"},
      {Control::Start,
       "Start the show: it plays the playlist from the top while the show's window is open, and "
       "waits for it otherwise"},
      {Control::Stop, "Stop the show now: the song and the lights stop, and the port is closed"},
      {Control::Add, "Import a Spectrum sequence archive (.msq) and add it to the end of the list"},
      {Control::Remove, "Take the selected entry out of the playlist (its files stay on disk)"},
      {Control::MoveUp, "Play the selected entry one place earlier"},
      {Control::MoveDown, "Play the selected entry one place later"},
      {Control::StartTime, "When the show's window opens each day"},
      {Control::EndTime,
       "When the show's window closes each day: the song under way then is the last"},
  };
}

std::string ToolTipOf(Control control) {
  for (const auto& [which, tip] : ControlToolTips()) {
    if (which == control) return tip;
  }
  return {};
}

PhonePageCode PhonePageCodeOf(const std::string& link, bool loopbackOnly) {
  PhonePageCode shown;
  if (link.empty()) {
    shown.note =
        "The phone page is off. 'glimmer web --enable --lan' turns it on for the phones on this "
        "network; the player serves it within a second.";
    return shown;
  }
  shown.link = link;
  const platform::Result<qr::QrCode> code = qr::QrCode::Encode(link);
  if (code) {
    const int size = code.value().Size();
    shown.modules.assign(static_cast<std::size_t>(size), std::vector<bool>(size));
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) shown.modules[y][x] = code.value().Dark(x, y);
    }
  }
  if (loopbackOnly) {
    shown.note =
        "Only this machine opens the page: it listens on the loopback address. 'glimmer web "
        "--enable --lan' lets the phones on this network in.";
  } else if (!code) {
    shown.note = "No QR code: " + code.message() + ". Type the link into the phone's browser.";
  } else {
    shown.note = "Point the phone's camera at the code: the page opens with its token.";
  }
  return shown;
}

}  // namespace shell
