// Faults while a show runs, with the real serial port on pseudo-terminals and
// fakes elsewhere: the show goes on, says what happened, and recovers.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/termios_serial_port.h"
#include "playback/show_scheduler.h"
#include "playback/wire_protocol.h"
#include "tests/fakes/pty_line.h"
#include "tests/playback/playback_rig.h"

namespace {

using playback_test::Level;

// A pseudo-terminal standing in for a serial adapter, reachable under a fixed
// name (as /dev/ttyUSB0 is) that the test can unplug and plug back in.
struct Adapter {
  explicit Adapter(std::string path) : name(std::move(path)) { PlugIn(); }
  ~Adapter() { Unplug(); }

  void PlugIn() {
    line = std::make_unique<fakes::PtyLine>(/*keep=*/true, fakes::PtyLine::Slave::Close);
    std::filesystem::create_symlink(line->Name(), name);
  }
  // The device goes: what it took is kept, writes to it fail from now on.
  void Unplug() {
    if (!line) return;
    line->Unplug();
    before += line->Received();
    line.reset();
    std::filesystem::remove(name);
  }
  // Everything that has arrived since it was first plugged in, once the port
  // has let go of it.
  std::string Received() const {
    return before + (line ? line->ReceivedAfterClose() : std::string());
  }

  std::string name;
  std::unique_ptr<fakes::PtyLine> line;  // none while unplugged
  std::string before;
};

// Regression: when the adapter behind COM1 went away, the next entry opened
// whatever device had become first in line (a built-in port, another
// adapter) and sent the show there.
TEST(ShowFaultsTest, SerialDeviceLostMidSongAndBackResumesAtTheNextEntryAndNeverUsesAnother) {
  playback_test::Rig rig;
  rig.window.portNumber = 1;
  rig.window.showRunning = false;
  // Adapter first, then a built-in port: COM1 is the adapter, COM2 the
  // built-in one, until the adapter goes and the built-in port moves up.
  Adapter adapter(rig.dir.File("ttyUSB0"));
  Adapter builtin(rig.dir.File("ttyS0"));
  platform::TermiosSerialPort::Options options;
  options.applicationDirectory = rig.dir.path().string();
  options.presentDevices = [&] {
    std::vector<std::string> present;
    for (Adapter* a : {&adapter, &builtin}) {
      if (a->line) present.push_back(a->name);
    }
    return present;
  };
  platform::TermiosSerialPort port(options);
  const auto session =
      playback_test::MakeSession(rig.window, port, rig.audio, rig.ui, rig.clock, rig.log);

  // Three songs of two seconds, a row every tenth of a second.
  std::vector<playback_test::Record> rows;
  for (int i = 0; i < 20; ++i) rows.push_back(Level(i * 8820, 1 + i % 9));
  for (const char* name : {"a", "b", "c"}) rig.AddEntry(name, rows);
  rig.audio.onPoll = [&](fakes::FakeAudioPlayer& audio) {
    audio.position += 0.01;
    if (audio.position >= 2.0) audio.state = platform::kPlayStateStopped;
    // The adapter is pulled one second into the first song.
    if (rig.window.selected.size() == 1 && audio.polls == 100) adapter.Unplug();
  };
  // What the front ends and the watch hear of the port, and the line's
  // health in the state while the adapter is away and once it is back.
  using Kind = playback::ShowEventKind;
  std::vector<Kind> portEvents;
  session->Subscribe([&](const playback::ShowEvent& event) {
    if (event.kind == Kind::PortOpened || event.kind == Kind::PortLost ||
        event.kind == Kind::PortBack) {
      portEvents.push_back(event.kind);
    }
  });
  std::vector<bool> lostAtSelect;
  std::string sentBeforeReturn;
  rig.window.onSelect = [&](int) {
    lostAtSelect.push_back(session->State().line.portLost);
    // Back in before the third song begins; the show ends as it starts again.
    if (rig.window.selected.size() == 3) {
      sentBeforeReturn = adapter.Received();
      adapter.PlugIn();
    }
    if (rig.window.selected.size() == 4) rig.window.showRunning = false;
  };

  session->Start(playback::Origin{"Start button"});

  EXPECT_EQ(portEvents, (std::vector<Kind>{Kind::PortOpened, Kind::PortLost, Kind::PortBack}));
  EXPECT_EQ(lostAtSelect, (std::vector<bool>{false, true, true, false}));
  EXPECT_FALSE(session->State().line.portOpen) << "closed as the show ended";

  EXPECT_EQ(rig.window.selected, (std::vector<int>{0, 1, 2, 0}));
  EXPECT_EQ(rig.window.Status(), playback::kStoppedText);
  // The operator can read what happened: the loss, then the refusal to use
  // the built-in port in its place.
  const std::vector<std::string>& notices = rig.window.notices;
  ASSERT_GE(notices.size(), 2u);
  EXPECT_TRUE(playback_test::Contains(notices[0], "Serial port COM1 lost"));
  EXPECT_TRUE(playback_test::Contains(notices[1], "ttyUSB0 went away"));
  EXPECT_TRUE(playback_test::Contains(notices[1], "playing without lights"));
  // Nothing ever reached the other device.
  EXPECT_EQ(builtin.Received(), "");
  // Before the loss the adapter had the Start burst and part of the song;
  // once back, the third song opened it afresh and its rows went out.
  EXPECT_NE(sentBeforeReturn.find(playback::kPortOpenBurst), std::string::npos);
  const std::string afterReturn = adapter.Received().substr(sentBeforeReturn.size());
  EXPECT_EQ(afterReturn.substr(0, 4), playback::kPortOpenBurst);
  // Every row of the third song went out after the return, in order.
  std::size_t at = 4;
  for (const auto& row : rows) {
    std::string message;
    playback::EncodeEvent(row, 0, rig.window.fadeTimings, message);
    at = afterReturn.find(message, at);
    ASSERT_NE(at, std::string::npos) << playback_test::ToHex(message);
    at += message.size();
  }
}

}  // namespace

// A 3 GB cache kept Stop waiting for 11 s on every retry: the player now
// lets window events run while a large file loads, and Stop ends it there.
TEST(ShowFaultsTest, StopIsAnsweredWhileALargeCacheLoads) {
  playback_test::Rig rig;
  rig.AddEntry("big", std::vector<playback_test::Record>(300000, playback_test::Level(0, 1)));
  rig.ui.onDoEvents = [&](int) {
    if (!rig.window.selected.empty()) rig.window.showRunning = false;
  };
  rig.session.Start(playback::Origin{"Start button"});
  EXPECT_EQ(rig.window.selected, std::vector<int>{0});
  EXPECT_TRUE(rig.audio.opened.empty());
}

// A playlist of very many entries that cannot play answered Stop only after
// 24 s: a skip did not yield.
TEST(ShowFaultsTest, EachSkippedEntryYieldsSoStopIsAnsweredAtOnce) {
  playback_test::Rig rig;
  for (int i = 0; i < 5000; ++i) {
    rig.AddEntryFiles("gone" + std::to_string(i), rig.dir.File("no.csq"));
  }
  rig.ui.onDoEvents = [&](int count) {
    if (count == 40) rig.window.showRunning = false;
  };
  rig.session.Start(playback::Origin{"Start button"});
  EXPECT_LT(rig.window.selected.size(), 40u);
}
