#include "tools/glimmer/headless_show.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/paths.h"
#include "playback/show_log.h"
#include "shell/setting_choices.h"

namespace glimmer {

HeadlessShow::HeadlessShow(Devices devices)
    : devices_(std::move(devices)),
      preferences_(platform::PreferencesPath(devices_.dir), devices_.files, devices_.ui),
      playlist_(rows_, devices_.ui, devices_.files, platform::PlaylistPath(devices_.dir)) {
  playlist_.ResetEntries();
  playlist_.LoadPlaylist();
  const shell::Preferences saved = preferences_.Read();
  savedAutostart_ = saved.autostart;
  settings_ = shell::SelectedChoices(saved);
  // The line rate is read once; one the controllers do not take is refused.
  const platform::Result<int> baud = playback::ParseLineRate(settings_.dataRate);
  if (baud) {
    baud_ = baud.value();
  } else {
    settingsProblem_ = baud.status();
  }
  host_ = std::make_unique<host::ShowHost>(
      host::ShowHostOptions{.dir = devices_.dir,
                            .port = devices_.port,
                            .audio = devices_.audio,
                            .ui = devices_.ui,
                            .clock = devices_.clock,
                            .settings = *this,
                            .playlist = *this,
                            .view = devices_.view,
                            .logFile = devices_.logFile,
                            .notice = [](const std::string& text) {
                              std::fprintf(stderr, "glimmer show: %s\n", text.c_str());
                            }});
  preferences_.OnRefusedWrite(
      [this](const std::string& why) { host_->Log(playback::show_event::SettingsNotSaved(why)); });
  playlist_.OnRefusedWrite(
      [this](const std::string& why) { host_->Log(playback::show_event::PlaylistNotSaved(why)); });
  // The user interface may outlive this front end (the tests build several).
  devices_.ui.AddYieldHook([this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.lock()) host_->Poll();
  });
}

playback::ShowSettings HeadlessShow::CurrentSettings() const {
  return {devices_.portOverride > 0 ? devices_.portOverride : std::atoi(settings_.port.c_str()),
          baud_, std::atoi(settings_.frameTiming.c_str()), settings_.startTime, settings_.endTime};
}

void HeadlessShow::SaveSettings() {
  shell::Preferences current = settings_;
  const bool running = host_ && host_->ShowRunning();
  current.autostart.assign(1, running ? '1' : '0');
  preferences_.Save(current);
}

int HeadlessShow::Run(const std::function<bool()>& interrupted) {
  // An empty playlist has nothing to wait for, inside the window or not.
  if (!host_->Start({"glimmer show"})) return 1;
  // Stopped from the page, the command waits for the page's Start.
  while (!host_->PhonePageAddress().empty() && !interrupted() && !host_->ShowRunning()) {
    while (!host_->StartIsAsked() && !interrupted()) {
      devices_.ui.WaitForEvents(std::chrono::milliseconds(100));
    }
    if (interrupted()) break;
    host_->RunAskedStart();
  }
  // Only Stop clears ShowRunning: a show that ended with it still set ended
  // by itself, and the scheduler has said why.
  return host_->ShowRunning() ? 1 : 0;
}

}  // namespace glimmer
