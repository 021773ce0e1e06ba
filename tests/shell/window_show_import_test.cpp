#include <QApplication>
#include <QFrame>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <string>
#include <vector>

#include "import/import_driver.h"
#include "playback/show_scheduler.h"
#include "playback/wire_protocol.h"
#include "shell/elided_label.h"
#include "tests/fakes/sequence_document.h"
#include "tests/shell/window_fixture.h"

namespace shelltest {
namespace {

using playback_test::Level;

class WindowShowTest : public WindowTest {
 protected:
  // One entry of three rows. The song lasts 2 s. With the frame timing of 5
  // (2,560 positions ahead) the rows fall due at polls 2, 5 and 10.
  void OneEntryPlaylist() {
    entry = WindowTest::OneEntryPlaylist({Level(20000, 1), Level(40000, 2), Level(90000, 3)}, 2.0);
    auto play = audio.onPoll;
    audio.onPoll = [this, play](fakes::FakeAudioPlayer& a) {
      play(a);
      if (a.polls == 11) clock.Advance(3000);  // a stalled machine: the next keep-alive is late
    };
  }

  // Every write to the port: B for the burst, k for a keep-alive, else the
  // intensities of the rows it carries.
  std::string Writes() const {
    std::string text;
    for (const std::string& w : port.writes) {
      if (w == playback::kPortOpenBurst || w == playback::kKeepAliveMessage) {
        text += w == playback::kPortOpenBurst ? 'B' : 'k';
        continue;
      }
      for (std::size_t i = 3; i < w.size(); i += 6) text += static_cast<char>('0' + w[i]);
    }
    return text;
  }

  playlist::PlaylistEntry entry;
};

TEST_F(WindowShowTest, StartPlaysTheEntryOnThePortUntilStop) {
  OneEntryPlaylist();
  Start();
  ASSERT_EQ(window->PlaylistRowCount(), 1);
  std::string nowPlaying, autostart, frameTiming;
  std::size_t writesBeforeStop = 0;
  ui.onDoEvents = [&](int) {
    // Once the entry has played through, Stop as the second round begins.
    if (audio.closes != 1 || !window->ShowRunning()) return;
    nowPlaying = Child<QLabel>("lblNowPlaying").text().toStdString();
    // Only the frame timing can change while the show runs; the "1" stays.
    List("cboFrameComp").setCurrentIndex(7);
    frameTiming = PreferencesLine(3);
    autostart = PreferencesLine(6);
    writesBeforeStop = files.written.size();
    Button("cmdStop").click();
  };

  Button("cmdShowStart").click();

  // The port opens (8 bursts, a keep-alive); the entry starts (3 keep-alives);
  // rows 1 to 3 and keep-alives at 38,000, 76,000, 114,000 and 152,000, with
  // one from the steady clock after the 3 s stall (the controllers never wait
  // more than half a second); the second round starts (3 keep-alives) and is
  // stopped.
  EXPECT_EQ(Writes(), "BBBBBBBBkkkk1k2k3kkkkkk");
  EXPECT_EQ(port.settings, "115200,N,8,1");
  EXPECT_EQ(port.openCount, 1);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(audio.opened, (std::vector<std::string>{entry.AudioPath, entry.AudioPath}));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(nowPlaying, "Playlist entry 1 of 1\nCarol\n" + entry.AudioPath);
  EXPECT_EQ(frameTiming, "8");
  EXPECT_EQ(autostart, "1");
  // The stall showed in the counter; the link's time is the window's.
  EXPECT_EQ(Child<QLineEdit>("Text2").text().toStdString(), "1");
  EXPECT_EQ(window->LastKeepAliveTime(), 18 * 3600 + 5);  // 6 PM and 5 s

  // Back to stopped, with one more write of the preferences.
  EXPECT_FALSE(window->ShowRunning());
  EXPECT_TRUE(Button("cmdShowStart").isEnabled());
  EXPECT_EQ(PreferencesLine(6), "0");
  EXPECT_EQ(files.written.size(), writesBeforeStop + 1);
  EXPECT_EQ(Child<QLabel>("lblNowPlaying").text().toStdString(), "");
  // The show log names who started and who stopped the show.
  const std::string log = ReadBytes(dir.File("show.log"));
  EXPECT_NE(log.find(" Show started (Start button)\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" Show stopped (Stop button)\n"), std::string::npos) << log;
}

TEST_F(WindowShowTest, ClosingDuringTheShowStopsAudioAndPortBeforeTheProgramEnds) {
  OneEntryPlaylist();
  Start();
  std::size_t writesAtClose = 0;
  ui.onDoEvents = [&](int) {
    // Mid-song; closing yields once more, by then ShowRunning is clear.
    if (audio.polls >= 12 && window->ShowRunning()) {
      writesAtClose = port.writes.size();
      window->close();
    }
  };
  bool stoppedAtEnd = false;  // audio stopped and closed, port closed, show over
  onEndProgram = [&] {
    stoppedAtEnd = audio.state == platform::kPlayStateStopped && audio.closes == 1 &&
                   !port.IsOpen() && !window->ShowRunning();
  };

  Button("cmdShowStart").click();

  ASSERT_EQ(endCodes, std::vector<int>{0});
  EXPECT_TRUE(stoppedAtEnd);
  EXPECT_NE(ReadBytes(dir.File("show.log")).find(" Show stopped (window closed)\n"),
            std::string::npos);
  // The show loop, left running only because a test does not end the
  // process, sent nothing more and returned.
  EXPECT_GT(writesAtClose, 9u);
  EXPECT_EQ(port.writes.size(), writesAtClose);
  // The next start-up starts the show again.
  EXPECT_EQ(PreferencesLine(6), "1");
}

// What the program adds (why a song is silent, a lost port) goes beside the
// status line; the line itself shows the written running text all along, and
// a text too long for its place ends in "…" with the whole text in a tooltip.
TEST_F(WindowShowTest, AddedTextsLeaveTheStatusLineAloneAndAreReadableWhole) {
  OneEntryPlaylist();
  const std::string reason =
      "no audio device: ALSA: Couldn't open audio device: No such file or directory "
      "(the machine has no sound card, or another program holds it)";
  audio.silent = true;
  audio.silentReason = reason;
  const std::string lost =
      "Input/output error while writing to /dev/ttyUSB0, which went away "
      "in the middle of the song; check the cable and the adapter";
  struct Seen {
    std::string status, note, noteTip, notice, noticeTip;
  };
  std::vector<Seen> seen;
  const auto look = [&] {
    const auto& note = Child<shell::ElidedLabel>("lblPlayingNote");
    const auto& notice = Child<shell::ElidedLabel>("lblNotice");
    seen.push_back({Child<QLabel>("lblStatus").text().toStdString(), note.text().toStdString(),
                    note.toolTip().toStdString(), notice.text().toStdString(),
                    notice.toolTip().toStdString()});
  };
  ui.onDoEvents = [&](int) {
    if (!window->ShowRunning()) return;
    if (audio.closes > 0) Button("cmdStop").click();  // the song is over
    if (audio.polls >= 3 && seen.empty()) {
      look();
      port.writeError = lost;
    } else if (audio.polls >= 12 && seen.size() == 1) {
      look();
      Button("cmdStop").click();
    }
  };
  Start();
  Button("cmdShowStart").click();

  ASSERT_EQ(seen.size(), 2u);
  const std::string silentNote = "Plays silently: " + reason;
  const std::string lostNotice = "6:00:00 PM  Serial port COM1 lost: " + lost +
                                 " - the show goes on and the port is opened again at the next "
                                 "entry";
  for (const Seen& s : seen) {
    EXPECT_EQ(s.status, playback::kRunningText);
    EXPECT_TRUE(s.note.ends_with("…")) << s.note;
    EXPECT_TRUE(silentNote.starts_with(s.note.substr(0, s.note.size() - 3))) << s.note;
    EXPECT_EQ(s.noteTip, silentNote);
  }
  EXPECT_EQ(seen[0].notice, "");
  EXPECT_TRUE(seen[1].notice.ends_with("…")) << seen[1].notice;
  EXPECT_EQ(seen[1].noticeTip.rfind(lostNotice.substr(0, 11), 0), 0u) << seen[1].noticeTip;
  EXPECT_NE(seen[1].noticeTip.find(lostNotice.substr(11)), std::string::npos) << seen[1].noticeTip;
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(WindowShowTest, AddImportsAnArchiveWithTheWindowBusyAndKeepsItsFolder) {
  const std::string audioFile = dir.File("carol.wav");
  WriteBytes(audioFile, "RIFF");
  fakes::Sequence sequence;
  sequence.filePath = audioFile;
  sequence.controllers = {{"1", {{"1", {{"0", "1", "0", "255"}}}}}};
  bool busyDuringExtraction = false;  // buttons off, panel shown, importing status
  launcher.onRun = [&](const std::vector<std::string>& argv) {
    busyDuringExtraction = !Button("cmdPlayListAdd").isEnabled() &&
                           !Button("cmdShowStart").isEnabled() &&
                           Child<QFrame>("frmImporting").isVisible() &&
                           window->StatusText() == importer::kImportingStatus;
    WriteBytes(argv.at(4) + "Carol", fakes::ToXml(sequence));
  };
  Start();
  ui.dialogAnswers.push_back(std::string("/shows/Carol.msq"));

  Button("cmdPlayListAdd").click();

  EXPECT_TRUE(busyDuringExtraction);
  EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();
  // The archiver's arguments, the entry and the playlist file are the
  // import's own tests' and the end-to-end run's; here, what the window does.
  EXPECT_EQ(Child<QListWidget>("lstPlayList").count(), 1);
  EXPECT_TRUE(Button("cmdPlayListAdd").isEnabled() && !Child<QFrame>("frmImporting").isVisible());
  EXPECT_EQ(PreferencesLine(7), "/shows/");
}

TEST_F(WindowShowTest, PortListSaysWhichDeviceTheNumberOpens) {
  Start();
  auto& ports = List("cboPort");
  EXPECT_EQ(ports.toolTip().toStdString(), "COM1 = /dev/ttyUSB0");
  ports.setCurrentIndex(2);
  EXPECT_EQ(ports.toolTip().toStdString(), "COM3 = /dev/ttyUSB0");

  // An adapter plugged in since: the tooltip is asked afresh when it shows.
  portDevice = "/dev/ttyACM0";
  QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), ports.mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(&ports, &hover);
  EXPECT_EQ(ports.toolTip().toStdString(), "COM3 = /dev/ttyACM0");
}

}  // namespace
}  // namespace shelltest
