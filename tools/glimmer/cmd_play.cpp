// glimmer play: one playlist entry into a serial device, exactly as the show
// plays it, without the window (for trying a sequence on the bench, or a
// controller on a laptop).
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio_factory.h"
#include "platform/log_file.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "playback/show_session.h"
#include "sequence_format/fade_timing.h"
#include "shell/setting_choices.h"
#include "tools/glimmer/command_line.h"
#include "tools/glimmer/commands.h"
#include "tools/glimmer/console_show_window.h"

namespace glimmer {
namespace {

constexpr const char* kUsage =
    "Usage: glimmer play [--device PATH | --port N] [--baud 56000|115200]\n"
    "                    [--frame-timing N] [--silent] CACHE AUDIO\n"
    "Plays the compiled sequence CACHE (.csq) with the song AUDIO (WAV or MP3) exactly as\n"
    "the show plays one playlist entry: the port-open burst, keep-alives, and every event\n"
    "sent when the music reaches it. Ends when the song ends; Ctrl+C stops it as the\n"
    "Stop button does.\n\n"
    "Options:\n"
    "  --device PATH      serial device to use (a pseudo-terminal works too)\n"
    "  --port N           COM port number 1 to 16 (default 1): dosdevices/comN in the\n"
    "                     player's folder (see glimmer --help) if present, else the N-th\n"
    "                     serial device, USB adapters first\n"
    "  --baud N           56000 or 115200 (default 115200)\n"
    "  --frame-timing N   send events N x 5.8 ms early, 1 to 10 (default 5)\n"
    "  --silent           do not use the sound card; the song's clock still runs\n"
    "  --help             this text\n\n"
    "Exit status: 0 when the song played to its end, 1 on an error, 130 when stopped.\n";

struct PlayOptions {
  std::string device;
  int port = std::stoi(shell::PortChoices().Default());
  int baud = 115200;
  int frameTiming = std::stoi(shell::FrameTimingChoices().Default());
  bool silent = false;
  std::string cache;
  std::string audio;
};

// Reports a file the entry cannot use before the controllers are woken up.
bool Readable(const std::string& what, const std::string& path) {
  if (::access(path.c_str(), R_OK) == 0 && !std::filesystem::is_directory(path)) return true;
  const int error = std::filesystem::is_directory(path) ? EISDIR : errno;
  std::fprintf(stderr, "glimmer play: cannot read %s %s: %s\n", what.c_str(), path.c_str(),
               std::strerror(error));
  return false;
}

}  // namespace

int RunPlay(const std::vector<std::string>& args) {
  PlayOptions o;
  CLI::App app;
  CLI::Option* device = app.add_option("--device", o.device)
                            ->check(CLI::Validator(
                                [](std::string& path) -> std::string {
                                  return path.empty() ? "needs a device path" : "";
                                },
                                "PATH"));
  app.add_option("--port", o.port)->check(WholeNumberIn(1, shell::kHighestPort))->excludes(device);
  app.add_option("--baud", o.baud)->check(LineRateIn());
  app.add_option("--frame-timing", o.frameTiming)
      ->check(WholeNumberIn(1, shell::kHighestFrameTiming));
  app.add_flag("--silent", o.silent);
  app.add_option("CACHE", o.cache)->required();
  app.add_option("AUDIO", o.audio)->required();
  if (auto ended = ParseArguments(app, "play", kUsage, args)) return *ended;
  if (!Readable("sequence file", o.cache) || !Readable("audio file", o.audio)) return 1;

  playlist::PlaylistEntry entry;
  entry.AudioPath = o.audio;
  entry.CachePath = o.cache;
  entry.ListText = std::filesystem::path(o.cache).stem().string();
  entry.Version = playlist::kProgramVersion;

  platform::LineOutput errors(STDERR_FILENO);
  ConsoleShowView view(errors, /*labelled=*/true);
  FixedShowSettings settings(
      {o.port, o.baud, o.frameTiming, shell::kFirstSecondOfDay, shell::kLastSecondOfDay});
  SingleEntry playlist(entry);
  ConsoleUserInterface ui;
  const std::unique_ptr<platform::Clock> clock = platform::MakeSystemClock();
  const std::unique_ptr<platform::SerialPort> port =
      platform::MakeSerialPort({.dataFolder = platform::CurrentProgramFolders().data,
                                .devicePath = o.device,
                                .stallTimeout = std::chrono::milliseconds(1000)});
  std::unique_ptr<platform::AudioPlayer> audio = platform::MakeAudioPlayer({.silent = o.silent});
  NoShowLog noLog;
  bool running = true;
  const sequence_format::FadeTimingTable& fadeTimings = sequence_format::kFadeTimingTable;
  playback::ShowSession session({*port, *audio, ui, *clock, noLog, platform::LocalDateTime},
                                {running, settings, playlist, view}, fadeTimings);
  if (!o.device.empty()) session.Link().NameLine(o.device);
  const std::unique_ptr<platform::DispatchPriority> dispatchPriority =
      platform::MakeDispatchPriority();
  session.SetDispatchPriority(dispatchPriority.get());
  ui.onSignal = [&](int) { session.Stop(kInterrupted); };

  // Opened here rather than by the player so a port that will not open is an
  // error of the command, not a show that plays without lights. The bytes on
  // the line are the same: burst, then the player's keep-alives.
  if (auto opened = session.OpenPort(); !opened) {
    std::fprintf(stderr, "glimmer play: %s\n", opened.message().c_str());
    return 1;
  }
  session.ReadySound();
  const playback::PlayOutcome outcome = session.PlayEntry(0);
  session.ClosePort();
  if (audio->IsSilent() && !o.silent) {
    std::fprintf(stderr, "glimmer play: played silently (%s)\n", audio->SilentReason().c_str());
  }
  if (session.RejectedRowCount() > 0) {
    std::fprintf(stderr,
                 "glimmer play: %d event(s) not sent: a value was missing or outside 0..255\n",
                 session.RejectedRowCount());
  }
  switch (outcome) {
    case playback::PlayOutcome::Finished:
    case playback::PlayOutcome::Cut:
      return 0;
    case playback::PlayOutcome::Stopped:
      std::fprintf(stderr, "glimmer play: stopped\n");
      return 130;
    case playback::PlayOutcome::Skipped:
      // The status line above has said why.
      return 1;
  }
  return 1;
}

}  // namespace glimmer
