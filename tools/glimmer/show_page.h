#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/audio_player.h"
#include "platform/clock.h"
#include "playback/show_calendar.h"
#include "playback/show_front_end.h"
#include "playback/show_log.h"
#include "playback/show_session.h"
#include "web/show_view.h"
#include "web/web_settings.h"

// The phone page's view of `glimmer show`: what the show session has told
// its front end, read out as the page's status, and the page's requests
// passed on to the session as the phone page's. Kept apart from the command
// so that another front end (the window) can take it up.
namespace glimmer {

// What the front end keeps of the show as the session tells it.
struct HeadlessShowState {
  bool inShow = false;  // between the show's start and its end
  std::string status;
  std::string notice;
  int row = -1;  // the row last selected for playing
  int keepAliveGap = 0;
  int lateKeepAlives = 0;
  bool stopAfterSongAsked = false;
  // A Start from the page, for the command to carry out once the show has
  // ended.
  bool startAsked = false;
};

// Passes the session's view events on to `inner` and keeps what the page
// needs of them.
class PageShowView final : public playback::ShowView {
 public:
  PageShowView(playback::ShowView& inner, HeadlessShowState& state)
      : inner_(inner), state_(state) {}
  void ShowStarted() override;
  void ShowEnded() override;
  void StatusChanged(const std::string& text) override;
  void NoticeAdded(const std::string& text) override;
  void PlayingNoteChanged(const std::string& text) override { inner_.PlayingNoteChanged(text); }
  void KeepAliveGap(int seconds, bool late) override;

 private:
  playback::ShowView& inner_;
  HeadlessShowState& state_;
};

class ShowPage final : public web::StatusSource, public web::ControlSink {
 public:
  struct Show {
    playback::ShowSession& session;
    const bool& showRunning;
    playback::ShowSettingsSource& settings;
    playback::PlaylistSource& playlist;
    const playback::ShowCalendar& calendar;
    platform::AudioPlayer& audio;
    platform::Clock& clock;
  };
  ShowPage(HeadlessShowState& state, Show show, std::string dataFolder);

  web::ShowStatus Status() override;
  std::vector<playback::NightSummary> Nights(int count) override;

  platform::Status Start(std::string_view who) override;
  platform::Status Stop(std::string_view who) override;
  platform::Status StopAfterSong(std::string_view who) override;
  platform::Status Skip(std::string_view who) override;

 private:
  web::ShowState State() const;
  bool Playing();

  HeadlessShowState& state_;
  Show show_;
  std::string dataFolder_;
};

// The [web] table of settings.toml in `dir`; off when there is no file. An
// error names the file, the line and what is wrong.
platform::Result<web::WebSettings> ReadWebSettings(const std::string& dir);

}  // namespace glimmer
