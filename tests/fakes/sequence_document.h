#pragma once

#include <string>
#include <vector>

// Sequence documents in the shape Spectrum writes them, as the import, the
// window and the end-to-end tests build them.
namespace fakes {

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

// One element per line: the first interval's IntensityIn is on line 18.
inline std::string ToXml(const Sequence& s) {
  const auto element = [](const std::string& indent, const std::string& name,
                          const std::string& text) {
    return indent + "<" + name + ">" + text + "</" + name + ">\n";
  };
  std::string x = "<?xml version=\"1.0\" encoding=\"" + s.encoding + "\"?>\n<Sequence>\n";
  x += "  <AudioFile>\n" + element("    ", "Title", s.title) + element("    ", "Artist", s.artist) +
       element("    ", "FilePath", s.filePath) + "  </AudioFile>\n  <Controllers>\n";
  for (const auto& c : s.controllers) {
    x += "    <Controller>\n" + element("      ", "ControllerID", c.id) + "      <Channels>\n";
    for (const auto& ch : c.channels) {
      x += "        <Channel>\n" + element("          ", "ChannelNumber", ch.number) +
           "          <TimeIntervals>\n";
      for (const auto& i : ch.intervals) {
        x += "            <TimeInterval>\n" +
             element("              ", "PositionInSamples", i.position) +
             element("              ", "Effect", i.effect) +
             element("              ", "IntensityIn", i.intensityIn) +
             element("              ", "IntensityOut", i.intensityOut) +
             "            </TimeInterval>\n";
      }
      x += "          </TimeIntervals>\n        </Channel>\n";
    }
    x += "      </Channels>\n    </Controller>\n";
  }
  return x + "  </Controllers>\n</Sequence>\n";
}

}  // namespace fakes
