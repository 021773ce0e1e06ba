#include "import/sequence_reader.h"

#include "platform/file_store.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <system_error>
#include <utility>

#include "import/sequence_elements.h"
#include "import/sequence_scanner.h"
#include "import/text_encoding.h"
#include "platform/utf8_path.h"

namespace importer {
namespace {

// Long texts in messages are cut so one bad value cannot flood the box.
constexpr std::size_t kMaxQuotedText = 40;
// Far above any real sequence (an hour-long show of many controllers is tens
// of megabytes), low enough that a hostile file cannot take all memory.
constexpr std::size_t kMaxDocumentBytes = std::size_t{512} * 1024 * 1024;
constexpr std::size_t kMegaByte = 1024 * 1024;

double RoundHalfToEven(double v) {
  const double below = std::floor(v);
  const double fraction = v - below;  // exact for every finite double
  if (fraction > 0.5) return below + 1.0;
  if (fraction < 0.5) return below;
  return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

// Whether a number written too far from 1 for a double lies below 1 (it
// rounds to 0) rather than above it: the place of its first digit that is
// not 0, moved by its exponent. "0.000...01" with a hundred thousand digits
// and "1e-999" are below; "1e999" and a thousand-digit whole number above.
bool BelowOne(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  std::int64_t place = 0;  // the power of ten of the first digit not 0
  bool found = false, afterPoint = false;
  for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
    if (text[i] == '.') {
      afterPoint = true;
    } else if (!found && text[i] != '0') {
      found = true;
      place = afterPoint ? place - 1 : 0;
    } else if (!found && afterPoint) {
      --place;
    } else if (found && !afterPoint) {
      ++place;
    }
  }
  if (!found) return true;
  std::int64_t exponent = 0;
  bool negative = false;
  if (i < text.size()) ++i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  // Saturates far beyond any place a text of this size can have.
  for (; i < text.size(); ++i)
    exponent = std::min<std::int64_t>(exponent * 10 + (text[i] - '0'), 1LL << 40);
  return place + (negative ? -exponent : exponent) < 0;
}

ParsedNumber ParseNumber(std::string_view text, bool roundDown) {
  text = TrimXmlSpace(text);
  if (text.empty()) return {0, NumberError::kEmpty};
  const char* begin = text.data();
  const char* end = begin + text.size();
  // from_chars takes no plus sign; a hand-edited "+5" is still a number.
  if (*begin == '+') {
    ++begin;
    if (begin == end || *begin == '-' || *begin == '+') return {0, NumberError::kNotANumber};
  }
  // Most values are plain whole numbers: read those without the detour
  // through floating point.
  {
    const char* p = begin;
    const bool negative = *p == '-';
    if (negative) ++p;
    const char* digits = p;
    std::int64_t whole = 0;
    while (p != end && p - digits < 11 && *p >= '0' && *p <= '9') whole = whole * 10 + (*p++ - '0');
    if (p == end && p != digits) {
      if (negative) whole = -whole;
      if (whole < INT32_MIN || whole > INT32_MAX) return {0, NumberError::kOutOfRange};
      return {static_cast<std::int32_t>(whole), NumberError::kNone};
    }
  }
  double value = 0.0;
  const auto [stop, ec] = std::from_chars(begin, end, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range && stop == end) {
    // Either huge or vanishingly small.
    if (!BelowOne(std::string_view(begin, static_cast<std::size_t>(end - begin)))) {
      return {0, NumberError::kOutOfRange};
    }
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

// Next node after `node` in document order without leaving `root`'s subtree.
pugi::xml_node NextBelow(pugi::xml_node node, pugi::xml_node root) {
  if (pugi::xml_node child = node.first_child()) return child;
  while (node != root) {
    if (pugi::xml_node sibling = node.next_sibling()) return sibling;
    node = node.parent();
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

using Name = SequenceElement;

// One element the compiler reads, with its place in document order: `pre` is
// its number in a preorder walk of the whole document, and the elements
// below it are exactly those numbered pre + 1 .. end - 1.
struct Mark {
  pugi::xml_node node;
  std::uint32_t pre = 0;
  std::uint32_t end = 0;
};
using MarkList = std::vector<Mark>;

// One walk over the document that lists every element of interest by name.
// "The elements named N at any depth below E" is then a slice of N's list,
// which keeps the reader's nested searches (controllers, their channels,
// their intervals, each interval's values) from walking the tree once per
// level.
class DocumentIndex final : public pugi::xml_tree_walker {
 public:
  explicit DocumentIndex(const pugi::xml_document& doc) {
    const_cast<pugi::xml_document&>(doc).traverse(*this);
  }

  const MarkList& operator[](Name n) const { return lists_[n]; }
  // The first element that lies inside another of its kind, if any.
  const std::optional<Failure>& nested() const { return nested_; }

  // The index in `list` of the first mark numbered after `after`. `hint` is
  // where the previous search of this list ended: the walk goes forward
  // through the document, so the answer is usually at or just after it.
  static std::size_t FirstAfter(const MarkList& list, std::uint32_t after, std::size_t& hint) {
    std::size_t lo = std::min(hint, list.size());
    std::size_t hi = list.size();
    if (lo > 0 && list[lo - 1].pre > after) {
      hi = lo;
      lo = 0;
    } else {
      // Gallop forward from the hint, then search the last step.
      std::size_t step = 1;
      while (lo + step < hi && list[lo + step - 1].pre <= after) {
        lo += step;
        step *= 2;
      }
      hi = std::min(hi, lo + step);
    }
    const auto it = std::partition_point(list.begin() + static_cast<std::ptrdiff_t>(lo),
                                         list.begin() + static_cast<std::ptrdiff_t>(hi),
                                         [after](const Mark& m) { return m.pre <= after; });
    hint = static_cast<std::size_t>(it - list.begin());
    return hint;
  }

 private:
  bool for_each(pugi::xml_node& node) override {
    const std::uint32_t pre = ++count_;
    const int d = depth();
    while (!open_.empty() && open_.back().depth >= d) Close(pre);
    if (node.type() != pugi::node_element) return true;
    const Name name = ClassifyElement(node.name());
    if (name == kNotRead) return true;
    // Elements are found at any depth, so a controller, channel or interval
    // inside another of its kind would be read once for each: rows
    // multiplied. No sequencer writes that; such a document is refused.
    if (MustNotNest(name) && openCount_[static_cast<std::size_t>(name)] > 0 && !nested_) {
      nested_ = At(std::string("the ") + kElementNames[name] + " element", node,
                   std::string(" lies inside another ") + kElementNames[name] +
                       " element, which no sequencer writes");
    }
    auto& list = lists_[static_cast<std::size_t>(name)];
    list.push_back({node, pre, 0});
    open_.push_back({d, name, list.size() - 1});
    ++openCount_[static_cast<std::size_t>(name)];
    return true;
  }
  bool end(pugi::xml_node&) override {
    while (!open_.empty()) Close(count_ + 1);
    return true;
  }
  void Close(std::uint32_t end) {
    const Open& o = open_.back();
    lists_[static_cast<std::size_t>(o.name)][o.index].end = end;
    --openCount_[static_cast<std::size_t>(o.name)];
    open_.pop_back();
  }

  struct Open {
    int depth;
    int name;
    std::size_t index;
  };
  std::array<MarkList, kElementCount> lists_;
  std::vector<Open> open_;
  std::array<int, kElementCount> openCount_{};
  std::optional<Failure> nested_;
  std::uint32_t count_ = 0;
};

class Walker {
 public:
  Walker(const pugi::xml_document& doc, SequenceDocument& out) : index_(doc), out_(out) {}

  std::optional<Failure> Walk() {
    if (index_.nested()) return index_.nested();
    const MarkList& audios = index_[kAudioFile];
    if (audios.empty()) return Failure{"it has no AudioFile element", -1, ""};
    const Mark& audio = audios.front();
    if (auto f = ReadText(audio, kTitle, out_.title)) return f;
    if (auto f = ReadText(audio, kArtist, out_.artist)) return f;
    if (auto f = ReadText(audio, kFilePath, out_.filePath)) return f;

    for (const Mark& controller : index_[kController]) {
      if (auto f = WalkController(controller)) return f;
    }
    return std::nullopt;
  }

 private:
  // The first element named `name` below `owner`, or nothing.
  const Mark* First(const Mark& owner, Name name) {
    const MarkList& list = index_[name];
    const std::size_t i = DocumentIndex::FirstAfter(list, owner.pre, hints_[name]);
    return i < list.size() && list[i].pre < owner.end ? &list[i] : nullptr;
  }

  // The elements named `name` below `owner`, in document order.
  std::pair<const Mark*, const Mark*> All(const Mark& owner, Name name) {
    const MarkList& list = index_[name];
    std::size_t i = DocumentIndex::FirstAfter(list, owner.pre, hints_[name]);
    const Mark* begin = list.data() + i;
    while (i < list.size() && list[i].pre < owner.end) ++i;
    return {begin, list.data() + i};
  }

  std::optional<Failure> ReadText(const Mark& owner, Name name, std::string& out) {
    const Mark* element = First(owner, name);
    if (!element) return Missing(owner, name);
    const std::string_view text = TrimXmlSpace(ElementText(element->node, scratch_));
    const std::string subject = std::string("the ") + kElementNames[name] + " element";
    switch (CheckDocumentText(name, text)) {
      case TextFault::kNone:
        out = std::string(text);
        return std::nullopt;
      // A title of tens of megabytes froze the window while its message was
      // built, and would go into the playlist file whole.
      case TextFault::kTooLong:
        return At(subject, element->node,
                  " holds " + std::to_string(text.size()) + " bytes, more than the " +
                      std::to_string(kMaxDocumentTextBytes) +
                      " a title, artist or audio file path may have");
      // The playlist file, one value per line, could not keep one.
      case TextFault::kControlCharacter:
        return At(subject, element->node,
                  " holds a line break or another control character, which a file path cannot "
                  "have");
    }
    return std::nullopt;
  }

  static Failure Missing(const Mark& owner, Name name) {
    return At(std::string("the ") + owner.node.name() + " element", owner.node,
              std::string(" has no ") + kElementNames[name] + " element");
  }

  std::optional<Failure> ReadNumber(const Mark& owner, Name name, bool roundDown,
                                    std::int32_t& out) {
    const Mark* element = First(owner, name);
    if (!element) return Missing(owner, name);
    const std::string_view text = ElementText(element->node, scratch_);
    const ParsedNumber parsed = roundDown ? ParseFlooredNumber(text) : ParseRoundedNumber(text);
    const std::string subject = std::string("the ") + kElementNames[name] + " element";
    switch (parsed.error) {
      case NumberError::kNone:
        out = parsed.value;
        return std::nullopt;
      case NumberError::kEmpty:
        return At(subject, element->node, " has no value");
      case NumberError::kNotANumber:
        return At(subject, element->node,
                  " holds " + Quoted(TrimXmlSpace(text)) + ", which is not a number");
      case NumberError::kOutOfRange:
        return At(
            subject, element->node,
            " holds " + Quoted(TrimXmlSpace(text)) + ", which does not fit a 32-bit whole number");
    }
    return std::nullopt;
  }

  std::optional<Failure> WalkController(const Mark& controller) {
    std::int32_t device = 0;
    if (auto f = ReadNumber(controller, kControllerID, false, device)) return f;
    if (device <= 0) return std::nullopt;
    const auto [begin, end] = All(controller, kChannel);
    for (const Mark* channel = begin; channel != end; ++channel) {
      if (auto f = WalkChannel(*channel, device)) return f;
    }
    return std::nullopt;
  }

  std::optional<Failure> WalkChannel(const Mark& channel, std::int32_t device) {
    std::int32_t number = 0;
    if (auto f = ReadNumber(channel, kChannelNumber, false, number)) return f;
    // Only 16 channels have a bank and a bit: a row for any other number
    // would drive the wrong lamp.
    if (!IsChannelNumber(number)) {
      return At("the ChannelNumber element", First(channel, kChannelNumber)->node,
                " holds " + std::to_string(number) + ", but channels are numbered " +
                    std::to_string(kLowestChannel) + " to " + std::to_string(kHighestChannel));
    }

    out_.channels.push_back({device, number, out_.rows.size(), 0});
    const auto [begin, end] = All(channel, kTimeInterval);
    for (const Mark* interval = begin; interval != end; ++interval) {
      if (auto f = ReadInterval(*interval, device, number)) return f;
    }
    out_.channels.back().rowCount = out_.rows.size() - out_.channels.back().firstRow;
    return std::nullopt;
  }

  std::optional<Failure> ReadInterval(const Mark& interval, std::int32_t device,
                                      std::int32_t channelNumber) {
    std::int32_t position = 0, effect = 0, in = 0, out = 0;
    if (auto f = ReadNumber(interval, kPositionInSamples, true, position)) return f;
    // Nothing can be sent before the song starts; the player would hold such
    // a row back and take the delay for the line's.
    if (position < 0) {
      return At("the PositionInSamples element", First(interval, kPositionInSamples)->node,
                " holds " + std::to_string(position) +
                    ", a position before the song starts; positions count from 0");
    }
    if (auto f = ReadNumber(interval, kEffect, false, effect)) return f;
    if (auto f = ReadNumber(interval, kIntensityIn, false, in)) return f;
    if (auto f = ReadNumber(interval, kIntensityOut, false, out)) return f;
    std::optional<SequenceRow> row = IntervalRow(position, effect, in, out);
    if (!row) return std::nullopt;
    PutOnChannel(*row, channelNumber);
    row->device = device;
    out_.rows.push_back(*row);
    return std::nullopt;
  }

  DocumentIndex index_;
  std::array<std::size_t, kElementCount> hints_{};
  SequenceDocument& out_;
  std::string scratch_;
};

// The document's bytes as they are on disk.
platform::Result<ByteBuffer> ReadDocumentBytes(const std::string& path) {
  using R = platform::Result<ByteBuffer>;
  std::error_code ec;
  const auto status = std::filesystem::status(platform::FilePath(path), ec);
  if (!std::filesystem::exists(status)) return R::Error("the file does not exist");
  // A pipe or device may never end (and opening a pipe waits for a writer).
  if (const std::string reason = platform::NotAFileReason(platform::KindOfPath(path));
      !reason.empty()) {
    return R::Error(reason);
  }
  const auto fileSize = std::filesystem::file_size(platform::FilePath(path), ec);
  const std::size_t expected = ec ? 0 : static_cast<std::size_t>(fileSize);
  if (expected > kMaxDocumentBytes) {
    return R::Error("the file is " + std::to_string(expected / (1024 * 1024)) +
                    " MB, more than the " + std::to_string(kMaxDocumentBytes / (1024 * 1024)) +
                    " MB a sequence document may have");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return R::Error("the file cannot be opened");
  ByteBuffer buffer(expected + 4096);
  // Read to the end, whatever the size said: the file may have grown.
  for (;;) {
    if (buffer.size() > kMaxDocumentBytes) {
      return R::Error("the file grew past the " +
                      std::to_string(kMaxDocumentBytes / (1024 * 1024)) +
                      " MB a sequence document may have while it was read");
    }
    if (buffer.size() == buffer.capacity()) {
      ByteBuffer larger(buffer.capacity() * 2);
      std::memcpy(larger.data(), buffer.data(), buffer.size());
      larger.SetSize(buffer.size());
      buffer = std::move(larger);
    }
    in.read(buffer.data() + buffer.size(),
            static_cast<std::streamsize>(buffer.capacity() - buffer.size()));
    buffer.SetSize(buffer.size() + static_cast<std::size_t>(in.gcount()));
    if (!in) break;
  }
  if (in.bad()) return R::Error("the file cannot be read");
  return R(std::move(buffer));
}

// 1-based line of a byte offset in `text`.
std::string LineAt(std::string_view text, std::ptrdiff_t offset) {
  if (offset < 0) return "";
  const auto end =
      text.begin() + std::min<std::ptrdiff_t>(offset, static_cast<std::ptrdiff_t>(text.size()));
  return std::to_string(1 + std::count(text.begin(), end, '\n'));
}

// What a refusal names: the document, or the archive it came out of.
struct Named {
  const std::string& path;
  const std::string& archive;
};

std::string Refusal(const Named& named, const std::string& detail) {
  if (!named.archive.empty()) {
    const std::string document = platform::PathText(platform::FilePath(named.path).filename());
    return "The sequence \"" + named.archive + "\" cannot be imported (the document \"" + document +
           "\" inside it): " + detail + ".";
  }
  return "The sequence document \"" + named.path + "\" cannot be imported: " + detail + ".";
}

std::string Refusal(const Named& named, std::string_view text, const Failure& failure) {
  std::string where;
  if (failure.offset >= 0) where = " on line " + LineAt(text, failure.offset);
  return Refusal(named, failure.subject + where + failure.predicate);
}

std::string OutOfMemory(std::size_t documentBytes) {
  return "there is not enough memory to read it (the document has " +
         std::to_string((documentBytes + kMegaByte - 1) / kMegaByte) + " MB)";
}

// Whether a character reference names a character XML allows in a document
// (a tab, a line end, or text from U+0020 on, without the surrogates and
// U+FFFE, U+FFFF).
bool IsXmlCharacter(std::uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Where the first character reference to a character XML does not allow
// stands ("&#0;", "&#xD800;", "&#1114112;"), in text and attribute values
// alike; comments, CDATA sections and processing instructions hold no
// references. pugixml decodes any number it is given.
std::optional<std::size_t> InvalidCharacterReference(std::string_view text) {
  constexpr std::pair<std::string_view, std::string_view> kSkipped[] = {
      {"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
  std::size_t at = 0;
  while ((at = text.find_first_of("<&", at)) != std::string_view::npos) {
    if (text[at] == '<') {
      bool skipped = false;
      for (const auto& [open, close] : kSkipped) {
        if (text.substr(at).starts_with(open)) {
          const std::size_t end = text.find(close, at + open.size());
          if (end == std::string_view::npos) return std::nullopt;  // the parser says so
          at = end + close.size();
          skipped = true;
          break;
        }
      }
      if (!skipped) ++at;
      continue;
    }
    const std::size_t start = at++;
    if (at >= text.size() || text[at] != '#') continue;
    const bool hex = at + 1 < text.size() && text[at + 1] == 'x';
    at += hex ? 2 : 1;
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; at < text.size() && text[at] != ';'; ++at, ++digits) {
      const char c = text[at];
      int d = -1;
      if (c >= '0' && c <= '9') d = c - '0';
      if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0) break;
      value =
          std::min<std::uint64_t>(value * (hex ? 16 : 10) + static_cast<unsigned>(d), 1ULL << 32);
    }
    if (digits == 0 || at >= text.size() || text[at] != ';' ||
        !IsXmlCharacter(static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFFFFFF)))) {
      return start;
    }
  }
  return std::nullopt;
}

// The whole document through pugixml's tree: the reader of every document
// the scanner declines, and the one that says what is wrong with it.
platform::Result<SequenceDocument> ReadThroughTree(const Named& path, ByteBuffer buffer) {
  using R = platform::Result<SequenceDocument>;
  if (auto converted = XmlDocumentToUtf8(buffer); !converted) {
    return R::Error(Refusal(path, converted.message()));
  }
  // pugixml parses a copy, so the text stays whole for counting lines.
  pugi::xml_document doc;
  const unsigned options = pugi::parse_cdata | pugi::parse_escapes;
  const pugi::xml_parse_result parsed =
      doc.load_buffer(buffer.data(), buffer.size(), options, pugi::encoding_utf8);
  if (parsed.status == pugi::status_out_of_memory) {
    return R::Error(Refusal(path, OutOfMemory(buffer.size())));
  }
  if (!parsed) {
    return R::Error(Refusal(path, buffer.view(),
                            Failure{"it is not well-formed XML", parsed.offset,
                                    std::string(" (") + parsed.description() + ")"}));
  }
  // pugixml takes what XML does not allow: a second root element, and
  // references to characters no document may hold.
  const pugi::xml_node root = doc.document_element();
  for (pugi::xml_node other = root.next_sibling(); other; other = other.next_sibling()) {
    if (other.type() == pugi::node_element) {
      return R::Error(Refusal(path, buffer.view(),
                              Failure{"it is not well-formed XML", other.offset_debug(),
                                      " (a second root element, " + Quoted(other.name()) +
                                          ", after the one the document has)"}));
    }
  }
  if (const auto reference = InvalidCharacterReference(buffer.view())) {
    const std::string_view shown = buffer.view().substr(*reference, 12);
    return R::Error(
        Refusal(path, buffer.view(),
                Failure{"it is not well-formed XML", static_cast<std::ptrdiff_t>(*reference),
                        " (a reference to a character no XML document may hold, " +
                            Quoted(shown.substr(0, shown.find(';') + 1)) + ")"}));
  }
  SequenceDocument result;
  if (auto failure = Walker(doc, result).Walk()) {
    return R::Error(Refusal(path, buffer.view(), *failure));
  }
  return R(std::move(result));
}

}  // namespace

ParsedNumber ParseRoundedNumber(std::string_view text) {
  return ParseNumber(text, false);
}
ParsedNumber ParseFlooredNumber(std::string_view text) {
  return ParseNumber(text, true);
}

platform::Result<SequenceDocument> ReadSequenceDocument(const std::string& path,
                                                        const std::string& archive) {
  using R = platform::Result<SequenceDocument>;
  const Named named{path, archive};
  std::size_t size = 0;
  try {
    auto read = ReadDocumentBytes(path);
    if (!read) return R::Error(Refusal(named, read.message()));
    ByteBuffer bytes = std::move(read).value();
    size = bytes.size();
    if (const auto direct = DirectlyReadableForm(bytes.view());
        direct && !InvalidCharacterReference(bytes.view())) {
      if (auto scanned =
              ScanSequenceDocument(bytes.view().substr(direct->markSize), direct->form)) {
        return R(std::move(*scanned));
      }
    }
    // The tree takes many times the document's size: past its bound the
    // document is refused before it is parsed, rather than taking the
    // machine's memory and then being called not well-formed.
    if (bytes.size() > kMaxTreeDocumentBytes) {
      return R::Error(Refusal(
          named, "it is " + std::to_string((bytes.size() + kMegaByte - 1) / kMegaByte) +
                     " MB, and a document that is not plain UTF-8, windows-1252 or ISO-8859-15 "
                     "text, or that has a fault, is read whole into memory, which is allowed up "
                     "to " +
                     std::to_string(kMaxTreeDocumentBytes / kMegaByte) + " MB"));
    }
    return ReadThroughTree(named, std::move(bytes));
  } catch (const std::bad_alloc&) {
    std::error_code ec;
    if (size == 0)
      size = static_cast<std::size_t>(std::filesystem::file_size(platform::FilePath(path), ec));
    return R::Error(Refusal(named, OutOfMemory(size)));
  }
}

}  // namespace importer
