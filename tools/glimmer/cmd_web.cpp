// glimmer web: turns the phone page on, with a token of its own.
#ifdef _WIN32
#include <windows.h>
// The random source's declarations need Windows' types, declared above.
#include <bcrypt.h>
#else
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/file_store.h"
#ifdef GLIMMER_QR_CODES
#include "qr/qr_code.h"
#endif
#include "platform/paths.h"
#include "platform/system.h"
#include "tools/glimmer/command_line.h"
#include "tools/glimmer/commands.h"
#include "web/phone_link.h"
#include "web/show_page.h"
#include "web/web_server.h"
#include "web/web_settings.h"

namespace glimmer {
namespace {

constexpr const char* kUsage =
    "Usage: glimmer web [--dir DIR] [--enable [--lan]]\n"
    "The phone page: 'glimmer show' and the player serve a small page and API for\n"
    "the show's status and its Start, Stop, Stop after song and Skip, when the\n"
    "[web] table of settings.toml asks for it. Without --enable, tells whether it\n"
    "is on and where.\n\n"
    "Options:\n"
    "  --dir DIR   the folder with settings.toml (default: the player's folder,\n"
    "              which 'glimmer --help' names)\n"
    "  --enable    writes [web] into settings.toml (the rest of the file stays as it\n"
    "              is) with a new token, or the one already there, and prints the\n"
    "              ready link (http://ADDRESS/#token=TOKEN) and a QR code of it: a\n"
    "              phone's camera opens the page with its token\n"
    "  --lan       listen on every address of this machine, for phones on the LAN;\n"
    "              without it only this machine can open the page\n"
    "  --help      this text\n\n"
    "Anything that changes the show needs the token. Keep it to those who may stop\n"
    "the show; a new one: remove the token line and run --enable again.\n";

// 32 bytes from the system's random source, as 64 hex digits.
platform::Result<std::string> NewToken() {
  unsigned char bytes[32];
#ifdef _WIN32
  if (!BCRYPT_SUCCESS(
          BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return platform::Result<std::string>::Error(
        "no random bytes for a token: the system's "
        "random source refused");
  }
#else
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      return platform::Result<std::string>::Error(std::string("no random bytes for a token: ") +
                                                  std::strerror(errno));
    }
    got += static_cast<std::size_t>(n);
  }
#endif
  std::string token;
  for (unsigned char b : bytes) {
    static const char kHex[] = "0123456789abcdef";
    token += kHex[b >> 4];
    token += kHex[b & 15];
  }
  return token;
}

// Replaces the file as a whole, readable by its owner only: it holds the
// token.
#ifdef _WIN32
// On Windows the folder's own permissions decide who reads it (the user's
// profile for an installed copy); the file is replaced whole.
platform::Status WritePrivately(const std::string& path, const std::string& text) {
  return platform::MakeFileStore()->ReplaceFile(path, text);
}
#else
// The file a link at `path` leads to, so the link stays and its target gets
// the new text; `path` itself when it is no link. A link that leads nowhere
// is refused: writing would replace it with a plain file.
platform::Result<std::string> FileBehind(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) {
    return platform::Result<std::string>::Error(
        path + " is a link to a file that cannot be reached (" + std::strerror(errno) +
        "); mend or remove the link, then try again");
  }
  std::string target(resolved);
  std::free(resolved);
  return target;
}

platform::Status WritePrivately(const std::string& path, const std::string& text) {
  const platform::Result<std::string> behind = FileBehind(path);
  if (!behind) return behind.status();
  const std::string& target = behind.value();
  // A name of our own, made by mkstemp (O_CREAT | O_EXCL, mode 0600): a link
  // planted where the temporary goes is never followed.
  std::string temporary = target + ".new-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  const auto failed = [&](const char* what, const std::string& file) {
    const std::string why = std::strerror(errno);
    return platform::Status::Error(std::string("cannot ") + what + " " + file + ": " + why);
  };
  if (fd < 0) return failed("create a file beside", target);
  ::fchmod(fd, 0600);
  std::size_t at = 0;
  while (at < text.size()) {
    const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const platform::Status error = failed("write", temporary);
      ::close(fd);
      ::unlink(temporary.c_str());
      return error;
    }
    at += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) {
    const platform::Status error = failed("write", temporary);
    ::close(fd);
    ::unlink(temporary.c_str());
    return error;
  }
  ::close(fd);
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const platform::Status error = failed("replace", target);
    ::unlink(temporary.c_str());
    return error;
  }
  return platform::Status::Ok();
}
#endif

// The link that opens the page with its token, and its QR code where the
// build has them; the part after '#' never leaves the phone.
void PrintReadyLink(const web::ListenAddress& address, const std::string& token) {
  const std::string link = web::ReadyLink(address, token);
  std::printf("Ready link (opens the page with its token):\n  %s\n", link.c_str());
#ifdef GLIMMER_QR_CODES
  const platform::Result<qr::QrCode> code = qr::QrCode::Encode(link);
  if (!code) {
    std::printf("(no QR code: %s)\n", code.message().c_str());
    return;
  }
  const qr::Terminal terminal =
      ::isatty(STDOUT_FILENO) ? qr::Terminal::Colours : qr::Terminal::LightOnDark;
  std::printf("Point the phone's camera at this code to open it:\n\n%s\n",
              qr::TerminalText(code.value(), terminal).c_str());
#endif
}

void PrintAddresses(const web::ListenAddress& address) {
  const std::string port = std::to_string(address.port);
  if (address.host != "0.0.0.0") {
    std::printf("  http://%s:%s/\n", address.host.c_str(), port.c_str());
    return;
  }
  for (const std::string& host : web::LanAddresses()) {
    std::printf("  http://%s:%s/\n", host.c_str(), port.c_str());
  }
  std::printf("  http://127.0.0.1:%s/ (on this machine)\n", port.c_str());
}

}  // namespace

int RunWeb(const std::vector<std::string>& args) {
  std::string dir;
  bool enable = false;
  bool lan = false;
  CLI::App app;
  app.add_option("--dir", dir);
  CLI::Option* enableFlag = app.add_flag("--enable", enable);
  app.add_flag("--lan", lan)->needs(enableFlag);
  if (auto ended = ParseArguments(app, "web", kUsage, args)) return *ended;
  if (dir.empty()) dir = platform::CurrentProgramFolders().data;
  const std::string path = dir + "/" + web::kSettingsFileName;

  const auto current = web::ReadWebSettings(dir);
  if (!current) {
    std::fprintf(stderr, "glimmer web: %s\n", current.message().c_str());
    return 1;
  }
  if (!enable) {
    if (!current.value().enabled) {
      std::printf("The phone page is off: %s has no [web] table ('glimmer web --enable').\n",
                  path.c_str());
      return 0;
    }
    const auto address = web::ParseListenAddress(current.value().listen);
    if (!address) {
      std::fprintf(stderr, "glimmer web: %s: %s\n", path.c_str(), address.message().c_str());
      return 1;
    }
    std::printf("The phone page is on, served by 'glimmer show' and the player at\n");
    PrintAddresses(address.value());
    std::printf("%s\n", current.value().token.empty()
                            ? "No token is set: the page can only look, not change the show."
                            : "A token is set (in settings.toml).");
    return 0;
  }

  // The port stays as written; the host follows --lan.
  int port = 8080;
  if (current.value().enabled) {
    if (const auto was = web::ParseListenAddress(current.value().listen)) port = was.value().port;
  }
  const std::string listen =
      std::string(lan ? "0.0.0.0" : "127.0.0.1") + ":" + std::to_string(port);
  // Phones that know the token keep working.
  std::string token = current.value().token;
  if (token.empty()) {
    auto made = NewToken();
    if (!made) {
      std::fprintf(stderr, "glimmer web: %s\n", made.message().c_str());
      return 1;
    }
    token = made.value();
  }
  const auto text = platform::ReadOptionalFile(path, platform::kLargestSettingsFile);
  if (!text) {
    std::fprintf(stderr, "glimmer web: %s\n", text.message().c_str());
    return 1;
  }
  const auto edited = web::WithWebTable(text.value(), path, listen, token);
  if (!edited) {
    std::fprintf(stderr, "glimmer web: %s\n", edited.message().c_str());
    return 1;
  }
  if (const platform::Status made = platform::MakeDataFolder(dir); !made) {
    std::fprintf(stderr, "glimmer web: %s\n", made.message().c_str());
    return 1;
  }
  if (const platform::Status written = WritePrivately(path, edited.value()); !written) {
    std::fprintf(stderr, "glimmer web: %s\n", written.message().c_str());
    return 1;
  }
  std::printf("The phone page is on (%s). 'glimmer show' and the player serve it at\n",
              path.c_str());
  const web::ListenAddress address = web::ParseListenAddress(listen).value();
  PrintAddresses(address);
  std::printf("Token (the page asks for it once):\n  %s\n", token.c_str());
  PrintReadyLink(address, token);
  std::printf(
      "A player window or 'glimmer show' already running on this folder takes it up within "
      "a second; nothing needs a restart.\n");
  if (lan) {
    std::printf("Anyone on the LAN can see the show's status; only the token changes it.\n");
  }
  return 0;
}

}  // namespace glimmer
