#pragma once

// The import's line report as it was computed before it was made cheap, kept
// here only so that the benchmark can time both in one run and check that the
// figures did not change.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <vector>

#include "playback/line_model.h"
#include "playback/line_report.h"
#include "playback/wire_protocol.h"
#include "sequence_format/event_table.h"

namespace former {

using playback::EarlyRow;
using playback::kKeepAliveMessage;
using playback::kSamplesPerSecond;
using playback::LineMessage;
using playback::LineReport;
using playback::SerialLineModel;

constexpr std::int64_t kFlushStep = 512;
constexpr std::int64_t kKeepAliveStep = 38000;
constexpr int kBitsPerByte = 10;
constexpr std::size_t kTickRows = (1U << 16) - 1;
constexpr double kVisibleSlip = 0.050;
constexpr double kSecondsPerPosition = 1.0 / static_cast<double>(kSamplesPerSecond);

inline double ToSeconds(std::int64_t position) {
  return static_cast<double>(position) * kSecondsPerPosition;
}

inline std::int64_t FlushAtOrAfter(std::int64_t position) {
  if (position <= kFlushStep) return kFlushStep;
  return (position + kFlushStep - 1) / kFlushStep * kFlushStep;
}

inline std::int64_t FlushAtOrBefore(double seconds) {
  return static_cast<std::int64_t>(
             std::floor(seconds * static_cast<double>(kSamplesPerSecond) / kFlushStep)) *
         kFlushStep;
}

inline double PhysicalFloorSeconds(std::span<const LineMessage> messages, int baud,
                                   int frameTiming) {
  // Message i can arrive no sooner after message j than the line takes for
  // the bytes between them, so every pair j < i needs
  //   2E >= (C_i - m_i) - (C_j - m_j)
  // with C the running line time and m the moments; a sender that lands each
  // message as late as E allows and no sooner than the line lets it meets
  // exactly that bound. Nothing goes out before the entry starts (the
  // position of the frame timing lead), so also E >= start + C_i - m_i.
  const double start = ToSeconds(static_cast<std::int64_t>(std::max(frameTiming, 0)) * kFlushStep);
  const double perByte = static_cast<double>(kBitsPerByte) / static_cast<double>(baud);
  double carried = 0;
  double lowest = std::numeric_limits<double>::infinity();
  double widest = 0;
  double fromStart = 0;
  // The keep-alives the protocol asks for take their share of the line too.
  std::int64_t nextKeepAlive = kKeepAliveStep;
  for (const LineMessage& message : messages) {
    if (message.bytes <= 0) continue;
    for (; nextKeepAlive <= message.due; nextKeepAlive += kKeepAliveStep) {
      carried += static_cast<double>(kKeepAliveMessage.size()) * perByte;
    }
    carried += message.bytes * perByte;
    const double slack = carried - ToSeconds(message.due);
    lowest = std::min(lowest, slack);
    widest = std::max(widest, slack - lowest);
    fromStart = std::max(fromStart, start + slack);
  }
  return std::max(widest / 2, fromStart);
}

inline std::vector<EarlyRow> PlanEarlySending(std::span<const LineMessage> messages, int baud,
                                              const std::function<void()>& tick = {}) {
  const auto ticking = [&tick](std::size_t i) {
    if (tick && (i & kTickRows) == 0) tick();
  };
  const std::size_t n = messages.size();
  const double perByte = static_cast<double>(kBitsPerByte) / static_cast<double>(baud);
  const double window = ToSeconds(kFlushStep);
  const auto lineTime = [&](std::size_t i) { return messages[i].bytes * perByte; };

  // How early each message would have to arrive for every message to be on
  // time: the latest arrivals that keep the line's spacing, walked back from
  // the end. A run of messages that push each other earlier, up to the one
  // that meets its own moment, is one burst.
  std::vector<float> spread(n, 0.0F);
  double limit = std::numeric_limits<double>::infinity();
  for (std::size_t i = n; i-- > 0;) {
    ticking(i);
    if (messages[i].bytes <= 0) continue;
    const double moment = ToSeconds(messages[i].due);
    const double arrival = std::min(moment, limit);
    spread[i] = static_cast<float>(moment - arrival);
    limit = arrival - lineTime(i);
  }
  // A burst straddles its moment: half of its spread after it. Every message
  // of the burst gets the same half so the burst moves as one. A burst that
  // the line carries within the flush steps it is written on today is left
  // as it is (marked by a negative half).
  SerialLineModel today(baud);
  std::size_t burstStart = 0;
  float widest = 0;
  bool overflows = false;
  bool anyOverflows = false;
  for (std::size_t i = 0; i < n; ++i) {
    ticking(i);
    if (messages[i].bytes <= 0) continue;
    const std::int64_t flush = FlushAtOrAfter(messages[i].due);
    const double arrival =
        today.Write(ToSeconds(flush), static_cast<std::size_t>(messages[i].bytes));
    overflows = overflows || arrival > ToSeconds(flush) + window;
    widest = std::max(widest, spread[i]);
    if (spread[i] > 0) continue;
    for (std::size_t j = burstStart; j <= i; ++j) spread[j] = overflows ? widest / 2 : -1.0F;
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
  limit = std::numeric_limits<double>::infinity();
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
    const std::int64_t flush = FlushAtOrAfter(message.due);
    const double moment = ToSeconds(message.due);
    const double deadline = spread[i] >= 0 ? moment + spread[i] : ToSeconds(flush) + window;
    const double arrival = std::min(deadline, limit);
    const double start = arrival - lineTime(i);
    limit = start;
    if (start >= ToSeconds(flush)) {
      later = message.due;
      continue;
    }
    // Half a step before the flush, so the rows of the burst are all encoded
    // before it and leave in one write.
    const std::int64_t position = std::min(FlushAtOrBefore(start) - kFlushStep / 2,
                                           std::min<std::int64_t>(later, message.due));
    early.push_back({i, position});
    later = position;
  }
  std::reverse(early.begin(), early.end());
  return early;
}

inline LineReport SimulatePlayback(std::span<const LineMessage> messages, int baud,
                                   std::span<const EarlyRow> early, int frameTiming = 1) {
  LineReport report;
  report.baud = baud;
  report.floor = former::PhysicalFloorSeconds(messages, baud, frameTiming);
  SerialLineModel line(baud);
  const std::int64_t lead = static_cast<std::int64_t>(std::max(frameTiming, 0)) * kFlushStep;
  const double leadSeconds = ToSeconds(lead);

  std::vector<float> lateness;
  lateness.reserve(messages.size());
  report.max = -std::numeric_limits<double>::infinity();
  std::int64_t encodedAt = lead;
  std::int64_t nextKeepAlive = kKeepAliveStep;
  std::size_t nextEarly = 0;
  const auto noteBacklog = [&](double at) {
    const double backlog = line.BacklogSeconds(at);
    if (backlog <= report.worstBacklogSeconds) return;
    report.worstBacklogSeconds = backlog;
    report.worstBacklogBytes = backlog / line.SecondsPerByte();
    report.worstBacklogAt = at - leadSeconds;
  };
  for (std::size_t i = 0; i < messages.size(); ++i) {
    std::int64_t position = messages[i].due;
    if (nextEarly < early.size() && early[nextEarly].index == i) {
      position = early[nextEarly++].position;
    }
    encodedAt = std::max(encodedAt, position);
    if (messages[i].bytes <= 0) continue;
    const std::int64_t flush = FlushAtOrAfter(encodedAt);
    // Keep-alives due by this flush go out first, as the player's pass does.
    for (; nextKeepAlive <= flush; nextKeepAlive += kKeepAliveStep) {
      line.Write(ToSeconds(nextKeepAlive), 4);
    }
    const double arrival =
        line.Write(ToSeconds(flush), static_cast<std::size_t>(messages[i].bytes));
    const double late = arrival - ToSeconds(messages[i].due);
    lateness.push_back(static_cast<float>(late));
    if (late > kVisibleSlip && report.firstSlipAt < 0) {
      report.firstSlipAt = ToSeconds(messages[i].due) - leadSeconds;
    }
    if (late > report.max) {
      report.max = late;
      report.maxAt = ToSeconds(messages[i].due) - leadSeconds;
    }
    noteBacklog(ToSeconds(flush));
  }
  report.messages = lateness.size();

  // Seconds of the song that ask more of the line than it carries. Rows
  // come in playback order, so a second ends where a row is past it.
  const double perSecond = static_cast<double>(baud) / kBitsPerByte;
  std::int64_t secondEnd = lead + kSamplesPerSecond;
  double asked = 0;
  for (const LineMessage& message : messages) {
    if (message.due >= secondEnd) {
      if (asked > perSecond) ++report.secondsOverCapacity;
      asked = 0;
      secondEnd +=
          (message.due - secondEnd) / kSamplesPerSecond * kSamplesPerSecond + kSamplesPerSecond;
    }
    asked += std::max(message.bytes, 0);
  }
  if (asked > perSecond) ++report.secondsOverCapacity;

  if (lateness.empty()) {
    report.max = 0;
    return report;
  }
  const auto indexOf = [&](double fraction) {
    const auto rank =
        static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(lateness.size())));
    return static_cast<std::ptrdiff_t>(rank == 0 ? 0 : rank - 1);
  };
  // The 99th first: the median and the earliest then lie in the part below it.
  const auto p99 = lateness.begin() + indexOf(0.99);
  std::nth_element(lateness.begin(), p99, lateness.end());
  report.p99 = *p99;
  const auto p50 = lateness.begin() + indexOf(0.5);
  std::nth_element(lateness.begin(), p50, p99);
  report.p50 = *p50;
  report.earliest = *std::min_element(lateness.begin(), p50 + 1);
  return report;
}

inline std::vector<LineMessage> LineMessagesOf(const sequence_format::EventTable& table) {
  using sequence_format::Column;
  std::vector<LineMessage> messages;
  messages.reserve(table.RowCount());
  sequence_format::EventTable walk = table.Clone();
  for (walk.MoveFirst(); const sequence_format::EventTable::Record* row = walk.Current();
       walk.MoveNext()) {
    messages.push_back({row->Get(Column::SampleNumber).value_or(0),
                        playback::MessageBytes(row->Get(Column::Command).value_or(0))});
  }
  return messages;
}

inline playback::ImportLineReport PlanLine(const sequence_format::EventTable& table) {
  const std::vector<LineMessage> messages = LineMessagesOf(table);
  playback::ImportLineReport report;
  report.at56000 =
      former::SimulatePlayback(messages, 56000, former::PlanEarlySending(messages, 56000));
  report.at115200 =
      former::SimulatePlayback(messages, 115200, former::PlanEarlySending(messages, 115200));
  return report;
}

}  // namespace former
