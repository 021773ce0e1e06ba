#include "import/compiler_passes.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "import/merge_identical_commands.h"
#include "import/progress_percent.h"
#include "sequence_format/sequence_cache.h"

namespace importer {
using namespace sequence_format;

namespace {

bool IsFade(const Value& command) {
  return command == 34 || command == 24;
}

int BankIndex(const Value& command) {
  return command ? BankOfCommand(*command) - 1 : 0;
}

void ShowPhase(const char* text, CompileWindow& window, platform::UserInterface& ui) {
  window.SetStatus(text);
  ui.DoEvents();
}

}  // namespace

int BankOfCommand(std::int32_t command) {
  switch (command) {
    case 23:
    case 24:
    case 26:
    case 27:
    case -10:
      return 2;
    default:
      return 1;
  }
}

platform::Status GenerateEventDurations(EventTable& events, const FadeTimingTable& fadeTimings,
                                        CompileWindow& window, platform::UserInterface& ui) {
  ShowPhase("Generating event durations", window, ui);
  if (auto sorted = events.Sort(kDurationsSort); !sorted) return sorted;

  // The sort keeps each controller's Channel value together, but the rows of
  // its two banks interleave there; each bank therefore keeps its own state,
  // so a fade on channel 1 lasts until the next event of channel 1, not of
  // channel 9.
  //
  // Rows at the same moment on one channel stay in the order they were added,
  // which is also the order the player sends them in. Of such rows only the
  // last one sent lasts until the channel's next moment; the ones before it
  // are followed at once (a span of 0). Knowing which row is the last of its
  // moment takes a look ahead, hence the snapshot of the walk.
  const std::vector<EventTable::Record> rows = events.Records();
  const auto bankOf = [](const EventTable::Record& row) {
    return static_cast<std::size_t>(BankIndex(row.Get(Column::Command)));
  };
  struct Moment {
    bool seen = false;
    Value device, channel, sample;
    bool operator==(const Moment&) const = default;
  };
  std::vector<std::uint8_t> lastOfMoment(rows.size(), 1);
  std::array<Moment, 2> following;
  for (std::size_t i = rows.size(); i-- > 0;) {
    const Moment moment{true, rows[i].Get(Column::Device), rows[i].Get(Column::Channel),
                        rows[i].Get(Column::SampleNumber)};
    Moment& next = following[bankOf(rows[i])];
    lastOfMoment[i] = next == moment ? 0 : 1;
    next = moment;
  }

  struct ChannelState {
    bool seen = false;
    Value device, channel, moment, laterMoment;
  };
  std::array<ChannelState, 2> state;
  events.MoveFirst();
  for (std::size_t i = 0; i < rows.size() && !events.AtEnd(); ++i, events.MoveNext()) {
    const EventTable::Record& row = rows[i];
    const Value device = row.Get(Column::Device);
    const Value channel = row.Get(Column::Channel);
    const Value sample = row.Get(Column::SampleNumber);
    ChannelState& current = state[bankOf(row)];
    if (!current.seen || current.device != device || current.channel != channel) {
      current = {true, device, channel, sample, std::nullopt};  // the channel's latest moment
    } else if (current.moment != sample) {
      current.laterMoment = current.moment;
      current.moment = sample;
    }
    if (!IsFade(row.Get(Column::Command)) || !sample) continue;

    std::optional<std::int64_t> span;
    if (!lastOfMoment[i]) {
      span = 0;
    } else if (current.laterMoment) {
      span = std::int64_t{*current.laterMoment} - *sample;
    }
    if (span) {
      const auto [shortCode, longCode] = LookupFadeTiming(fadeTimings, *span);
      events.Set(Column::ShortInterval, shortCode);
      events.Set(Column::LongInterval, longCode);
    }
  }
  return platform::Status::Ok();
}

platform::Status RemoveRedundantCommands(EventTable& events, CompileWindow& window,
                                         platform::UserInterface& ui) {
  ShowPhase("Optimization - Removing Redundant Commands", window, ui);
  if (auto sorted = events.Sort(kRedundantSort); !sorted) return sorted;
  events.MoveFirst();
  const std::size_t startCount = events.RowCount();

  // What each bank's channel last received; no Device is -1, so the first row
  // of a channel never matches. As above, the banks keep apart.
  struct Sent {
    Value device = -1, channel = 0, command = -1, startIntensity = -1, endIntensity = -1;
    bool operator==(const Sent&) const = default;
  };
  std::array<Sent, 2> previous;
  for (; !events.AtEnd(); events.MoveNext()) {
    const std::size_t position = events.Position();
    if (position % 100 == 0) {
      const std::size_t count = events.RowCount();
      const int percent =
          ProgressPercent(static_cast<double>(position), static_cast<double>(count));
      const int level =
          ProgressPercent(static_cast<double>(startCount - count), static_cast<double>(startCount));
      window.SetStatus("Optimization - Removing Redundant Commands (" + std::to_string(percent) +
                       "% completed) Optimization Level: " + std::to_string(level) + "%");
      ui.DoEvents();
    }
    const EventTable::Record& current = *events.Current();
    const Sent row{current.Get(Column::Device), current.Get(Column::Channel),
                   current.Get(Column::Command), current.Get(Column::StartIntensity),
                   current.Get(Column::EndIntensity)};
    Sent& last = previous[static_cast<std::size_t>(BankIndex(row.command))];
    if (!IsFade(row.command) && row == last) events.DeleteCurrent();
    last = row;
  }
  return platform::Status::Ok();
}

platform::Status FinishCompile(EventTable& events, const FadeTimingTable& fadeTimings,
                               const std::string& cacheFile, CompileWindow& window,
                               platform::UserInterface& ui, platform::FileStore& files) {
  if (auto done = GenerateEventDurations(events, fadeTimings, window, ui); !done) return done;
  if (auto done = RemoveRedundantCommands(events, window, ui); !done) return done;

  ShowPhase("Optimization - Bitmask Of Identical Commands", window, ui);
  EventTable result =
      window.PerformBitmask() ? MergeIdenticalCommands(events, window, ui).Clone() : events.Clone();

  ShowPhase("Sorting data into playback order", window, ui);
  if (auto sorted = result.Sort(kPlaybackSort); !sorted) return sorted;
  result.MoveFirst();

  // The file store replaces the file atomically, which also covers deleting
  // an older file of that name first: a failed write leaves it whole.
  ShowPhase("Writing File", window, ui);
  const std::function<void()> tellWhenSaved = window.SequenceCompiled(result);
  platform::Status saved = SaveSequenceCache(result, cacheFile, files);
  if (saved && tellWhenSaved) tellWhenSaved();
  return saved;
}

}  // namespace importer
