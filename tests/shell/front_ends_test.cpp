// The same show run through each front end's wiring (the window and
// `glimmer show`) must leave the host, the phone page and the log in the
// same state: the front ends only render and forward.
#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "calendar/local_time.h"
#include "host/show_host.h"
#include "playback/show_scheduler.h"
#include "tests/calendar/time_zone.h"
#include "tests/shell/window_fixture.h"
#include "tools/glimmer/headless_show.h"
#include "web/api.h"

namespace shelltest {
namespace {

// A front end that only records what the host tells it.
struct RecordingView final : playback::ShowView {
  void ShowStarted() override { events.push_back("started"); }
  void ShowEnded() override { events.push_back("ended"); }
  void StatusChanged(const std::string& text) override { status = text; }
  void NoticeAdded(const std::string& text) override { notices.push_back(text); }
  std::vector<std::string> events;
  std::string status;
  std::vector<std::string> notices;
};

// One front end over the fixture's fakes.
class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  virtual host::ShowHost& Host() = 0;
  // Start as its operator does; returns when the show has ended, with the
  // program's exit status where it has one.
  virtual int StartShow() = 0;
  // The status line it shows.
  virtual std::string StatusShown() = 0;
};

class FrontEndsTest;
struct FrontEndKind;
// The front end's name where a test's parameter is printed (its ctest name).
void PrintTo(const FrontEndKind& kind, std::ostream* out);

struct FrontEndKind {
  const char* name;
  std::unique_ptr<FrontEnd> (*make)(FrontEndsTest&);
};

class FrontEndsTest : public WindowTest, public ::testing::WithParamInterface<FrontEndKind> {
 public:
  // What the front ends build on.
  using WindowTest::audio;
  using WindowTest::Button;
  using WindowTest::clock;
  using WindowTest::dir;
  using WindowTest::files;
  using WindowTest::port;
  using WindowTest::Start;
  using WindowTest::ui;
  using WindowTest::window;

 protected:
  // `count` songs of `seconds` each, "Song 1" first; every poll of the audio
  // moves it and the clock on by 100 ms. 6 PM, inside 5:30 PM to 11 PM.
  void Songs(int count, double seconds) {
    std::filesystem::create_directories(dir.File("Cache"));
    std::vector<playlist::PlaylistEntry> entries;
    for (int i = 1; i <= count; ++i) {
      const std::string name = "Song" + std::to_string(i);
      entries.push_back({dir.File(name + ".wav"), dir.File("Cache/" + name + ".csq"),
                         "Song " + std::to_string(i), playlist::kProgramVersion,
                         "/shows/" + name + ".msq"});
      WriteBytes(entries.back().AudioPath, "RIFF");
      fakes::FakeFileStore cacheFiles;
      ASSERT_TRUE(sequence_format::SaveSequenceCache(
          sequence_format::EventTable::FromRecords({playback_test::Level(2000, i)}),
          entries.back().CachePath, cacheFiles));
    }
    WritePlaylist(entries);
    audio.duration = seconds;
    audio.onPoll = [this, seconds](fakes::FakeAudioPlayer& a) {
      a.position += 0.1;
      clock.Advance(100);
      if (onSong) onSong(static_cast<int>(a.opened.size()), a.position);
      if (a.position >= seconds - 1e-9) a.state = platform::kPlayStateStopped;
    };
    clock.SetTimeOfDay(18, 0, 0);
  }
  void Make() {
    front = GetParam().make(*this);
    front->Host().Subscribe(recorder);
  }
  std::string Log() const { return ReadBytes(dir.File("show.log")); }
  static bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  // Runs at every poll of the audio: which entry (1 first) and where.
  std::function<void(int, double)> onSong;
  RecordingView recorder;
  std::unique_ptr<FrontEnd> front;
};

class WindowFrontEnd final : public FrontEnd {
 public:
  explicit WindowFrontEnd(FrontEndsTest& t) : t_(t) { t_.Start(); }
  host::ShowHost& Host() override { return t_.window->Host(); }
  int StartShow() override {
    t_.Button("cmdShowStart").click();
    return 0;
  }
  std::string StatusShown() override { return t_.window->StatusText(); }

 private:
  FrontEndsTest& t_;
};

class GlimmerShowFrontEnd final : public FrontEnd {
 public:
  explicit GlimmerShowFrontEnd(FrontEndsTest& t)
      : show_({.dir = t.dir.path().string(),
               .portOverride = 0,
               .port = t.port,
               .audio = t.audio,
               .ui = t.ui,
               .clock = t.clock,
               .files = t.files,
               .view = console_}) {}
  host::ShowHost& Host() override { return show_.Host(); }
  int StartShow() override {
    return show_.Run([] { return false; });
  }
  std::string StatusShown() override { return console_.status; }

 private:
  RecordingView console_;
  glimmer::HeadlessShow show_;
};

// The window's page said "playing": null while songs played, refused Skip,
// and stopped a 25 s song 12 s in on "Stop after song".
TEST_P(FrontEndsTest, ThePageSeesWhatPlaysSkipsItAndStopsAtTheEndOfTheSong) {
  Songs(3, 25.0);
  Make();
  host::ShowHost& host = front->Host();
  web::ShowStatus whilePlaying;
  platform::Status skipped = platform::Status::Error("not asked");
  platform::Status stopAfter = platform::Status::Error("not asked");
  double stoppedAt = 0;
  bool asking = false;  // the page's status reads the audio's position too
  onSong = [&](int entry, double position) {
    if (asking) return;
    asking = true;
    if (entry == 1 && position > 12.0 && !skipped) {
      whilePlaying = host.PageStatus().Status();
      skipped = host.PageControls().Skip("phone page");
    } else if (entry == 2 && position > 12.0 && !stopAfter) {
      stopAfter = host.PageControls().StopAfterSong("phone page");
    }
    stoppedAt = position;
    asking = false;
  };
  EXPECT_EQ(front->StartShow(), 0);

  EXPECT_EQ(whilePlaying.state, web::ShowState::Running);
  ASSERT_TRUE(whilePlaying.playing.has_value());
  EXPECT_EQ(whilePlaying.playing->entry.title, "Song 1");
  ASSERT_TRUE(whilePlaying.next.has_value());
  EXPECT_EQ(whilePlaying.next->title, "Song 2");
  EXPECT_TRUE(skipped) << skipped.message();
  EXPECT_TRUE(stopAfter) << stopAfter.message();
  // Song 2 played to its end; Song 3 never started.
  EXPECT_NEAR(stoppedAt, 25.0, 0.05);
  EXPECT_EQ(audio.opened.size(), 2u);
  const std::string log = Log();
  EXPECT_TRUE(Has(log, "Entry 1 skipped: skipped on request")) << log;
  EXPECT_TRUE(Has(log, "Entry 2 finished")) << log;
  EXPECT_TRUE(Has(log, "Show stopped (phone page)")) << log;
  EXPECT_FALSE(host.ShowRunning());
  EXPECT_EQ(host.PageStatus().Status().state, web::ShowState::Stopped);
  EXPECT_EQ(front->StatusShown(), playback::kStoppedText);
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"started", "ended"}));
  EXPECT_EQ(recorder.status, playback::kStoppedText);
  EXPECT_FALSE(host.PageControls().Skip("phone page"));
}

// Start took an empty playlist without a word and waited for the window.
TEST_P(FrontEndsTest, StartWithAnEmptyPlaylistSaysSoAndDoesNotWait) {
  clock.SetTimeOfDay(12, 0, 0);  // outside 5:30 PM to 11 PM
  Make();
  const long long before = clock.ms;
  const int exitStatus = front->StartShow();

  EXPECT_EQ(exitStatus, std::string(GetParam().name) == "glimmer show" ? 1 : 0);
  EXPECT_EQ(ui.messages, std::vector<std::string>{playback::kEmptyPlaylistMessage});
  EXPECT_EQ(clock.ms, before);
  EXPECT_TRUE(recorder.events.empty());
  EXPECT_FALSE(Has(Log(), "Show started")) << Log();
  EXPECT_TRUE(Has(Log(), "Show ended: the playlist is empty")) << Log();
  EXPECT_EQ(front->Host().PageControls().Start("phone page").message(),
            playback::kEmptyPlaylistMessage);
}

// What /api/status answers, read back from its JSON.
nlohmann::json ApiStatus(host::ShowHost& host) {
  web::Api api(host.PageStatus(), host.PageControls(), "", std::chrono::steady_clock::now,
               [](const std::string&) {});
  const web::Response response = api.Handle({"GET", "/api/status", {}, "", "127.0.0.1", ""});
  EXPECT_EQ(response.status, 200);
  return nlohmann::json::parse(response.body);
}

// The page kept a state of its own beside the show's: the answer of
// /api/status must be the show's one state at that moment.
void ExpectApiTells(const playback::ShowState& state, const nlohmann::json& json) {
  using Phase = playback::ShowState::Phase;
  const char* phase = state.phase == Phase::Playing   ? "running"
                      : state.phase == Phase::Waiting ? "paused"
                                                      : "stopped";
  EXPECT_EQ(json["state"], phase);
  if (state.playing) {
    ASSERT_TRUE(json["playing"].is_object()) << json.dump();
    EXPECT_EQ(json["playing"]["row"], state.playing->entry.row);
    EXPECT_EQ(json["playing"]["title"], state.playing->entry.listText);
    // Each read of the fake audio's position is a poll that moves it 100 ms.
    EXPECT_NEAR(json["playing"]["position"].get<double>(), state.playing->elapsedSeconds, 0.1001);
  } else {
    EXPECT_TRUE(json["playing"].is_null()) << json.dump();
  }
  if (state.next && state.phase != Phase::Stopped) {
    EXPECT_EQ(json["next"]["row"], state.next->row) << json.dump();
  } else {
    EXPECT_TRUE(json["next"].is_null()) << json.dump();
  }
  EXPECT_EQ(json["window"]["openNow"], state.window.open);
  EXPECT_EQ(json["window"]["start"], state.window.startText);
  EXPECT_EQ(json["window"]["end"], state.window.endText);
  EXPECT_EQ(json["window"]["problem"], state.window.problem);
  EXPECT_EQ(json["keepAlive"]["lastGapSeconds"], std::max(0, state.keepAliveGapSeconds));
  EXPECT_EQ(json["keepAlive"]["lateCount"], state.lateKeepAlives);
  EXPECT_EQ(json["stopAfterSong"], state.stopAfterSongAsked);
  EXPECT_EQ(json["notice"], state.latestNotice);
  if (state.line.portLost) {
    EXPECT_EQ(json["line"]["ok"], false) << json.dump();
  }
}

TEST_P(FrontEndsTest, TheApiTellsTheShowsOneStateWhilePlayingWaitingAndWithoutItsPort) {
  enum class Moment { Playing, Waiting, PortLost };
  struct Case {
    Moment moment;
    const char* state;
  };
  const Case cases[] = {
      {Moment::Playing, "running"}, {Moment::Waiting, "paused"}, {Moment::PortLost, "running"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state + std::string(c.moment == Moment::PortLost ? " without its port" : ""));
    Songs(2, 25.0);
    if (c.moment == Moment::Waiting) clock.SetTimeOfDay(12, 0, 0);
    port.writeError.clear();
    port.openError.clear();
    Make();
    host::ShowHost& host = front->Host();
    std::optional<playback::ShowState> seen;
    nlohmann::json told;
    bool probing = false;
    const auto probe = [&](bool playing, double position) {
      if (seen || probing) return;
      probing = true;
      const playback::ShowState state = host.State();
      const bool ready = c.moment == Moment::Playing ? playing && position > 5.0
                         : c.moment == Moment::Waiting
                             ? state.phase == playback::ShowState::Phase::Waiting
                             : state.line.portLost;
      if (c.moment == Moment::PortLost && playing && position > 5.0) {
        port.writeError = "device unplugged";
        port.openError = "no such device";
      }
      if (ready) {
        seen = state;
        told = ApiStatus(host);
        EXPECT_TRUE(host.PageControls().Stop("phone page"));
      }
      probing = false;
    };
    onSong = [&](int, double position) { probe(true, position); };
    ui.onDoEvents = [&](int) { probe(false, 0); };
    front->StartShow();
    ui.onDoEvents = nullptr;
    onSong = nullptr;

    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(told["state"], c.state) << told.dump();
    ExpectApiTells(*seen, told);
    switch (c.moment) {
      case Moment::Playing:
        ASSERT_TRUE(seen->playing.has_value());
        EXPECT_EQ(seen->playing->entry.listText, "Song 1");
        EXPECT_EQ(told["next"]["title"], "Song 2");
        EXPECT_NEAR(told["playing"]["length"].get<double>(), 25.0, 1e-9);
        break;
      case Moment::Waiting:
        // Noon: the window opens at 5:30 PM, and the pass at the first row.
        EXPECT_EQ(told["window"]["opensInSeconds"], 5 * 3600 + 30 * 60) << told.dump();
        EXPECT_EQ(told["next"]["title"], "Song 1");
        break;
      case Moment::PortLost:
        EXPECT_FALSE(seen->line.portOpen);
        EXPECT_EQ(told["line"]["ok"], false);
        EXPECT_NE(told["line"]["summary"].get<std::string>().find("device unplugged"),
                  std::string::npos)
            << told.dump();
        break;
    }
    // Stopped, the show and the page agree again.
    ExpectApiTells(host.State(), ApiStatus(host));
    EXPECT_EQ(ApiStatus(host)["state"], "stopped");
    front.reset();
  }
}

class CalendarFrontEndsTest : public FrontEndsTest {
 protected:
  calendar_test::ScopedTimeZone zone{"Europe/Amsterdam"};
};

// The page showed the greyed lists' window ("Open now, until 11:59:59 PM")
// and the line under the status named tomorrow during tonight's night.
TEST_P(CalendarFrontEndsTest, ThePageAndTheNextShowTellTheCalendarsNightAndItsMistake) {
  WriteBytes(dir.File("calendar.toml"),
             "[[show]]\ndays = [\"Fri\"]\nstart = \"6:00 PM\"\nend = \"1:00 AM\"\nvolume = 80\n");
  struct Case {
    int hour;
    bool openNow;
    const char* nextShow;
  };
  const Case cases[] = {
      {12, false, "Next show: Fri 4 Dec, 6:00 PM"},
      {19, true, "Next show: Fri 4 Dec, 6:00 PM, open until 1:00 AM"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hour);
    clock.ms = calendar::LocalMoment({2026, 12, 4}, c.hour * 3600) * 1000;
    Make();
    const web::ShowStatus status = front->Host().PageStatus().Status();
    ASSERT_TRUE(status.window.has_value());
    EXPECT_EQ(status.window->start, "6:00 PM");
    EXPECT_EQ(status.window->end, "1:00 AM");
    EXPECT_EQ(status.window->openNow, c.openNow);
    EXPECT_EQ(status.window->problem, "");
    EXPECT_EQ(front->Host().NextShowLine(), c.nextShow);
  }

  // A mistake: the page and the line under the status say it.
  WriteBytes(dir.File("calendar.toml"), "[[show]]\nstart = \"6:00 PM\"\n");
  Make();
  const std::string problem =
      "calendar.toml line 1: [[show]]: end is missing; a show needs start and end, or off = true";
  EXPECT_EQ(front->Host().PageStatus().Status().window->problem, problem);
  EXPECT_EQ(front->Host().NextShowLine(), playback::CalendarRefusedText(problem));
}

const FrontEndKind kFrontEnds[] = {
    {"window",
     [](FrontEndsTest& t) -> std::unique_ptr<FrontEnd> {
       return std::make_unique<WindowFrontEnd>(t);
     }},
    {"glimmer show",
     [](FrontEndsTest& t) -> std::unique_ptr<FrontEnd> {
       return std::make_unique<GlimmerShowFrontEnd>(t);
     }},
};

void PrintTo(const FrontEndKind& kind, std::ostream* out) {
  *out << kind.name;
}

std::string Name(const ::testing::TestParamInfo<FrontEndKind>& info) {
  return std::string(info.param.name) == "window" ? "Window" : "GlimmerShow";
}

INSTANTIATE_TEST_SUITE_P(EachFrontEnd, FrontEndsTest, ::testing::ValuesIn(kFrontEnds), Name);
INSTANTIATE_TEST_SUITE_P(EachFrontEnd, CalendarFrontEndsTest, ::testing::ValuesIn(kFrontEnds),
                         Name);

}  // namespace
}  // namespace shelltest
