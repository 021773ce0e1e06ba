#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/show_host.h"
#include "platform/audio_player.h"
#include "platform/clock.h"
#include "platform/file_store.h"
#include "platform/log_file.h"
#include "platform/serial_port.h"
#include "platform/status.h"
#include "platform/user_interface.h"
#include "playback/show_front_end.h"
#include "playlist/list_box.h"
#include "playlist/playlist.h"
#include "shell/preferences.h"

namespace glimmer {

// lstPlayList without a window: the rows and their item data.
class PlaylistRows final : public playlist::ListBox {
 public:
  int Count() const override { return static_cast<int>(rows_.size()); }
  std::string Text(int index) const override { return rows_.at(Index(index)).text; }
  std::int32_t ItemData(int index) const override { return rows_.at(Index(index)).data; }
  void SetItemData(int index, std::int32_t data) override { rows_.at(Index(index)).data = data; }
  void InsertItem(int index, const std::string& text) override {
    rows_.insert(rows_.begin() + index, Row{text, 0});
  }
  void RemoveItem(int index) override { rows_.erase(rows_.begin() + index); }
  void Clear() override { rows_.clear(); }
  int SelectedIndex() const override { return selected_; }
  void Select(int index) override { selected_ = index; }
  void SetFocus() override {}

 private:
  struct Row {
    std::string text;
    std::int32_t data;
  };
  static std::size_t Index(int index) { return static_cast<std::size_t>(index); }
  std::vector<Row> rows_;
  int selected_ = -1;
};

// glimmer show's front end: the saved preferences stand in for the window's
// lists, the saved playlist for its list, and `view` (standard output) for
// its status line; the host does the rest.
class HeadlessShow final : public playback::ShowSettingsSource, public playback::PlaylistSource {
 public:
  struct Devices {
    std::string dir;
    int portOverride = 0;  // --port, not saved; 0: the saved port
    platform::SerialPort& port;
    platform::AudioPlayer& audio;
    platform::UserInterface& ui;
    platform::Clock& clock;
    platform::FileStore& files;
    playback::ShowView& view;
    // show.log; the file in `dir` when not given.
    platform::LogFile* logFile = nullptr;
  };
  explicit HeadlessShow(Devices devices);

  host::ShowHost& Host() { return *host_; }
  const std::string& SavedAutostart() const { return savedAutostart_; }
  // Why the saved settings cannot run a show (a line rate the controllers do
  // not take); Ok when they can.
  const platform::Status& SettingsProblem() const { return settingsProblem_; }

  // Runs the show, and again after each Start from the phone page while
  // the page is served, until `interrupted` or the show ends by itself.
  // The exit status: 1 when nothing could play (an empty playlist, a port
  // that would not open), 0 after a stop.
  int Run(const std::function<bool()>& interrupted);

  playback::ShowSettings CurrentSettings() const override;
  // As the window writes it: its settings, the autostart flag following
  // ShowRunning. A port given on the command line is not saved.
  void SaveSettings() override;
  int RowCount() const override { return playlist_.RowCount(); }
  playlist::PlaylistEntry EntryAt(int row) const override { return playlist_.EntryAtRow(row); }
  void SelectRow(int row) override { playlist_.SelectRow(row); }

 private:
  Devices devices_;
  shell::PreferencesFile preferences_;
  PlaylistRows rows_;
  playlist::Playlist playlist_;
  shell::Preferences settings_;
  std::string savedAutostart_;
  int baud_ = 0;
  platform::Status settingsProblem_ = platform::Status::Ok();
  std::unique_ptr<host::ShowHost> host_;
  // Gone with this front end: the yield hook it left behind does nothing then.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace glimmer
