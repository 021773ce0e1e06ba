// The same show run through each front end's wiring (the window and
// `glimmer show`) must leave the host, the phone page and the log in the
// same state: the front ends only render and forward.
#include <memory>
#include <string>
#include <vector>

#include "calendar/local_time.h"
#include "host/show_host.h"
#include "playback/show_scheduler.h"
#include "tests/calendar/time_zone.h"
#include "tests/shell/window_fixture.h"
#include "tools/glimmer/headless_show.h"

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

std::string Name(const ::testing::TestParamInfo<FrontEndKind>& info) {
  return std::string(info.param.name) == "window" ? "Window" : "GlimmerShow";
}

INSTANTIATE_TEST_SUITE_P(EachFrontEnd, FrontEndsTest, ::testing::ValuesIn(kFrontEnds), Name);
INSTANTIATE_TEST_SUITE_P(EachFrontEnd, CalendarFrontEndsTest, ::testing::ValuesIn(kFrontEnds),
                         Name);

}  // namespace
}  // namespace shelltest
