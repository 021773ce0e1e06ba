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

int MessageLength(std::uint8_t device, std::uint8_t command) {
  if (device == kFixedMessageDevice &&
      (command == kPortOpenCommand || command == kKeepAliveCommand)) {
    return static_cast<int>(kKeepAliveMessage.size());
  }
  const WireCommand* c = FindCommandByByte(command);
  return c ? c->Length() : 0;
}

bool IsFixedMessage(std::string_view message) {
  return message == kKeepAliveMessage || message == kPortOpenBurst;
}

std::vector<WireFrame> MessageFramer::Feed(std::string_view bytes) {
  std::vector<WireFrame> out;
  for (char c : bytes) {
    held_.push_back(c);
    // A held message start decides itself within a few bytes; only then is
    // there anything to do.
    if (held_.size() == 1 || held_.size() >= 3) Frame(out, false);
  }
  return out;
}

std::vector<WireFrame> MessageFramer::Flush() {
  std::vector<WireFrame> out;
  Frame(out, true);
  return out;
}

void MessageFramer::Drop(std::size_t count, std::vector<WireFrame>& out) {
  if (count == 0) return;
  const std::string_view dropped = std::string_view(held_).substr(0, count);
  if (!out.empty() && !out.back().isMessage &&
      out.back().offset + out.back().bytes.size() == heldFrom_) {
    out.back().bytes += dropped;
  } else {
    out.push_back({false, std::string(dropped), heldFrom_});
  }
  held_.erase(0, count);
  heldFrom_ += count;
}

void MessageFramer::DropToNextZero(std::size_t from, std::vector<WireFrame>& out) {
  while (from < held_.size() && held_[from] != 0) ++from;
  Drop(from, out);
}

void MessageFramer::Frame(std::vector<WireFrame>& out, bool flushing) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(held_[i]); };
  while (!held_.empty()) {
    if (byte(0) != 0) {
      DropToNextZero(0, out);
      continue;
    }
    if (held_.size() < 3) {
      if (!flushing) return;
      Drop(held_.size(), out);
      continue;
    }
    const int length = MessageLength(byte(1), byte(2));
    if (length == 0) {
      DropToNextZero(1, out);
      continue;
    }
    const auto n = static_cast<std::size_t>(length);
    if (held_.size() < n) {
      if (!flushing) return;
      Drop(held_.size(), out);
      continue;
    }
    if (byte(n - 1) != 0) {
      DropToNextZero(1, out);
      continue;
    }
    out.push_back({true, held_.substr(0, n), heldFrom_});
    held_.erase(0, n);
    heldFrom_ += n;
  }
}

}  // namespace playback
