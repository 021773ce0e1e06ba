#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "playback/wire_protocol.h"

// Turns the byte stream of the controller line back into readable lines, for
// `glimmer monitor`. Kept to this header so the tests can use it without a
// library of the tool's own.
namespace glimmer {

// One line of monitor output: when the message's first byte arrived
// (milliseconds since the first byte of the session) and what it was.
struct MonitorLine {
  std::int64_t ms = 0;
  std::string text;
  std::string Format() const { return std::to_string(ms) + " " + text; }
};

// The text of one whole message, as the framer gives it.
inline std::string DescribeMessage(std::string_view message) {
  const auto m = [&](std::size_t i) { return static_cast<std::uint8_t>(message[i]); };
  const auto hex = [](unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%02x", v);
    return std::string(b);
  };
  if (m(1) == playback::kFixedMessageDevice && m(2) == playback::kPortOpenCommand) {
    return "port-open";
  }
  if (m(1) == playback::kFixedMessageDevice && m(2) == playback::kKeepAliveCommand) {
    return "keep-alive";
  }
  const playback::WireCommand& c = *playback::FindCommandByByte(m(2));
  std::string text = "device " + std::to_string(m(1)) + " ";
  const std::string bank = "bank " + std::to_string(c.Bank());
  const std::string mask = " mask " + hex(m(static_cast<std::size_t>(3 + c.parameterCount)));
  switch (c.Operation()) {
    case 3:
      return text + "set " + bank + " intensity " + std::to_string(m(3)) + mask;
    case 4:
      return text + "fade " + bank + " start " + std::to_string(m(3)) + " end " +
             std::to_string(m(4)) + " short " + std::to_string(m(5)) + " long " +
             std::to_string(m(6)) + mask;
    default:
      // Operations 6 and 7 carry no parameters; what the controllers make
      // of them is theirs, so they go by their number.
      return text + "operation " + std::to_string(c.Operation()) + " " + bank + mask;
  }
}

// Shows the line's messages as the framer splits them. Bytes that cannot be a
// message are shown together as "unknown bytes: ...", in lines of at most
// kMaxUnknownPerLine bytes, so a line that never carries a 0 is shown in
// pieces as it arrives and never held whole.
class MessageDecoder {
 public:
  static constexpr std::size_t kMaxUnknownPerLine = 1024;

  // `bytes` arrived `ms` milliseconds after the first byte. Returns the lines
  // they complete, in stream order.
  std::vector<MonitorLine> Feed(std::string_view bytes, std::int64_t ms) {
    if (!bytes.empty()) arrivals_.push_back({received_, ms});
    received_ += bytes.size();
    std::vector<MonitorLine> lines;
    Show(framer_.Feed(bytes), lines);
    Forget();
    return lines;
  }

  // The line went quiet or closed: what is left forms no message.
  std::vector<MonitorLine> Flush() {
    std::vector<MonitorLine> lines;
    Show(framer_.Flush(), lines);
    EmitUnknown(lines);
    Forget();
    return lines;
  }

  bool HasPending() const { return framer_.HeldBytes() > 0 || !unknown_.empty(); }

 private:
  // The bytes from stream position `from` on arrived at `ms`.
  struct Arrival {
    std::uint64_t from;
    std::int64_t ms;
  };

  std::int64_t ArrivedAt(std::uint64_t offset) const {
    std::int64_t ms = 0;
    for (const Arrival& a : arrivals_) {
      if (a.from > offset) break;
      ms = a.ms;
    }
    return ms;
  }

  void Show(const std::vector<playback::WireFrame>& frames, std::vector<MonitorLine>& lines) {
    for (const playback::WireFrame& frame : frames) {
      if (frame.isMessage) {
        EmitUnknown(lines);
        lines.push_back({ArrivedAt(frame.offset), DescribeMessage(frame.bytes)});
        continue;
      }
      for (std::size_t i = 0; i < frame.bytes.size(); ++i) {
        if (unknown_.empty()) unknownMs_ = ArrivedAt(frame.offset + i);
        unknown_.push_back(static_cast<std::uint8_t>(frame.bytes[i]));
        if (unknown_.size() >= kMaxUnknownPerLine) EmitUnknown(lines);
      }
    }
  }

  void EmitUnknown(std::vector<MonitorLine>& lines) {
    if (unknown_.empty()) return;
    std::string text = "unknown bytes:";
    text.reserve(text.size() + 3 * unknown_.size());
    for (std::uint8_t b : unknown_) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02x", b);
      text += hex;
    }
    lines.push_back({unknownMs_, text});
    unknown_.clear();
  }

  // Only the arrival of the first byte the framer still holds, and those
  // after it, can be asked about again.
  void Forget() {
    std::size_t done = 0;
    while (done + 1 < arrivals_.size() && arrivals_[done + 1].from <= framer_.HeldFrom()) ++done;
    arrivals_.erase(arrivals_.begin(), arrivals_.begin() + static_cast<std::ptrdiff_t>(done));
  }

  playback::MessageFramer framer_;
  std::vector<Arrival> arrivals_;  // a few at most: the framer holds one message
  std::uint64_t received_ = 0;
  std::vector<std::uint8_t> unknown_;
  std::int64_t unknownMs_ = 0;
};

}  // namespace glimmer
