#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "import/sequence_reader.h"

// What both readers of a sequence document (the one-pass scanner and the
// tree reader) must agree on, so that whichever reads a document, it gives
// the same rows: the element names, the texts they accept, and how one
// interval becomes a row.
namespace importer {

// The elements the compiler reads. The four values of an interval come last
// and in this order, so they index an array of four.
enum SequenceElement : int {
  kNotRead = -1,
  kAudioFile,
  kTitle,
  kArtist,
  kFilePath,
  kController,
  kControllerID,
  kChannel,
  kChannelNumber,
  kTimeInterval,
  kPositionInSamples,
  kEffect,
  kIntensityIn,
  kIntensityOut,
  kElementCount
};
inline constexpr int kIntervalValueCount = kElementCount - kPositionInSamples;

inline constexpr const char* kElementNames[kElementCount] = {
    "AudioFile",    "Title",       "Artist",        "FilePath",     "Controller",
    "ControllerID", "Channel",     "ChannelNumber", "TimeInterval", "PositionInSamples",
    "Effect",       "IntensityIn", "IntensityOut"};

// The element a tag names (exactly, case included); kNotRead for any other.
SequenceElement ClassifyElement(std::string_view name);

// Elements the readers take at any depth would be read once for each of
// their kind around them; no sequencer nests these.
inline bool MustNotNest(SequenceElement element) {
  return element == kController || element == kChannel || element == kTimeInterval;
}

constexpr bool IsXmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
inline std::string_view TrimXmlSpace(std::string_view text) {
  while (!text.empty() && IsXmlSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsXmlSpace(text.back())) text.remove_suffix(1);
  return text;
}

// Why a Title, Artist or FilePath text (blanks around it dropped) is
// refused: it would go into messages, the list and one line of the playlist.
enum class TextFault { kNone, kTooLong, kControlCharacter };
TextFault CheckDocumentText(SequenceElement element, std::string_view text);

// Channels that have a bank and a bit.
inline constexpr std::int32_t kLowestChannel = 1;
inline constexpr std::int32_t kHighestChannel = 16;
inline bool IsChannelNumber(std::int32_t number) {
  return number >= kLowestChannel && number <= kHighestChannel;
}

// The row an interval makes, in bank 1, on no channel or controller yet;
// nothing for an effect that makes none.
std::optional<SequenceRow> IntervalRow(std::int32_t position, std::int32_t effect,
                                       std::int32_t intensityIn, std::int32_t intensityOut);
// Puts a row of IntervalRow on its channel (1 to 16): the channel's bit in
// its bank, and that bank's command.
void PutOnChannel(SequenceRow& row, std::int32_t channelNumber);

}  // namespace importer
