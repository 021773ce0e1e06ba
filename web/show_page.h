#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/audio_player.h"
#include "platform/clock.h"
#include "playback/show_calendar.h"
#include "playback/show_front_end.h"
#include "playback/show_log.h"
#include "watch/show_health.h"
#include "web/show_view.h"
#include "web/web_settings.h"

// The phone page's view of a show: what the show session has told its front
// end, read out as the page's status, and the page's requests passed on to
// the session as the phone page's. Every front end that runs a show (the
// window, `glimmer show`) serves the page through it.
namespace web {

// What the page keeps of the show as the session tells it.
struct PageShowState {
  bool inShow = false;  // between the show's start and its end
  std::string status;
  std::string notice;
  int row = -1;  // the row last selected for playing
  int keepAliveGap = 0;
  int lateKeepAlives = 0;
  bool stopAfterSongAsked = false;
  // A Start from the page that the front end has yet to carry out.
  bool startAsked = false;
};

// Passes the session's view events on to `inner` and keeps what the page
// needs of them.
class PageShowView final : public playback::ShowView {
 public:
  PageShowView(playback::ShowView& inner, PageShowState& state) : inner_(inner), state_(state) {}
  void ShowStarted() override;
  void ShowEnded() override;
  void StatusChanged(const std::string& text) override;
  void NoticeAdded(const std::string& text) override;
  void NextShowChanged(const std::string& text) override { inner_.NextShowChanged(text); }
  void PlayingNoteChanged(const std::string& text) override { inner_.PlayingNoteChanged(text); }
  void KeepAliveGap(int seconds, bool late) override;

 private:
  playback::ShowView& inner_;
  PageShowState& state_;
};

// The page's status read out of what the show has told: the host owns the
// state, the calendar and the health it reads; the page's controls go to the
// host's commands, not through here.
class ShowPage final : public StatusSource {
 public:
  struct Show {
    const playback::ShowSettingsSource& settings;
    const playback::PlaylistSource& playlist;
    const playback::ShowCalendar& calendar;
    platform::AudioPlayer& audio;
    platform::Clock& clock;
    // The checks, alerts and line of the show, where they are watched.
    const watch::ShowHealth* health = nullptr;
    // The wall clock the last 24 hours of alerts are counted back from.
    std::function<std::chrono::system_clock::time_point()> wallNow = std::chrono::system_clock::now;
  };
  // `dataFolder` holds show.log, whose nights the page lists.
  ShowPage(const PageShowState& state, Show show, std::string dataFolder);

  ShowStatus Status() override;
  std::vector<playback::NightSummary> Nights(int count) override;

  ShowState State() const;
  // An entry plays now: its audio is open at a row of the playlist.
  bool Playing() const;

 private:
  const PageShowState& state_;
  Show show_;
  std::string dataFolder_;
};

// The [web] table of settings.toml in `dir`; off when there is no file. An
// error names the file, the line and what is wrong.
platform::Result<WebSettings> ReadWebSettings(const std::string& dir);

}  // namespace web
