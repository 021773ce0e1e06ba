#include "import/sequence_elements.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace importer {
namespace {

constexpr std::int32_t kIntensityForEffect4 = 240;
constexpr std::int32_t kBank2Offset = -10;
constexpr std::int32_t kBankSize = 8;

// Every start tag of a document is classified: by its length first, which
// leaves at most three names to compare.
struct NamesOfALength {
  std::array<SequenceElement, 3> elements{};
  int count = 0;
};
constexpr auto kByLength = [] {
  std::array<NamesOfALength, 18> table{};
  for (int e = 0; e < kElementCount; ++e) {
    NamesOfALength& same = table[std::char_traits<char>::length(kElementNames[e])];
    same.elements[static_cast<std::size_t>(same.count++)] = static_cast<SequenceElement>(e);
  }
  return table;
}();

}  // namespace

SequenceElement ClassifyElement(std::string_view name) {
  if (name.size() >= kByLength.size()) return kNotRead;
  const NamesOfALength& candidates = kByLength[name.size()];
  for (int i = 0; i < candidates.count; ++i) {
    const SequenceElement e = candidates.elements[i];
    if (std::memcmp(name.data(), kElementNames[e], name.size()) == 0) return e;
  }
  return kNotRead;
}

TextFault CheckDocumentText(SequenceElement element, std::string_view text) {
  if (text.size() > kMaxDocumentTextBytes) return TextFault::kTooLong;
  if (element == kFilePath && std::any_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == '\x7F';
      })) {
    return TextFault::kControlCharacter;
  }
  return TextFault::kNone;
}

std::optional<SequenceRow> IntervalRow(std::int32_t position, std::int32_t effect,
                                       std::int32_t intensityIn, std::int32_t intensityOut) {
  const std::optional<std::int32_t> command = EffectToCommand(effect);
  if (!command) return std::nullopt;
  SequenceRow row;
  row.sampleNumber = position;
  row.command = *command;
  row.startIntensity = effect == 4 ? kIntensityForEffect4 : intensityIn;
  row.endIntensity = effect == 4 ? kIntensityForEffect4 : intensityOut;
  return row;
}

void PutOnChannel(SequenceRow& row, std::int32_t channelNumber) {
  row.channel = ChannelToBit(channelNumber);
  if (channelNumber > kBankSize) row.command += kBank2Offset;
}

std::optional<std::int32_t> EffectToCommand(std::int32_t effect) {
  switch (effect) {
    case 1:
    case 2:
      return 34;
    case 3:
    case 4:
      return 33;
    case 5:
      return 36;
    case 6:
      return 37;
    case 7:
      return std::nullopt;
    default:
      return 0;
  }
}

std::int32_t ChannelToBit(std::int32_t channelNumber) {
  if (channelNumber <= 0) return 0;
  const std::int32_t withinBank = (channelNumber - 1) % kBankSize;
  return std::int32_t{1} << withinBank;
}

}  // namespace importer
