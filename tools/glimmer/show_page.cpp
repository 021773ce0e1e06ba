#include "tools/glimmer/show_page.h"

#include <fstream>
#include <iterator>
#include <utility>

#include "playback/show_scheduler.h"
#include "tools/glimmer/last_nights.h"
#include "web/api.h"

namespace glimmer {

platform::Result<web::WebSettings> ReadWebSettings(const std::string& dir) {
  const std::string path = dir + "/" + web::kSettingsFileName;
  std::ifstream in(path, std::ios::binary);
  if (!in) return web::WebSettings{};
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return web::ParseWebSettings(text, path);
}

void PageShowView::ShowStarted() {
  state_.inShow = true;
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

ShowPage::ShowPage(HeadlessShowState& state, Show show, std::string dataFolder)
    : state_(state), show_(show), dataFolder_(std::move(dataFolder)) {}

web::ShowState ShowPage::State() const {
  if (!state_.inShow) return web::ShowState::Stopped;
  return state_.status == playback::kPausedText ? web::ShowState::Paused : web::ShowState::Running;
}

bool ShowPage::Playing() {
  // The player closes the audio between entries and while the show waits.
  return State() == web::ShowState::Running && state_.row >= 0 &&
         state_.row < show_.playlist.RowCount() && show_.audio.DurationSeconds() > 0;
}

web::ShowStatus ShowPage::Status() {
  web::ShowStatus s;
  s.state = State();
  s.statusText = state_.status.empty() ? playback::kStoppedText : state_.status;
  s.notice = state_.notice;
  const int rows = show_.playlist.RowCount();
  const auto entry = [this](int row) {
    return web::EntryView{row, show_.playlist.EntryAt(row).ListText};
  };
  if (Playing()) {
    s.playing = web::PlayingView{entry(state_.row), show_.audio.PositionSeconds(),
                                 show_.audio.DurationSeconds()};
  }
  if (rows > 0 && s.state != web::ShowState::Stopped) {
    // A pass begins at row 0, and so does every return from a pause.
    const bool between = s.state == web::ShowState::Paused || state_.row < 0;
    s.next = entry(between ? 0 : (state_.row + 1) % rows);
  }
  const playback::ShowSettings settings = show_.settings.CurrentSettings();
  web::WindowView window{settings.startTimeText, settings.endTimeText, false, std::nullopt};
  window.openNow = show_.calendar.InsideNow(settings, show_.clock).inside;
  if (!window.openNow) {
    window.opensInSeconds = show_.calendar.SecondsToNextOpening(settings, show_.clock);
  }
  s.window = window;
  s.keepAliveGapSeconds = state_.keepAliveGap;
  s.lateKeepAlives = state_.lateKeepAlives;
  s.stopAfterSong = state_.stopAfterSongAsked;
  return s;
}

std::vector<playback::NightSummary> ShowPage::Nights(int count) {
  return LastNights(dataFolder_, count).value_or(std::vector<playback::NightSummary>{});
}

platform::Status ShowPage::Start(std::string_view) {
  if (state_.inShow) return platform::Status::Error("the show is already running");
  state_.startAsked = true;
  return platform::Status::Ok();
}

platform::Status ShowPage::Stop(std::string_view) {
  if (!state_.inShow || !show_.showRunning) {
    return platform::Status::Error("the show is not running");
  }
  show_.session.Stop(playback::Requester::PhonePage);
  return platform::Status::Ok();
}

platform::Status ShowPage::StopAfterSong(std::string_view who) {
  if (!state_.inShow || !show_.showRunning) {
    return platform::Status::Error("the show is not running");
  }
  // Waiting for its window, nothing plays whose end could be waited for.
  if (!Playing()) return Stop(who);
  show_.session.StopAfterSong(playback::Requester::PhonePage);
  show_.session.Log(playback::show_event::StopAfterSongAsked(who));
  state_.stopAfterSongAsked = true;
  return platform::Status::Ok();
}

platform::Status ShowPage::Skip(std::string_view who) {
  if (!Playing()) return platform::Status::Error("nothing is playing");
  show_.session.Skip(playback::Requester::PhonePage);
  show_.session.Log(playback::show_event::SkipAsked(who));
  return platform::Status::Ok();
}

}  // namespace glimmer
