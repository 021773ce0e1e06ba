#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <utility>

#include "platform/clock.h"
#include "platform/serial_port.h"
#include "platform/status.h"
#include "playback/show_context.h"

namespace playback {

// Whether a gap between two keep-alives, in whole seconds, means a stalled
// line: the one rule for Text1's red, the count in Text2 and the show log.
constexpr bool IsLateKeepAlive(int seconds) {
  return seconds > 1;
}

// The one serial line to the controllers: opens it with the window's port
// number and data rate, announces the show with the port-open burst, sends
// keep-alives and the player's batches of event messages.
//
// A write that fails closes the port (the platform port does so itself); the
// link then gives the reason as a notice and skips every write until the
// port is opened again, so a lost line never stops the show.
class SerialLink {
 public:
  SerialLink(platform::SerialPort& port, ShowContext& show);

  bool IsPortOpen() const;
  void ClosePort();
  // Configures, opens and announces. Call only while the port is closed. An
  // error names the port and the reason it could not be opened or announced.
  platform::Status OpenPort();
  // Writes the keep-alive message and shows the gap since the previous one.
  void SendKeepAlive();
  // Writes `bytes` in one write; skipped while the port is closed.
  void Write(std::string_view bytes);

  // Names the line in messages by `name` (a device path given on the command
  // line) instead of its COM number.
  void NameLine(std::string name) { lineName_ = std::move(name); }

  // Time of day (seconds) of the last keep-alive or port open.
  int LastKeepAliveTime() const { return lastKeepAliveTime_; }

 private:
  bool WriteOrReport(std::string_view bytes);
  std::string LineName() const;
  // Says that a lost line takes the show again, once its first keep-alive
  // after the new open went out.
  void ReportBack();

  platform::SerialPort& port_;
  ShowContext& show_;
  int lastKeepAliveTime_ = 0;
  std::chrono::steady_clock::time_point lastKeepAliveSteady_{};
  int portNumber_ = 0;  // as opened, for the messages
  std::string lineName_;
  // Whether the port was lost since it was last opened: the next opening is
  // logged as opened again.
  bool lostSinceOpened_ = false;
};

}  // namespace playback
