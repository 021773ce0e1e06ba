#include "playback/wire_protocol.h"

#include <cstddef>

namespace playback {
namespace {

using sequence_format::Column;
using sequence_format::Value;

bool IsByte(const Value& value) {
  return value && *value >= 0 && *value <= 255;
}

}  // namespace

EncodeResult EncodeEvent(const sequence_format::EventTable::Record& row, std::int64_t audioEnd,
                         const sequence_format::FadeTimingTable& fadeTimings, std::string& out) {
  const Value code = row.Get(Column::Command);
  const WireCommand* command = code ? FindCommandByCode(*code) : nullptr;
  if (command == nullptr) return EncodeResult::NoMessage;

  // Everything between the start byte and the end byte.
  std::array<Value, 7> fields{};
  std::size_t count = 0;
  fields[count++] = row.Get(Column::Device);
  fields[count++] = command->commandByte;
  for (int i = 0; i < command->parameterCount; ++i) {
    fields[count++] = row.Get(command->parameters[static_cast<std::size_t>(i)]);
  }
  if (command->Operation() == 4 && !fields[4] && !fields[5]) {
    // The last fade of its channel: nothing later ends it, so it lasts until
    // the audio ends.
    const std::int64_t start = row.Get(Column::SampleNumber).value_or(0);
    const sequence_format::FadeTiming timing =
        sequence_format::LookupFadeTiming(fadeTimings, audioEnd - start);
    fields[4] = timing.shortCode;
    fields[5] = timing.longCode;
  }
  fields[count++] = row.Get(Column::Channel);

  for (std::size_t i = 0; i < count; ++i) {
    if (!IsByte(fields[i])) return EncodeResult::Rejected;
  }
  out.push_back('\0');
  for (std::size_t i = 0; i < count; ++i) out.push_back(static_cast<char>(*fields[i]));
  out.push_back('\0');
  return EncodeResult::Appended;
}

}  // namespace playback
