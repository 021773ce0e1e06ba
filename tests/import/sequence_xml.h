#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "import/compile_window.h"
#include "import/sequence_reader.h"

// Builders for sequence documents in the shape Spectrum writes them, and a
// compiler window that records what it is shown.
namespace sequence_xml {

struct Interval {
  std::string position, effect, intensityIn, intensityOut;
};
struct Channel {
  std::string number;
  std::vector<Interval> intervals;
};
struct Controller {
  std::string id;
  std::vector<Channel> channels;
};
struct Sequence {
  std::string title = "Carol";
  std::string artist = "Choir";
  std::string filePath;
  std::vector<Controller> controllers;
  std::string encoding = "UTF-8";
};

inline std::string Element(const std::string& indent, const std::string& name,
                           const std::string& text) {
  return indent + "<" + name + ">" + text + "</" + name + ">\n";
}

inline std::string ToXml(const Sequence& s) {
  std::string x = "<?xml version=\"1.0\" encoding=\"" + s.encoding + "\"?>\n<Sequence>\n";
  x += "  <AudioFile>\n";
  x += Element("    ", "Title", s.title);
  x += Element("    ", "Artist", s.artist);
  x += Element("    ", "FilePath", s.filePath);
  x += "  </AudioFile>\n  <Controllers>\n";
  for (const auto& c : s.controllers) {
    x += "    <Controller>\n" + Element("      ", "ControllerID", c.id) + "      <Channels>\n";
    for (const auto& ch : c.channels) {
      x += "        <Channel>\n" + Element("          ", "ChannelNumber", ch.number);
      x += "          <TimeIntervals>\n";
      for (const auto& i : ch.intervals) {
        x += "            <TimeInterval>\n";
        x += Element("              ", "PositionInSamples", i.position);
        x += Element("              ", "Effect", i.effect);
        x += Element("              ", "IntensityIn", i.intensityIn);
        x += Element("              ", "IntensityOut", i.intensityOut);
        x += "            </TimeInterval>\n";
      }
      x += "          </TimeIntervals>\n        </Channel>\n";
    }
    x += "      </Channels>\n    </Controller>\n";
  }
  x += "  </Controllers>\n</Sequence>\n";
  return x;
}

// Records status texts and yields in one log, so a test sees their order.
class RecordingWindow : public importer::CompileWindow {
 public:
  void SetStatus(const std::string& text) override {
    status = text;
    log.push_back("status:" + text);
  }
  bool PerformBitmask() const override { return bitmask; }

  bool bitmask = false;
  std::string status;
  std::vector<std::string> log;
};

}  // namespace sequence_xml

namespace importer {
inline void PrintTo(const SequenceRow& r, std::ostream* os) {
  *os << "{" << r.sampleNumber << ", " << r.device << ", " << r.channel << ", " << r.command << ", "
      << r.startIntensity << ", " << r.endIntensity << "}";
}
}  // namespace importer
