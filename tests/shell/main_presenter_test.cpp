// What every main window shows and asks, tested once on a fake view: the
// Qt window and the Windows window render exactly this.
#include "shell/main_presenter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "calendar/local_time.h"
#include "import/import_driver.h"
#include "playback/calendar_file_window.h"
#include "playback/show_scheduler.h"
#include "qr/qr_code.h"
#include "sequence_format/sequence_cache.h"
#include "shell/colours.h"
#include "shell/main_texts.h"
#include "tests/calendar/time_zone.h"
#include "tests/fakes/fake_audio_player.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_main_view.h"
#include "tests/fakes/fake_process_launcher.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_serial_port.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/sequence_document.h"
#include "tests/fakes/temp_dir.h"
#include "tests/playback/playback_rig.h"
#include "tests/web/http_client.h"

namespace {

using shell::Control;
using Phase = playback::ShowState::Phase;

constexpr const char* kDefaultPreferences =
    "1\r\n115200\r\n5\r\n5:30:00 PM\r\n11:00:00 PM\r\n0\r\nc:\\\r\n";

class PresenterTest : public ::testing::Test {
 protected:
  static constexpr int kPollsAtMost = 1000;

  PresenterTest() {
    registry.PutString("SOFTWARE\\Classes\\Applications\\SpectrumSequencer.exe\\shell",
                       "FriendlyCache", "Spectrum");
  }

  void Build() {
    presenter = std::make_unique<shell::MainPresenter>(
        shell::MainServices{
            ui, clock, port, audio, registry, files, launcher, dir.path().string(),
            [](const shell::RegistryTextReader&) { return std::string("/opt/extract"); },
            [this](int code) { endCodes.push_back(code); },
            [](int number) { return "COM" + std::to_string(number); }, registryExists},
        view);
  }
  void Start() {
    fakes::WriteBytes(dir.File("preferences.txt"), kDefaultPreferences);
    Build();
    presenter->Load();
  }

  // One entry whose compiled sequence holds `rows` and whose song lasts
  // `seconds`; each poll of the audio moves it and the clock on by 100 ms.
  void OneEntryPlaylist(double seconds) {
    std::filesystem::create_directories(dir.File("Cache"));
    const playlist::PlaylistEntry entry{dir.File("Carol.wav"), dir.File("Cache/Carol.csq"), "Carol",
                                        playlist::kProgramVersion, "/shows/Carol.msq"};
    fakes::WriteBytes(entry.AudioPath, "RIFF");
    fakes::FakeFileStore cacheFiles;
    ASSERT_TRUE(sequence_format::SaveSequenceCache(
        sequence_format::EventTable::FromRecords({playback_test::Level(20000, 1)}), entry.CachePath,
        cacheFiles));
    const std::vector<const playlist::PlaylistEntry*> entries = {&entry};
    fakes::WriteBytes(dir.File("playlist.txt"), playlist::FormatPlaylistFile(entries));
    audio.duration = seconds;
    audio.polls = 0;
    audio.onPoll = [this, seconds](fakes::FakeAudioPlayer& a) {
      a.position += 0.1;
      clock.Advance(100);
      if (a.position >= seconds - 1e-9) a.state = platform::kPlayStateStopped;
      if (onPoll) onPoll(a.polls);
      // A test that misses its moment ends the show instead of hanging.
      if (a.polls == kPollsAtMost) {
        ADD_FAILURE() << "the show was still playing after " << kPollsAtMost << " polls";
        presenter->Stop();
      }
    };
    clock.SetTimeOfDay(18, 0, 0);  // inside the default 5:30 PM to 11:00 PM
  }

  std::string Faces() const {
    return std::string(view.Face(Control::Start) == shell::kButtonHighlight ? "Start" : "") +
           (view.Face(Control::Stop) == shell::kButtonHighlight ? "Stop" : "");
  }
  std::string EnabledColumn() const {
    std::string column;
    for (const Control control : shell::kStateControls) column += view.Enabled(control) ? '1' : '0';
    return column;
  }

  fakes::TempDir dir;
  fakes::FakeUserInterface ui;
  fakes::FakeClock clock;
  fakes::FakeSerialPort port;
  fakes::FakeAudioPlayer audio;
  fakes::FakeRegistry registry;
  fakes::FakeFileStore files;
  fakes::FakeProcessLauncher launcher;
  fakes::FakeMainView view;
  bool registryExists = true;
  std::vector<int> endCodes;
  std::function<void(int)> onPoll;
  std::unique_ptr<shell::MainPresenter> presenter;
};

TEST(PresenterTexts, StatusTextAndHighlightedButtonFollowThePhase) {
  // The phase; its status text; the button it highlights (none: unchanged).
  const std::tuple<Phase, const char*, std::optional<Control>> cases[] = {
      {Phase::Stopped, playback::kStoppedText, Control::Stop},
      {Phase::Playing, playback::kRunningText, Control::Start},
      {Phase::Waiting, playback::kPausedText, std::nullopt},
  };
  for (const auto& [phase, text, button] : cases) {
    EXPECT_STREQ(shell::StatusTextOf(phase), text);
    EXPECT_EQ(shell::HighlightedButton(text), button) << text;
  }
  // The import's own texts leave the faces; "Running" decides over "Stopped".
  EXPECT_EQ(shell::HighlightedButton(importer::kImportingStatus), std::nullopt);
  EXPECT_EQ(shell::HighlightedButton(importer::kImportFailedStatus), std::nullopt);
  EXPECT_EQ(shell::HighlightedButton("Stopped, Running again"), Control::Start);
  EXPECT_EQ(shell::HighlightedButton("stopped running"), std::nullopt);
}

TEST(PresenterTexts, PlayingTimeCountsWholeSecondsBothWays) {
  const std::tuple<double, std::optional<double>, const char*> cases[] = {
      {0.0, 185.0, "0:00 played, 3:05 to go"},
      {65.4, 129.6, "1:05 played, 2:10 to go"},
      {599.6, 0.0, "10:00 played, 0:00 to go"},
      {12.0, std::nullopt, "0:12 played"},  // the length is not known yet
      {-0.3, 4.0, "0:00 played, 0:04 to go"},
  };
  for (const auto& [elapsed, remaining, text] : cases) {
    playback::ShowState::Playing playing;
    playing.elapsedSeconds = elapsed;
    playing.remainingSeconds = remaining;
    EXPECT_EQ(shell::PlayingTimeText(playing), text);
  }
}

TEST(PresenterTexts, GoodNewsIsNotShownInTheAlarmColour) {
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"Serial line at 115200 baud: on time (at most 3 ms late)", shell::kDarkGreen},
      {"6:00:00 PM  Serial port COM1 back: the lights follow the show again", shell::kDarkGreen},
      {"6:00:00 PM  Serial port COM1 lost: unplugged - the show goes on", shell::kDarkRed},
      {"Serial line at 56000 baud: up to 120 ms late", shell::kDarkRed},
      {"Plays silently: no audio device", shell::kDarkRed},
  };
  for (const auto& [notice, colour] : cases)
    EXPECT_EQ(shell::NoticeColour(notice), colour) << notice;
}

// The buttons and the time lists say what they do; with a calendar the
// time lists say who decides instead, and get their own back without it.
TEST_F(PresenterTest, ControlsCarryTheirToolTipsAndTheCalendarTakesOverTheTimeLists) {
  Start();
  const Control controls[] = {Control::Start,     Control::Stop,    Control::Add,
                              Control::Remove,    Control::MoveUp,  Control::MoveDown,
                              Control::StartTime, Control::EndTime, Control::FrameTiming};
  std::vector<std::string> seen;
  for (const Control control : controls) {
    const std::string& tip = view.ToolTip(control);
    EXPECT_EQ(tip, shell::ToolTipOf(control));
    EXPECT_FALSE(tip.empty()) << static_cast<int>(control);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), tip), 0) << tip;
    seen.push_back(tip);
  }
  fakes::WriteBytes(dir.File("calendar.toml"),
                    "[[show]]\ndays = [\"Fri\"]\nstart = \"6:00 PM\"\nend = \"1:00 AM\"\n");
  presenter->SetStoppedState();
  EXPECT_EQ(view.ToolTip(Control::StartTime), shell::kCalendarDecidesTip);
  EXPECT_EQ(view.ToolTip(Control::EndTime), shell::kCalendarDecidesTip);
  std::filesystem::remove(dir.File("calendar.toml"));
  presenter->SetStoppedState();
  EXPECT_EQ(view.ToolTip(Control::StartTime), shell::ToolTipOf(Control::StartTime));
}

TEST_F(PresenterTest, EachStateSetsItsControlsAndTheFacesFollowTheShow) {
  Build();
  EXPECT_EQ(Faces(), "Stop");  // before start-up
  Start();
  EXPECT_EQ(view.caption, "Glimmerfield Player (version " GLIMMER_VERSION ")");
  EXPECT_TRUE(view.shown);
  EXPECT_EQ(EnabledColumn(), "111111111110");
  presenter->SetBusyState();
  EXPECT_EQ(EnabledColumn(), "000000000000");
  presenter->SetRunningState();  // the frame timing is left as it was
  EXPECT_EQ(EnabledColumn(), "000000000001");
  presenter->SetStoppedState();
  EXPECT_EQ(EnabledColumn(), "111111111110");

  // A show through its phases: the status line is the phase's text, and
  // Start stays highlighted while the show waits for its window.
  OneEntryPlaylist(3.0);
  Start();
  clock.SetTimeOfDay(22, 59, 58);  // the song ends after the window has closed
  std::vector<std::string> seen;   // status text and faces at each change
  view.onStatus = [&](const std::string& text) {
    seen.push_back(text + " / " + Faces() + " / " + EnabledColumn());
    if (text == playback::kPausedText) presenter->Stop();
  };
  presenter->Start();
  EXPECT_EQ(seen, (std::vector<std::string>{
                      std::string(playback::kRunningText) + " / Start / 001000000001",
                      std::string(playback::kPausedText) + " / Start / 001000000001",
                      std::string(playback::kStoppedText) + " / Stop / 111111111110"}));
  EXPECT_EQ(Faces(), "Stop");
  EXPECT_EQ(EnabledColumn(), "111111111110");
  EXPECT_EQ(view.status.colour, shell::kOrange);
  EXPECT_EQ(view.nowPlaying, "");
}

// "Next show" while the show does not play: tonight's night while it is
// open (named by its own start, not tomorrow, without seconds or "now"), and
// it follows the lists and the calendar as they change.
TEST_F(PresenterTest, NextShowNamesTonightWhileItIsOpenAndFollowsChanges) {
  calendar_test::ScopedTimeZone zone{"UTC"};
  clock.SetTimeOfDay(18, 0, 5);  // Thursday 1 January 1970
  Start();
  EXPECT_EQ(view.notice.text, "Next show: Thu 1 Jan, 5:30 PM, open until 11:00 PM");

  const auto pick = [&](shell::Choice list, const std::string& text) {
    auto& l = view.lists[static_cast<std::size_t>(list)];
    l.selected =
        static_cast<int>(std::find(l.entries.begin(), l.entries.end(), text) - l.entries.begin());
    presenter->ChoiceChanged(list);
  };
  // What the operator does; the line under the status then.
  const std::tuple<std::function<void()>, std::string> steps[] = {
      {[&] { pick(shell::Choice::StartTime, "7:00:00 PM"); }, "Next show: Thu 1 Jan, 7:00 PM"},
      {[&] { pick(shell::Choice::EndTime, "6:00:00 PM"); }, ""},  // never opens
      {[&] { pick(shell::Choice::EndTime, "11:00:00 PM"); }, "Next show: Thu 1 Jan, 7:00 PM"},
      // Time passes into the window: the next tick says it is open.
      {[&] {
         clock.SetTimeOfDay(19, 30, 0);
         clock.Advance(1000);
         presenter->Tick();
       },
       "Next show: Thu 1 Jan, 7:00 PM, open until 11:00 PM"},
  };
  for (const auto& [act, line] : steps) {
    act();
    EXPECT_EQ(view.notice.text, line);
  }
  EXPECT_EQ(view.scheduleTitle, "Show Schedule");
  EXPECT_TRUE(view.Enabled(Control::StartTime));
}

TEST_F(PresenterTest, NextShowDuringTonightsCalendarNightPastMidnightNamesTonight) {
  calendar_test::ScopedTimeZone zone{"Europe/Amsterdam"};
  fakes::WriteBytes(dir.File("calendar.toml"),
                    "[[show]]\ndays = [\"Fri\"]\nstart = \"6:00 PM\"\nend = \"1:00 AM\"\n");
  // The moment; the line under the status.
  const std::tuple<int, int, std::string> cases[] = {
      {4, 12 * 3600, "Next show: Fri 4 Dec, 6:00 PM"},                      // Friday noon
      {4, 20 * 3600, "Next show: Fri 4 Dec, 6:00 PM, open until 1:00 AM"},  // Friday night
      {5, 1800, "Next show: Fri 4 Dec, 6:00 PM, open until 1:00 AM"},       // after midnight
      {5, 2 * 3600, "Next show: Fri 11 Dec, 6:00 PM"},                      // closed
  };
  for (const auto& [day, seconds, line] : cases) {
    clock.ms = calendar::LocalMoment({2026, 12, day}, seconds) * 1000;
    Start();
    EXPECT_EQ(view.notice.text, line) << day << " " << seconds;
    EXPECT_FALSE(view.Enabled(Control::StartTime));
    EXPECT_EQ(view.ToolTip(Control::EndTime), shell::kCalendarDecidesTip);
    EXPECT_EQ(view.scheduleTitle, "Show Schedule (calendar.toml in use)");
  }

  fakes::WriteBytes(dir.File("calendar.toml"), "[[show]]\nstart = \"6:00 PM\"\n");
  Start();
  EXPECT_EQ(view.notice.text, playback::CalendarRefusedText(
                                  "calendar.toml line 1: [[show]]: end is missing; a show needs "
                                  "start and end, or off = true"));
}

// The box says all is well only while the controllers hear the show: not
// after the port is lost, while paused or once stopped, whatever the last
// gap was.
TEST_F(PresenterTest, TheKeepAliveBoxIsGreenOnlyWhileTheControllersHearTheShow) {
  struct Case {
    const char* name;
    int breakAtPoll;                // 0: nothing breaks
    std::function<void()> breakIt;  // at that poll
    std::uint32_t afterBreak;       // Text1 at the next poll
  };
  const Case cases[] = {
      {"playing", 0, nullptr, shell::kGreen},
      {"port lost", 10, [this] { port.writeError = "unplugged"; }, shell::kWindowBackground},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OneEntryPlaylist(3.0);
    Start();
    std::uint32_t playing = 0, later = 0;
    onPoll = [&](int polls) {
      if (polls == 8) playing = view.keepAlive.background;
      if (c.breakIt && polls == c.breakAtPoll) c.breakIt();
      if (polls == 20) {
        presenter->Tick();
        later = view.keepAlive.background;
        presenter->Stop();
      }
    };
    presenter->Start();
    EXPECT_EQ(playing, shell::kGreen);
    EXPECT_EQ(later, c.afterBreak);
    // Stopped: never green.
    EXPECT_NE(view.keepAlive.background, shell::kGreen);
    EXPECT_EQ(view.lateCount.text, "0");
    port.writeError.clear();
  }
}

TEST_F(PresenterTest, KeepAliveGapsColourTheBoxAndCountTheLateOnes) {
  Start();
  // The gap; Text1's colour; Text2's text and colour.
  const std::tuple<int, std::uint32_t, std::string, std::uint32_t> steps[] = {
      {1, shell::kGreen, "0", shell::kWindowBackground},
      {2, shell::kRed, "1", shell::kRed},
      {3, shell::kRed, "2", shell::kRed},
      {3, shell::kRed, "3", shell::kRed},  // the same gap again is another late one
      {1, shell::kGreen, "3", shell::kRed},
  };
  for (const auto& [gap, colour, late, lateColour] : steps) {
    presenter->KeepAliveGap(gap, gap >= 2);
    EXPECT_EQ(view.keepAlive, (shell::CounterBox{std::to_string(gap), colour})) << gap;
    EXPECT_EQ(view.lateCount, (shell::CounterBox{late, lateColour})) << gap;
  }
  // No show hears it: the next look takes the green away.
  presenter->Tick();
  EXPECT_EQ(view.keepAlive.background, shell::kWindowBackground);
}

TEST_F(PresenterTest, WhatPlaysIsShownWithItsTimeAndClearedWhenTheShowStops) {
  OneEntryPlaylist(3.0);
  Start();
  std::string nowPlaying, time;
  onPoll = [&](int polls) {
    if (polls != 12) return;
    clock.Advance(1000);
    presenter->Tick();
    nowPlaying = view.nowPlaying;
    time = view.playingTime;
    presenter->Stop();
  };
  presenter->Start();
  EXPECT_EQ(nowPlaying, "Playlist entry 1 of 1\nCarol\n" + dir.File("Carol.wav"));
  EXPECT_EQ(time, "0:01 played, 0:02 to go");
  EXPECT_EQ(view.nowPlaying, "");
  EXPECT_EQ(view.playingTime, "");
}

// The import's prompts and what the window shows around them.
TEST_F(PresenterTest, AddAsksForTheArchiveAndKeepsTheWindowBusyWhileItImports) {
  struct Case {
    const char* name;
    std::optional<std::string> answer;  // the dialog's; nothing: cancelled
    bool archiverWrites;                // the document comes out of the archive
    int rows;                           // in the playlist afterwards
    std::size_t messages;
    std::string status;
  };
  const Case cases[] = {
      {"cancelled", std::nullopt, false, 0, 0, playback::kStoppedText},
      {"imported", std::string("/shows/Carol.msq"), true, 1, 0, importer::kReadyStatus},
      {"nothing in it", std::string("/shows/Empty.msq"), false, 0, 1,
       importer::kImportFailedStatus},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir.File("playlist.txt"));
    const std::string audioFile = dir.File("carol.wav");
    fakes::WriteBytes(audioFile, "RIFF");
    fakes::Sequence sequence;
    sequence.filePath = audioFile;
    sequence.controllers = {{"1", {{"1", {{"0", "1", "0", "255"}}}}}};
    bool busy = false;
    launcher.onRun = [&](const std::vector<std::string>& argv) {
      busy = view.importing && EnabledColumn() == "000000000000" &&
             presenter->StatusText() == importer::kImportingStatus;
      if (c.archiverWrites) fakes::WriteBytes(argv.at(4) + "Carol", fakes::ToXml(sequence));
    };
    Start();
    ui.messages.clear();
    ui.dialogs.clear();
    ui.dialogAnswers.push_back(c.answer);

    presenter->Add();

    ASSERT_EQ(ui.dialogs.size(), 1u);
    EXPECT_EQ(ui.dialogs[0].filter, importer::kSequenceFilter);
    EXPECT_EQ(ui.dialogs[0].title, importer::kAddSequenceTitle);
    EXPECT_EQ(ui.dialogs[0].initialFolder, "c:\\");
    EXPECT_EQ(busy, c.answer.has_value());
    EXPECT_EQ(presenter->PlaylistRowCount(), c.rows);
    EXPECT_EQ(ui.messages.size(), c.messages);
    EXPECT_EQ(presenter->StatusText(), c.status);
    // Back to stopped, the panel gone, the faces as before.
    EXPECT_FALSE(view.importing);
    EXPECT_EQ(EnabledColumn(), "111111111110");
    EXPECT_EQ(Faces(), "Stop");
    EXPECT_EQ(presenter->LastImportFolder(), c.answer ? "/shows/" : "c:\\");
  }
}

// A Start from the phone page runs from the window's loop, not inside the
// request, and is refused while an import holds the window.
TEST_F(PresenterTest, AStartAskedFromAfarRunsFromTheWindowsLoop) {
  OneEntryPlaylist(1.0);
  Start();
  presenter->SetBusyState();
  EXPECT_FALSE(presenter->Host().AskStart({"phone page"}).ok());
  EXPECT_TRUE(view.posted.empty());
  presenter->SetStoppedState();
  ASSERT_TRUE(presenter->Host().AskStart({"phone page"}).ok());
  EXPECT_FALSE(presenter->ShowRunning());
  onPoll = [&](int polls) {
    if (polls == 3) presenter->Stop();
  };
  bool ranInShow = false;
  view.onStatus = [&](const std::string& text) {
    ranInShow = ranInShow || text == playback::kRunningText;
  };
  ASSERT_EQ(view.posted.size(), 1u);
  view.RunPosted();
  EXPECT_TRUE(ranInShow);
  EXPECT_FALSE(presenter->ShowRunning());
}

// The phone page dialog follows settings.toml: how to turn the page on
// while it is off, then the ready link of the page as served, with its own
// QR code (a new token makes a new one), and who can open it.
TEST_F(PresenterTest, ThePhonePageCodeIsTheServedPagesReadyLink) {
  Start();
  EXPECT_TRUE(view.phonePageCode.link.empty());
  EXPECT_TRUE(view.phonePageCode.modules.empty());
  EXPECT_NE(view.phonePageCode.note.find("'glimmer web --enable --lan' turns it on"),
            std::string::npos)
      << view.phonePageCode.note;

  const std::string address = "127.0.0.1:" + std::to_string(web_test::FreePort());
  for (const std::string& token : {std::string(64, 'a'), std::string(64, 'b')}) {
    fakes::WriteBytes(dir.File("settings.toml"),
                      "[web]\nlisten = \"" + address + "\"\ntoken = \"" + token + "\"\n");
    clock.Advance(1000);
    presenter->Tick();
    const shell::PhonePageCode& shown = view.phonePageCode;
    const std::string link = "http://" + address + "/#token=" + token;
    EXPECT_EQ(shown.link, link);
    const platform::Result<qr::QrCode> code = qr::QrCode::Encode(link);
    ASSERT_TRUE(code.ok());
    ASSERT_EQ(shown.modules.size(), static_cast<std::size_t>(code.value().Size()));
    for (int y = 0; y < code.value().Size(); ++y) {
      ASSERT_EQ(shown.modules[y].size(), shown.modules.size());
      for (int x = 0; x < code.value().Size(); ++x) {
        ASSERT_EQ(shown.modules[y][x], code.value().Dark(x, y)) << x << "," << y;
      }
    }
    // A phone cannot reach the loopback: the note says how to let it in.
    EXPECT_NE(shown.note.find("Only this machine"), std::string::npos) << shown.note;
  }

  fakes::WriteBytes(dir.File("settings.toml"), "");
  clock.Advance(1000);
  presenter->Tick();
  EXPECT_TRUE(view.phonePageCode.link.empty());
  EXPECT_TRUE(view.phonePageCode.modules.empty());
}

// Where the machine has no registry for the sequencer to be found in, its
// absence is no reason to hold up start-up with a message.
TEST_F(PresenterTest, AMissingSequencerIsToldOnlyWhereItsRegistryExists) {
  for (const bool exists : {true, false}) {
    registry = fakes::FakeRegistry();
    registryExists = exists;
    ui.messages.clear();
    Start();
    EXPECT_EQ(ui.notices.size(), exists ? 1u : 0u);
    ui.notices.clear();
    EXPECT_EQ(ui.messages.size(), exists ? 1u : 0u);
    EXPECT_TRUE(view.shown);
    EXPECT_EQ(EnabledColumn(), "111111111110");
  }
}

TEST_F(PresenterTest, ClosingEndsTheShowAndTheProgram) {
  OneEntryPlaylist(3.0);
  Start();
  onPoll = [&](int polls) {
    if (polls == 5) presenter->QueryUnload();
  };
  presenter->Start();
  EXPECT_EQ(endCodes, std::vector<int>{0});
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(presenter->ImportCancelled());
}

}  // namespace
