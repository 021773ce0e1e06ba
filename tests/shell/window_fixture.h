#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "playlist/playlist.h"
#include "playlist/playlist_entry.h"
#include "sequence_format/sequence_cache.h"
#include "shell/frm_main.h"
#include "shell/winrar_locator.h"
#include "tests/fakes/fake_audio_player.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_process_launcher.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_serial_port.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/temp_dir.h"
#include "tests/playback/playback_rig.h"

namespace shelltest {

using fakes::ReadBytes;
using fakes::WriteBytes;

inline constexpr const char* kSpectrumKey =
    "SOFTWARE\\Classes\\Applications\\SpectrumSequencer.exe\\shell";
inline constexpr const char* kDefaultPreferences =
    "1\r\n115200\r\n5\r\n5:30:00 PM\r\n11:00:00 PM\r\n0\r\nc:\\\r\n";

// Widgets need one application object for the whole test program.
inline QApplication& TestApp() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "shell_tests";
  static char* argv[] = {name, nullptr};
  // Never destroyed: Qt registers its input devices in a list of its own
  // once events have been handled, and that list is gone before a static
  // application object would be, which then crashes the program on exit.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// The window built on fakes in a temporary program folder. By default the
// archiver is found and Spectrum is registered, so start-up shows nothing.
class WindowTest : public ::testing::Test {
 protected:
  WindowTest() {
    TestApp();
    registry.PutString(kSpectrumKey, "FriendlyCache", "Spectrum");
  }

  void Build() {
    window = std::make_unique<shell::frmMain>(shell::frmMain::Services{
        ui, clock, port, audio, registry, files, launcher, dir.path().string(), locateWinRar,
        [this](int code) {
          endCodes.push_back(code);
          if (onEndProgram) onEndProgram();
        },
        [this](int number) { return "COM" + std::to_string(number) + " = " + portDevice; }});
  }
  void Start() {
    Build();
    window->Form_Load();
  }

  void WritePreferences(const std::string& bytes) {
    WriteBytes(dir.File("preferences.txt"), bytes);
  }
  std::string Preferences() const { return ReadBytes(dir.File("preferences.txt")); }

  // Line `n` (1-based) of the preferences file as written.
  std::string PreferencesLine(int n) const {
    const std::string bytes = Preferences();
    std::size_t begin = 0;
    for (int i = 1; i < n; ++i) begin = bytes.find("\r\n", begin) + 2;
    return bytes.substr(begin, bytes.find("\r\n", begin) - begin);
  }

  template <typename W>
  W& Child(const char* name) const {
    W* widget = window->findChild<W*>(QString::fromLatin1(name));
    if (widget == nullptr) throw std::runtime_error(std::string("no control ") + name);
    return *widget;
  }
  QComboBox& List(const char* name) const { return Child<QComboBox>(name); }
  std::string Selected(const char* name) const { return List(name).currentText().toStdString(); }
  QPushButton& Button(const char* name) const { return Child<QPushButton>(name); }
  std::uint32_t Colour(const char* name) const {
    return shell::frmMain::ColourCode(Child<QWidget>(name));
  }

  // playlist.txt as the player writes it, for the next start-up.
  void WritePlaylist(const std::vector<playlist::PlaylistEntry>& entries) {
    std::vector<const playlist::PlaylistEntry*> pointers;
    for (const auto& entry : entries) pointers.push_back(&entry);
    WriteBytes(dir.File("playlist.txt"), playlist::FormatPlaylistFile(pointers));
  }

  // The playlist of one entry, "Carol", whose compiled sequence holds `rows`,
  // with an (empty) audio file, as an import leaves them. Each poll of the
  // audio moves it and the clock on by 100 ms until `seconds` have played;
  // the clock starts at 6 PM, inside the default 5:30 PM to 11:00 PM.
  playlist::PlaylistEntry OneEntryPlaylist(std::vector<playback_test::Record> rows,
                                           double seconds) {
    std::filesystem::create_directories(dir.File("Cache"));
    const playlist::PlaylistEntry entry{dir.File("Carol.wav"), dir.File("Cache/Carol.csq"), "Carol",
                                        playlist::kProgramVersion, "/shows/Carol.msq"};
    WriteBytes(entry.AudioPath, "RIFF");
    fakes::FakeFileStore cacheFiles;  // keeps `files` to the window's own writes
    const platform::Status saved = sequence_format::SaveSequenceCache(
        sequence_format::EventTable::FromRecords(std::move(rows)), entry.CachePath, cacheFiles);
    EXPECT_TRUE(saved) << saved.message();
    WritePlaylist({entry});
    audio.duration = seconds;
    audio.onPoll = [this, seconds](fakes::FakeAudioPlayer& a) {
      a.position += 0.1;
      clock.Advance(100);
      if (a.position >= seconds - 1e-9) a.state = platform::kPlayStateStopped;
    };
    clock.SetTimeOfDay(18, 0, 0);
    return entry;
  }

  fakes::TempDir dir;
  fakes::FakeUserInterface ui;
  fakes::FakeClock clock;
  fakes::FakeSerialPort port;
  fakes::FakeAudioPlayer audio;
  fakes::FakeRegistry registry;
  fakes::FakeFileStore files;
  shell::WinRarLocator locateWinRar = [](const shell::RegistryTextReader&) {
    return std::string("/opt/glimmerfield/glimmer-extract");
  };
  fakes::FakeProcessLauncher launcher;
  std::vector<int> endCodes;
  std::function<void()> onEndProgram;       // sees the world as the program ends
  std::string portDevice = "/dev/ttyUSB0";  // what every COM number maps to
  std::unique_ptr<shell::frmMain> window;
};

}  // namespace shelltest
