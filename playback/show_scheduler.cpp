#include "playback/show_scheduler.h"

#include <cctype>
#include <string>

#include "playback/show_log.h"
#include "playback/show_player.h"

namespace playback {
namespace {

// Ten seconds of 100 ms steps.
constexpr int kRetrySteps = 100;

bool ReadNumber(std::string_view text, std::size_t& at, int& value) {
  const std::size_t begin = at;
  value = 0;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && at - begin < 2) {
    value = value * 10 + (text[at] - '0');
    ++at;
  }
  return at > begin;
}

void SkipBlanks(std::string_view text, std::size_t& at) {
  while (at < text.size() && text[at] == ' ') ++at;
}

}  // namespace

std::string StartPortFailedMessage(const std::string& reason) {
  return "The show could not start.\r\n\r\n" + reason +
         "\r\n\r\nCheck that the serial adapter is plugged in and that no other program uses "
         "it, or choose another COM Port (its tooltip names the device each number opens).";
}

std::optional<int> ParseTimeOfDay(std::string_view text) {
  std::size_t at = 0;
  SkipBlanks(text, at);
  int hours = 0, minutes = 0, seconds = 0;
  if (!ReadNumber(text, at, hours)) return std::nullopt;
  if (at >= text.size() || text[at] != ':') return std::nullopt;
  ++at;
  if (!ReadNumber(text, at, minutes)) return std::nullopt;
  if (at < text.size() && text[at] == ':') {
    ++at;
    if (!ReadNumber(text, at, seconds)) return std::nullopt;
  }
  SkipBlanks(text, at);
  std::string suffix;
  for (; at < text.size(); ++at) {
    suffix.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(text[at]))));
  }
  while (!suffix.empty() && suffix.back() == ' ') suffix.pop_back();
  if (minutes > 59 || seconds > 59) return std::nullopt;
  if (suffix == "AM" || suffix == "PM") {
    if (hours < 1 || hours > 12) return std::nullopt;
    hours %= 12;  // 12 AM is midnight, 12 PM noon
    if (suffix == "PM") hours += 12;
  } else if (!suffix.empty() || hours > 23) {
    return std::nullopt;
  }
  return hours * 3600 + minutes * 60 + seconds;
}

ShowScheduler::ShowScheduler(ShowWindow& window, SerialLink& link, platform::AudioPlayer& audio,
                             platform::UserInterface& ui, platform::Clock& clock)
    : window_(window), link_(link), audio_(audio), ui_(ui), clock_(clock) {}

void ShowScheduler::cmdShowStart_Click() {
  window_.SetRunningState();
  window_.SetShowRunning(true);
  window_.SetStatus(kRunningText);
  window_.SavePreferences();
  ui_.DoEvents();
  if (link_.IsPortOpen()) link_.ClosePort();

  const auto endShow = [this] {
    if (link_.IsPortOpen()) link_.ClosePort();
    window_.SetStoppedState();
    window_.SetStatus(kStoppedText);
    ui_.DoEvents();
  };

  if (platform::Status opened = link_.OpenPort(); !opened) {
    ui_.ShowMessage(StartPortFailedMessage(opened.message()));
    window_.LogShowEvent(show_event::ShowEnded(opened.message()));
    endShow();
    return;
  }

  // A time text that is not a time keeps the show paused and says which one.
  const auto badTimeText = [](const char* which, const std::string& text) {
    return std::string("The ") + which + " time \"" + text +
           "\" is not a time of day such as 5:30:00 PM; the show waits";
  };

  ShowPlayer player(window_, link_, audio_, ui_, priority_);
  bool resumeShowsRunning = false;
  bool paused = false;  // for the log, which notes the changes only
  for (;;) {
    const int now = clock_.SecondsOfDay();
    const std::string startText = window_.StartTimeText();
    const std::string endText = window_.EndTimeText();
    const std::optional<int> start = ParseTimeOfDay(startText);
    const std::optional<int> end = ParseTimeOfDay(endText);
    const bool inside = start && end && *start - now < 1 && *end - now > -1;
    if (!inside) {
      if (link_.IsPortOpen()) link_.ClosePort();
      if (!paused) window_.LogShowEvent(show_event::Paused(startText, endText));
      paused = true;
      window_.SetStatus(kPausedText);
      if (!start) {
        window_.ShowNotice(badTimeText("start", startText));
      } else if (!end) {
        window_.ShowNotice(badTimeText("end", endText));
      }
      resumeShowsRunning = true;
      ui_.DoEvents();
      clock_.Sleep100ms();
      if (!window_.ShowRunning()) break;
      continue;
    }

    if (paused) window_.LogShowEvent(show_event::Resumed());
    paused = false;
    const int rowCount = window_.PlaylistRowCount();
    if (rowCount <= 0) {
      ui_.ShowMessage(kEmptyPlaylistMessage);
      window_.LogShowEvent(show_event::ShowEnded("the playlist is empty"));
      break;
    }
    if (resumeShowsRunning) {
      window_.SetStatus(kRunningText);
      resumeShowsRunning = false;
    }

    const int lastRow = rowCount - 1;
    bool stopped = false;
    bool anyPlayed = false;
    for (int row = 0;; ++row) {
      const PlayOutcome outcome = player.PlayEntry(row);
      if (outcome == PlayOutcome::Stopped) {
        stopped = true;
        break;
      }
      if (outcome == PlayOutcome::Finished) anyPlayed = true;
      const std::optional<int> endNow = ParseTimeOfDay(window_.EndTimeText());
      if (!endNow || *endNow - clock_.SecondsOfDay() < 1) {
        link_.ClosePort();
        break;
      }
      if (row == lastRow) break;
    }
    if (stopped) break;

    if (!anyPlayed) {
      // Every entry was skipped: wait rather than spin, then try again so the
      // show recovers by itself once the files are back.
      if (link_.IsPortOpen()) link_.ClosePort();
      window_.ShowNotice(std::string(kNothingPlayableText) +
                         ". Last problem: " + player.LastSkipReason());
      resumeShowsRunning = true;
      for (int step = 0; step < kRetrySteps && window_.ShowRunning(); ++step) {
        ui_.DoEvents();
        clock_.Sleep100ms();
      }
      if (!window_.ShowRunning()) break;
    }
  }
  endShow();
}

}  // namespace playback
