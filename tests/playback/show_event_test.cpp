#include "playback/show_event.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

namespace ev = playback::show_event;
using playback::ShowEvent;
using Kind = playback::ShowEventKind;

ShowEvent Repeated(int count) {
  ShowEvent event;
  event.kind = Kind::Repeated;
  event.count = count;
  return event;
}

// One of each kind the log keeps, with texts that look like the others' (a
// reason that holds " back", a list text that holds " finished"), as the
// show and the watch make them.
std::vector<ShowEvent> EveryLoggedKind() {
  return {
      ev::ShowStarted("SIGINT, as the Stop button"),
      ev::ShowStopped("phone page"),
      ev::ShowEnded("the playlist is empty"),
      ev::EntryStarted(0, "Jingle Bells - finished: (remix) to 2"),
      ev::EntryFinished(11),
      ev::EntryStopped(2),
      ev::EntrySkipped(3, "audio: Songs/a.mp3: No such file"),
      ev::EntryCut(4),
      ev::StopAfterSongAsked("phone page (Anna)"),
      ev::SkipAsked("Start button"),
      ev::Paused("5:30:00 PM", "11:00:00 PM"),
      ev::PausedNeverOpens(),
      ev::PausedByCalendar("Fri 27 Nov, 5:12 PM (sunset + 15 min)"),
      ev::PausedByCalendar(""),
      ev::PausedCalendarRefused("calendar.toml line 7: expected a date"),
      ev::Resumed(),
      ev::NightWindow("5:30:00 PM", "11:59:59 PM"),
      ev::PortOpened("COM1"),
      ev::PortBack("/dev/ttyUSB0"),
      ev::PortLost("COM1", "write failed: the port came back lost: again"),
      ev::PlaysSilently(5, "no audio device: none found"),
      ev::HighOutputLatency(6, 0.25),
      ev::LineLate(7, 81, "1:23", 56000),
      ev::LateKeepAlive(7),
      ev::NoRealtime("RLIMIT_RTPRIO is 0"),
      ev::ImportLine("the line keeps up (56000 baud)"),
      ev::ImportFailed("/home/op/Shows/Carol: live failed: no.msq",
                       "The archive \"x.msq\" failed: twice"),
      ev::SettingsNotSaved("preferences.txt: read-only"),
      ev::PlaylistNotSaved("disk full"),
      ev::PhonePageOn("http://0.0.0.0:8080/"),
      ev::PhonePageOff("port 80: permission denied"),
      ev::NightCheck("all well (4 entries, serial port, disk, clock)"),
      ev::AlertRaised("port-back", "Port COM1 back"),
      ev::Said("Alert command for summary failed with exit status 3"),
      ev::Said("Service manager not told: STATUS: broken pipe"),
      Repeated(1),
      Repeated(1000),
      ev::Said("Waiting up to 120 seconds for the serial adapter (COM1)"),
  };
}

// Describe writes every line of the log and the readers parse it back: a
// rewording on one side that the other does not follow breaks here, not in
// an alert that is silently never raised.
TEST(ShowEvent, EveryKindTheLogKeepsReadsBackAsTheSameEvent) {
  std::set<Kind> covered;
  for (const ShowEvent& event : EveryLoggedKind()) {
    const std::string line = playback::Describe(event);
    SCOPED_TRACE(line);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(playback::ParseShowEvent(line), event);
    covered.insert(event.kind);
  }
  // Kinds only the subscribers hear.
  std::vector<ShowEvent> unlogged(3);
  unlogged[0].kind = Kind::Notice;
  unlogged[1].kind = Kind::NightOpened;
  unlogged[2].kind = Kind::NightClosed;
  unlogged.push_back(ev::NothingPlayable("entry 2: gone"));
  for (const ShowEvent& event : unlogged) {
    EXPECT_EQ(playback::Describe(event), "");
    covered.insert(event.kind);
  }
  // A kind added later is added to this test too.
  for (int kind = 0; kind <= static_cast<int>(Kind::Other); ++kind) {
    EXPECT_TRUE(covered.count(static_cast<Kind>(kind))) << "kind " << kind << " not round-tripped";
  }
}

// The texts operators, golden files and the README know stay word for word.
TEST(ShowEvent, WrittenTextsKeepTheirWording) {
  const std::pair<ShowEvent, const char*> cases[] = {
      {ev::PortBack("COM1"), "Port COM1 back"},
      {ev::EntryCut(0), "Entry 1 skipped: skipped on request"},
      {ev::HighOutputLatency(0, 0.1234),
       "Entry 1: the audio output reports a latency of 123 ms: the sound is heard that long after "
       "it is handed over"},
      {ev::NoRealtime(""), "Timing may suffer when the computer is busy: no real-time priority"},
      {ev::LineLate(1, 60, "0:12", 115200), "Entry 2 line late: up to 60 ms at 0:12 (115200 baud)"},
      {Repeated(4), "(the line before repeated 4 more times)"},
      // A message box's paragraphs become one line of the log.
      {ev::ImportFailed("/shows/a.msq",
                        "The archive \"/shows/a.msq\" is damaged.\r\n\r\nThe "
                        "archiver said: CRC failed\r\n"),
       "Import of \"/shows/a.msq\" failed: The archive \"/shows/a.msq\" is damaged. The archiver "
       "said: CRC failed"},
  };
  for (const auto& [event, text] : cases) EXPECT_EQ(playback::Describe(event), text);
}

// Lines that resemble an event but are not one keep their words as Other,
// so nothing is counted or alerted on a near miss.
TEST(ShowEvent, NearMissesAreOtherLines) {
  const char* cases[] = {
      "Entry 0 finished",
      "Entry finished",
      "Entry 1 line late: up to x ms at 0:12 (56000 baud)",
      "Entry 1 line late: up to 80 ms at 1:05 at 56000 baud",
      "Entry 99999999999 finished",
      "Port COM1 opened again",
      "Late keep-alive: a few seconds since the one before",
      "(the line before repeated 1 more times)",
      "Show started",
      "Alert with spaces: text",
      "",
  };
  for (const char* text : cases) {
    const ShowEvent event = playback::ParseShowEvent(text);
    EXPECT_EQ(std::tuple(event.kind, event.text), std::tuple(Kind::Other, std::string(text)))
        << text;
  }
  EXPECT_EQ(playback::ParseShowEvent("Alert command said: port-lost: x").kind, Kind::AlertCommand);
}

TEST(ShowLogLine, StampOffsetAndEveningAreReadAndImpossibleDatesRefused) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"2026-12-24 18:00:00 +0100 Entry 1 finished", "2026-12-24", "Entry 1 finished"},
      {"2026-12-25 06:00:00 -0530 Show ended: x\r", "2026-12-24", "Show ended: x"},
      {"2027-01-01 11:59:59 Show stopped (Stop button)", "2026-12-31",
       "Show stopped (Stop button)"},
      {"2024-03-01 00:00:00 +01 is no offset", "2024-02-29", "+01 is no offset"},
  };
  for (const auto& [raw, evening, text] : cases) {
    const auto line = playback::ParseShowLogLine(raw);
    ASSERT_TRUE(line) << raw;
    EXPECT_EQ(std::tuple(line->evening, line->text), std::tuple(evening, text)) << raw;
    EXPECT_EQ(line->event, playback::ParseShowEvent(text));
  }
  for (const char* raw : {"2026-02-29 18:00:00 x", "2026-13-01 18:00:00 x", "2026-12-24 24:00:00 x",
                          "2026-12-24 18:00:00", "half a line wit", ""}) {
    EXPECT_FALSE(playback::ParseShowLogLine(raw)) << raw;
  }
}

TEST(ShowState, EventsMoveTheEntryAndTheLineHealth) {
  playback::ShowState state;
  const auto apply = [&state](const std::vector<ShowEvent>& events) {
    for (const ShowEvent& event : events) playback::ApplyToState(state, event);
  };
  apply({ev::ShowStarted("Start button"), ev::PortOpened("COM1"), ev::EntryStarted(2, "Song")});
  ASSERT_TRUE(state.playing);
  EXPECT_EQ(std::tuple(state.playing->entry.row, state.playing->entry.listText),
            std::tuple(2, "Song"));
  EXPECT_EQ(std::tuple(state.line.portOpen, state.line.known), std::tuple(true, false));

  state.keepAliveGapSeconds = 1;
  apply({ev::PortLost("COM1", "gone")});
  EXPECT_EQ(std::tuple(state.line.portLost, state.line.lostReason, state.keepAliveGapSeconds),
            std::tuple(true, "gone", -1));
  apply({ev::LineLate(2, 90, "0:10", 56000), ev::EntryCut(2), ev::PortBack("COM1")});
  EXPECT_FALSE(state.playing);
  EXPECT_EQ(std::tuple(state.line.portLost, state.line.portOpen, state.line.known,
                       state.line.lateEntries),
            std::tuple(false, true, true, 1));

  apply({ev::StopAfterSongAsked("phone page"), ev::ShowStarted("autostart")});
  EXPECT_EQ(std::tuple(state.stopAfterSongAsked, state.line.lateEntries, state.line.port),
            std::tuple(false, 0, "COM1"));
  apply({ev::PausedCalendarRefused("calendar.toml line 3: no date")});
  EXPECT_EQ(state.window.problem, "calendar.toml line 3: no date");
}

TEST(ShowEventBus, SubscribersHearInOrderAndMayCancelWhileHearing) {
  playback::ShowEventBus bus;
  std::vector<std::string> heard;
  playback::ShowEventBus::Token second = 0;
  bus.Subscribe([&](const ShowEvent& e) {
    heard.push_back("first " + e.who);
    bus.Unsubscribe(second);
  });
  second = bus.Subscribe([&](const ShowEvent& e) { heard.push_back("second " + e.who); });
  bus.Publish(ev::ShowStarted("a"));
  bus.Publish(ev::ShowStarted("b"));
  EXPECT_EQ(heard, (std::vector<std::string>{"first a", "first b"}));
}

}  // namespace
