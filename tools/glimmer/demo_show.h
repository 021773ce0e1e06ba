#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "playback/wire_protocol.h"
#include "sequence_format/event_table.h"
#include "sequence_format/fade_timing.h"

// The pieces of `glimmer demo` that do not touch a device: the generated song,
// its sequence and archive, and the board that shows what the controllers
// were last told.
namespace glimmer::demo {

inline constexpr int kBeatsPerMinute = 120;
inline constexpr const char* kTitle = "Demo Beat";
inline constexpr const char* kArtist = "Glimmerfield";
// The archive's base name, which is also the name of the document inside it.
inline constexpr const char* kBaseName = "glimmerfield-demo";

// A WAV file (44.1 kHz, 16-bit stereo) of `seconds` of music at 120 beats per
// minute: a kick on every beat, a snare on beats 2 and 4, hi-hats between, a
// bass line and a soft chord per bar.
std::string MakeDemoSong(double seconds);

// The sequence document for a song of `seconds` at `audioPath`: controller 1
// chases its channels 1-4 on the beat, controller 2 fades channels 1-8 up and
// down each bar, controller 3 flashes and fades its bank 2 channels 9-12 on
// the snare. Everything goes dark on the last beat.
std::string MakeDemoSequence(const std::string& audioPath, double seconds);

// A RAR 4 archive storing one file, as the sequencing product writes `.msq`
// archives (stored entries need no compressor).
std::string MakeStoredRar(const std::string& name, std::string_view data);

// What one channel was last told.
struct ChannelState {
  enum class Kind { None, Set, Fade, Operation } kind = Kind::None;
  int start = 0;      // intensity set, or where the fade starts
  int end = 0;        // where the fade ends
  int operation = 0;  // 6 or 7
};

// Frames the line's bytes into messages and keeps, per controller and
// channel, the last intensity or fade it was sent.
class ControllerBoard {
 public:
  // The controllers and channels to show from the start (those the sequence
  // uses), so the layout does not move as messages arrive.
  void Expect(int device, int channel);

  // Takes bytes as they arrive; returns the event messages they completed.
  std::vector<std::string> Feed(std::string_view bytes);

  const ChannelState& State(int device, int channel) const;
  // One header line and one line per controller, channels as columns.
  std::vector<std::string> Render() const;

  long messages() const { return messages_; }
  long events() const { return events_; }
  long keepAlives() const { return keepAlives_; }
  long portOpens() const { return portOpens_; }
  long unknownBytes() const { return unknownBytes_; }

 private:
  void Apply(const std::string& message);

  std::map<int, std::map<int, ChannelState>> devices_;
  playback::MessageFramer framer_;
  long messages_ = 0, events_ = 0, keepAlives_ = 0, portOpens_ = 0, unknownBytes_ = 0;
};

// One event message the show will send and the sample position it is due at.
struct ExpectedMessage {
  std::string bytes;
  std::int64_t sample = 0;
};
// The event messages of `rows` in the order the player sends them.
std::vector<ExpectedMessage> ExpectedMessages(
    const std::vector<sequence_format::EventTable::Record>& rows, std::int64_t audioEnd,
    const sequence_format::FadeTimingTable& fadeTimings);

// Matches arrived event messages to the expected ones in order (a message
// that is not the next expected one is looked for a little further on) and
// works out how late each was.
class LatenessMeter {
 public:
  explicit LatenessMeter(std::vector<ExpectedMessage> expected) : expected_(std::move(expected)) {}
  // `arrivedMs` on any steady clock; false for a message nobody expected.
  bool Arrived(const std::string& message, double arrivedMs);
  // Lateness of every matched message, in milliseconds, given when the audio
  // was at position 0 on the same clock. The player sends a row `frameTiming`
  // x 512 positions early by design; that moment is when it is due.
  std::vector<double> Lateness(double audioStartMs, int frameTiming) const;
  std::size_t Matched() const { return arrivals_.size(); }
  std::size_t Expected() const { return expected_.size(); }

 private:
  std::vector<ExpectedMessage> expected_;
  std::size_t next_ = 0;
  std::vector<std::pair<std::int64_t, double>> arrivals_;  // sample, arrival
};

// The middle value (mean of the two middle ones for an even count); 0 for none.
double Median(std::vector<double> values);

}  // namespace glimmer::demo
