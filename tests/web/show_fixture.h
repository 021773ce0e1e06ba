#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "binary/wav_writer.h"
#include "playback/wire_protocol.h"
#include "playlist/playlist_entry.h"
#include "sequence_format/fade_timing.h"
#include "tests/fakes/pty_line.h"
#include "tests/fakes/temp_dir.h"
#include "tests/playback/playback_rig.h"
#include "tests/tools/glimmer_process.h"
#include "tests/web/http_client.h"

namespace web_test {

inline constexpr const char* kShowToken =
    "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";

// A saved show of songs "Song A", "Song B", ... whose sequences each send one
// message at their start, run by the real `glimmer show` into a
// pseudo-terminal with the phone page on.
class ShowWithPage {
 public:
  // `showLog`: what show.log holds before the show starts (alerts of the
  // day before, say).
  ShowWithPage(std::vector<double> songSeconds, const std::string& startTime = "12:00:00 AM",
               const std::string& endTime = "11:59:59 PM", const std::string& showLog = "")
      : port_(FreePort()) {
    if (!showLog.empty()) fakes::WriteBytes(dir_.File("show.log"), showLog);
    playback_test::Rig rig;  // for its cache writer
    std::string playlist = "\2600.94\r\n";
    for (std::size_t i = 0; i < songSeconds.size(); ++i) {
      const std::string name(1, static_cast<char>('A' + i));
      const auto row =
          playback_test::Row(0, 1, 2, 33, static_cast<int>(10 + i), static_cast<int>(10 + i));
      rig.WriteCache(dir_.File(name + ".csq"), {row});
      playback::EncodeEvent(row, 0, sequence_format::kFadeTimingTable, messages_.emplace_back());
      fakes::WriteBytes(
          dir_.File(name + ".wav"),
          binary::SilentWav(8000, 1, static_cast<std::uint32_t>(songSeconds[i] * 8000)));
      // The list text as the import writes it: the title, then the archive.
      playlist += dir_.File(name + ".wav") + "\r\n" + dir_.File(name + ".csq") + "\r\nSong " +
                  name + std::string(playlist::kListTextGap) + "/shows/" + name + ".msq)\r\n" +
                  name + ".msq\r\n0.94\r\n";
    }
    fakes::WriteBytes(dir_.File("playlist.txt"), playlist);
    fakes::WriteBytes(dir_.File("preferences.txt"),
                      "1\r\n115200\r\n5\r\n" + startTime + "\r\n" + endTime + "\r\n0\r\nc:\\\r\n");
    fakes::WriteBytes(dir_.File("settings.toml"),
                      "[web]\nlisten = \"127.0.0.1:" + std::to_string(port_) + "\"\ntoken = \"" +
                          kShowToken + "\"\n");
    glimmer_ = std::make_unique<tools_test::GlimmerProcess>(
        dir_, std::vector<std::string>{"show", "--dir", dir_.path().string(), "--device",
                                       line_.Name(), "--wait-for-devices", "0"});
  }

  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  tools_test::GlimmerProcess& Glimmer() { return *glimmer_; }
  const fakes::TempDir& Dir() const { return dir_; }
  const std::string& Message(std::size_t song) const { return messages_.at(song); }
  std::string Log() const { return fakes::ReadBytes(dir_.File("show.log")); }

  std::string Line() const { return line_.Received(); }
  // The adapter is pulled out: the show's writes to it fail from now on.
  void UnplugLine() { line_.Unplug(); }

  // One request to the page; 0 as the status when nobody answered.
  std::pair<int, nlohmann::json> Call(const std::string& method, const std::string& path,
                                      const std::string& token = "") {
    HttpClient client(port_, {});
    std::string request =
        method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    if (!token.empty()) request += "Authorization: Bearer " + token + "\r\n";
    if (method == "POST") request += "Content-Length: 0\r\n";
    client.Send(request + "\r\n");
    const std::string response = client.ReceiveResponse();
    const int status = StatusOf(response);
    return {status, status == 0 ? nlohmann::json()
                                : nlohmann::json::parse(BodyOf(response), nullptr, false)};
  }

  // Asks for the status until `done` holds for it, the program ends or the
  // deadline passes (a show that never gets there fails the test instead of
  // hanging it). Returns the last status.
  nlohmann::json WaitForStatus(const std::function<bool(const nlohmann::json&)>& done,
                               std::chrono::seconds deadline = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    nlohmann::json last;
    while (glimmer_->Running() && std::chrono::steady_clock::now() < end) {
      auto [status, body] = Call("GET", "/api/status");
      if (status == 200) {
        last = body;
        if (done(last)) break;
      }
      // Look again when the show next writes to its line (a keep-alive at
      // the least), or shortly.
      pollfd line{line_.MasterFd(), POLLIN, 0};
      ::poll(&line, 1, 20);
    }
    return last;
  }

 private:
  fakes::TempDir dir_;
  int port_;
  std::vector<std::string> messages_;
  fakes::PtyLine line_;
  std::unique_ptr<tools_test::GlimmerProcess> glimmer_;
};

inline bool PlayingRow(const nlohmann::json& s, int row) {
  return s.value("state", "") == "running" && s["playing"].is_object() &&
         s["playing"]["row"] == row;
}

inline bool InState(const nlohmann::json& s, const char* state) {
  return s.is_object() && s.value("state", "") == state;
}

// Whether the show log has a line of `event` after its date, time and
// offset ("YYYY-MM-DD HH:MM:SS +hhmm event").
inline bool Logged(const std::string& log, const std::string& event) {
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.size() > 26 && line.compare(26, std::string::npos, event) == 0) return true;
  }
  return false;
}

}  // namespace web_test
