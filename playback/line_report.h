#pragma once

#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "playback/line_model.h"
#include "sequence_format/event_table.h"
#include "sequence_format/sequence_cache.h"

// What the serial line will make of a compiled sequence, told when it is
// compiled (the window's Add, `glimmer compile`) and on request
// (`glimmer check`), so that an operator hears of a beat that will slip
// before the audience sees it.
namespace playback {

// The rows of a table or a cache file as the line sees them, in their order.
std::vector<LineMessage> LineMessagesOf(const sequence_format::EventTable& table);
// `tick` as for PlanEarlySending.
std::vector<LineMessage> LineMessagesOf(const sequence_format::CacheRows& rows,
                                        const std::function<void()>& tick = {});

// The player's batching rule, early sending included, run through the line
// model at both rates the window offers.
struct ImportLineReport {
  LineReport at56000;
  LineReport at115200;
  const LineReport& At(int baud) const { return baud == 115200 ? at115200 : at56000; }
};
ImportLineReport PlanLine(const std::vector<LineMessage>& messages);
ImportLineReport PlanLine(const sequence_format::EventTable& table);
// The same, worked out on threads of their own so that the import can write
// its file meanwhile. The rows are shared, not copied: the table must stay as
// it is until the report is ready (reading it meanwhile is fine). Whatever
// goes wrong is thrown where the report is asked for.
std::shared_future<ImportLineReport> PlanLineAside(const sequence_format::EventTable& table);

// One line of figures for one rate.
std::string LineFigures(const LineReport& report);
// In an operator's words, when the lights will slip visibly at `chosenBaud`:
// how far, where in the song and what would help. Nothing otherwise.
std::optional<std::string> LineWarning(const ImportLineReport& report, int chosenBaud, bool merged);
// The short line for a show the line carries in time.
std::string LineOnTime(const ImportLineReport& report, int chosenBaud);
// Both rates' figures, one a line, then the warning or the short line.
std::string FormatLineReport(const ImportLineReport& report, int chosenBaud, bool merged);

}  // namespace playback
