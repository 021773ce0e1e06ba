#include "import/sequence_scanner.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "import/sequence_elements.h"
#include "text/text.h"

namespace importer {
namespace {

using Name = SequenceElement;

// Characters of XML names as pugixml reads them: letters, '_', ':' and every
// byte of a multi-byte character may start one; digits, '-' and '.' follow.
enum : std::uint8_t { kNameStart = 1, kNameChar = 2, kSpace = 4 };
constexpr std::array<std::uint8_t, 256> kCharClass = [] {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (letter || c == '_' || c == ':' || c >= 0x80) table[c] |= kNameStart | kNameChar;
    if ((c >= '0' && c <= '9') || c == '-' || c == '.') table[c] |= kNameChar;
    if (IsXmlSpace(static_cast<char>(c))) table[c] |= kSpace;
  }
  return table;
}();

bool Is(char c, std::uint8_t what) {
  return (kCharClass[static_cast<unsigned char>(c)] & what) != 0;
}

// Replaces the predefined entities and character references of `raw` (UTF-8)
// in `out`. False for anything else after an ampersand: that text is left to
// the full reader.
bool DecodeReferences(std::string_view raw, std::string& out) {
  out.clear();
  std::size_t at = 0;
  while (at < raw.size()) {
    const std::size_t amp = raw.find('&', at);
    if (amp == std::string_view::npos) {
      out.append(raw.substr(at));
      break;
    }
    out.append(raw.substr(at, amp - at));
    const std::size_t semi = raw.find(';', amp);
    if (semi == std::string_view::npos || semi - amp > 10) return false;
    const std::string_view ref = raw.substr(amp + 1, semi - amp - 1);
    at = semi + 1;
    if (ref == "lt") {
      out += '<';
    } else if (ref == "gt") {
      out += '>';
    } else if (ref == "amp") {
      out += '&';
    } else if (ref == "apos") {
      out += '\'';
    } else if (ref == "quot") {
      out += '"';
    } else if (ref.size() >= 2 && ref[0] == '#') {
      const bool hex = ref[1] == 'x';
      const std::string_view digits = ref.substr(hex ? 2 : 1);
      if (digits.empty()) return false;
      char32_t value = 0;
      for (const char c : digits) {
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        if (d < 0) return false;
        value = value * (hex ? 16 : 10) + static_cast<char32_t>(d);
      }
      const bool valid = value > 0 && value <= 0x10FFFF && !(value >= 0xD800 && value < 0xE000);
      if (!valid) return false;
      text::AppendUtf8(out, value);
    } else {
      return false;
    }
  }
  return true;
}

// One value as the document gives it: its text is known as soon as the
// element is read, its meaning once its owner ends.
struct Captured {
  bool seen = false;
  ParsedNumber number;
};

class Scanner {
 public:
  Scanner(std::string_view bytes, ByteForm form)
      : begin_(bytes.data()), p_(bytes.data()), end_(bytes.data() + bytes.size()), form_(form) {}

  std::optional<SequenceDocument> Run() {
    // The reader stops at a zero byte; such a file is damaged.
    if (std::memchr(begin_, 0, static_cast<std::size_t>(end_ - begin_)) != nullptr) return {};
    if (!Scan()) return {};
    if (!audioFound_ || !title_.seen || !artist_.seen || !filePath_.seen) return {};
    return std::move(out_);
  }

 private:
  struct Open {
    const char* name;
    std::size_t length;
    Name kind;
  };

  bool Scan() {
    bool rootSeen = false;
    // The XML declaration, if any, comes first.
    if (StartsWith("<?xml") && end_ - p_ > 5 && Is(p_[5], kSpace)) {
      const char* close = Find("?>", p_ + 5);
      if (close == nullptr) return false;
      p_ = close + 2;
    }
    while (p_ < end_) {
      if (stack_.empty()) {
        while (p_ < end_ && Is(*p_, kSpace)) ++p_;
        if (p_ == end_) break;
        if (*p_ != '<') return false;  // text outside the root element
      } else {
        p_ = static_cast<const char*>(std::memchr(p_, '<', static_cast<std::size_t>(end_ - p_)));
        if (p_ == nullptr) return false;
      }
      if (end_ - p_ < 2) return false;
      const char next = p_[1];
      if (next == '/') {
        if (!EndTag()) return false;
      } else if (next == '!') {
        if (StartsWith("<!--")) {
          const char* close = Find("-->", p_ + 4);
          if (close == nullptr) return false;
          p_ = close + 3;
        } else if (StartsWith("<![CDATA[") && !stack_.empty()) {
          const char* close = Find("]]>", p_ + 9);
          if (close == nullptr) return false;
          p_ = close + 3;
        } else {
          return false;  // a document type or worse
        }
      } else {
        if (stack_.empty() && rootSeen) return false;  // a second root element
        rootSeen = true;
        if (!StartTag()) return false;
      }
    }
    return rootSeen && stack_.empty();
  }

  bool StartsWith(std::string_view prefix) const {
    return static_cast<std::size_t>(end_ - p_) >= prefix.size() &&
           std::memcmp(p_, prefix.data(), prefix.size()) == 0;
  }

  const char* Find(std::string_view needle, const char* from) const {
    const std::string_view rest(from, static_cast<std::size_t>(end_ - from));
    const std::size_t at = rest.find(needle);
    return at == std::string_view::npos ? nullptr : from + at;
  }

  bool StartTag() {
    const char* name = p_ + 1;
    if (!Is(*name, kNameStart)) return false;
    const char* q = name + 1;
    while (q < end_ && Is(*q, kNameChar)) ++q;
    const std::size_t length = static_cast<std::size_t>(q - name);
    // Attributes are checked for form and otherwise passed over: nothing
    // the compiler reads is an attribute.
    bool empty = false;
    for (;;) {
      const char* afterName = q;
      while (q < end_ && Is(*q, kSpace)) ++q;
      if (q >= end_) return false;
      if (*q == '>') {
        ++q;
        break;
      }
      if (*q == '/') {
        if (q + 1 >= end_ || q[1] != '>') return false;
        q += 2;
        empty = true;
        break;
      }
      if (q == afterName || !Is(*q, kNameStart)) return false;
      while (q < end_ && Is(*q, kNameChar)) ++q;
      while (q < end_ && Is(*q, kSpace)) ++q;
      if (q >= end_ || *q != '=') return false;
      ++q;
      while (q < end_ && Is(*q, kSpace)) ++q;
      if (q >= end_ || (*q != '"' && *q != '\'')) return false;
      const char quote = *q++;
      const char* close =
          static_cast<const char*>(std::memchr(q, quote, static_cast<std::size_t>(end_ - q)));
      if (close == nullptr || std::memchr(q, '<', static_cast<std::size_t>(close - q)) != nullptr) {
        return false;
      }
      q = close + 1;
      if (q < end_ && !Is(*q, kSpace) && *q != '>' && *q != '/') return false;
    }
    p_ = q;
    const Name kind = ClassifyElement(std::string_view(name, length));
    if (kind == kNotRead) {
      if (!empty) stack_.push_back({name, length, kind});
      return true;
    }
    if (!OpenElement(kind)) return false;
    if (Captured* value = Capture(kind)) {
      // A value element: its text is the run up to its own end tag.
      value->seen = true;
      std::string_view raw;
      if (!empty) {
        const char* lt =
            static_cast<const char*>(std::memchr(p_, '<', static_cast<std::size_t>(end_ - p_)));
        if (lt == nullptr || end_ - lt < static_cast<std::ptrdiff_t>(length + 3) || lt[1] != '/' ||
            std::memcmp(lt + 2, name, length) != 0) {
          return false;  // markup inside a value: for the full reader
        }
        const char* e = lt + 2 + length;
        while (e < end_ && Is(*e, kSpace)) ++e;
        if (e >= end_ || *e != '>') return false;
        raw = std::string_view(p_, static_cast<std::size_t>(lt - p_));
        p_ = e + 1;
      }
      if (!TakeValue(kind, raw, *value)) return false;
      return CloseElement(kind);
    }
    if (empty) return CloseElement(kind);
    stack_.push_back({name, length, kind});
    return true;
  }

  bool EndTag() {
    if (stack_.empty()) return false;
    const Open& open = stack_.back();
    const char* name = p_ + 2;
    if (end_ - name < static_cast<std::ptrdiff_t>(open.length) ||
        std::memcmp(name, open.name, open.length) != 0) {
      return false;
    }
    const char* q = name + open.length;
    while (q < end_ && Is(*q, kSpace)) ++q;
    if (q >= end_ || *q != '>') return false;
    p_ = q + 1;
    const Name kind = open.kind;
    stack_.pop_back();
    return kind == kNotRead || CloseElement(kind);
  }

  // --- what the elements mean ---------------------------------------------------

  bool OpenElement(Name kind) {
    switch (kind) {
      case kAudioFile:
        if (!audioFound_) {
          audioFound_ = true;
          audioDepth_ = stack_.size();
          inAudio_ = true;
        }
        return true;
      case kController:
        if (inController_) return false;  // nested: the full reader refuses it (MustNotNest)
        inController_ = true;
        controllerId_ = {};
        controllerFailed_ = false;
        controllerRows_ = out_.rows.size();
        controllerChannels_ = out_.channels.size();
        return true;
      case kChannel:
        if (inChannel_) return false;
        inChannel_ = true;
        channelRead_ = inController_;
        channelNumber_ = {};
        channelRows_ = out_.rows.size();
        return true;
      case kTimeInterval:
        if (inInterval_) return false;
        inInterval_ = true;
        intervalRead_ = inChannel_ && channelRead_;
        interval_ = {};
        return true;
      default:
        return true;
    }
  }

  // The value slot an element fills, when it is the first of its name in an
  // element being read; nothing otherwise.
  Captured* Capture(Name kind) {
    Captured* slot = nullptr;
    if (kind == kTitle || kind == kArtist || kind == kFilePath) {
      if (inAudio_) slot = kind == kTitle ? &title_ : kind == kArtist ? &artist_ : &filePath_;
    } else if (kind == kControllerID) {
      if (inController_) slot = &controllerId_;
    } else if (kind == kChannelNumber) {
      if (inChannel_ && channelRead_) slot = &channelNumber_;
    } else if (kind >= kPositionInSamples) {
      if (inInterval_ && intervalRead_) slot = &interval_[kind - kPositionInSamples];
    }
    return slot != nullptr && !slot->seen ? slot : nullptr;
  }

  bool TakeValue(Name kind, std::string_view raw, Captured& value) {
    if (raw.find('&') != std::string_view::npos) {
      if (!DecodeReferences(raw, scratch_)) return false;
      raw = scratch_;
    }
    std::string* text = kind == kTitle      ? &out_.title
                        : kind == kArtist   ? &out_.artist
                        : kind == kFilePath ? &out_.filePath
                                            : nullptr;
    if (text == nullptr) {
      value.number = kind == kPositionInSamples ? ParseFlooredNumber(raw) : ParseRoundedNumber(raw);
      return true;
    }
    // A text the tree reader refuses is left to it: it names the element
    // and its line.
    const std::string_view trimmed = TrimXmlSpace(raw);
    if (CheckDocumentText(kind, trimmed) != TextFault::kNone) return false;
    *text = ToUtf8(trimmed, form_);
    return true;
  }

  static bool Good(const Captured& value) {
    return value.seen && value.number.error == NumberError::kNone;
  }

  bool CloseElement(Name kind) {
    switch (kind) {
      case kAudioFile:
        if (inAudio_ && stack_.size() == audioDepth_) inAudio_ = false;
        return true;
      case kTimeInterval:
        inInterval_ = false;
        if (intervalRead_) EndInterval();
        return true;
      case kChannel:
        inChannel_ = false;
        if (channelRead_) EndChannel();
        return true;
      case kController:
        inController_ = false;
        return EndController();
      default:
        return true;
    }
  }

  void EndInterval() {
    for (const Captured& value : interval_) {
      if (!Good(value)) {
        controllerFailed_ = true;
        return;
      }
    }
    const auto valueOf = [this](Name n) { return interval_[n - kPositionInSamples].number.value; };
    // Refused by the tree reader, which names its line.
    if (valueOf(kPositionInSamples) < 0) {
      controllerFailed_ = true;
      return;
    }
    // Its channel follows once the channel has ended.
    if (auto row = IntervalRow(valueOf(kPositionInSamples), valueOf(kEffect), valueOf(kIntensityIn),
                               valueOf(kIntensityOut))) {
      out_.rows.push_back(*row);
    }
  }

  void EndChannel() {
    const std::int32_t number = channelNumber_.number.value;
    if (!Good(channelNumber_) || !IsChannelNumber(number)) {
      controllerFailed_ = true;
      return;
    }
    for (std::size_t i = channelRows_; i < out_.rows.size(); ++i)
      PutOnChannel(out_.rows[i], number);
    out_.channels.push_back({0, number, channelRows_, out_.rows.size() - channelRows_});
  }

  // A controller is read only once it has ended: its identifier may come
  // after its channels. One whose identifier is 0 or less is dropped with
  // whatever it held, as the full reader skips it unread.
  bool EndController() {
    if (!Good(controllerId_)) return false;
    const std::int32_t device = controllerId_.number.value;
    if (device <= 0) {
      out_.rows.resize(controllerRows_);
      out_.channels.resize(controllerChannels_);
      return true;
    }
    if (controllerFailed_) return false;
    for (std::size_t i = controllerRows_; i < out_.rows.size(); ++i) out_.rows[i].device = device;
    for (std::size_t i = controllerChannels_; i < out_.channels.size(); ++i) {
      out_.channels[i].device = device;
    }
    return true;
  }

  const char* begin_;
  const char* p_;
  const char* end_;
  ByteForm form_;
  std::vector<Open> stack_;
  std::string scratch_;
  SequenceDocument out_;

  bool audioFound_ = false;
  bool inAudio_ = false;
  std::size_t audioDepth_ = 0;
  Captured title_, artist_, filePath_;

  bool inController_ = false;
  bool controllerFailed_ = false;
  Captured controllerId_;
  std::size_t controllerRows_ = 0;
  std::size_t controllerChannels_ = 0;

  bool inChannel_ = false;
  bool channelRead_ = false;  // inside a controller
  Captured channelNumber_;
  std::size_t channelRows_ = 0;

  bool inInterval_ = false;
  bool intervalRead_ = false;  // inside a channel that is read
  std::array<Captured, kIntervalValueCount> interval_;
};

}  // namespace

std::optional<SequenceDocument> ScanSequenceDocument(std::string_view bytes, ByteForm form) {
  return Scanner(bytes, form).Run();
}

}  // namespace importer
