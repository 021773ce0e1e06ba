#include "import/sequence_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <pugixml.hpp>
#include <system_error>
#include <utility>

#include "import/text_encoding.h"

namespace importer {
namespace {

constexpr std::int32_t kIntensityForEffect4 = 240;
constexpr std::int32_t kBank2Offset = -10;
constexpr std::int32_t kLowestChannel = 1;
constexpr std::int32_t kHighestChannel = 16;
constexpr std::int32_t kBankSize = 8;
// Long texts in messages are cut so one bad value cannot flood the box.
constexpr std::size_t kMaxQuotedText = 40;

bool IsXmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsXmlSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsXmlSpace(text.back())) text.remove_suffix(1);
  return text;
}

double RoundHalfToEven(double v) {
  const double below = std::floor(v);
  const double fraction = v - below;  // exact for every finite double
  if (fraction > 0.5) return below + 1.0;
  if (fraction < 0.5) return below;
  return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

ParsedNumber ParseNumber(std::string_view text, bool roundDown) {
  text = Trim(text);
  if (text.empty()) return {0, NumberError::kEmpty};
  const char* begin = text.data();
  const char* end = begin + text.size();
  // from_chars takes no plus sign; a hand-edited "+5" is still a number.
  if (*begin == '+') {
    ++begin;
    if (begin == end || *begin == '-' || *begin == '+') return {0, NumberError::kNotANumber};
  }
  double value = 0.0;
  const auto [stop, ec] = std::from_chars(begin, end, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range && stop == end) {
    // Either huge or vanishingly small; only the sign of the exponent tells.
    const bool tiny =
        text.find("e-") != std::string_view::npos || text.find("E-") != std::string_view::npos;
    if (!tiny) return {0, NumberError::kOutOfRange};
    value = 0.0;
  } else if (ec != std::errc() || stop != end || !std::isfinite(value)) {
    return {0, NumberError::kNotANumber};
  }
  const double whole = roundDown ? std::floor(value) : RoundHalfToEven(value);
  if (whole < -2147483648.0 || whole > 2147483647.0) return {0, NumberError::kOutOfRange};
  return {static_cast<std::int32_t>(whole), NumberError::kNone};
}

// Where a refusal points: a phrase, the line of a node, and the rest. The line
// is worked out only once the walk has failed (see LineAt).
struct Failure {
  std::string subject;    // "the Controller element"
  std::ptrdiff_t offset;  // byte offset in the UTF-8 document, or -1
  std::string predicate;  // " has no ControllerID element"
};

Failure At(std::string subject, pugi::xml_node node, std::string predicate) {
  return {std::move(subject), node ? node.offset_debug() : -1, std::move(predicate)};
}

std::string Quoted(std::string_view text) {
  std::string shown(text.substr(0, kMaxQuotedText));
  if (text.size() > kMaxQuotedText) shown += "...";
  return "\"" + shown + "\"";
}

bool IsElement(pugi::xml_node n, const char* name) {
  return n.type() == pugi::node_element && std::strcmp(n.name(), name) == 0;
}

// Next node after `node` in document order without leaving `root`'s subtree.
pugi::xml_node NextBelow(pugi::xml_node node, pugi::xml_node root) {
  if (pugi::xml_node child = node.first_child()) return child;
  while (node != root) {
    if (pugi::xml_node sibling = node.next_sibling()) return sibling;
    node = node.parent();
  }
  return {};
}

// Every element named `name` below `root`, at any depth, in document order.
template <typename Visit>
void ForEachDescendant(pugi::xml_node root, const char* name, Visit&& visit) {
  for (pugi::xml_node n = root.first_child(); n; n = NextBelow(n, root)) {
    if (IsElement(n, name)) visit(n);
  }
}

pugi::xml_node FirstDescendant(pugi::xml_node root, const char* name) {
  for (pugi::xml_node n = root.first_child(); n; n = NextBelow(n, root)) {
    if (IsElement(n, name)) return n;
  }
  return {};
}

// The text of an element and everything inside it, as a DOM's text property
// gives it. Almost always one text node, returned without a copy.
std::string_view ElementText(pugi::xml_node element, std::string& scratch) {
  const pugi::xml_node first = element.first_child();
  if (!first) return {};
  const auto type = first.type();
  if ((type == pugi::node_pcdata || type == pugi::node_cdata) && !first.next_sibling()) {
    return first.value();
  }
  scratch.clear();
  for (pugi::xml_node n = first; n; n = NextBelow(n, element)) {
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) scratch += n.value();
  }
  return scratch;
}

class Walker {
 public:
  explicit Walker(SequenceDocument& out) : out_(out) {}

  std::optional<Failure> Walk(const pugi::xml_document& doc) {
    const pugi::xml_node audio = FirstDescendant(doc, "AudioFile");
    if (!audio) return Failure{"it has no AudioFile element", -1, ""};
    if (auto f = ReadText(audio, "AudioFile", "Title", out_.title)) return f;
    if (auto f = ReadText(audio, "AudioFile", "Artist", out_.artist)) return f;
    if (auto f = ReadText(audio, "AudioFile", "FilePath", out_.filePath)) return f;

    std::optional<Failure> failure;
    ForEachDescendant(doc, "Controller", [&](pugi::xml_node controller) {
      if (!failure) failure = WalkController(controller);
    });
    return failure;
  }

 private:
  std::optional<Failure> ReadText(pugi::xml_node owner, const char* ownerName, const char* name,
                                  std::string& out) {
    const pugi::xml_node element = FirstDescendant(owner, name);
    if (!element) return Missing(owner, ownerName, name);
    out = std::string(Trim(ElementText(element, scratch_)));
    return std::nullopt;
  }

  static Failure Missing(pugi::xml_node owner, const char* ownerName, const char* name) {
    return At(std::string("the ") + ownerName + " element", owner,
              std::string(" has no ") + name + " element");
  }

  std::optional<Failure> ReadNumber(pugi::xml_node owner, const char* ownerName,
                                    pugi::xml_node element, const char* name, bool roundDown,
                                    std::int32_t& out) {
    if (!element) return Missing(owner, ownerName, name);
    const std::string_view text = ElementText(element, scratch_);
    const ParsedNumber parsed = roundDown ? ParseFlooredNumber(text) : ParseRoundedNumber(text);
    const std::string subject = std::string("the ") + name + " element";
    switch (parsed.error) {
      case NumberError::kNone:
        out = parsed.value;
        return std::nullopt;
      case NumberError::kEmpty:
        return At(subject, element, " has no value");
      case NumberError::kNotANumber:
        return At(subject, element, " holds " + Quoted(Trim(text)) + ", which is not a number");
      case NumberError::kOutOfRange:
        return At(subject, element,
                  " holds " + Quoted(Trim(text)) + ", which does not fit a 32-bit whole number");
    }
    return std::nullopt;
  }

  std::optional<Failure> WalkController(pugi::xml_node controller) {
    std::int32_t device = 0;
    if (auto f = ReadNumber(controller, "Controller", FirstDescendant(controller, "ControllerID"),
                            "ControllerID", false, device)) {
      return f;
    }
    if (device <= 0) return std::nullopt;
    std::optional<Failure> failure;
    ForEachDescendant(controller, "Channel", [&](pugi::xml_node channel) {
      if (!failure) failure = WalkChannel(channel, device);
    });
    return failure;
  }

  std::optional<Failure> WalkChannel(pugi::xml_node channel, std::int32_t device) {
    std::int32_t number = 0;
    const pugi::xml_node numberElement = FirstDescendant(channel, "ChannelNumber");
    if (auto f = ReadNumber(channel, "Channel", numberElement, "ChannelNumber", false, number)) {
      return f;
    }
    // Only 16 channels have a bank and a bit: a row for any other number
    // would drive the wrong lamp.
    if (number < kLowestChannel || number > kHighestChannel) {
      return At("the ChannelNumber element", numberElement,
                " holds " + std::to_string(number) + ", but channels are numbered 1 to 16");
    }
    const std::int32_t bankOffset = number > kBankSize ? kBank2Offset : 0;
    const std::int32_t bit = ChannelToBit(number);

    out_.channels.push_back({device, number, out_.rows.size(), 0});
    std::optional<Failure> failure;
    ForEachDescendant(channel, "TimeInterval", [&](pugi::xml_node interval) {
      if (!failure) failure = ReadInterval(interval, device, bit, bankOffset);
    });
    out_.channels.back().rowCount = out_.rows.size() - out_.channels.back().firstRow;
    return failure;
  }

  std::optional<Failure> ReadInterval(pugi::xml_node interval, std::int32_t device,
                                      std::int32_t bit, std::int32_t bankOffset) {
    // One walk over the interval finds the first of each of its four values.
    static constexpr const char* kNames[] = {"PositionInSamples", "Effect", "IntensityIn",
                                             "IntensityOut"};
    pugi::xml_node found[4];
    int missing = 4;
    for (pugi::xml_node n = interval.first_child(); n && missing > 0; n = NextBelow(n, interval)) {
      if (n.type() != pugi::node_element) continue;
      for (int i = 0; i < 4; ++i) {
        if (!found[i] && std::strcmp(n.name(), kNames[i]) == 0) {
          found[i] = n;
          --missing;
          break;
        }
      }
    }
    std::int32_t values[4] = {};
    for (int i = 0; i < 4; ++i) {
      if (auto f = ReadNumber(interval, "TimeInterval", found[i], kNames[i], i == 0, values[i])) {
        return f;
      }
    }
    const std::int32_t effect = values[1];
    const std::optional<std::int32_t> command = EffectToCommand(effect);
    if (!command) return std::nullopt;
    SequenceRow row;
    row.sampleNumber = values[0];
    row.device = device;
    row.channel = bit;
    row.command = *command + bankOffset;
    row.startIntensity = effect == 4 ? kIntensityForEffect4 : values[2];
    row.endIntensity = effect == 4 ? kIntensityForEffect4 : values[3];
    out_.rows.push_back(row);
    return std::nullopt;
  }

  SequenceDocument& out_;
  std::string scratch_;
};

platform::Result<std::string> ReadFileBytes(const std::string& path) {
  using R = platform::Result<std::string>;
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) return R::Error("the file does not exist");
  if (std::filesystem::is_directory(status)) return R::Error("it is a folder, not a file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return R::Error("the file cannot be opened");
  std::string bytes;
  const auto size = std::filesystem::file_size(path, ec);
  if (!ec) bytes.reserve(static_cast<std::size_t>(size));
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return R::Error("the file cannot be read");
  return R(std::move(bytes));
}

platform::Result<std::string> ReadDocumentAsUtf8(const std::string& path) {
  auto bytes = ReadFileBytes(path);
  if (!bytes) return bytes;
  return XmlDocumentToUtf8(std::move(bytes).value());
}

// 1-based line of a byte offset. The parse wrote into its buffer, so the
// document is read again for this; it only happens once an import has failed.
std::string LineAt(const std::string& path, std::ptrdiff_t offset) {
  auto text = ReadDocumentAsUtf8(path);
  if (!text || offset < 0) return "";
  const std::string& t = text.value();
  const auto end =
      t.begin() + std::min<std::ptrdiff_t>(offset, static_cast<std::ptrdiff_t>(t.size()));
  return std::to_string(1 + std::count(t.begin(), end, '\n'));
}

std::string Refusal(const std::string& path, const std::string& detail) {
  return "The sequence document \"" + path + "\" cannot be imported: " + detail + ".";
}

std::string Refusal(const std::string& path, const Failure& failure) {
  std::string where;
  if (failure.offset >= 0) {
    const std::string line = LineAt(path, failure.offset);
    if (!line.empty()) where = " on line " + line;
  }
  return Refusal(path, failure.subject + where + failure.predicate);
}

}  // namespace

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

ParsedNumber ParseRoundedNumber(std::string_view text) {
  return ParseNumber(text, false);
}
ParsedNumber ParseFlooredNumber(std::string_view text) {
  return ParseNumber(text, true);
}

platform::Result<SequenceDocument> ReadSequenceDocument(const std::string& path) {
  using R = platform::Result<SequenceDocument>;
  auto text = ReadDocumentAsUtf8(path);
  if (!text) return R::Error(Refusal(path, text.message()));
  std::string buffer = std::move(text).value();

  // Parsed in place: the document is the largest thing an import holds, and
  // a second copy of it would double the import's memory.
  pugi::xml_document doc;
  const unsigned options = pugi::parse_cdata | pugi::parse_escapes;
  const pugi::xml_parse_result parsed =
      doc.load_buffer_inplace(buffer.data(), buffer.size(), options, pugi::encoding_utf8);
  if (!parsed) {
    return R::Error(Refusal(path, Failure{"it is not well-formed XML", parsed.offset,
                                          std::string(" (") + parsed.description() + ")"}));
  }

  SequenceDocument result;
  if (auto failure = Walker(result).Walk(doc)) return R::Error(Refusal(path, *failure));
  return R(std::move(result));
}

}  // namespace importer
