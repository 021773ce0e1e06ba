#include "tools/glimmer/demo_show.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "binary/wav_writer.h"
#include "playback/wire_protocol.h"
#include "tools/rar4/rar4_writer.h"

namespace glimmer::demo {
namespace {

constexpr int kRate = 44100;
constexpr std::int64_t kSamplesPerBeat = playback::kSamplesPerSecond * 60 / kBeatsPerMinute;

std::string XmlText(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Effects of the sequencing product: 1 fade, 3 set an intensity.
constexpr int kFade = 1;
constexpr int kSet = 3;

struct Interval {
  std::int64_t at;
  int effect, in, out;
};

// Display width of a cell text (arrows and the dot are one column each).
std::size_t Columns(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

std::string PadLeft(const std::string& text, std::size_t width) {
  const std::size_t used = Columns(text);
  return (used < width ? std::string(width - used, ' ') : std::string()) + text;
}

}  // namespace

std::string MakeDemoSong(double seconds) {
  const auto frames = static_cast<std::size_t>(seconds * kRate);
  const double beat = 60.0 / kBeatsPerMinute;
  std::mt19937 random(7);
  std::uniform_real_distribution<double> noise(-1.0, 1.0);
  // A bar each of A, F, C and G: bass root and a soft triad above it.
  const double roots[] = {55.0, 43.65, 65.41, 49.0};
  const double triads[][3] = {{220.0, 261.63, 329.63},
                              {174.61, 220.0, 261.63},
                              {261.63, 329.63, 392.0},
                              {196.0, 246.94, 293.66}};
  std::vector<std::int16_t> pcm;
  pcm.reserve(frames * 2);
  double lastNoise = 0;
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const auto beatIndex = static_cast<long>(t / beat);
    const double sinceBeat = t - static_cast<double>(beatIndex) * beat;
    const long bar = (beatIndex / 4) % 4;
    const double n = noise(random);
    double v = 0;
    // Kick: a falling sine with a fast decay.
    const double kickFrequency = 50.0 + 90.0 * std::exp(-sinceBeat * 30.0);
    v += 0.8 * std::sin(2 * std::numbers::pi * kickFrequency * sinceBeat) *
         std::exp(-sinceBeat * 9.0);
    // Snare on beats 2 and 4.
    if (beatIndex % 2 == 1) v += 0.35 * n * std::exp(-sinceBeat * 18.0);
    // Hi-hat half a beat later: bright noise, very short.
    const double sinceHalf = sinceBeat - beat / 2;
    if (sinceHalf >= 0) v += 0.18 * (n - lastNoise) * std::exp(-sinceHalf * 60.0);
    lastNoise = n;
    v += 0.22 * std::sin(2 * std::numbers::pi * roots[bar] * t) *
         (0.6 + 0.4 * std::exp(-sinceBeat * 4.0));
    for (double f : triads[bar]) v += 0.05 * std::sin(2 * std::numbers::pi * f * t);
    // Fade in and out so the song starts and ends without a click.
    const double edge = std::min({1.0, t / 0.01, (seconds - t) / 0.05});
    const auto sample = static_cast<std::int16_t>(std::clamp(v * edge, -1.0, 1.0) * 26000);
    pcm.push_back(sample);  // left
    pcm.push_back(sample);  // right
  }
  return binary::PcmWav(kRate, 2, pcm);
}

std::string MakeDemoSequence(const std::string& audioPath, double seconds) {
  const auto beats = static_cast<long>(seconds * kBeatsPerMinute / 60.0);
  const long last = std::max(1L, beats - 1);  // everything goes dark here
  std::map<int, std::map<int, std::vector<Interval>>> plan;
  const auto at = [](long beat, double fraction = 0) {
    return static_cast<std::int64_t>((static_cast<double>(beat) + fraction) * kSamplesPerBeat);
  };
  for (long b = 0; b < last; ++b) {
    // Controller 1: a chase over channels 1-4, one step a beat.
    const int channel = static_cast<int>(b % 4) + 1;
    plan[1][channel].push_back({at(b), kSet, 255, 255});
    if (b > 0) plan[1][(channel + 2) % 4 + 1].push_back({at(b), kSet, 0, 0});
    // Controller 2: all eight channels fade up over two beats, then down.
    if (b % 4 == 0) {
      for (int c = 1; c <= 8; ++c) {
        plan[2][c].push_back({at(b), kFade, 0, 255});
        if (b + 2 < last) plan[2][c].push_back({at(b + 2), kFade, 255, 0});
      }
    }
    // Controller 3, bank 2: 9 and 10 flash on the snare, 11 and 12 fade
    // out on every beat.
    if (b % 2 == 1) {
      for (int c : {9, 10}) {
        plan[3][c].push_back({at(b), kSet, 255, 255});
        plan[3][c].push_back({at(b, 0.5), kSet, 0, 0});
      }
    }
    for (int c : {11, 12}) plan[3][c].push_back({at(b), kFade, 200, 0});
  }
  for (int c = 1; c <= 4; ++c) plan[1][c].push_back({at(last), kSet, 0, 0});
  for (int c = 1; c <= 8; ++c) plan[2][c].push_back({at(last), kSet, 0, 0});
  for (int c = 9; c <= 12; ++c) plan[3][c].push_back({at(last), kSet, 0, 0});

  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Sequence>\n<AudioFile><Title>";
  xml += std::string(kTitle) + "</Title><Artist>" + kArtist + "</Artist><FilePath>" +
         XmlText(audioPath) + "</FilePath></AudioFile>\n<Controllers>\n";
  for (const auto& [device, channels] : plan) {
    xml += "<Controller><ControllerID>" + std::to_string(device) + "</ControllerID><Channels>\n";
    for (const auto& [channel, intervals] : channels) {
      xml += "<Channel><ChannelNumber>" + std::to_string(channel) +
             "</ChannelNumber><TimeIntervals>\n";
      for (const Interval& i : intervals) {
        xml += "<TimeInterval><PositionInSamples>" + std::to_string(i.at) +
               "</PositionInSamples><Effect>" + std::to_string(i.effect) +
               "</Effect><IntensityIn>" + std::to_string(i.in) + "</IntensityIn><IntensityOut>" +
               std::to_string(i.out) + "</IntensityOut></TimeInterval>\n";
      }
      xml += "</TimeIntervals></Channel>\n";
    }
    xml += "</Channels></Controller>\n";
  }
  return xml + "</Controllers>\n</Sequence>\n";
}

std::string MakeStoredRar(const std::string& name, std::string_view data) {
  return rar4::MakeArchive({rar4::Entry{name, std::string(data)}});
}

void ControllerBoard::Expect(int device, int channel) {
  devices_[device][channel];
}

std::vector<std::string> ControllerBoard::Feed(std::string_view bytes) {
  std::vector<std::string> events;
  for (playback::WireFrame& frame : framer_.Feed(bytes)) {
    if (!frame.isMessage) {
      unknownBytes_ += static_cast<long>(frame.bytes.size());
      continue;
    }
    ++messages_;
    if (frame.bytes == playback::kKeepAliveMessage) {
      ++keepAlives_;
    } else if (frame.bytes == playback::kPortOpenBurst) {
      ++portOpens_;
    } else {
      ++events_;
      Apply(frame.bytes);
      events.push_back(std::move(frame.bytes));
    }
  }
  return events;
}

void ControllerBoard::Apply(const std::string& m) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(m[k]); };
  const int device = byte(1);
  const playback::WireCommand* command = playback::FindCommandByByte(byte(2));
  if (command == nullptr) return;
  const int firstChannel = command->Bank() == 1 ? 1 : 9;
  const int mask = byte(m.size() - 2);
  ChannelState state;
  switch (command->Operation()) {
    case 3:
      state = {ChannelState::Kind::Set, byte(3), byte(3), 0};
      break;
    case 4:
      state = {ChannelState::Kind::Fade, byte(3), byte(4), 0};
      break;
    default:
      state = {ChannelState::Kind::Operation, 0, 0, command->Operation()};
  }
  for (int bit = 0; bit < 8; ++bit) {
    if (mask & (1 << bit)) devices_[device][firstChannel + bit] = state;
  }
}

const ChannelState& ControllerBoard::State(int device, int channel) const {
  static const ChannelState kNothing;
  const auto d = devices_.find(device);
  if (d == devices_.end()) return kNothing;
  const auto c = d->second.find(channel);
  return c == d->second.end() ? kNothing : c->second;
}

std::vector<std::string> ControllerBoard::Render() const {
  constexpr std::size_t kCell = 6;
  std::vector<int> channels;
  for (const auto& [device, states] : devices_) {
    for (const auto& [channel, state] : states) channels.push_back(channel);
  }
  std::sort(channels.begin(), channels.end());
  channels.erase(std::unique(channels.begin(), channels.end()), channels.end());

  std::vector<std::string> lines;
  std::string header = "controller";
  for (int c : channels) header += PadLeft("ch" + std::to_string(c), kCell);
  lines.push_back(header);
  for (const auto& [device, states] : devices_) {
    std::string line = PadLeft(std::to_string(device), 10);
    for (int c : channels) {
      const auto found = states.find(c);
      std::string cell = "-";
      if (found != states.end()) {
        const ChannelState& s = found->second;
        switch (s.kind) {
          case ChannelState::Kind::None:
            cell = "·";
            break;
          case ChannelState::Kind::Set:
            cell = std::to_string(s.start);
            break;
          case ChannelState::Kind::Fade:
            cell = (s.end > s.start ? "↑" : s.end < s.start ? "↓" : "→") + std::to_string(s.end);
            break;
          case ChannelState::Kind::Operation:
            cell = "op" + std::to_string(s.operation);
            break;
        }
      }
      line += PadLeft(cell, kCell);
    }
    lines.push_back(line);
  }
  return lines;
}

std::vector<ExpectedMessage> ExpectedMessages(
    const std::vector<sequence_format::EventTable::Record>& rows, std::int64_t audioEnd,
    const sequence_format::FadeTimingTable& fadeTimings) {
  std::vector<ExpectedMessage> expected;
  for (const auto& row : rows) {
    std::string bytes;
    if (playback::EncodeEvent(row, audioEnd, fadeTimings, bytes) !=
        playback::EncodeResult::Appended)
      continue;
    expected.push_back({bytes, row.Get(sequence_format::Column::SampleNumber).value_or(0)});
  }
  return expected;
}

bool LatenessMeter::Arrived(const std::string& message, double arrivedMs) {
  // Messages arrive in order; one that was lost must not make every later
  // one unexpected, so look a little way ahead.
  constexpr std::size_t kLookAhead = 64;
  for (std::size_t k = next_; k < expected_.size() && k < next_ + kLookAhead; ++k) {
    if (expected_[k].bytes != message) continue;
    arrivals_.emplace_back(expected_[k].sample, arrivedMs);
    next_ = k + 1;
    return true;
  }
  return false;
}

std::vector<double> LatenessMeter::Lateness(double audioStartMs, int frameTiming) const {
  std::vector<double> lateness;
  for (const auto& [sample, arrived] : arrivals_) {
    const std::int64_t dueAt =
        std::max<std::int64_t>(0, sample - frameTiming * playback::kFrameTimingStep);
    const double due =
        audioStartMs + 1000.0 * static_cast<double>(dueAt) / playback::kSamplesPerSecond;
    lateness.push_back(arrived - due);
  }
  return lateness;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace glimmer::demo
