#include "host/show_host.h"

#include <algorithm>
#include <utility>

#include "platform/file_store.h"
#include "platform/paths.h"
#include "platform/show_lock.h"
#include "playback/show_log.h"
#include "playback/show_scheduler.h"
#include "watch/alert_settings.h"
#include "web/api.h"
#include "web/phone_link.h"
#include "web/web_server.h"

namespace host {
namespace {

// What a settings file held when looked at: its text, or why it could not
// be read (a pipe, a folder, no permission), so a new reason is a change too.
std::string FileText(const std::string& path) {
  const platform::Result<std::string> read =
      platform::ReadOptionalFile(path, platform::kLargestSettingsFile);
  return read ? read.value() : "cannot be read: " + read.message();
}

std::string WebTableOf(const platform::Result<web::WebSettings>& read) {
  if (!read) return "mistake: " + read.message();
  const web::WebSettings& web = read.value();
  return web.enabled ? web.listen + " " + web.token : std::string();
}

// What settings.toml asks of the page and of the alerts, in words that
// change whenever what it asks does; a file that cannot be read asks its
// reason of both.
struct SettingsSeen {
  std::string web, alerts;
};

SettingsSeen LookAtSettings(const std::string& path) {
  const platform::Result<std::string> text =
      platform::ReadOptionalFile(path, platform::kLargestSettingsFile);
  if (!text) return {"mistake: " + text.message(), text.message()};
  const auto alerts = watch::ParseAlertSettings(text.value(), path);
  return {WebTableOf(web::ParseWebSettings(text.value(), path)),
          alerts ? alerts.value().command : alerts.message()};
}

}  // namespace

// Every view that renders the show hears each change, in the order they
// subscribed.
class ShowHost::FanOut final : public playback::ShowView {
 public:
  std::vector<playback::ShowView*> views;
  void ShowStarted() override {
    for (auto* v : views) v->ShowStarted();
  }
  void ShowEnded() override {
    for (auto* v : views) v->ShowEnded();
  }
  void StatusChanged(const std::string& text) override {
    for (auto* v : views) v->StatusChanged(text);
  }
  void NoticeAdded(const std::string& text) override {
    for (auto* v : views) v->NoticeAdded(text);
  }
  void NextShowChanged(const std::string& text) override {
    for (auto* v : views) v->NextShowChanged(text);
  }
  void PlayingNoteChanged(const std::string& text) override {
    for (auto* v : views) v->PlayingNoteChanged(text);
  }
  void KeepAliveGap(int seconds, bool late) override {
    for (auto* v : views) v->KeepAliveGap(seconds, late);
  }
};

// The show's log: through the watch once it keeps one, else straight on.
class ShowHost::RelayLog final : public platform::LogFile {
 public:
  explicit RelayLog(platform::LogFile& target) : target_(&target) {}
  void PointTo(platform::LogFile& target) { target_ = &target; }
  platform::Status AppendLine(const std::string& line) override {
    return target_->AppendLine(line);
  }

 private:
  platform::LogFile* target_;
};

// What the show tells, through the watch once it keeps one.
class ShowHost::RelayView final : public playback::ShowView {
 public:
  explicit RelayView(playback::ShowView& target) : target_(&target) {}
  void PointTo(playback::ShowView& target) { target_ = &target; }
  void ShowStarted() override { target_->ShowStarted(); }
  void ShowEnded() override { target_->ShowEnded(); }
  void StatusChanged(const std::string& text) override { target_->StatusChanged(text); }
  void NoticeAdded(const std::string& text) override { target_->NoticeAdded(text); }
  void NextShowChanged(const std::string& text) override { target_->NextShowChanged(text); }
  void PlayingNoteChanged(const std::string& text) override { target_->PlayingNoteChanged(text); }
  void KeepAliveGap(int seconds, bool late) override { target_->KeepAliveGap(seconds, late); }

 private:
  playback::ShowView* target_;
};

// The page's buttons are the host's commands, named as the page's.
class ShowHost::PageButtons final : public web::ControlSink {
 public:
  explicit PageButtons(ShowHost& host) : host_(host) {}
  platform::Status Start(std::string_view who) override {
    return host_.AskStart({std::string(who)});
  }
  platform::Status Stop(std::string_view who) override { return host_.Stop({std::string(who)}); }
  platform::Status StopAfterSong(std::string_view who) override {
    return host_.StopAfterSong({std::string(who)});
  }
  platform::Status Skip(std::string_view who) override { return host_.Skip({std::string(who)}); }

 private:
  ShowHost& host_;
};

ShowHost::ShowHost(ShowHostOptions options)
    : options_(std::move(options)), calendar_(options_.dir) {
  if (!options_.now) options_.now = platform::LocalDateTime;
  if (!options_.otherShow) {
    options_.otherShow = [dir = options_.dir] { return platform::OtherShowOnFolder(dir); };
  }
  platform::LogFile* logFile = options_.logFile;
  if (logFile == nullptr) {
    ownLogFile_ = platform::MakeLogFile(platform::ShowLogPath(options_.dir));
    logFile = ownLogFile_.get();
  }
  nightsLog_ = std::make_unique<web::NightBookLog>(*logFile, nights_);
  healthLog_ = std::make_unique<watch::HealthLog>(*nightsLog_, health_);
  relayLog_ = std::make_unique<RelayLog>(*healthLog_);
  fanOut_ = std::make_unique<FanOut>();
  fanOut_->views.push_back(&options_.view);
  relayView_ = std::make_unique<RelayView>(*fanOut_);
  session_ = std::make_unique<playback::ShowSession>(
      playback::ShowSession::Devices{options_.port, options_.audio, options_.ui, options_.clock,
                                     *relayLog_, options_.now},
      playback::ShowSession::FrontEnd{showRunning_, options_.settings, options_.playlist,
                                      *relayView_},
      options_.fadeTimings != nullptr ? *options_.fadeTimings : sequence_format::kFadeTimingTable);
  session_->SetCalendar(calendar_);
  // The watch hears every event of the show, once it keeps one.
  session_->Subscribe([this](const playback::ShowEvent& event) {
    if (watchdog_) watchdog_->Heard(event);
  });
  controls_ = std::make_unique<PageButtons>(*this);
  page_ = std::make_unique<web::ShowPage>(web::ShowPage::Show{
      [this] { return State(); }, options_.clock, &health_, options_.wallNow, &nights_});
  const std::string settingsPath = options_.dir + "/" + web::kSettingsFileName;
  SettingsSeen seen = LookAtSettings(settingsPath);
  webText_ = std::move(seen.web);
  alertsText_ = std::move(seen.alerts);
  calendarText_ = FileText(options_.dir + "/calendar.toml");
}

ShowHost::~ShowHost() {
  // The server answers from the show and the show writes through the watch:
  // each goes before what it uses.
  server_.reset();
  api_.reset();
  page_.reset();
  session_.reset();
}

watch::ShowWatchdog& ShowHost::KeepWatch(watch::WatchdogOptions options) {
  options.dir = options_.dir;
  options.calendar = &calendar_;
  if (!options.notice && options_.notice) options.notice = options_.notice;
  watchdog_ = std::make_unique<watch::ShowWatchdog>(std::move(options), *healthLog_, options_.ui,
                                                    options_.settings, options_.playlist, &health_);
  watchdog_->portInUse = [this] { return session_->IsPortOpen(); };
  relayLog_->PointTo(watchdog_->Log());
  relayView_->PointTo(watchdog_->View(*fanOut_));
  return *watchdog_;
}

void ShowHost::Say(const std::string& text) {
  if (options_.notice) options_.notice(text);
}

void ShowHost::ServePhonePage() {
  pageWanted_ = true;
  TryServing();
}

void ShowHost::PageOff(const std::string& why) {
  if (why == pageOff_) return;
  pageOff_ = why;
  Say("The phone page stays off: " + why);
  Log(playback::show_event::PhonePageOff(why));
}

void ShowHost::TryServing() {
  const auto settings = web::ReadWebSettings(options_.dir);
  if (!settings) {
    PageOff(settings.message());
    return;
  }
  if (!settings.value().enabled) return;
  // Two shows on one folder: the page is the one that runs the show's, or
  // its Stop and Start would act on a show that is not playing.
  if (const std::optional<std::string> other = options_.otherShow()) {
    PageOff("the other show serves it. " + *other);
    return;
  }
  // Once, before the first client: from then on the page's nights come from
  // the lines as they are written, and no request reads the log.
  if (!nights_.Seeded()) nights_.SeedFrom(options_.dir);
  api_ = std::make_unique<web::Api>(
      *page_, *controls_, settings.value().token, std::chrono::steady_clock::now,
      [this](const std::string& line) { Log(std::string_view(line)); });
  server_ = std::make_unique<web::WebServer>(*api_);
  const auto address = web::ParseListenAddress(settings.value().listen);
  const platform::Status listening = address ? server_->Listen(address.value()) : address.status();
  if (!listening) {
    StopServing();
    PageOff(listening.message());
    return;
  }
  pageOff_.clear();
  address_ = "http://" + address.value().host + ":" + std::to_string(server_->Port()) + "/";
  everyAddress_ = address.value().host == "0.0.0.0";
  web::ListenAddress served = address.value();
  served.port = server_->Port();
  link_ = web::ReadyLink(served, settings.value().token);
  loopbackOnly_ = web::LoopbackOnly(served);
  Log(playback::show_event::PhonePageOn(address_));
  WarnWithoutToken(address.value(), settings.value().token);
  if (onPhonePage) onPhonePage(address_);
}

// Beyond the loopback, whoever reaches the machine reaches the page: said
// at every start of serving, as long as it stays so.
void ShowHost::WarnWithoutToken(const web::ListenAddress& address, const std::string& token) {
  if (!token.empty() || address.host.starts_with("127.")) return;
  const std::string warning = "The phone page listens on " + address.host +
                              " without a token: anyone who can reach this machine sees the "
                              "show's status, and nobody can change it from the page. "
                              "'glimmer web --enable --lan' sets a token.";
  Say(warning);
  Log(playback::show_event::Said(warning));
}

void ShowHost::StopServing() {
  const bool wasServing = !address_.empty();
  server_.reset();
  api_.reset();
  address_.clear();
  everyAddress_ = false;
  link_.clear();
  loopbackOnly_ = false;
  if (wasServing && onPhonePage) onPhonePage(address_);
}

web::ControlSink& ShowHost::PageControls() {
  return *controls_;
}

int ShowHost::WakeFd() const {
  return server_ ? server_->WakeFd() : -1;
}

void ShowHost::Subscribe(playback::ShowView& view) {
  fanOut_->views.push_back(&view);
}

platform::Status ShowHost::CanStart() const {
  if (InShow()) return platform::Status::Error("the show is already running");
  if (startAsked_) return platform::Status::Error("the show is already starting");
  if (const std::optional<std::string> other = options_.otherShow()) {
    return platform::Status::Error(*other + " This one does not start.");
  }
  if (options_.canStart) {
    if (platform::Status can = options_.canStart(); !can) return can;
  }
  // Nothing could ever play: said at once, not after waiting for the window.
  if (options_.playlist.RowCount() <= 0) {
    return platform::Status::Error(playback::kEmptyPlaylistMessage);
  }
  return platform::Status::Ok();
}

platform::Status ShowHost::Start(const playback::Origin& who) {
  // The front end's own Start takes the place of one asked from afar.
  startAsked_ = false;
  platform::Status can = CanStart();
  if (!can) {
    if (options_.playlist.RowCount() <= 0) {
      options_.ui.ShowMessage(can.message());
      Log(playback::show_event::ShowEnded("the playlist is empty"));
    }
    return can;
  }
  session_->Start(who);
  return platform::Status::Ok();
}

platform::Status ShowHost::AskStart(const playback::Origin& who) {
  if (platform::Status can = CanStart(); !can) return can;
  startAsked_ = true;
  asked_ = who;
  if (options_.startAsked) options_.startAsked();
  return platform::Status::Ok();
}

void ShowHost::RunAskedStart() {
  if (!startAsked_) return;
  startAsked_ = false;
  (void)Start(asked_);
}

platform::Status ShowHost::Stop(const playback::Origin& who) {
  if (!InShow() || !showRunning_) return platform::Status::Error("the show is not running");
  session_->Stop(who);
  return platform::Status::Ok();
}

platform::Status ShowHost::StopAfterSong(const playback::Origin& who) {
  if (!InShow() || !showRunning_) return platform::Status::Error("the show is not running");
  // Waiting for its window, nothing plays whose end could be waited for.
  if (!PlayingNow()) return Stop(who);
  session_->StopAfterSong(who);
  Log(playback::show_event::StopAfterSongAsked(who.name));
  return platform::Status::Ok();
}

platform::Status ShowHost::Skip(const playback::Origin& who) {
  if (!PlayingNow()) return platform::Status::Error("nothing is playing");
  session_->Skip(who);
  Log(playback::show_event::SkipAsked(who.name));
  return platform::Status::Ok();
}

void ShowHost::CloseNow(const playback::Origin& who) {
  session_->CloseNow(who);
}

bool ShowHost::InShow() const {
  return session_->State().phase != playback::ShowState::Phase::Stopped;
}

bool ShowHost::PlayingNow() const {
  // The player closes the audio between entries and while the show waits.
  const playback::ShowState& state = session_->State();
  return state.phase == playback::ShowState::Phase::Playing && state.playing &&
         options_.audio.DurationSeconds() > 0;
}

bool ShowHost::LineAlive() const {
  return session_->State().phase == playback::ShowState::Phase::Playing && session_->IsPortOpen();
}

playback::ShowState ShowHost::State() const {
  playback::ShowState state = session_->State();
  const playback::ShowSettings settings = options_.settings.CurrentSettings();
  if (startAsked_ && state.phase == playback::ShowState::Phase::Stopped &&
      options_.playlist.RowCount() > 0) {
    // About to start: the state the start leads to, as the session will
    // find it, so the answer to the Start tells what it did.
    state.phase = calendar_.InsideNow(settings, options_.clock)
                      ? playback::ShowState::Phase::Playing
                      : playback::ShowState::Phase::Waiting;
    state.next = playback::ShowState::Entry{0, options_.playlist.EntryAt(0).ListText};
  }
  if (state.playing && options_.audio.DurationSeconds() > 0) {
    // Between the keep-alives the song moves on: its time as heard now.
    const double length = options_.audio.DurationSeconds();
    state.playing->elapsedSeconds = options_.audio.PositionSeconds();
    state.playing->remainingSeconds = std::max(0.0, length - state.playing->elapsedSeconds);
  }
  // A show keeps the night its pass began in; otherwise the calendar tells
  // tonight's, or the next, as it reads now.
  if (!state.window.open || state.phase == playback::ShowState::Phase::Stopped) {
    playback::ShowState::Window window;
    window.startText = settings.startTime.Text();
    window.endText = settings.endTime.Text();
    if (const auto night = calendar_.TonightOrNext(settings, options_.clock)) {
      window.start = night->start;
      window.end = night->end;
      window.volumePercent = night->volumePercent;
      window.startText = night->startText;
      window.endText = night->endText;
      window.nextOpeningText = night->opensText;
    }
    window.open = calendar_.InsideNow(settings, options_.clock);
    window.problem = calendar_.Problem();
    state.window = window;
  }
  return state;
}

std::string ShowHost::NextShowLine() {
  const std::string problem = calendar_.Problem();
  if (!problem.empty()) return playback::CalendarRefusedText(problem);
  const auto night = calendar_.TonightOrNext(options_.settings.CurrentSettings(), options_.clock);
  if (!night) return {};
  return playback::NextShowLine(*night, options_.clock.UnixSeconds());
}

void ShowHost::Poll() {
  // A request may stop the show, whose stopping yields to the front end's
  // events again: nothing here runs inside its own poll.
  if (serving_) return;
  serving_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } const done{serving_};
  if (watchdog_) watchdog_->Poll();
  if (server_) server_->Poll();
  LookAtFiles();
}

// settings.toml and calendar.toml are looked at once a second: what the
// host can take up it takes, the rest it says needs a restart.
void ShowHost::LookAtFiles() {
  const std::int64_t now = options_.clock.UnixSeconds();
  if (now == lastLook_) return;
  lastLook_ = now;
  const std::string settingsPath = options_.dir + "/" + web::kSettingsFileName;
  SettingsSeen seen = LookAtSettings(settingsPath);
  if (seen.web != webText_) {
    webText_ = std::move(seen.web);
    if (pageWanted_) {
      StopServing();
      pageOff_.clear();
      TryServing();
    }
  } else if (pageWanted_) {
    LookAtOtherShows();
  }
  if (seen.alerts != alertsText_) {
    alertsText_ = std::move(seen.alerts);
    if (watchdog_) {
      Say("settings.toml's [alerts] changed: the player takes it up when it starts again");
    }
  }
  std::string calendarText = FileText(options_.dir + "/calendar.toml");
  if (calendarText == calendarText_) return;
  if (InShow()) {
    // Told once per change; the show under way keeps the nights it has.
    calendarText_ = std::move(calendarText);
    Say("calendar.toml changed: the show takes it up at its next Start");
    return;
  }
  ReadCalendarAgain();
  if (onCalendarChanged) onCalendarChanged();
}

// Another show on the folder takes the page over while it runs; once it has
// ended, or a port that was busy is free, the page is served here again.
void ShowHost::LookAtOtherShows() {
  // Nothing to serve, or a mistake that has been said.
  if (webText_.empty() || webText_.starts_with("mistake: ")) return;
  if (server_ && options_.otherShow()) {
    StopServing();
    TryServing();
  } else if (!server_) {
    TryServing();
  }
}

// A show under way keeps the calendar it started with; a new Start reads the
// file again.
void ShowHost::ReadCalendarAgain() {
  if (InShow()) return;
  calendarText_ = FileText(options_.dir + "/calendar.toml");
  calendar_.Reload();
}

}  // namespace host
