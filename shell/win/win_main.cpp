// glimmerfield.exe: the player's window on Windows. The same show host,
// presenter and files as the Linux window; only the window is Windows' own.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/audio_factory.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "platform/win/wide_text.h"
#include "platform/win/win_registry.h"
#include "platform/win/win_serial_port.h"
#include "platform/win/win_user_interface.h"
#include "shell/main_presenter.h"
#include "shell/win/main_dialog.h"
#include "shell/winrar_locator.h"

namespace {

// Help and version go to the console the program was started from, if any.
bool AnswerOption(const std::wstring& option) {
  std::string text;
  if (option == L"--version") {
    text = std::string("glimmerfield ") + GLIMMER_VERSION + "\n";
  } else if (option == L"--help" || option == L"-h" || option == L"/?") {
    const platform::ProgramFolders folders = platform::CurrentProgramFolders();
    text =
        "Usage: glimmerfield [--help | --version]\n"
        "The Glimmerfield light-show player's window. It keeps its files (preferences.txt,\n"
        "playlist.txt, Cache, Temp, show.log) in " +
        folders.data + "\n";
  } else {
    return false;
  }
  if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    std::FILE* out = nullptr;
    if (freopen_s(&out, "CONOUT$", "w", stdout) != 0) out = nullptr;
  }
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  if (__argc > 1 && AnswerOption(__wargv[1])) return 0;

  platform::win::WinUserInterface ui;
  // A copy run from a USB stick or a build folder keeps its files beside
  // itself; the installed one in %LOCALAPPDATA%\Glimmerfield.
  const platform::ProgramFolders folders = platform::CurrentProgramFolders();
  if (const platform::Status made = platform::MakeDataFolder(folders.data); !made) {
    ui.ShowMessage(made.message());
  }
  const std::unique_ptr<platform::Clock> clock = platform::MakeSystemClock();
  const std::unique_ptr<platform::FileStore> files = platform::MakeFileStore();
  const std::unique_ptr<platform::ProcessLauncher> launcher = platform::MakeProcessLauncher();
  platform::win::WinRegistry registry;
  const std::unique_ptr<platform::SerialPort> port =
      platform::MakeSerialPort({.dataFolder = folders.data, .devicePath = {}});
  // Without a usable sound device the songs play silently in real time, so
  // the lights still run on schedule.
  const std::unique_ptr<platform::AudioPlayer> audio = platform::MakeAudioPlayer();

  std::unique_ptr<shell::win::MainDialog> window;
  try {
    window = std::make_unique<shell::win::MainDialog>(instance, ui);
  } catch (const std::exception& e) {
    ui.ShowMessage(e.what());
    return 1;
  }
  // Every status text and notice on standard error, for whoever watches the
  // window from outside (the end-to-end test).
  if (const char* trace = std::getenv("GLIMMERFIELD_TRACE"); trace != nullptr && *trace == '1') {
    window->TraceTo([](const std::string& line) {
      std::fprintf(stderr, "%s\n", line.c_str());
      std::fflush(stderr);
    });
  }
  shell::MainPresenter presenter(
      shell::MainServices{.ui = ui,
                          .clock = *clock,
                          .port = *port,
                          .audio = *audio,
                          .registry = registry,
                          .files = *files,
                          .launcher = *launcher,
                          .applicationDirectory = folders.data,
                          // An installed WinRAR as the registry names it, else our own
                          // extractor beside the program, which takes the same command line.
                          .locateWinRar =
                              [programs = folders.programs](const shell::RegistryTextReader& read) {
                                return shell::LocateArchiver(read, programs);
                              },
                          // Closing ends the program where it stands, also inside a running
                          // show loop; every file has been written and closed by then.
                          .endProgram =
                              [](int exitCode) {
                                std::fflush(nullptr);
                                ExitProcess(static_cast<UINT>(exitCode));
                              },
                          .describePort =
                              [](int number) {
                                return platform::win::DescribeComPort(
                                    number, platform::win::ListedSerialPorts());
                              },
                          .sequencerRegistryExists = true},
      *window);
  shell::win::PresenterActions actions(presenter);
  window->Attach(&actions);
  const std::unique_ptr<platform::DispatchPriority> priority = platform::MakeDispatchPriority();
  presenter.SetDispatchPriority(*priority);
  presenter.KeepWatch();
  presenter.Load();
  return ui.Run();
}
