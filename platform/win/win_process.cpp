#include "platform/win/win_process.h"

#include <cstdio>

namespace platform::win {
namespace {

constexpr DWORD kWatchMilliseconds = 100;
// What an alert may write before the rest is dropped: a log line, not a dump.
constexpr std::size_t kChildOutputLimit = 16 * 1024;
// The end of a program's error output kept for the caller.
constexpr std::size_t kKeptErrorOutput = 4096;

void AppendQuoted(std::wstring& line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only in front of a quote: there each one is doubled
    // and the quote itself escaped.
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  // Before the closing quote they would escape it.
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

// Bytes waiting in the pipe, read without blocking. False once every writer
// has closed its end.
bool ReadAvailable(HANDLE pipe, std::string& into, std::size_t limit) {
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available == 0) return true;
    char buffer[4096];
    DWORD got = 0;
    const DWORD want = available < sizeof buffer ? available : static_cast<DWORD>(sizeof buffer);
    if (!::ReadFile(pipe, buffer, want, &got, nullptr)) return false;
    const std::size_t room = into.size() < limit ? limit - into.size() : 0;
    into.append(buffer, got < room ? got : room);
  }
}

struct Started {
  UniqueHandle process;
  UniqueHandle job;
};

// Starts the program suspended, puts it into a kill-on-close job of its own
// and only then lets it run, so that nothing it starts escapes the job.
Result<Started> StartInJob(const std::vector<std::string>& argv, STARTUPINFOW& startup,
                           DWORD flags) {
  std::wstring commandLine = CommandLineFor(argv);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                        flags | CREATE_SUSPENDED | NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                        &startup, &info)) {
    return Result<Started>::Error(LastErrorMessage());
  }
  Started started{UniqueHandle(info.hProcess), MakeKillOnCloseJob()};
  UniqueHandle thread(info.hThread);
  // Without a job (the system refused one) the program still runs: the
  // import matters more than tidying up after a crash of ours.
  if (started.job && !::AssignProcessToJobObject(started.job.get(), info.hProcess)) {
    started.job.Reset();
  }
  ::ResumeThread(thread.get());
  return started;
}

// An inheritable copy of one of our standard handles, or none.
UniqueHandle InheritableStdHandle(DWORD which) {
  const HANDLE own = ::GetStdHandle(which);
  if (own == nullptr || own == INVALID_HANDLE_VALUE) return {};
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), own, ::GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
    return {};
  }
  return UniqueHandle(copy);
}

struct Pipe {
  UniqueHandle read;
  UniqueHandle write;  // inheritable
};

Result<Pipe> MakePipe() {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!::CreatePipe(&read, &write, &inherit, 0)) {
    return Result<Pipe>::Error("cannot make a pipe: " + LastErrorMessage());
  }
  ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  return Pipe{UniqueHandle(read), UniqueHandle(write)};
}

std::string HexCode(DWORD code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

class WinChild final : public ChildProcess {
 public:
  WinChild(Started started, UniqueHandle output)
      : process_(std::move(started.process)),
        job_(std::move(started.job)),
        output_(std::move(output)) {}
  ~WinChild() override {
    if (!exit_) Kill();
  }

  std::optional<ChildExit> Poll() override {
    Drain();
    if (exit_) return exit_;
    if (::WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(process_.get(), &code);
    Drain();
    exit_ = ChildExit{false, static_cast<int>(code)};
    return exit_;
  }

  std::string TakeOutput() override {
    Drain();
    return std::exchange(text_, {});
  }

  bool AwaitEnd(DWORD timeoutMs) const {
    return exit_ || ::WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
  }

  void Kill() override {
    if (exit_) return;
    if (job_) {
      ::TerminateJobObject(job_.get(), 1);
    } else {
      ::TerminateProcess(process_.get(), 1);
    }
  }

 private:
  void Drain() {
    if (!output_) return;
    std::string got;
    const bool open = ReadAvailable(output_.get(), got, kChildOutputLimit);
    const std::size_t room = kept_ < kChildOutputLimit ? kChildOutputLimit - kept_ : 0;
    if (got.size() > room) got.resize(room);
    kept_ += got.size();
    text_ += got;
    if (!open) output_.Reset();
  }

  UniqueHandle process_;
  UniqueHandle job_;
  UniqueHandle output_;
  std::string text_;
  std::size_t kept_ = 0;
  std::optional<ChildExit> exit_;
};

}  // namespace

std::wstring CommandLineFor(const std::vector<std::string>& argv) {
  std::wstring line;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    if (i > 0) line += L' ';
    AppendQuoted(line, Widen(argv[i]));
  }
  return line;
}

UniqueHandle MakeKillOnCloseJob() {
  UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
    job.Reset();
  }
  return job;
}

bool IsExceptionCode(DWORD code) {
  return (code & 0xF0000000u) == 0xC0000000u;
}

WinProcessLauncher::WinProcessLauncher() = default;

Result<int> WinProcessLauncher::Run(const std::vector<std::string>& argv) {
  return RunWatched(argv, nullptr);
}

Result<int> WinProcessLauncher::RunWatched(const std::vector<std::string>& argv,
                                           const KeepWaiting& keepWaiting) {
  if (argv.empty() || argv.front().empty()) {
    return Result<int>::Error("Cannot start a program: no program was named.");
  }
  const std::string& program = argv.front();
  lastErrorOutput_.clear();

  // The program's error output goes through a pipe: passed on to ours as it
  // comes, its end kept for the caller. Input and output are ours.
  auto pipe = MakePipe();
  if (!pipe)
    return Result<int>::Error("Cannot start the program " + program + ": " + pipe.message() + ".");
  UniqueHandle input = InheritableStdHandle(STD_INPUT_HANDLE);
  UniqueHandle output = InheritableStdHandle(STD_OUTPUT_HANDLE);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = output.get();
  startup.hStdError = pipe.value().write.get();
  auto started = StartInJob(argv, startup, 0);
  pipe.value().write.Reset();  // only the program writes; the pipe ends with it
  if (!started) {
    return Result<int>::Error("Cannot start the program " + program + ": " + started.message() +
                              ".");
  }
  const HANDLE process = started.value().process.get();
  const HANDLE errors = pipe.value().read.get();
  const HANDLE ourErrors = ::GetStdHandle(STD_ERROR_HANDLE);

  const auto passOn = [&]() -> bool {
    std::string got;
    const bool open = ReadAvailable(errors, got, SIZE_MAX);
    if (!got.empty()) {
      DWORD put = 0;
      if (ourErrors != nullptr && ourErrors != INVALID_HANDLE_VALUE) {
        ::WriteFile(ourErrors, got.data(), static_cast<DWORD>(got.size()), &put, nullptr);
      }
      lastErrorOutput_ += got;
      if (lastErrorOutput_.size() > kKeptErrorOutput) {
        lastErrorOutput_.erase(0, lastErrorOutput_.size() - kKeptErrorOutput);
      }
    }
    return open;
  };

  for (;;) {
    passOn();
    if (::WaitForSingleObject(process, kWatchMilliseconds) == WAIT_OBJECT_0) break;
    if (keepWaiting && !keepWaiting()) {
      // A program that is asked to stop on Windows cannot be asked nicely
      // without a window; its whole job goes.
      if (started.value().job) {
        ::TerminateJobObject(started.value().job.get(), 1);
      } else {
        ::TerminateProcess(process, 1);
      }
      ::WaitForSingleObject(process, INFINITE);
      return Result<int>::Error("The program " + program + " was stopped before it ended.");
    }
  }
  passOn();

  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) {
    return Result<int>::Error("Lost track of the program " + program + ": " + LastErrorMessage() +
                              ".");
  }
  if (IsExceptionCode(code)) {
    return Result<int>::Error("The program " + program + " crashed (exception " + HexCode(code) +
                              ").");
  }
  return static_cast<int>(code);
}

Result<std::unique_ptr<ChildProcess>> WinChildStarter::Start(const std::vector<std::string>& argv) {
  using R = Result<std::unique_ptr<ChildProcess>>;
  if (argv.empty() || argv[0].empty()) return R::Error("no program to run");
  auto pipe = MakePipe();
  if (!pipe) return R::Error(pipe.message());
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  UniqueHandle nothing(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherit, OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing.get();
  startup.hStdOutput = pipe.value().write.get();
  startup.hStdError = pipe.value().write.get();
  auto started = StartInJob(argv, startup, CREATE_NO_WINDOW);
  pipe.value().write.Reset();
  if (!started) return R::Error("cannot run " + argv[0] + ": " + started.message());
  return R(std::make_unique<WinChild>(std::move(started).value(), std::move(pipe.value().read)));
}

bool AwaitEnd(ChildProcess& child, DWORD timeoutMs) {
  const auto* ours = dynamic_cast<const WinChild*>(&child);
  return ours != nullptr && ours->AwaitEnd(timeoutMs);
}

}  // namespace platform::win
