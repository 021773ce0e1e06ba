#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "import/event_table.h"

namespace playback {

// Sample positions per second of audio: the unit of SampleNumber and of the
// player's audio position.
inline constexpr std::int64_t kSamplesPerSecond = 88200;

// Written eight times, each as its own write, right after the port opens.
inline constexpr std::string_view kPortOpenBurst{"\x00\xFF\x41\x00", 4};
// Tells the controllers the show is still there.
inline constexpr std::string_view kKeepAliveMessage{"\x00\xFF\x81\x00", 4};

enum class EncodeResult {
  Appended,   // the row's message was appended
  NoMessage,  // the command code has no message; nothing appended
  Rejected,   // a field it would send is missing or outside 0..255; nothing appended
};

// Appends the controller message for `row` to `out`.
//
// `audioEnd` is the sample position at which the entry's audio ends. The last
// fade of a device and channel has no timing codes of its own, because no
// later row says how long it lasts; it is sent with the codes for a fade that
// runs from its SampleNumber to the end of the audio, which is when the show
// stops driving that channel.
EncodeResult EncodeEvent(const importer::EventTable::Record& row, std::int64_t audioEnd,
                         std::string& out);

}  // namespace playback
