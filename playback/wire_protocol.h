#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sequence_format/event_table.h"
#include "sequence_format/fade_timing.h"

namespace playback {

// Sample positions per second of audio: the unit of SampleNumber and of the
// player's audio position.
inline constexpr std::int64_t kSamplesPerSecond = 88200;

// Each step of Frame Timing sends every message this many sample positions
// (about 5.8 ms) earlier.
inline constexpr std::int64_t kFrameTimingStep = 512;
// Event messages are collected and written to the port at most once per this
// many sample positions.
inline constexpr std::int64_t kFlushStep = 512;
// While the port is open a keep-alive goes out every this many sample
// positions.
inline constexpr std::int64_t kKeepAliveStep = 38000;

// The two messages that carry no event, written by the serial link on their
// own. Their device byte is 255 and they have no parameters and no mask.
inline constexpr std::uint8_t kFixedMessageDevice = 0xFF;
inline constexpr std::uint8_t kPortOpenCommand = 0x41;
inline constexpr std::uint8_t kKeepAliveCommand = 0x81;
// Written eight times, each as its own write, right after the port opens.
inline constexpr std::string_view kPortOpenBurst{"\x00\xFF\x41\x00", 4};
// Tells the controllers the show is still there.
inline constexpr std::string_view kKeepAliveMessage{"\x00\xFF\x81\x00", 4};

// One event command of the controller line: its code in the event table, its
// command byte, and the row's columns it carries between the command byte
// and the channel mask, in order. The message is the start byte 0, the
// device, the command byte, the parameters, the channel mask and the end
// byte 0. EncodeEvent builds messages from this table and the monitor's
// decoder reads them back with it.
struct WireCommand {
  std::int32_t code;
  std::uint8_t commandByte;
  int parameterCount;
  std::array<sequence_format::Column, 4> parameters;

  constexpr int Length() const { return 5 + parameterCount; }
  // 1 for channels 1 to 8, 2 for channels 9 to 16: the command byte's high digit.
  constexpr int Bank() const { return (commandByte >> 4) == 3 ? 1 : 2; }
  // What the controller does: 3 one intensity, 4 fade, 6 and 7 no parameters.
  constexpr int Operation() const { return commandByte & 0x0F; }
};

namespace wire_detail {
using C = sequence_format::Column;
inline constexpr std::array<C, 4> kOneIntensity{C::StartIntensity, C::StartIntensity,
                                                C::StartIntensity, C::StartIntensity};
inline constexpr std::array<C, 4> kFade{C::StartIntensity, C::EndIntensity, C::ShortInterval,
                                        C::LongInterval};
}  // namespace wire_detail

// Every event message the controllers understand. The command byte is the
// code's two decimal digits read as hexadecimal (34 becomes 0x34).
inline constexpr std::array<WireCommand, 8> kWireCommands{{
    {33, 0x33, 1, wire_detail::kOneIntensity},
    {23, 0x23, 1, wire_detail::kOneIntensity},
    {34, 0x34, 4, wire_detail::kFade},
    {24, 0x24, 4, wire_detail::kFade},
    {36, 0x36, 0, {}},
    {26, 0x26, 0, {}},
    {37, 0x37, 0, {}},
    {27, 0x27, 0, {}},
}};

// The command of an event table code; nullptr for codes without a message.
constexpr const WireCommand* FindCommandByCode(std::int32_t code) {
  for (const WireCommand& c : kWireCommands) {
    if (c.code == code) return &c;
  }
  return nullptr;
}

// The command a command byte stands for; nullptr when none.
constexpr const WireCommand* FindCommandByByte(std::uint8_t commandByte) {
  for (const WireCommand& c : kWireCommands) {
    if (c.commandByte == commandByte) return &c;
  }
  return nullptr;
}

enum class EncodeResult {
  Appended,   // the row's message was appended
  NoMessage,  // the command code has no message; nothing appended
  Rejected,   // a field it would send is missing or outside 0..255; nothing appended
};

// Appends the controller message for `row` to `out`.
//
// `audioEnd` is the sample position at which the entry's audio ends. The last
// fade of a device and channel has no timing codes of its own, because no
// later row says how long it lasts; it is sent with the codes that
// `fadeTimings` (the table the main window filled) gives for a fade that runs
// from its SampleNumber to the end of the audio, which is when the show stops
// driving that channel.
EncodeResult EncodeEvent(const sequence_format::EventTable::Record& row, std::int64_t audioEnd,
                         const sequence_format::FadeTimingTable& fadeTimings, std::string& out);

// The length of a message from its device and command bytes, 0 when no
// message starts that way. Only the two fixed messages use device 255 with
// their command bytes; any other command after 255 is an event for device 255.
int MessageLength(std::uint8_t device, std::uint8_t command);

// True for the port-open and keep-alive messages.
bool IsFixedMessage(std::string_view message);

// A piece of the controller line's byte stream: one whole message, or bytes
// that cannot be one.
struct WireFrame {
  bool isMessage = false;
  std::string bytes;
  std::uint64_t offset = 0;  // where its first byte is in the stream
};

// Splits the controller line's byte stream into messages as it arrives, by
// the command byte of each. Bytes that cannot be a message come out as
// unknown, and framing picks up again at the next 0 byte, where a message may
// start; a message whose last byte is not 0 is not one.
//
// At most one unfinished message is held, and every byte is looked at a
// bounded number of times, so a line that never carries a 0 costs time in
// step with its length and nothing more.
class MessageFramer {
 public:
  // The frames `bytes` complete, in stream order; unknown bytes next to each
  // other in one call come out as one frame.
  std::vector<WireFrame> Feed(std::string_view bytes);
  // The line went quiet or closed: what is held forms no message.
  std::vector<WireFrame> Flush();

  std::size_t HeldBytes() const { return held_.size(); }
  // Where the first held byte is in the stream (the stream's length when
  // nothing is held).
  std::uint64_t HeldFrom() const { return heldFrom_; }

 private:
  void Frame(std::vector<WireFrame>& out, bool flushing);
  void Drop(std::size_t count, std::vector<WireFrame>& out);
  void DropToNextZero(std::size_t from, std::vector<WireFrame>& out);

  std::string held_;
  std::uint64_t heldFrom_ = 0;
};

}  // namespace playback
