#include "web/show_page.h"

#include <fstream>
#include <iterator>
#include <utility>

#include "playback/show_scheduler.h"
#include "web/api.h"
#include "web/last_nights.h"

namespace web {

platform::Result<WebSettings> ReadWebSettings(const std::string& dir) {
  const std::string path = dir + "/" + kSettingsFileName;
  std::ifstream in(path, std::ios::binary);
  if (!in) return WebSettings{};
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return ParseWebSettings(text, path);
}

void PageShowView::ShowStarted() {
  state_.inShow = true;
  state_.startAsked = false;
  state_.notice.clear();
  inner_.ShowStarted();
}

void PageShowView::ShowEnded() {
  state_.inShow = false;
  state_.row = -1;
  state_.stopAfterSongAsked = false;
  inner_.ShowEnded();
}

void PageShowView::StatusChanged(const std::string& text) {
  state_.status = text;
  inner_.StatusChanged(text);
}

void PageShowView::NoticeAdded(const std::string& text) {
  state_.notice = text;
  inner_.NoticeAdded(text);
}

void PageShowView::KeepAliveGap(int seconds, bool late) {
  state_.keepAliveGap = seconds;
  if (late) ++state_.lateKeepAlives;
  inner_.KeepAliveGap(seconds, late);
}

ShowPage::ShowPage(const PageShowState& state, Show show, std::string dataFolder)
    : state_(state), show_(show), dataFolder_(std::move(dataFolder)) {}

ShowState ShowPage::State() const {
  if (!state_.inShow) {
    if (!state_.startAsked) return ShowState::Stopped;
    // Asked to start and about to: the state the start leads to, as the
    // session will find it, so the answer to the Start tells what it did.
    if (show_.playlist.RowCount() == 0) return ShowState::Stopped;
    return show_.calendar.InsideNow(show_.settings.CurrentSettings(), show_.clock)
               ? ShowState::Running
               : ShowState::Paused;
  }
  return state_.status == playback::kPausedText ? ShowState::Paused : ShowState::Running;
}

bool ShowPage::Playing() const {
  // The player closes the audio between entries and while the show waits.
  return State() == ShowState::Running && state_.row >= 0 &&
         state_.row < show_.playlist.RowCount() && show_.audio.DurationSeconds() > 0;
}

ShowStatus ShowPage::Status() {
  ShowStatus s;
  s.state = State();
  s.statusText = state_.status.empty() ? playback::kStoppedText : state_.status;
  s.notice = state_.notice;
  const int rows = show_.playlist.RowCount();
  const auto entry = [this](int row) {
    return EntryView{row, show_.playlist.EntryAt(row).ListText};
  };
  if (Playing()) {
    s.playing = PlayingView{entry(state_.row), show_.audio.PositionSeconds(),
                            show_.audio.DurationSeconds()};
  }
  if (rows > 0 && s.state != ShowState::Stopped) {
    // A pass begins at row 0, and so does every return from a pause.
    const bool between = s.state == ShowState::Paused || state_.row < 0;
    s.next = entry(between ? 0 : (state_.row + 1) % rows);
  }
  const playback::ShowSettings settings = show_.settings.CurrentSettings();
  WindowView window{settings.startTime.Text(), settings.endTime.Text(), false, std::nullopt, {}};
  // With a calendar its night holds, not the lists it has greyed out.
  if (const auto night = show_.calendar.TonightOrNext(settings, show_.clock)) {
    window.start = night->startText;
    window.end = night->endText;
  }
  window.problem = show_.calendar.Problem();
  window.openNow = show_.calendar.InsideNow(settings, show_.clock);
  if (!window.openNow) {
    window.opensInSeconds = show_.calendar.SecondsToNextOpening(settings, show_.clock);
  }
  s.window = window;
  s.keepAliveGapSeconds = state_.keepAliveGap;
  s.lateKeepAlives = state_.lateKeepAlives;
  s.stopAfterSong = state_.stopAfterSongAsked;
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
    }
    s.health = std::move(view);
    if (const auto line = health.Line()) s.line = LineHealthView{line->summary, line->ok};
  }
  return s;
}

std::vector<playback::NightSummary> ShowPage::Nights(int count) {
  return LastNights(dataFolder_, count).value_or(std::vector<playback::NightSummary>{});
}

}  // namespace web
