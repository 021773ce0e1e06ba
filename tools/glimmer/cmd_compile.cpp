// glimmer compile: the window's import without the window. Compiles a
// sequence document, or the document inside a sequence archive, into a
// SequenceCache file through the same compiler the Add button runs.
#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "import/compile_sequence.h"
#include "import/import_driver.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "playback/line_report.h"
#include "sequence_format/fade_timing.h"
#include "tools/glimmer/command_line.h"
#include "tools/glimmer/commands.h"

namespace glimmer {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "Usage: glimmer compile [--bitmask] [--audio FILE] [--baud 56000|115200] SOURCE CACHE\n"
    "Compiles a Spectrum sequence into the compiled file CACHE (.csq), as the player's Add\n"
    "button does. SOURCE is a sequence document, or a sequence archive (.msq, RAR or ZIP),\n"
    "which is extracted with glimmer-extract into a temporary folder; the document inside\n"
    "is the one named after the archive without its extension.\n"
    "\n"
    "Options:\n"
    "  --bitmask     merge identical commands of several channels (the player's\n"
    "                \"Perform bitmask\" box)\n"
    "  --audio FILE  the audio file to use when the one the document names does not exist\n"
    "                (the answer to the player's \"Locate Audio File\" dialog)\n"
    "  --baud N      the controllers' line rate, 56000 or 115200 (default 115200): the\n"
    "                compiled sequence is run through a model of the serial line at both\n"
    "                rates, and a warning names the worst moment when at this rate the\n"
    "                lights would fall more than 50 ms behind the music\n"
    "  --help        show this text\n"
    "\n"
    "Progress, messages and the serial line report go to standard error. On success prints "
    "\"audio: PATH\" and\n"
    "\"title: TITLE\" to standard output and exits 0; a refused sequence exits 1 and\n"
    "writes nothing.\n";

std::string WithPlainLineBreaks(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

// Messages go to standard error; the audio dialog is answered by --audio,
// or cancelled.
class ConsoleUserInterface final : public platform::UserInterface {
 public:
  explicit ConsoleUserInterface(std::optional<std::string> audio) : audio_(std::move(audio)) {}

  void ShowMessage(const std::string& text) override {
    std::fprintf(stderr, "%s\n", WithPlainLineBreaks(text).c_str());
  }
  std::optional<std::string> ShowOpenDialog(const std::string&, const std::string& title,
                                            const std::string&, const std::string&) override {
    if (!audio_) {
      std::fprintf(stderr, "glimmer compile: \"%s\": no file given (use --audio FILE)\n",
                   title.c_str());
    }
    return audio_;
  }
  void DoEvents() override {}
  void SetHourglass(bool) override {}

 private:
  std::optional<std::string> audio_;
};

class ConsoleWindow final : public importer::CompileWindow {
 public:
  ConsoleWindow(bool bitmask, int baud) : bitmask_(bitmask), baud_(baud) {}
  void SetStatus(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  bool PerformBitmask() const override { return bitmask_; }
  std::function<void()> SequenceCompiled(const sequence_format::EventTable& table) override {
    // The line timing benchmark times the whole command with and without the
    // report; nobody else sets this.
    if (std::getenv("GLIMMER_BENCH_WITHOUT_LINE_REPORT") != nullptr) return {};
    return [report = playback::PlanLineAside(table), this] {
      try {
        std::fprintf(stderr, "%s",
                     playback::FormatLineReport(report.get(), baud_, bitmask_).c_str());
      } catch (const std::exception& error) {
        // The sequence is saved; only the forecast is missing.
        std::fprintf(stderr, "no serial line report: %s\n", error.what());
      }
    };
  }

 private:
  bool bitmask_;
  int baud_;
};

bool IsArchive(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[7] = {};
  in.read(head, sizeof head);
  const std::string_view magic(head, static_cast<std::size_t>(in.gcount()));
  return magic.starts_with(std::string_view("Rar!\x1A\x07", 6)) ||
         magic.starts_with("PK\x03\x04") || magic.starts_with("PK\x05\x06");
}

constexpr std::string_view kScratchPrefix = "glimmer-compile-";

// The process id in a scratch folder's name, or 0.
long ScratchOwner(std::string_view name) {
  if (!name.starts_with(kScratchPrefix)) return 0;
  name.remove_prefix(kScratchPrefix.size());
  const std::size_t dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 9) return 0;
  long pid = 0;
  for (const char c : name.substr(0, dash)) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

// A killed compile left its scratch folder (the extractor ends with it, so
// nothing fills it any more): folders of processes that are gone go.
void RemoveDeadScratchFolders(const fs::path& base) {
  std::error_code ec;
  for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
    const long owner = ScratchOwner(it->path().filename().string());
    if (owner <= 0 || owner == ::getpid() || !platform::ProcessIsGone(owner)) continue;
    std::error_code ignored;
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) fs::remove_all(it->path(), ignored);
  }
}

#ifndef _WIN32
// Kills the children of this process (the extractor), as the kernel lists
// them per thread, and waits until they can write no more.
void KillChildren() {
  std::error_code ec;
  for (const fs::directory_entry& task : fs::directory_iterator("/proc/self/task", ec)) {
    std::ifstream list(task.path() / "children");
    for (long pid = 0; list >> pid;) {
      ::kill(static_cast<pid_t>(pid), SIGKILL);
      siginfo_t info{};
      // Not reaped: the thread that started it still waits for it.
      (void)::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    }
  }
}

// Ends the program as SIGTERM, SIGINT or SIGHUP would, after it has stopped
// the extractor and removed the scratch folder: killed mid-extraction, a
// compile left tens of megabytes behind until the next one. The signals wait
// for a thread of their own, where removing a folder is safe.
class EndsCleanly {
 public:
  // `cleanUp` runs on the watching thread when a signal comes, just before
  // the program ends by it.
  explicit EndsCleanly(std::function<void()> cleanUp) : cleanUp_(std::move(cleanUp)) {
    sigemptyset(&set_);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP, kDone}) sigaddset(&set_, sig);
    pthread_sigmask(SIG_BLOCK, &set_, &old_);
    thread_ = std::thread([this] { Watch(); });
  }
  ~EndsCleanly() {
    pthread_kill(thread_.native_handle(), kDone);
    thread_.join();
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  EndsCleanly(const EndsCleanly&) = delete;
  EndsCleanly& operator=(const EndsCleanly&) = delete;

 private:
  static constexpr int kDone = SIGUSR1;

  void Watch() {
    int sig = 0;
    while (sigwait(&set_, &sig) != 0) {
    }
    if (sig == kDone) return;
    cleanUp_();
    ::signal(sig, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(sig);
  }

  std::function<void()> cleanUp_;
  sigset_t set_{}, old_{};
  std::thread thread_;
};
#endif

// A fresh folder for one extraction, removed with everything in it. Its name
// carries the process id, so a later run can tell a dead run's leftover.
//
// A signal that comes while the folder is made or removed (a compile ended
// at once) waits for that to finish, then removes it.
class ScratchFolder {
 public:
  ScratchFolder() {
    const std::lock_guard<std::mutex> hold(mutex_);
    std::random_device random;
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) return;
    RemoveDeadScratchFolders(base);
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const fs::path candidate = base / (std::string(kScratchPrefix) + std::to_string(::getpid()) +
                                         "-" + std::to_string(random()));
      if (fs::create_directory(candidate, ec)) path_ = candidate.string();
    }
  }
  ~ScratchFolder() {
    const std::lock_guard<std::mutex> hold(mutex_);
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
    path_.clear();
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::mutex mutex_;
  std::string path_;
#ifndef _WIN32
  // Last: it watches from before the folder is made until it is removed.
  // The folder is held until the program has ended: the import, failing
  // as its extractor dies, must not end the program first with its own
  // exit. A second pass catches an extractor started meanwhile.
  EndsCleanly endsCleanly_{[this] {
    mutex_.lock();
    for (int pass = 0; pass < 2; ++pass) {
      KillChildren();
      std::error_code ec;
      if (!path_.empty()) fs::remove_all(path_, ec);
    }
  }};
#endif
};

// The extractor reports on standard output, which belongs to our result
// lines; while it runs, its output goes to standard error.
class ChildOutputToStderr {
 public:
  ChildOutputToStderr() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    if (saved_ >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
  }
  ~ChildOutputToStderr() {
    if (saved_ < 0) return;
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  ChildOutputToStderr(const ChildOutputToStderr&) = delete;
  ChildOutputToStderr& operator=(const ChildOutputToStderr&) = delete;

 private:
  int saved_ = -1;
};

struct Options {
  bool bitmask = false;
  int baud = 115200;
  std::optional<std::string> audio;
  std::string source;
  std::string cache;
};

int Compile(const std::vector<std::string>& args);

}  // namespace

// Whatever goes wrong inside, the user hears it as one line and an exit code.
int RunCompile(const std::vector<std::string>& args) {
  try {
    return Compile(args);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "glimmer compile: out of memory\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "glimmer compile: %s\n", e.what());
  }
  return 1;
}

namespace {

int Compile(const std::vector<std::string>& args) {
  Options options;
  std::string audio;
  CLI::App app;
  app.add_flag("--bitmask", options.bitmask);
  CLI::Option* audioGiven = app.add_option("--audio", audio);
  app.add_option("--baud", options.baud)->check(LineRateIn());
  app.add_option("SOURCE", options.source)->required();
  app.add_option("CACHE", options.cache)->required();
  if (auto ended = ParseArguments(app, "compile", kUsage, args)) return *ended;
  if (audioGiven->count() > 0) options.audio = audio;
  const std::string& source = options.source;
  const std::string& cache = options.cache;
  if (options.audio) {
    std::error_code ec;
    if (!fs::exists(*options.audio, ec) || fs::is_directory(*options.audio, ec)) {
      std::fprintf(stderr, "glimmer compile: the audio file %s does not exist\n",
                   options.audio->c_str());
      return 1;
    }
  }

  // A pipe or a device may never end, and opening a pipe waits for a writer:
  // only a regular file is read.
  std::error_code sourceError;
  const fs::file_status sourceStatus = fs::status(source, sourceError);
  if (!fs::exists(sourceStatus)) {
    std::fprintf(stderr, "glimmer compile: the source %s does not exist\n", source.c_str());
    return 1;
  }
  if (!fs::is_regular_file(sourceStatus)) {
    std::fprintf(stderr,
                 "glimmer compile: the source %s is not a regular file (a folder, device or "
                 "pipe cannot be compiled)\n",
                 source.c_str());
    return 1;
  }

  ConsoleWindow window(options.bitmask, options.baud);
  ConsoleUserInterface ui(options.audio);
  const std::unique_ptr<platform::FileStore> files = platform::MakeFileStore();
  const sequence_format::FadeTimingTable& fadeTimings = sequence_format::kFadeTimingTable;
  std::string audioFile;
  std::string displayTitle;
  if (!IsArchive(source)) {
    importer::CompileSequence(source, cache, audioFile, displayTitle,
                              importer::CompileServices{window, ui, *files, fadeTimings, ""});
    if (audioFile.empty()) return 1;
  } else {
    ScratchFolder scratch;
    if (scratch.path().empty()) {
      std::fprintf(stderr, "glimmer compile: cannot create a temporary folder in %s\n",
                   fs::temp_directory_path().string().c_str());
      return 1;
    }
    importer::ImportPlan plan;
    plan.archivePath = source;
    plan.archiverPath = platform::CurrentProgramFolders().Extractor();
    plan.extractFolder = scratch.path();
    plan.cachePath = cache;
    // The player refuses an archive name without an extension; here the
    // whole file name serves as the document's name.
    if (!importer::DeriveArchiveNames(source)) {
      plan.documentName = fs::path(source).filename().string();
    }
    const std::unique_ptr<platform::ProcessLauncher> launcher = platform::MakeProcessLauncher();
    const importer::ImportOutcome outcome = [&] {
      const ChildOutputToStderr redirect;
      return importer::ImportArchive(
          plan, importer::ImportServices{window, ui, *files, *launcher, fadeTimings});
    }();
    if (!outcome.sequence) return 1;
    audioFile = outcome.sequence->audioPath;
    displayTitle = outcome.sequence->displayTitle;
  }
  std::printf("audio: %s\ntitle: %s\n", audioFile.c_str(), displayTitle.c_str());
  return 0;
}

}  // namespace
}  // namespace glimmer
