#include "playback/wire_protocol.h"

#include <array>
#include <cstddef>

#include "import/fade_timing.h"

namespace playback {
namespace {

using importer::Column;
using importer::Value;

bool IsByte(const Value& value) {
  return value && *value >= 0 && *value <= 255;
}

// The command code's two decimal digits read as hexadecimal: 34 becomes 0x34.
std::int32_t CommandByte(std::int32_t command) {
  return (command / 10) * 16 + command % 10;
}

}  // namespace

EncodeResult EncodeEvent(const importer::EventTable::Record& row, std::int64_t audioEnd,
                         std::string& out) {
  const Value command = row.Get(Column::Command);
  if (!command) return EncodeResult::NoMessage;

  // Everything between the start byte and the end byte.
  std::array<Value, 7> fields{};
  std::size_t count = 0;
  fields[count++] = row.Get(Column::Device);
  ++count;  // the command byte, once the code is known to have a message
  switch (*command) {
    case 33:
    case 23:
      fields[count++] = row.Get(Column::StartIntensity);
      break;
    case 34:
    case 24: {
      fields[count++] = row.Get(Column::StartIntensity);
      fields[count++] = row.Get(Column::EndIntensity);
      Value shortCode = row.Get(Column::ShortInterval);
      Value longCode = row.Get(Column::LongInterval);
      if (!shortCode && !longCode) {
        // The last fade of its channel: nothing later ends it, so it lasts
        // until the audio ends.
        const std::int64_t start = row.Get(Column::SampleNumber).value_or(0);
        const importer::FadeTiming timing = importer::LookupFadeTiming(audioEnd - start);
        shortCode = timing.shortCode;
        longCode = timing.longCode;
      }
      fields[count++] = shortCode;
      fields[count++] = longCode;
      break;
    }
    case 36:
    case 26:
    case 37:
    case 27:
      break;
    default:
      return EncodeResult::NoMessage;
  }
  fields[1] = CommandByte(*command);
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
