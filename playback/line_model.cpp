#include "playback/line_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>

#include "playback/wire_protocol.h"

namespace playback {
namespace {

constexpr int kBitsPerByte = 10;  // start, eight data bits, stop
constexpr std::size_t kTickRows = (1U << 16) - 1;

// A multiplication, not a division: the player's watch runs this on every write.
constexpr double kSecondsPerPosition = 1.0 / static_cast<double>(kSamplesPerSecond);
double ToSeconds(std::int64_t position) {
  return static_cast<double>(position) * kSecondsPerPosition;
}

// The flush step at or after `position`: where the player writes what it
// encoded there. The first one is at 512.
std::int64_t FlushAtOrAfter(std::int64_t position) {
  static_assert((kFlushStep & (kFlushStep - 1)) == 0, "the step is a power of two");
  if (position <= kFlushStep) return kFlushStep;
  return ((position - 1) | (kFlushStep - 1)) + 1;
}

// The line's own clock, exact: at B baud one unit is 1 / (88,200 x B) s, so
// a position is B units and a byte 10 x 88,200 units, and every sum and
// comparison the plan and the report make is an integer one. Rounding could
// otherwise tip a burst that just fits its step into the next one. Both
// units are even, so half of any span is whole too.
class LineClock {
 public:
  explicit LineClock(int baud) : perPosition_(baud) {}
  std::int64_t At(std::int64_t position) const { return position * perPosition_; }
  static std::int64_t Bytes(std::int64_t bytes) { return bytes * kPerByte; }
  // Correctly rounded: one division of two exact values.
  double Seconds(std::int64_t units) const {
    return static_cast<double>(units) / (static_cast<double>(kSamplesPerSecond) * perPosition_);
  }
  // The flush step at or before the moment `units`.
  std::int64_t FlushAtOrBefore(std::int64_t units) const {
    const std::int64_t step = kFlushStep * perPosition_;
    const std::int64_t whole = units / step;
    return (whole - (units % step < 0 ? 1 : 0)) * kFlushStep;
  }

  static constexpr std::int64_t kPerByte = kBitsPerByte * kSamplesPerSecond;

 private:
  std::int64_t perPosition_;
};

// Seconds into the song of a position, correctly rounded.
double SongSeconds(std::int64_t position, std::int64_t lead) {
  return static_cast<double>(position - lead) / static_cast<double>(kSamplesPerSecond);
}

}  // namespace

SerialLineModel::SerialLineModel(int baud)
    : secondsPerByte_(static_cast<double>(kBitsPerByte) / static_cast<double>(baud)) {}

double SerialLineModel::Write(double seconds, std::size_t bytes) {
  if (bytes == 0) return std::max(seconds, busyUntil_);
  busyUntil_ = std::max(seconds, busyUntil_) + static_cast<double>(bytes) * secondsPerByte_;
  return busyUntil_;
}

double SerialLineModel::BacklogSeconds(double seconds) const {
  return std::max(0.0, busyUntil_ - seconds);
}

namespace {

// The import asks this of every row, so the codes are looked up once.
constexpr std::size_t kCodes = 64;
constexpr std::array<std::uint8_t, kCodes> MessageBytesByCode() {
  std::array<std::uint8_t, kCodes> bytes{};
  for (const WireCommand& wire : kWireCommands) {
    bytes[static_cast<std::size_t>(wire.code)] = static_cast<std::uint8_t>(wire.Length());
  }
  return bytes;
}
constexpr std::array<std::uint8_t, kCodes> kMessageBytes = MessageBytesByCode();

}  // namespace

int MessageBytes(std::int32_t command) {
  return command >= 0 && static_cast<std::size_t>(command) < kCodes
             ? kMessageBytes[static_cast<std::size_t>(command)]
             : 0;
}

namespace {

// Message i can arrive no sooner after message j than the line takes for the
// bytes between them, so every pair j < i needs
//   2E >= (C_i - m_i) - (C_j - m_j)
// with C the running line time and m the moments; a sender that lands each
// message as late as E allows and no sooner than the line lets it meets
// exactly that bound. Nothing goes out before the entry starts (the position
// of the frame timing lead), so also E >= start + C_i - m_i. One message at a
// time, so that the simulation can walk it alongside its own.
class FloorWalk {
 public:
  FloorWalk(int baud, int frameTiming)
      : clock_(baud),
        start_(clock_.At(static_cast<std::int64_t>(std::max(frameTiming, 0)) * kFrameTimingStep)) {}

  // In playback order, messages only.
  void Add(const LineMessage& message) {
    // The keep-alives the protocol asks for take their share of the line too.
    for (; nextKeepAlive_ <= message.due; nextKeepAlive_ += kKeepAliveStep) {
      carried_ += LineClock::Bytes(static_cast<std::int64_t>(kKeepAliveMessage.size()));
    }
    carried_ += LineClock::Bytes(message.bytes);
    const std::int64_t slack = carried_ - clock_.At(message.due);
    lowest_ = std::min(lowest_, slack);
    widest_ = std::max(widest_, slack - lowest_);
    fromStart_ = std::max(fromStart_, start_ + slack);
  }
  double Floor() const { return clock_.Seconds(std::max(widest_ / 2, fromStart_)); }

 private:
  LineClock clock_;
  std::int64_t start_;
  std::int64_t carried_ = 0;
  std::int64_t lowest_ = std::numeric_limits<std::int64_t>::max();
  std::int64_t widest_ = 0;
  std::int64_t fromStart_ = 0;
  std::int64_t nextKeepAlive_ = kKeepAliveStep;
};

// The values at `ranks` (ascending) of `values` as if sorted, without sorting
// them: a count per slice of the range finds the slice each rank falls in,
// and only the values of those slices are ordered. `low` and `high` bound
// every value. The slice of a value never decreases as the value grows, so
// every value of a slice lies between those of the slices around it.
template <std::size_t N>
std::array<std::int64_t, N> ValuesAtRanks(std::span<const std::int64_t> values, std::int64_t low,
                                          std::int64_t high,
                                          const std::array<std::size_t, N>& ranks) {
  std::array<std::int64_t, N> found{};
  if (!(high > low)) {
    found.fill(low);
    return found;
  }
  constexpr std::size_t kSlices = 4096;
  int shift = 0;
  while (static_cast<std::uint64_t>(high - low) >> shift >= kSlices) ++shift;
  const auto sliceOf = [&](std::int64_t value) {
    return static_cast<std::size_t>(static_cast<std::uint64_t>(value - low) >> shift);
  };
  std::vector<std::uint32_t> counts(kSlices, 0);
  for (const std::int64_t value : values) ++counts[sliceOf(value)];
  std::array<std::size_t, N> slice{};
  std::array<std::size_t, N> before{};
  std::size_t seen = 0;
  std::size_t k = 0;
  for (std::size_t s = 0; s < kSlices && k < N; ++s) {
    while (k < N && ranks[k] < seen + counts[s]) {
      slice[k] = s;
      before[k] = seen;
      ++k;
    }
    seen += counts[s];
  }
  std::array<std::vector<std::int64_t>, N> inSlice;
  for (std::size_t r = 0; r < N; ++r) inSlice[r].reserve(counts[slice[r]]);
  for (const std::int64_t value : values) {
    const std::size_t s = sliceOf(value);
    for (std::size_t r = 0; r < N; ++r) {
      if (s == slice[r]) inSlice[r].push_back(value);
    }
  }
  for (std::size_t r = 0; r < N; ++r) {
    auto& own = inSlice[r];
    const auto at = own.begin() + static_cast<std::ptrdiff_t>(ranks[r] - before[r]);
    std::nth_element(own.begin(), at, own.end());
    found[r] = *at;
  }
  return found;
}

}  // namespace

double PhysicalFloorSeconds(std::span<const LineMessage> messages, int baud, int frameTiming) {
  FloorWalk floor(baud, frameTiming);
  for (const LineMessage& message : messages) {
    if (message.bytes > 0) floor.Add(message);
  }
  return floor.Floor();
}

std::vector<EarlyRow> PlanEarlySending(std::span<const LineMessage> messages, int baud,
                                       const std::function<void()>& tick) {
  const auto ticking = [&tick](std::size_t i) {
    if (tick && (i & kTickRows) == 0) tick();
  };
  const std::size_t n = messages.size();
  const LineClock clock(baud);
  const std::int64_t window = clock.At(kFlushStep);
  const auto lineTime = [&](std::size_t i) { return LineClock::Bytes(messages[i].bytes); };

  // How early each message would have to arrive for every message to be on
  // time: the latest arrivals that keep the line's spacing, walked back from
  // the end. A run of messages that push each other earlier, up to the one
  // that meets its own moment, is one burst.
  // Every row with a message gets its spread before it is read; the rest
  // are never read, so the block is not cleared first.
  const auto spread = std::make_unique_for_overwrite<std::int64_t[]>(n);
  std::int64_t limit = std::numeric_limits<std::int64_t>::max();
  for (std::size_t i = n; i-- > 0;) {
    ticking(i);
    if (messages[i].bytes <= 0) continue;
    const std::int64_t moment = clock.At(messages[i].due);
    const std::int64_t arrival = std::min(moment, limit);
    spread[i] = moment - arrival;
    limit = arrival - lineTime(i);
  }
  // A burst straddles its moment: half of its spread after it. Every message
  // of the burst gets the same half so the burst moves as one. A burst that
  // the line carries within the flush steps it is written on today is left
  // as it is (marked by a negative half).
  std::int64_t busy = std::numeric_limits<std::int64_t>::min() / 2;  // the line today
  std::size_t burstStart = 0;
  std::int64_t widest = 0;
  bool overflows = false;
  bool anyOverflows = false;
  for (std::size_t i = 0; i < n; ++i) {
    ticking(i);
    if (messages[i].bytes <= 0) continue;
    const std::int64_t flush = clock.At(FlushAtOrAfter(messages[i].due));
    busy = std::max(busy, flush) + lineTime(i);
    overflows = overflows || busy > flush + window;
    widest = std::max(widest, spread[i]);
    if (spread[i] > 0) continue;
    const std::int64_t half = overflows ? widest / 2 : -1;
    for (std::size_t j = burstStart; j <= i; ++j) spread[j] = half;
    anyOverflows = anyOverflows || overflows;
    burstStart = i + 1;
    widest = 0;
    overflows = false;
  }

  // The latest arrivals again: a burst that overflows its steps within half
  // its spread of its moment, the rest by the end of the flush step the
  // player writes them in today.
  std::vector<EarlyRow> early;
  // A table the line carries step by step, as most are, is played as it is.
  if (!anyOverflows && !overflows) return early;
  limit = std::numeric_limits<std::int64_t>::max();
  std::int64_t later = std::numeric_limits<std::int64_t>::max();
  for (std::size_t i = n; i-- > 0;) {
    ticking(i);
    const LineMessage& message = messages[i];
    if (message.bytes <= 0) {
      // A row without a message still holds back the rows after it.
      if (message.due > later) early.push_back({i, later});
      continue;
    }
    // Rows come in playback order, so a row is encoded when it is due.
    const std::int64_t flush = clock.At(FlushAtOrAfter(message.due));
    const std::int64_t deadline =
        spread[i] >= 0 ? clock.At(message.due) + spread[i] : flush + window;
    const std::int64_t arrival = std::min(deadline, limit);
    const std::int64_t start = arrival - lineTime(i);
    limit = start;
    if (start >= flush) {
      // The player encodes one row a pass and reads the position between
      // them: a burst due just before its flush step can find the position
      // past the step halfway through, and its rest leaves a step later.
      // Encoded half a step before the step, it leaves on it all the same.
      const std::int64_t settled = std::min(FlushAtOrAfter(message.due) - kFlushStep / 2, later);
      if (message.due > settled) {
        early.push_back({i, settled});
        later = settled;
      } else {
        later = message.due;
      }
      continue;
    }
    // Half a step before the flush, so the rows of the burst are all encoded
    // before it and leave in one write.
    const std::int64_t position = std::min(clock.FlushAtOrBefore(start) - kFlushStep / 2,
                                           std::min<std::int64_t>(later, message.due));
    early.push_back({i, position});
    later = position;
  }
  std::reverse(early.begin(), early.end());
  return early;
}

LineReport SimulatePlayback(std::span<const LineMessage> messages, int baud,
                            std::span<const EarlyRow> early, int frameTiming,
                            std::vector<DispatchedWrite>* writes) {
  LineReport report;
  report.baud = baud;
  const LineClock clock(baud);
  // The floor and the seconds that ask too much are walked alongside: one
  // pass over the rows, which the import makes for every sequence.
  FloorWalk floor(baud, frameTiming);
  const std::int64_t lead = static_cast<std::int64_t>(std::max(frameTiming, 0)) * kFrameTimingStep;
  const std::int64_t visibleSlip = clock.At(kVisibleSlipPositions);
  std::int64_t secondEnd = lead + kSamplesPerSecond;
  std::int64_t asked = 0;

  std::vector<std::int64_t> lateness;
  lateness.reserve(messages.size());
  std::int64_t earliest = std::numeric_limits<std::int64_t>::max();
  std::int64_t latest = std::numeric_limits<std::int64_t>::min();
  std::int64_t latestDue = 0;
  std::int64_t firstSlipDue = -1;
  std::int64_t worstBacklog = 0;
  std::int64_t worstBacklogFlush = 0;
  std::int64_t busy = std::numeric_limits<std::int64_t>::min() / 2;  // the line is empty
  // The messages encoded since the last write.
  std::vector<std::size_t> batch;
  SinkOf sink{[&](std::size_t i) -> std::int64_t { return messages[i].due; },
              [&](std::size_t i) {
                const LineMessage& message = messages[i];
                // Rows come in playback order, so a second ends where a row is past it.
                if (message.due >= secondEnd) {
                  if (asked * kBitsPerByte > baud) ++report.secondsOverCapacity;
                  asked = 0;
                  secondEnd += (message.due - secondEnd) / kSamplesPerSecond * kSamplesPerSecond +
                               kSamplesPerSecond;
                }
                asked += std::max(message.bytes, 0);
                if (message.bytes <= 0) return;
                floor.Add(message);
                batch.push_back(i);
              },
              [&](std::int64_t position, Dispatcher& dispatcher) {
                if (!dispatcher.KeepAliveDue(position)) return;
                busy = std::max(busy, clock.At(position)) +
                       LineClock::Bytes(static_cast<std::int64_t>(kKeepAliveMessage.size()));
                dispatcher.KeepAliveSentByPosition();
              },
              [&](std::int64_t position) {
                if (batch.empty()) return;
                const std::int64_t flush = clock.At(position);
                for (const std::size_t i : batch) {
                  const LineMessage& message = messages[i];
                  busy = std::max(busy, flush) + LineClock::Bytes(message.bytes);
                  const std::int64_t late = busy - clock.At(message.due);
                  lateness.push_back(late);
                  earliest = std::min(earliest, late);
                  if (late > latest) {
                    latest = late;
                    latestDue = message.due;
                  }
                  if (late > visibleSlip && firstSlipDue < 0) firstSlipDue = message.due;
                  if (busy - flush > worstBacklog) {
                    worstBacklog = busy - flush;
                    worstBacklogFlush = position;
                  }
                }
                if (writes != nullptr) writes->push_back({position, batch});
                batch.clear();
              }};
  Dispatcher dispatcher(messages.size(), early);
  DispatchVirtually(dispatcher, lead, sink);
  if (asked * kBitsPerByte > baud) ++report.secondsOverCapacity;
  report.floor = floor.Floor();
  report.messages = lateness.size();
  if (worstBacklog > 0) {
    report.worstBacklogSeconds = clock.Seconds(worstBacklog);
    report.worstBacklogBytes =
        static_cast<double>(worstBacklog) / static_cast<double>(LineClock::kPerByte);
    report.worstBacklogAt = SongSeconds(worstBacklogFlush, lead);
  }
  if (firstSlipDue >= 0) report.firstSlipAt = SongSeconds(firstSlipDue, lead);
  if (lateness.empty()) return report;
  report.max = clock.Seconds(latest);
  report.maxAt = SongSeconds(latestDue, lead);
  report.earliest = clock.Seconds(earliest);
  const auto rankOf = [&](double fraction) {
    const auto rank =
        static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(lateness.size())));
    return rank == 0 ? std::size_t{0} : rank - 1;
  };
  const auto [p50, p99] = ValuesAtRanks<2>(lateness, earliest, latest, {rankOf(0.5), rankOf(0.99)});
  report.p50 = clock.Seconds(p50);
  report.p99 = clock.Seconds(p99);
  return report;
}

void LineWatch::Start(int baud, std::int64_t lead) {
  line_ = SerialLineModel(baud);
  pending_.clear();
  baud_ = baud;
  lead_ = lead;
  worst_ = 0;
  worstAt_ = 0;
}

void LineWatch::Encoded(std::int64_t due, std::size_t bytes) {
  if (bytes > 0) pending_.push_back({due, bytes});
}

void LineWatch::Written(std::int64_t position) {
  // A row written more than a flush step after its moment was held up before
  // the line (the audio jumped ahead, the player was not scheduled): the
  // line answers for what comes after that step only.
  const std::int64_t heldUntil = position - kFlushStep;
  for (const Pending& message : pending_) {
    const double late = line_.Write(ToSeconds(position), message.bytes) -
                        ToSeconds(std::max(message.due, heldUntil));
    if (late > worst_) {
      worst_ = late;
      worstAt_ = ToSeconds(message.due - lead_);
    }
  }
  pending_.clear();
}

void LineWatch::KeepAlive(std::int64_t position) {
  line_.Write(ToSeconds(position), kKeepAliveMessage.size());
}

std::string MinutesSeconds(double seconds) {
  const long whole = seconds > 0 ? static_cast<long>(seconds) : 0;
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

}  // namespace playback
