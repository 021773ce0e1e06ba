#include "web/show_page.h"

#include <algorithm>
#include <utility>

#include "platform/file_store.h"
#include "playback/show_scheduler.h"
#include "playback/status_text.h"
#include "web/api.h"

namespace web {

platform::Result<WebSettings> ReadWebSettings(const std::string& dir) {
  const std::string path = dir + "/" + kSettingsFileName;
  const platform::Result<std::string> text =
      platform::ReadOptionalFile(path, platform::kLargestSettingsFile);
  if (!text) return platform::Result<WebSettings>::Error(text.message());
  return ParseWebSettings(text.value(), path);
}

namespace {

ShowState PageStateOf(playback::ShowState::Phase phase) {
  switch (phase) {
    case playback::ShowState::Phase::Playing:
      return ShowState::Running;
    case playback::ShowState::Phase::Waiting:
      return ShowState::Paused;
    case playback::ShowState::Phase::Stopped:
      break;
  }
  return ShowState::Stopped;
}

EntryView EntryOf(const playback::ShowState::Entry& entry) {
  return EntryView{entry.row, playlist::TitleOfListText(entry.listText),
                   playlist::ArchiveOfListText(entry.listText)};
}

// A lost port is news at once, played entry or not; the rest is known once
// an entry of this show has played through.
std::optional<LineHealthView> LineOf(const playback::ShowState::Line& line) {
  if (line.portLost) {
    return LineHealthView{Describe(playback::show_event::PortLost(line.port, line.lostReason)),
                          false};
  }
  if (!line.known) return std::nullopt;
  if (line.lateEntries == 0) return LineHealthView{"every entry on time at the controllers", true};
  return LineHealthView{
      std::to_string(line.lateEntries) + (line.lateEntries == 1 ? " entry" : " entries") +
          " fell visibly behind on the line in this show; the last: " + line.lastLate,
      false};
}

}  // namespace

ShowStatus StatusOf(const playback::ShowState& state, std::int64_t now) {
  ShowStatus s;
  s.state = PageStateOf(state.phase);
  s.statusText = playback::StatusTextOf(state.phase);
  s.notice = state.latestNotice;
  if (state.playing) {
    const double elapsed = state.playing->elapsedSeconds;
    s.playing = PlayingView{EntryOf(state.playing->entry), elapsed,
                            elapsed + state.playing->remainingSeconds.value_or(0.0),
                            state.playing->remainingSeconds};
  }
  if (state.next && state.phase != playback::ShowState::Phase::Stopped) {
    s.next = EntryOf(*state.next);
  }
  const playback::ShowState::Window& window = state.window;
  WindowView view{window.startText, window.endText,       window.open,           std::nullopt,
                  window.problem,   window.volumePercent, window.nextOpeningText};
  if (!window.open && window.start) {
    view.opensInSeconds = static_cast<int>(std::max<std::int64_t>(0, *window.start - now));
  }
  s.window = view;
  s.keepAliveGapSeconds = std::max(0, state.keepAliveGapSeconds);
  s.lateKeepAlives = state.lateKeepAlives;
  s.stopAfterSong = state.stopAfterSongAsked;
  s.line = LineOf(state.line);
  if (!state.line.port.empty()) {
    s.port =
        PortView{state.line.port, state.line.portOpen, state.line.portLost, state.line.lostReason};
  }
  return s;
}

ShowPage::ShowPage(Show show) : show_(std::move(show)) {}

ShowStatus ShowPage::Status() {
  ShowStatus s = StatusOf(show_.state(), show_.clock.UnixSeconds());
  if (show_.health != nullptr) {
    const watch::ShowHealth& health = *show_.health;
    HealthView view;
    if (const auto& check = health.LastCheck()) {
      view.lastCheck = check->at;
      view.lastCheckResult = check->result;
    }
    const auto since = show_.wallNow() - std::chrono::hours(24);
    for (const watch::ShowHealth::Alert& alert : health.AlertsSince(watch::LocalStamp(since))) {
      view.alerts.push_back(alert.at + " " + alert.event + ": " + alert.text);
      view.alertItems.insert(view.alertItems.begin(), AlertView{alert.at, alert.event, alert.text});
    }
    s.health = std::move(view);
  }
  return s;
}

std::vector<playback::NightSummary> ShowPage::Nights(int count) {
  if (show_.nights == nullptr) return {};
  return show_.nights->Last(count);
}

std::vector<NightPlayedView> ShowPage::NightsPlayed(int count) {
  if (show_.nights == nullptr) return {};
  return show_.nights->LastPlayed(count);
}

}  // namespace web
