#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "playback/wire_protocol.h"

// Turns the byte stream of the controller line back into messages, for
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

// The length of a message from its device and command bytes, 0 when no
// message starts that way. Only the two fixed messages use device 255 with
// their command bytes; any other command after 255 is an event for device 255.
inline int MessageLength(std::uint8_t device, std::uint8_t command) {
  if (device == playback::kFixedMessageDevice &&
      (command == playback::kPortOpenCommand || command == playback::kKeepAliveCommand)) {
    return static_cast<int>(playback::kKeepAliveMessage.size());
  }
  const playback::WireCommand* c = playback::FindCommandByByte(command);
  return c ? c->Length() : 0;
}

// The text of one complete, well-framed message of MessageLength bytes.
inline std::string DescribeMessage(const std::vector<std::uint8_t>& m) {
  const auto hex = [](unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%02x", v);
    return std::string(b);
  };
  if (m[1] == playback::kFixedMessageDevice && m[2] == playback::kPortOpenCommand) {
    return "port-open";
  }
  if (m[1] == playback::kFixedMessageDevice && m[2] == playback::kKeepAliveCommand) {
    return "keep-alive";
  }
  const playback::WireCommand& c = *playback::FindCommandByByte(m[2]);
  std::string text = "device " + std::to_string(m[1]) + " ";
  const std::string bank = "bank " + std::to_string(c.Bank());
  const std::string mask = " mask " + hex(m[static_cast<std::size_t>(3 + c.parameterCount)]);
  switch (c.Operation()) {
    case 3:
      return text + "set " + bank + " intensity " + std::to_string(m[3]) + mask;
    case 4:
      return text + "fade " + bank + " start " + std::to_string(m[3]) + " end " +
             std::to_string(m[4]) + " short " + std::to_string(m[5]) + " long " +
             std::to_string(m[6]) + mask;
    default:
      return text + "op" + std::to_string(c.Operation()) + " " + bank + mask;
  }
}

// Frames the stream by the command byte of each message. Bytes that cannot be
// a message are reported together as "unknown bytes: ..." and decoding picks
// up again at the next 0 byte, where a message may start.
//
// Every byte is looked at a bounded number of times, and what is held is
// bounded too: at most one unfinished message, and unknown bytes up to
// kMaxUnknownPerLine before they are shown as a line of their own. A line
// that never carries a 0 costs time in step with its length and no memory
// beyond that.
class MessageDecoder {
 public:
  static constexpr std::size_t kMaxUnknownPerLine = 1024;

  // `bytes` arrived `ms` milliseconds after the first byte. Returns the lines
  // they complete, in stream order.
  std::vector<MonitorLine> Feed(std::string_view bytes, std::int64_t ms) {
    std::vector<MonitorLine> lines;
    for (char c : bytes) {
      pending_.push_back({static_cast<std::uint8_t>(c), ms});
      // A held message start decides itself within a few bytes; only then
      // is there anything to do.
      if (pending_.size() == 1 || pending_.size() >= 3) Decode(lines, false);
    }
    return lines;
  }

  // The line went quiet or closed: what is left forms no message.
  std::vector<MonitorLine> Flush() {
    std::vector<MonitorLine> lines;
    Decode(lines, true);
    EmitUnknown(lines);
    return lines;
  }

  bool HasPending() const { return !pending_.empty() || !unknown_.empty(); }

 private:
  struct Byte {
    std::uint8_t value;
    std::int64_t ms;
  };

  void ToUnknown(const Byte& b, std::vector<MonitorLine>& lines) {
    unknown_.push_back(b);
    if (unknown_.size() >= kMaxUnknownPerLine) EmitUnknown(lines);
  }

  // Moves the first `count` held bytes to the unknown ones.
  void DropHeld(std::size_t count, std::vector<MonitorLine>& lines) {
    for (std::size_t i = 0; i < count; ++i) ToUnknown(pending_[i], lines);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
  }

  // The held bytes from `from` on up to the next 0 cannot start a message:
  // they and the `from` bytes before them become unknown.
  void DropToNextZero(std::size_t from, std::vector<MonitorLine>& lines) {
    while (from < pending_.size() && pending_[from].value != 0) ++from;
    DropHeld(from, lines);
  }

  void EmitUnknown(std::vector<MonitorLine>& lines) {
    if (unknown_.empty()) return;
    std::string text = "unknown bytes:";
    text.reserve(text.size() + 3 * unknown_.size());
    for (const auto& b : unknown_) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02x", b.value);
      text += hex;
    }
    lines.push_back({unknown_.front().ms, text});
    unknown_.clear();
  }

  void Decode(std::vector<MonitorLine>& lines, bool flushing) {
    while (!pending_.empty()) {
      if (pending_[0].value != 0) {
        DropToNextZero(0, lines);
        continue;
      }
      if (pending_.size() < 3) {
        if (!flushing) return;
        DropHeld(pending_.size(), lines);
        continue;
      }
      const int length = MessageLength(pending_[1].value, pending_[2].value);
      if (length == 0) {
        DropToNextZero(1, lines);
        continue;
      }
      const auto n = static_cast<std::size_t>(length);
      if (pending_.size() < n) {
        if (!flushing) return;
        DropHeld(pending_.size(), lines);
        continue;
      }
      if (pending_[n - 1].value != 0) {
        DropToNextZero(1, lines);
        continue;
      }
      EmitUnknown(lines);
      std::vector<std::uint8_t> message;
      for (std::size_t i = 0; i < n; ++i) message.push_back(pending_[i].value);
      lines.push_back({pending_[0].ms, DescribeMessage(message)});
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    }
  }

  // At most one message's worth: bytes are decoded as they arrive.
  std::vector<Byte> pending_;
  std::vector<Byte> unknown_;
};

}  // namespace glimmer
