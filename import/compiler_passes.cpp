#include "import/compiler_passes.h"

#include <array>
#include <string>

#include "import/merge_identical_commands.h"
#include "import/progress_percent.h"
#include "import/sequence_cache.h"

namespace importer {

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
  events.MoveFirst();

  // The sort keeps each controller's Channel value together, but the rows of
  // its two banks interleave there; each bank therefore remembers its own
  // latest event, so a fade on channel 1 lasts until the next event of
  // channel 1, not of channel 9.
  struct Later {
    bool seen = false;
    Value device, channel, sample;
  };
  std::array<Later, 2> later;
  for (; !events.AtEnd(); events.MoveNext()) {
    const Value device = events.Get(Column::Device);
    const Value channel = events.Get(Column::Channel);
    const Value command = events.Get(Column::Command);
    const Value sample = events.Get(Column::SampleNumber);
    Later& next = later[static_cast<std::size_t>(BankIndex(command))];
    if (next.seen && next.device == device && next.channel == channel) {
      if (IsFade(command) && sample && next.sample) {
        const auto [shortCode, longCode] =
            LookupFadeTiming(fadeTimings, std::int64_t{*next.sample} - *sample);
        events.Set(Column::ShortInterval, shortCode);
        events.Set(Column::LongInterval, longCode);
      }
      next.sample = sample;
    } else {
      next = {true, device, channel, sample};
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
    const Sent row{events.Get(Column::Device), events.Get(Column::Channel),
                   events.Get(Column::Command), events.Get(Column::StartIntensity),
                   events.Get(Column::EndIntensity)};
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
  return SaveSequenceCache(result, cacheFile, files);
}

platform::Status FinishCompile(EventTable& events, const std::string& cacheFile,
                               CompileWindow& window, platform::UserInterface& ui,
                               platform::FileStore& files) {
  return FinishCompile(events, FillFadeTimingTable(), cacheFile, window, ui, files);
}

}  // namespace importer
