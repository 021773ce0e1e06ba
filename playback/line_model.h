#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "playback/dispatcher.h"
#include "playback/wire_protocol.h"

// The serial line to the controllers as the hardware has it: 8N1 framing
// moves B/10 bytes a second, so a burst of messages due together reaches the
// last controller long after the first. A pseudo-terminal moves bytes in
// microseconds and hides this; everything that plans, reports or watches the
// line's own time goes through this one model.
//
// Times are seconds in the player's position: a sample position (audio plus
// the frame timing lead) divided by 88,200. A row is due when that position
// reaches its SampleNumber, so its lateness does not depend on the lead.
namespace playback {

// Lateness at the controller past which a beat visibly slips: 50 ms.
inline constexpr std::int64_t kVisibleSlipPositions = kSamplesPerSecond / 20;
inline constexpr double kVisibleSlipSeconds =
    static_cast<double>(kVisibleSlipPositions) / static_cast<double>(kSamplesPerSecond);

class SerialLineModel {
 public:
  explicit SerialLineModel(int baud);

  // Start bit, eight data bits, stop bit.
  double SecondsPerByte() const { return secondsPerByte_; }
  // `bytes` written at `seconds` start when the line has carried what was
  // written before, one after the other. Returns when the last one has
  // arrived.
  double Write(double seconds, std::size_t bytes);
  // Seconds the line still needs at `seconds` for what was written so far.
  double BacklogSeconds(double seconds) const;
  // The line as it is when the port has just opened: empty.
  void Reset() { busyUntil_ = -std::numeric_limits<double>::infinity(); }

 private:
  double secondsPerByte_;
  double busyUntil_ = -std::numeric_limits<double>::infinity();
};

// One row as the line sees it: when it is due (its SampleNumber) and how many
// bytes its message has (0 for a row without a message).
struct LineMessage {
  std::int32_t due = 0;
  std::int32_t bytes = 0;
};

// The bytes of the message a row with `command` makes.
int MessageBytes(std::int32_t command);

// The smallest E such that a sender that knows every message, keeps their
// order and may send early could have every message arrive within E of its
// moment, before or after, sending nothing before the entry starts (at the
// position `frameTiming` flush steps in) and a keep-alive every 38,000
// positions. Seconds.
double PhysicalFloorSeconds(std::span<const LineMessage> messages, int baud, int frameTiming = 1);

// Where the line cannot carry a burst within the flush step in which it is
// due, the rows to send early so that the burst's arrival straddles its
// moment: as many milliseconds before it as after. Where there is such a
// burst, the rows the line carries in their own flush step are listed only
// when due in its second half, at its middle, so that a burst is encoded
// before its step comes even when the player looks late; they still leave
// on their own step. A table that never asks more of the line than one step
// carries gets no list and plays exactly as if there were no plan.
// Listed positions never decrease and stay in the rows' order. `tick`, when
// given, runs every 65,536 rows of each pass, for a caller that must keep the
// controllers alive meanwhile.
std::vector<EarlyRow> PlanEarlySending(std::span<const LineMessage> messages, int baud,
                                       const std::function<void()>& tick = {});

// What the line does to one entry's messages.
struct LineReport {
  int baud = 0;
  std::size_t messages = 0;  // rows with a message
  // Arrival at the controller minus the row's moment, seconds; negative is early.
  double p50 = 0;
  double p99 = 0;
  double max = 0;
  double maxAt = 0;  // seconds into the song of the row that arrives latest
  // Seconds into the song of the first row more than 50 ms late; negative
  // when none is.
  double firstSlipAt = -1;
  double earliest = 0;
  // The most the line had yet to carry right after a write, and when (seconds
  // into the song).
  double worstBacklogSeconds = 0;
  double worstBacklogBytes = 0;
  double worstBacklogAt = 0;
  // Whole seconds of the song whose rows ask for more bytes than the line
  // carries in a second.
  int secondsOverCapacity = 0;
  double floor = 0;  // PhysicalFloorSeconds
};

// One write of event messages: where the position was, and the messages'
// indices in it.
struct DispatchedWrite {
  std::int64_t position = 0;
  std::vector<std::size_t> messages;
  bool operator==(const DispatchedWrite&) const = default;
};

// Runs the player's dispatcher over `messages` on its virtual clock (see
// Dispatcher): a row is encoded when the position reaches it (or its place
// in `early`), the encoded bytes go out on the flush steps (every 512
// positions), a keep-alive every 38,000; every write goes through the line
// model. `frameTiming` is the lead in flush steps, which decides where the
// position starts. With `writes`, the writes are listed there too.
LineReport SimulatePlayback(std::span<const LineMessage> messages, int baud,
                            std::span<const EarlyRow> early = {}, int frameTiming = 1,
                            std::vector<DispatchedWrite>* writes = nullptr);

// The line as the player's own writes fill it, while an entry plays: how
// late its messages reach the controllers.
class LineWatch {
 public:
  explicit LineWatch(int baud) : line_(baud) { pending_.reserve(256); }

  // A new entry on a line that has long drained; `lead` is the frame timing
  // lead in positions, to tell moments in the song.
  void Start(int baud, std::int64_t lead);
  // A message of `bytes` for a row due at `due` joined the next write.
  void Encoded(std::int64_t due, std::size_t bytes);
  // The pending messages were written at `position`.
  void Written(std::int64_t position);
  void KeepAlive(std::int64_t position);

  // The latest arrival after its moment so far that the line answers for
  // (seconds; 0 when none was late), and that row's moment, seconds into the
  // song.
  double WorstLateness() const { return worst_; }
  double WorstAt() const { return worstAt_; }
  int Baud() const { return baud_; }

 private:
  struct Pending {
    std::int64_t due;
    std::size_t bytes;
  };
  SerialLineModel line_;
  std::vector<Pending> pending_;
  int baud_ = 0;
  std::int64_t lead_ = 0;
  double worst_ = 0;
  double worstAt_ = 0;
};

// "m:ss" of a time into the song.
std::string MinutesSeconds(double seconds);

}  // namespace playback
