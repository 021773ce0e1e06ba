#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace importer {

// One EventTable row as the document gives it; fade timings come later.
struct SequenceRow {
  std::int32_t sampleNumber = 0;
  std::int32_t device = 0;
  std::int32_t channel = 0;  // the channel's bit within its bank
  std::int32_t command = 0;
  std::int32_t startIntensity = 0;
  std::int32_t endIntensity = 0;

  friend bool operator==(const SequenceRow&, const SequenceRow&) = default;
};

// One Channel element of a controller that is not skipped, in document
// order: what its status text names, and its rows within
// SequenceDocument::rows.
struct SequenceChannel {
  std::int32_t device = 0;
  std::int32_t channelNumber = 0;
  std::size_t firstRow = 0;
  std::size_t rowCount = 0;
};

// Everything the compiler takes from a sequence document, checked.
struct SequenceDocument {
  std::string title;     // UTF-8
  std::string artist;    // UTF-8
  std::string filePath;  // UTF-8, as written (blanks around it dropped)
  std::vector<SequenceChannel> channels;
  std::vector<SequenceRow> rows;

  // Title & " - " & Artist.
  std::string DisplayTitle() const { return title + " - " + artist; }
};

// Base command code of bank 1 for an effect; nothing for effect 7, which
// makes no row; 0 for effects the controllers do not know.
std::optional<std::int32_t> EffectToCommand(std::int32_t effect);

// A channel's bit within its bank: 1..8 and 9..16 both give 1, 2, 4 ... 128;
// 0 for channel numbers of 0 or less.
std::int32_t ChannelToBit(std::int32_t channelNumber);

// Numbers as the document holds them: decimal text with blanks around it,
// converted to a 32-bit whole number. Nothing when the text is not a number
// or the result does not fit.
enum class NumberError { kNone, kEmpty, kNotANumber, kOutOfRange };
struct ParsedNumber {
  std::int32_t value = 0;
  NumberError error = NumberError::kNone;
};
// Rounded to the nearest, a half to the even neighbour (12.5 -> 12).
ParsedNumber ParseRoundedNumber(std::string_view text);
// Rounded down (1000.9 -> 1000, -0.5 -> -1).
ParsedNumber ParseFlooredNumber(std::string_view text);

// The longest Title, Artist or FilePath a document may give: they go into
// messages, the list and the one-line values of the playlist file.
inline constexpr std::size_t kMaxDocumentTextBytes = 4096;
// The largest document the tree reader takes (it needs many times the
// document's size); the direct scanner reads up to 512 MB.
inline constexpr std::size_t kMaxTreeDocumentBytes = std::size_t{64} << 20;

// Reads and checks the sequence document at `path`. Refuses, with one message
// that names the document, the element and its line, a file that cannot be
// read or parsed, a missing element or value, a number that is not a number
// or does not fit 32 bits, a channel number outside 1 to 16, a Title, Artist
// or FilePath past kMaxDocumentTextBytes, a FilePath holding a control
// character, and a document it has no memory for (saying so). Controllers
// whose identifier is 0 or less are skipped unread, as the compiler skips
// them. `archive`, when given, is the archive the document was extracted
// from: the message names it, the file the user picked, instead of the
// extracted copy in Temp.
platform::Result<SequenceDocument> ReadSequenceDocument(const std::string& path,
                                                        const std::string& archive = {});

}  // namespace importer
