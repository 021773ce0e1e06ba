#include "playback/line_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>

namespace playback {
namespace {

LineMessage MessageOf(const sequence_format::EventTable::Record& row) {
  using sequence_format::Column;
  // A row before the song (a cache compiled before such rows were refused)
  // is sent as the song starts: due then, not late by the time before it.
  return {std::max(row.Get(Column::SampleNumber).value_or(0), std::int32_t{0}),
          MessageBytes(row.Get(Column::Command).value_or(0))};
}

long WholeMs(double seconds) {
  return std::lround(seconds * 1000);
}

// Walks `walk` from its first row; its own cursor moves, nobody else's.
std::vector<LineMessage> MessagesAlong(sequence_format::EventTable& walk) {
  std::vector<LineMessage> messages;
  messages.reserve(walk.RowCount());
  for (walk.MoveFirst(); const sequence_format::EventTable::Record* row = walk.Current();
       walk.MoveNext()) {
    messages.push_back(MessageOf(*row));
  }
  return messages;
}

LineReport PlanLineAt(const std::vector<LineMessage>& messages, int baud) {
  return SimulatePlayback(messages, baud, PlanEarlySending(messages, baud));
}

}  // namespace

std::vector<LineMessage> LineMessagesOf(const sequence_format::EventTable& table) {
  // A clone walks the same rows in the same order without moving the
  // caller's cursor.
  sequence_format::EventTable walk = table.Clone();
  return MessagesAlong(walk);
}

std::vector<LineMessage> LineMessagesOf(const sequence_format::CacheRows& rows,
                                        const std::function<void()>& tick) {
  std::vector<LineMessage> messages;
  messages.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (tick && (i & 0xFFFF) == 0) tick();
    messages.push_back(MessageOf(rows[i]));
  }
  return messages;
}

ImportLineReport PlanLine(const std::vector<LineMessage>& messages) {
  return {PlanLineAt(messages, 56000), PlanLineAt(messages, 115200)};
}

ImportLineReport PlanLine(const sequence_format::EventTable& table) {
  return PlanLine(LineMessagesOf(table));
}

std::shared_future<ImportLineReport> PlanLineAside(const sequence_format::EventTable& table) {
  try {
    // The clone shares the rows (they stay alive as long as it does) and
    // only reads them, as the writing of the file does meanwhile: even the
    // walk over them is off the import's own thread.
    return std::async(std::launch::async, [walk = table.Clone()]() mutable {
      const std::vector<LineMessage> messages = MessagesAlong(walk);
      // With cores to spare, the faster rate on a thread of its own too; on
      // two the import's own writing of the file has the other one.
      if (std::thread::hardware_concurrency() <= 2) return PlanLine(messages);
      auto fast =
          std::async(std::launch::async, [&messages] { return PlanLineAt(messages, 115200); });
      const LineReport slow = PlanLineAt(messages, 56000);
      return ImportLineReport{slow, fast.get()};
    });
  } catch (...) {
    // No thread or no memory for the clone: told where the report is.
    std::promise<ImportLineReport> failed;
    failed.set_exception(std::current_exception());
    return failed.get_future().share();
  }
}

std::string LineFigures(const LineReport& r) {
  char text[320];
  std::snprintf(text, sizeof text,
                "Serial line at %d baud: p99 %ld ms, max %ld ms late at the controllers (at %s); "
                "worst backlog %ld ms (%ld bytes) at %s; %d second(s) ask more than %d bytes",
                r.baud, WholeMs(r.p99), WholeMs(r.max), MinutesSeconds(r.maxAt).c_str(),
                WholeMs(r.worstBacklogSeconds), std::lround(r.worstBacklogBytes),
                MinutesSeconds(r.worstBacklogAt).c_str(), r.secondsOverCapacity, r.baud / 10);
  return text;
}

std::optional<std::string> LineWarning(const ImportLineReport& report, int chosenBaud,
                                       bool merged) {
  const LineReport& chosen = report.At(chosenBaud);
  if (chosen.max <= kVisibleSlipSeconds) return std::nullopt;
  std::string text = "The lights will fall up to " + std::to_string(WholeMs(chosen.max)) +
                     " ms behind the music at " + std::to_string(chosenBaud) + " baud";
  // A show that keeps asking too much slips from some moment on and is worst
  // at its end: both moments tell the operator where to look.
  if (chosen.firstSlipAt >= 0 &&
      MinutesSeconds(chosen.firstSlipAt) != MinutesSeconds(chosen.maxAt)) {
    text += ", from " + MinutesSeconds(chosen.firstSlipAt) + " on";
  }
  text += ", worst at " + MinutesSeconds(chosen.maxAt) +
          ": there the show asks more of the serial line than it can carry in time.";
  if (chosenBaud != 115200) {
    text += " At 115200 baud (if the controllers take it) it would be " +
            std::to_string(WholeMs(report.at115200.max)) + " ms.";
  }
  if (!merged) {
    text += " Importing again with \"Perform bitmask\" ticked sends fewer messages.";
  }
  text += " The sequence is imported all the same.";
  return text;
}

std::string LineOnTime(const ImportLineReport& report, int chosenBaud) {
  return "Serial line at " + std::to_string(chosenBaud) + " baud: on time (at most " +
         std::to_string(WholeMs(report.At(chosenBaud).max)) + " ms late)";
}

std::string FormatLineReport(const ImportLineReport& report, int chosenBaud, bool merged) {
  std::string text = LineFigures(report.at56000) + "\n" + LineFigures(report.at115200) + "\n";
  if (auto warning = LineWarning(report, chosenBaud, merged)) {
    text += "Warning: " + *warning + "\n";
  } else {
    text += LineOnTime(report, chosenBaud) + "\n";
  }
  return text;
}

}  // namespace playback
