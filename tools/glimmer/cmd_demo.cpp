// glimmer demo: a whole show on any machine with nothing but this project.
// Writes a short song and its sequence archive, imports the archive through
// the Add button's own import, and plays it into a pseudo-terminal (or a
// serial device) while the terminal shows what the controllers receive.
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "import/import_archive.h"
#include "platform/audio_factory.h"
#include "platform/file_store.h"
#include "platform/log_file.h"
#include "platform/paths.h"
#ifndef _WIN32
#include "platform/posix/unique_fd.h"
#endif
#include "platform/system.h"
#include "platform/utf8_path.h"
#include "playback/show_session.h"
#include "playback/wire_protocol.h"
#include "playlist/list_box.h"
#include "playlist/playlist.h"
#include "sequence_format/fade_timing.h"
#include "sequence_format/sequence_cache.h"
#include "shell/setting_choices.h"
#include "tools/glimmer/command_line.h"
#include "tools/glimmer/commands.h"
#include "tools/glimmer/console_show_window.h"
#include "tools/glimmer/demo_show.h"

namespace glimmer {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "Usage: glimmer demo [--device PATH] [--silent] [--folder DIR] [--seconds N]\n"
    "Runs a complete show with nothing but this program: writes a short song with a clear\n"
    "beat and its sequence archive (three controllers, fades, channels of both banks),\n"
    "imports the archive exactly as the player's Add button does, and plays it into a\n"
    "pseudo-terminal, showing live what each controller and channel receives. The song\n"
    "plays on the sound card when there is one, silently (in real time) when there is not.\n"
    "Ends with the song and one line: messages sent, and how late they were.\n\n"
    "Options:\n"
    "  --device PATH   play into this serial device instead of a pseudo-terminal\n"
    "  --silent        do not use the sound card\n"
    "  --folder DIR    write the demo files there and keep them (the archive can then be\n"
    "                  added in the player's window); default: a temporary folder\n"
    "  --seconds N     length of the song, 3 to 120 (default 12)\n"
    "  --help          this text\n";

constexpr int kFrameTiming = 5;

struct DemoOptions {
  std::string device;
  bool silent = false;
  std::string folder;
  int seconds = 12;
};

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (out) return true;
  std::fprintf(stderr, "glimmer demo: cannot write %s\n", path.c_str());
  return false;
}

// Marks a folder as the demo's own, so a later demo may write there again.
constexpr const char* kDemoMark = ".glimmer-demo";

// Whether `folder` holds a player's files that the demo's import would
// replace or add to (it writes playlist.txt, Cache and Temp).
bool HoldsPlayerFiles(const fs::path& folder) {
  std::error_code ec;
  if (fs::exists(folder / kDemoMark, ec)) return false;
  for (const char* name : {"playlist.txt", "preferences.txt", "show.log", "Cache"}) {
    if (fs::exists(folder / name, ec)) return true;
  }
  return false;
}

// The demo's own folder: a fresh temporary one unless the user named one. A
// named folder that holds a player's files is never written over: the demo
// then uses a folder of its own inside it.
class DemoFolder {
 public:
  explicit DemoFolder(const std::string& chosen) {
    std::error_code ec;
    if (!chosen.empty()) {
      fs::create_directories(platform::FilePath(chosen), ec);
      if (ec) {
        const bool notAFolder =
            fs::exists(platform::FilePath(chosen)) && !fs::is_directory(platform::FilePath(chosen));
        problem_ = chosen + ": " + (notAFolder ? "it is a file, not a folder" : ec.message());
        return;
      }
      fs::path folder = fs::absolute(platform::FilePath(chosen)).lexically_normal();
      if (HoldsPlayerFiles(folder)) {
        folder /= "glimmerfield-demo";
        fs::create_directories(folder, ec);
        if (ec || HoldsPlayerFiles(folder)) {
          problem_ = platform::PathText(folder) + ": " +
                     (ec ? ec.message() : std::string("it holds a player's files"));
          return;
        }
        std::printf(
            "%s holds a player's files, which the demo never writes over: its files go "
            "to %s\n",
            chosen.c_str(), platform::PathText(folder).c_str());
      }
      path_ = platform::PathText(folder);
      while (path_.size() > 1 && path_.back() == '/') path_.pop_back();
      std::ofstream(folder / kDemoMark) << "Files of glimmer demo.\n";
      return;
    }
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const fs::path candidate =
          fs::temp_directory_path() / ("glimmer-demo-" + std::to_string(random()));
      if (fs::create_directory(candidate, ec)) path_ = platform::PathText(candidate);
    }
    temporary_ = true;
  }
  ~DemoFolder() {
    std::error_code ec;
    if (temporary_ && !path_.empty()) fs::remove_all(platform::FilePath(path_), ec);
  }
  DemoFolder(const DemoFolder&) = delete;
  DemoFolder& operator=(const DemoFolder&) = delete;
  const std::string& path() const { return path_; }
  // Why there is no folder: the folder and the reason.
  const std::string& problem() const { return problem_; }

 private:
  std::string path_;
  std::string problem_;
  bool temporary_ = false;
};

// The import's side of the demo: no status line or dialogs, messages kept
// for the one line that says why an import failed.
class DemoImport final : public importer::CompileWindow, public platform::UserInterface {
 public:
  void SetStatus(const std::string&) override {}
  bool PerformBitmask() const override { return true; }
  void ShowMessage(const std::string& text) override { messages_ += text + "\n"; }
  std::optional<std::string> ShowOpenDialog(const std::string&, const std::string&,
                                            const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void DoEvents() override {}
  void SetHourglass(bool) override {}
  const std::string& messages() const { return messages_; }

 private:
  std::string messages_;
};

class MemoryListBox final : public playlist::ListBox {
 public:
  int Count() const override { return static_cast<int>(items_.size()); }
  std::string Text(int i) const override { return items_.at(static_cast<std::size_t>(i)).first; }
  std::int32_t ItemData(int i) const override {
    return items_.at(static_cast<std::size_t>(i)).second;
  }
  void SetItemData(int i, std::int32_t d) override {
    items_.at(static_cast<std::size_t>(i)).second = d;
  }
  void InsertItem(int i, const std::string& text) override {
    items_.insert(items_.begin() + i, {text, 0});
  }
  void RemoveItem(int i) override { items_.erase(items_.begin() + i); }
  void Clear() override { items_.clear(); }
  int SelectedIndex() const override { return selected_; }
  void Select(int i) override { selected_ = i; }
  void SetFocus() override {}

 private:
  std::vector<std::pair<std::string, std::int32_t>> items_;
  int selected_ = -1;
};

// What the terminal shows: the board and the player's notes, drawn in place
// on a terminal, as a frame every few seconds otherwise.
class Display {
 public:
  Display(std::string title, double seconds) : title_(std::move(title)), seconds_(seconds) {
    live_ = ::isatty(STDOUT_FILENO) == 1;
  }

  std::mutex& mutex() { return mutex_; }
  demo::ControllerBoard& board() { return board_; }
  void SetNote(const std::string& text) { note_ = text; }
  void SetNotice(const std::string& text) { notice_ = text; }

  // Called often; draws when a frame is due. The caller holds no lock.
  void Tick(double songSeconds, bool force = false) {
    const auto now = SteadyClock::now();
    const auto every = live_ ? std::chrono::milliseconds(80) : std::chrono::milliseconds(3000);
    if (!force && drawn_ && now - lastDraw_ < every) return;
    lastDraw_ = now;
    std::vector<std::string> lines;
    {
      const std::lock_guard lock(mutex_);
      char head[160];
      std::snprintf(head, sizeof head, "%s  %5.1f s / %.1f s   messages %ld  (events %ld)",
                    title_.c_str(), songSeconds, seconds_, board_.messages(), board_.events());
      lines.push_back(head);
      for (std::string& line : board_.Render()) lines.push_back(std::move(line));
      if (!note_.empty()) lines.push_back("note: " + note_);
      if (!notice_.empty()) lines.push_back("notice: " + notice_);
    }
    std::string out;
    if (live_ && drawn_) out += "\x1b[" + std::to_string(height_) + "F";  // back to the top
    for (const std::string& line : lines) out += (live_ ? "\x1b[2K" : "") + line + "\n";
    if (!live_) out += "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    height_ = static_cast<int>(lines.size());
    drawn_ = true;
  }

 private:
  std::string title_;
  double seconds_;
  bool live_ = false;
  bool drawn_ = false;
  int height_ = 0;
  SteadyClock::time_point lastDraw_{};
  std::mutex mutex_;
  demo::ControllerBoard board_;
  std::string note_;
  std::string notice_;
};

// What the show tells the demo: its notes and notices, on the display.
class DemoShowView final : public playback::ShowView {
 public:
  explicit DemoShowView(Display& display) : display_(display) {}
  void PlayingNoteChanged(const std::string& text) override {
    const std::lock_guard lock(display_.mutex());
    display_.SetNote(text);
  }
  void NoticeAdded(const std::string& text) override {
    lastNotice_ = text;
    const std::lock_guard lock(display_.mutex());
    display_.SetNotice(text);
  }
  const std::string& LastNotice() const { return lastNotice_; }

 private:
  Display& display_;
  std::string lastNotice_;
};

double MsSince(SteadyClock::time_point origin, SteadyClock::time_point t) {
  return std::chrono::duration<double, std::milli>(t - origin).count();
}

// Hands every batch written to a serial device to the board too, stamped
// as it is written: what a device receives cannot be read back.
class TappedPort final : public platform::SerialPort {
 public:
  using Tap = std::function<void(std::string_view)>;
  TappedPort(platform::SerialPort& port, Tap tap) : port_(port), tap_(std::move(tap)) {}
  void SetPortNumber(int number) override { port_.SetPortNumber(number); }
  void SetSettings(const std::string& settings) override { port_.SetSettings(settings); }
  platform::Status Open() override { return port_.Open(); }
  bool IsOpen() const override { return port_.IsOpen(); }
  void Close() override { port_.Close(); }
  platform::Status Write(std::string_view bytes) override {
    platform::Status written = port_.Write(bytes);
    if (written) tap_(bytes);
    return written;
  }

 private:
  platform::SerialPort& port_;
  Tap tap_;
};

#ifdef _WIN32
// Windows has no pseudo-terminal to read back: without --device the show
// plays into a line of the demo's own, which takes every byte at once, and
// the board shows what it was given.
class DemoLine final : public platform::SerialPort {
 public:
  void SetPortNumber(int) override {}
  void SetSettings(const std::string&) override {}
  platform::Status Open() override {
    open_ = true;
    return platform::Status::Ok();
  }
  bool IsOpen() const override { return open_; }
  void Close() override { open_ = false; }
  platform::Status Write(std::string_view) override { return platform::Status::Ok(); }

 private:
  bool open_ = false;
};

#else
struct DemoPty {
  platform::UniqueFd master, slave;
  std::string name;
};

// A pseudo-terminal of the demo's own, raw, and proven to open as a serial
// port by name. Its descriptors never reach a child (the extractor, a sound
// server the audio library starts): an inherited side keeps the line busy
// for whoever comes next. Should the fresh device still be taken by another
// process by the time we open it, a new one is made rather than ending the
// demo over a line that nobody but us was meant to use.
std::optional<DemoPty> OpenDemoPty(const std::string& settingsText) {
  std::string lastError;
  for (int attempt = 0; attempt < 5; ++attempt) {
    DemoPty pty;
    pty.master.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    char name[256] = {};
    if (!pty.master || ::grantpt(pty.master.get()) != 0 || ::unlockpt(pty.master.get()) != 0 ||
        ::ptsname_r(pty.master.get(), name, sizeof name) != 0) {
      std::perror("glimmer demo: cannot create a pseudo-terminal");
      return std::nullopt;
    }
    pty.name = name;
    pty.slave.Reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!pty.slave) {
      std::perror(("glimmer demo: " + pty.name).c_str());
      return std::nullopt;
    }
    termios raw{};
    ::tcgetattr(pty.slave.get(), &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(pty.slave.get(), TCSANOW, &raw);
    const auto trial = platform::MakeSerialPort({.dataFolder = {}, .devicePath = pty.name});
    trial->SetSettings(settingsText);
    const platform::Status opened = trial->Open();
    trial->Close();
    if (opened) return pty;
    lastError = opened.message();
  }
  std::fprintf(stderr, "glimmer demo: no pseudo-terminal of its own would open: %s\n",
               lastError.c_str());
  return std::nullopt;
}
#endif

}  // namespace

int RunDemo(const std::vector<std::string>& args) {
  DemoOptions o;
  CLI::App app;
  app.add_option("--device", o.device)->check([](const std::string& v) {
    return v.empty() ? std::string("needs a device path") : std::string();
  });
  app.add_flag("--silent", o.silent);
  app.add_option("--folder", o.folder)->check([](const std::string& v) {
    return v.empty() ? std::string("needs a folder") : std::string();
  });
  app.add_option("--seconds", o.seconds)->check(WholeNumberIn(3, 120));
  if (auto ended = ParseArguments(app, "demo", kUsage, args)) return *ended;

  // ---- the demo's files: a song and its sequence archive ----
  const DemoFolder folder(o.folder);
  if (folder.path().empty()) {
    std::fprintf(stderr, "glimmer demo: cannot create a folder for the demo files%s%s\n",
                 folder.problem().empty() ? "" : ": ", folder.problem().c_str());
    return 1;
  }
  const std::string base = folder.path() + "/" + demo::kBaseName;
  const std::string audioPath = base + ".wav";
  const std::string archivePath = base + ".msq";
  if (!WriteFile(audioPath, demo::MakeDemoSong(o.seconds)) ||
      !WriteFile(archivePath, demo::MakeStoredRar(demo::kBaseName,
                                                  demo::MakeDemoSequence(audioPath, o.seconds)))) {
    return 1;
  }

  // ---- the import, as the Add button runs it ----
  // Where the window and glimmer compile find it: beside the program in a
  // build tree, in the package's libexec folder once installed.
  const std::string extractor = platform::CurrentProgramFolders().Extractor();
#ifdef _WIN32
  if (platform::KindOfPath(extractor) != platform::FileKind::Regular) {
#else
  if (::access(extractor.c_str(), X_OK) != 0) {
#endif
    std::fprintf(stderr, "glimmer demo: the archive extractor %s is missing\n", extractor.c_str());
    return 1;
  }
  const std::unique_ptr<platform::FileStore> fileStore = platform::MakeFileStore();
  platform::FileStore& files = *fileStore;
  const std::unique_ptr<platform::ProcessLauncher> launcher = platform::MakeProcessLauncher();
  DemoImport import;
  const sequence_format::FadeTimingTable& fadeTimings = sequence_format::kFadeTimingTable;
  importer::ImportPlan plan;
  plan.archivePath = archivePath;
  plan.archiverPath = extractor;
  plan.extractFolder = platform::TempFolder(folder.path());
  plan.cacheFolder = platform::CacheFolder(folder.path());
  plan.audioFolder = folder.path();
  const importer::ImportOutcome imported = importer::ImportArchive(
      plan, importer::ImportServices{import, import, files, *launcher, fadeTimings});
  if (!imported.sequence) {
    std::fprintf(stderr, "glimmer demo: the import failed\n%s", import.messages().c_str());
    return 1;
  }
  // The demo's folder holds a playlist the player can open, as after Add.
  MemoryListBox list;
  playlist::Playlist saved(list, import, files, platform::PlaylistPath(folder.path()));
  saved.ResetEntries();
  const importer::ImportedSequence& sequence = *imported.sequence;
  saved.AddPlaylistEntry(playlist::PlaylistEntry{sequence.audioPath, sequence.cachePath,
                                                 sequence.listText, playlist::kProgramVersion,
                                                 sequence.archivePath});
  (void)saved.SavePlaylist();
  const playlist::PlaylistEntry entry = saved.EntryAtRow(0);
  auto table = sequence_format::LoadSequenceCache(entry.CachePath);
  if (!table) {
    std::fprintf(stderr, "glimmer demo: %s\n", table.message().c_str());
    return 1;
  }
  const auto rows = table.value().Records();
  std::printf("Imported %s\n  -> %s (%zu rows), listed as \"%s\"\n", archivePath.c_str(),
              entry.CachePath.c_str(), rows.size(), entry.ListText.c_str());

  Display display(std::string(demo::kTitle) + " - " + demo::kArtist, o.seconds);
  for (const auto& row : rows) {
    const int device = static_cast<int>(row.Get(sequence_format::Column::Device).value_or(0));
    const int command = static_cast<int>(row.Get(sequence_format::Column::Command).value_or(0));
    const int mask = static_cast<int>(row.Get(sequence_format::Column::Channel).value_or(0));
    const int first = command / 10 == 2 ? 9 : 1;
    for (int bit = 0; bit < 8; ++bit) {
      if (mask & (1 << bit)) display.board().Expect(device, first + bit);
    }
  }
  DemoShowView view(display);
  demo::LatenessMeter meter(demo::ExpectedMessages(
      rows, static_cast<std::int64_t>(o.seconds) * playback::kSamplesPerSecond, fadeTimings));
  const auto origin = SteadyClock::now();
  const auto received = [&](std::string_view bytes, SteadyClock::time_point at) {
    const std::lock_guard lock(display.mutex());
    for (const std::string& message : display.board().Feed(bytes)) {
      meter.Arrived(message, MsSince(origin, at));
    }
  };

#ifdef _WIN32
  // ---- the line: a device, or the demo's own ----
  std::atomic<bool> done{false};
  std::thread reader;
  const std::unique_ptr<platform::SerialPort> realPort =
      o.device.empty()
          ? std::make_unique<DemoLine>()
          : platform::MakeSerialPort({.dataFolder = platform::ApplicationDirectory(),
                                      .devicePath = o.device,
                                      .stallTimeout = std::chrono::milliseconds(1000)});
  std::printf("Playing into %s%s\n\n", o.device.empty() ? "the demo's own line" : o.device.c_str(),
              o.device.empty() ? " (what it is given is shown below)" : "");
  std::fflush(stdout);
  TappedPort tapped(*realPort,
                    [&](std::string_view bytes) { received(bytes, SteadyClock::now()); });
  platform::SerialPort& port = tapped;

#else
  // ---- the line: a pseudo-terminal read back here, or a device ----
  platform::UniqueFd master, slave;
  std::string device = o.device;
  if (device.empty()) {
    auto pty = OpenDemoPty(platform::LineSettingsText(115200));
    if (!pty) return 1;
    master = std::move(pty->master);
    slave = std::move(pty->slave);
    device = pty->name;
  }
  std::printf("Playing into %s%s\n\n", device.c_str(),
              o.device.empty() ? " (a pseudo-terminal; what arrives there is shown below)" : "");
  std::fflush(stdout);

  std::atomic<bool> done{false};
  std::thread reader;
  if (master) {
    reader = std::thread([&] {
      char buffer[4096];
      while (!done) {
        pollfd p{master.get(), POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = ::read(master.get(), buffer, sizeof buffer);
        if (n <= 0) continue;  // EIO while no one holds the port side
        received(std::string_view(buffer, static_cast<std::size_t>(n)), SteadyClock::now());
      }
    });
  }

  const std::unique_ptr<platform::SerialPort> realPort =
      platform::MakeSerialPort({.dataFolder = platform::ApplicationDirectory(),
                                .devicePath = device,
                                .stallTimeout = std::chrono::milliseconds(1000)});
  TappedPort tapped(*realPort,
                    [&](std::string_view bytes) { received(bytes, SteadyClock::now()); });
  platform::SerialPort& port = master ? *realPort : static_cast<platform::SerialPort&>(tapped);
#endif

  std::unique_ptr<platform::AudioPlayer> audio = platform::MakeAudioPlayer({.silent = o.silent});
  ConsoleUserInterface ui;
  const std::unique_ptr<platform::Clock> clock = platform::MakeSystemClock();
  FixedShowSettings settings(
      {1, 115200, kFrameTiming, shell::kFirstSecondOfDay, shell::kLastSecondOfDay});
  SingleEntry playlist(entry);
  NoShowLog noLog;
  bool running = true;
  playback::ShowSession session({port, *audio, ui, *clock, noLog, platform::LocalDateTime},
                                {running, settings, playlist, view}, fadeTimings);
  ui.onSignal = [&](int) { session.Stop(kInterrupted); };

  // When the song was at 0 on the steady clock, from the player's own view
  // of the position at every yield; the median is robust to a late reading.
  std::vector<double> audioStarts;
  double songSeconds = 0;
  ui.AddYieldHook([&] {
    if (audio->PlayState() == platform::kPlayStatePlaying) {
      songSeconds = audio->PositionSeconds();
      if (songSeconds > 0.05)
        audioStarts.push_back(MsSince(origin, SteadyClock::now()) - 1000.0 * songSeconds);
    }
    display.Tick(songSeconds);
  });

  if (auto opened = session.OpenPort(); !opened) {
    done = true;
    if (reader.joinable()) reader.join();
    std::fprintf(stderr, "glimmer demo: %s\n", opened.message().c_str());
    return 1;
  }
  session.ReadySound();
  const playback::PlayOutcome outcome = session.PlayEntry(0);
  session.ClosePort();
  // Whatever the line still held reaches the reader before it stops.
#ifndef _WIN32
  if (master) {
    for (int i = 0; i < 20; ++i) {
      int queued = 0;
      if (::ioctl(master.get(), FIONREAD, &queued) != 0 || queued == 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
#endif
  done = true;
  if (reader.joinable()) reader.join();
  display.Tick(o.seconds, /*force=*/true);

  const std::vector<double> lateness = meter.Lateness(demo::Median(audioStarts), kFrameTiming);
  const double worst = lateness.empty() ? 0 : *std::max_element(lateness.begin(), lateness.end());
  const bool silent = audio->IsSilent();
  std::printf(
      "\nDemo %s: %ld messages sent (%ld events, %ld port-open, %ld keep-alive), "
      "lateness median %.1f ms, max %.1f ms%s\n",
      outcome == playback::PlayOutcome::Finished ? "finished" : "ended early",
      display.board().messages(), display.board().events(), display.board().portOpens(),
      display.board().keepAlives(), demo::Median(lateness), worst,
      silent ? (o.silent ? ", silent" : ", silent (no sound device)") : "");
  if (!o.folder.empty()) {
    std::printf("The demo files are in %s: add %s in the player's window to play it there.\n",
                folder.path().c_str(), archivePath.c_str());
  }
  if (outcome != playback::PlayOutcome::Finished) {
    if (!view.LastNotice().empty()) std::fprintf(stderr, "%s\n", view.LastNotice().c_str());
    return outcome == playback::PlayOutcome::Stopped ? 130 : 1;
  }
  if (meter.Matched() != meter.Expected()) {
    std::fprintf(stderr, "glimmer demo: %zu of %zu event messages arrived as expected\n",
                 meter.Matched(), meter.Expected());
    return 1;
  }
  return 0;
}

}  // namespace glimmer
