#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/audio_factory.h"
#include "platform/paths.h"
#include "platform/posix/posix_file_store.h"
#include "platform/posix/posix_process_launcher.h"
#include "platform/posix/realtime_priority.h"
#include "platform/posix/serial_port_map.h"
#include "platform/posix/system_clock.h"
#include "platform/posix/termios_serial_port.h"
#include "platform/posix/wine_registry.h"
#include "platform/qt/qt_user_interface.h"
#include "shell/frm_main.h"
#include "shell/start_options.h"
#include "shell/winrar_locator.h"

int main(int argc, char** argv) {
  // Answered before Qt starts, so help and version work without a display
  // (the manual page is made from them at build time).
  if (argc > 1) {
    const std::string_view option(argv[1]);
    if (option == "--help" || option == "-h") {
      const platform::ProgramFolders folders = platform::CurrentProgramFolders();
      std::fputs(shell::HelpText(folders.data, folders.installed).c_str(), stdout);
      return 0;
    }
    if (option == "--version") {
      std::printf("glimmerfield %s\n", GLIMMER_VERSION);
      return 0;
    }
  }
  if (const auto message = shell::NoDisplayMessage(
          std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"), std::getenv("QT_QPA_PLATFORM"))) {
    std::fprintf(stderr, "%s\n", message->c_str());
    return 1;
  }
  QApplication app(argc, argv);

  platform::qt::QtUserInterface ui;
  platform::SystemClock clock;
  platform::PosixFileStore files;
  platform::PosixProcessLauncher launcher;
  // Spectrum and WinRAR, when installed under Wine, registered themselves in
  // Wine's copy of HKEY_LOCAL_MACHINE.
  const std::string registryPath =
      platform::WineRegistry::DefaultPath(std::getenv("WINEPREFIX"), std::getenv("HOME"));
  platform::WineRegistry registry(registryPath);
  // Without a Wine prefix there is no registry for Spectrum to be missing
  // from: the sequences are imported without it.
  std::error_code noPrefix;
  const bool registryExists =
      !registryPath.empty() && std::filesystem::exists(registryPath, noPrefix);
  // A copy run from a build tree or a USB stick keeps its files beside
  // itself; the installed one in the user's data folder.
  const platform::ProgramFolders folders = platform::CurrentProgramFolders();
  const std::string applicationDirectory = folders.data;
  if (const platform::Status made = platform::MakeDataFolder(folders.data); !made) {
    ui.ShowMessage(made.message());
  }
  platform::TermiosSerialPort::Options portOptions;
  portOptions.applicationDirectory = applicationDirectory;
  platform::TermiosSerialPort port(portOptions);
  // Without a usable sound device the songs play silently in real time, so
  // the lights still run on schedule.
  std::unique_ptr<platform::AudioPlayer> audio = platform::MakeAudioPlayer();
  shell::frmMain window(shell::frmMain::Services{
      ui, clock, port, *audio, registry, files, launcher, applicationDirectory,
      // On Linux the archives are unpacked by our own extractor: beside the
      // player, or in the package's libexec folder.
      [programs = folders.programs](const shell::RegistryTextReader&) {
        return shell::LocateExtractorBeside(programs);
      },
      // Closing ends the program where it stands, also inside a running show
      // loop; every file has been written and closed by then, and the audio
      // and the port have been closed by the window.
      [](int exitCode) {
        std::fflush(nullptr);
        std::exit(exitCode);
      },
      [applicationDirectory](int portNumber) {
        return platform::DescribeSerialPort(portNumber, applicationDirectory);
      },
      registryExists});
  ui.SetParent(&window);
  platform::RealtimePriority dispatchPriority;
  window.SetDispatchPriority(dispatchPriority);
  window.KeepWatch();
  window.Form_Load();
  return app.exec();
}
