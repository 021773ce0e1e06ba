#include "playback/serial_link.h"

#include "playback/show_log.h"
#include "playback/wire_protocol.h"

namespace playback {
namespace {

constexpr int kBurstCount = 8;

std::string PortName(int number) {
  return "COM" + std::to_string(number);
}

}  // namespace

SerialLink::SerialLink(platform::SerialPort& port, ShowContext& show) : port_(port), show_(show) {}

bool SerialLink::IsPortOpen() const {
  return port_.IsOpen();
}

void SerialLink::ClosePort() {
  port_.Close();
  show_.PortClosed();
}

platform::Status SerialLink::OpenPort() {
  const ShowSettings settings = show_.Settings();
  const int number = settings.portNumber;
  portNumber_ = number;
  port_.SetPortNumber(number);
  port_.SetSettings(settings.dataRateText + ",N,8,1");
  if (platform::Status opened = port_.Open(); !opened) {
    return platform::Status::Error("Serial port " + LineName() +
                                   " could not be opened: " + opened.message());
  }
  for (int i = 0; i < kBurstCount; ++i) {
    Write(kPortOpenBurst);
    show_.UI().DoEvents();
  }
  lastKeepAliveTime_ = show_.Clock().SecondsOfDay();
  lastKeepAliveSteady_ = show_.Clock().SteadyNow();
  SendKeepAlive();
  if (!port_.IsOpen()) {
    // Write has already given the reason as a notice.
    return platform::Status::Error("Serial port " + LineName() +
                                   " was lost right after it was opened");
  }
  if (lostSinceOpened_) {
    ReportBack();
  } else {
    show_.Publish(show_event::PortOpened(LineName()));
  }
  return platform::Status::Ok();
}

std::string SerialLink::LineName() const {
  return lineName_.empty() ? PortName(portNumber_) : lineName_;
}

void SerialLink::ReportBack() {
  lostSinceOpened_ = false;
  show_.AddNotice("Serial port " + LineName() + " back: the lights follow the show again");
  show_.Publish(show_event::PortBack(LineName()));
}

void SerialLink::SendKeepAlive() {
  // The gap shown is between keep-alives that reached the port; one that
  // could not be written leaves the gap growing, as a stalled line should.
  if (!WriteOrReport(kKeepAliveMessage)) return;
  // Whole-second ticks of the steady clock, as the time of day would give
  // them, but neither a daylight-saving change, a clock set by hand nor
  // midnight makes a gap of an hour or a negative one.
  const auto nowSteady = show_.Clock().SteadyNow();
  const auto Seconds = [](std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
  };
  const auto gap = static_cast<int>(Seconds(nowSteady) - Seconds(lastKeepAliveSteady_));
  const bool late = IsLateKeepAlive(gap);
  show_.KeepAliveGap(gap, late);
  if (late) show_.Publish(show_event::LateKeepAlive(gap));
  lastKeepAliveTime_ = show_.Clock().SecondsOfDay();
  lastKeepAliveSteady_ = nowSteady;
}

void SerialLink::Write(std::string_view bytes) {
  WriteOrReport(bytes);
}

bool SerialLink::WriteOrReport(std::string_view bytes) {
  if (!port_.IsOpen()) return false;
  platform::Status written = port_.Write(bytes);
  if (written) return true;
  // Closing also covers a port that reported the failure but stayed open, so
  // the next entry opens it afresh and the controllers get the burst again.
  port_.Close();
  show_.AddNotice("Serial port " + LineName() + " lost: " + written.message() +
                  " - the show goes on and the port is opened again at the next entry");
  show_.Publish(show_event::PortLost(LineName(), written.message()));
  lostSinceOpened_ = true;
  return false;
}

}  // namespace playback
