#include "import/merge_identical_commands.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "import/compiler_passes.h"
#include "import/progress_percent.h"

namespace importer {
using namespace sequence_format;

namespace {

// The seven columns other than Channel; a null column holds 0 and its bit in
// `nulls`, so null equals only null.
struct GroupKey {
  std::array<std::int32_t, kColumnCount - 1> values{};
  std::uint8_t nulls = 0;
  bool operator==(const GroupKey&) const = default;
};

struct GroupKeyHash {
  std::size_t operator()(const GroupKey& key) const {
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ key.nulls;
    for (const std::int32_t v : key.values) {
      h ^= static_cast<std::uint32_t>(v);
      h *= 0xFF51AFD7ED558CCDull;
      h ^= h >> 32;
    }
    return static_cast<std::size_t>(h);
  }
};

constexpr std::array<Column, kColumnCount - 1> kKeyColumns = {
    Column::SampleNumber, Column::Device,        Column::Command,     Column::StartIntensity,
    Column::EndIntensity, Column::ShortInterval, Column::LongInterval};

}  // namespace

EventTable MergeIdenticalCommands(EventTable& events, CompileWindow& window,
                                  platform::UserInterface& ui) {
  // Walking in playback order makes each group's first row the one that
  // creates its output row, so the output keeps that order.
  (void)events.Sort(kPlaybackSort);  // a fixed, valid sort text
  events.MoveFirst();
  const std::size_t inputCount = events.RowCount();

  std::vector<EventTable::Record> output;
  constexpr auto kChannel = static_cast<std::size_t>(Column::Channel);

  // The walk is in playback order, so every row of a group lies in one run
  // of rows with the same SampleNumber and Device: a group is looked for
  // among the groups of the current run only. A run holds a handful of
  // groups (one per command of a controller at one moment), searched in
  // place; a run of very many goes through a hash map instead, so no input
  // can make the search quadratic.
  constexpr std::size_t kLinearGroups = 32;
  std::vector<std::pair<GroupKey, std::size_t>> run;
  std::unordered_map<GroupKey, std::size_t, GroupKeyHash> largeRun;
  const auto sameRun = [](const GroupKey& a, const GroupKey& b) {
    return a.values[0] == b.values[0] && a.values[1] == b.values[1] &&
           (a.nulls & 3u) == (b.nulls & 3u);
  };

  for (; !events.AtEnd(); events.MoveNext()) {
    const std::size_t position = events.Position();
    if (position % 100 == 0) {
      const int percent =
          ProgressPercent(static_cast<double>(position), static_cast<double>(inputCount));
      window.SetStatus("Optimization - Bitmask Of Identical Commands (" + std::to_string(percent) +
                       "% completed) - Optimized Output: " + std::to_string(output.size()));
      ui.DoEvents();
    }

    const EventTable::Record& current = *events.Current();
    GroupKey key;
    for (std::size_t i = 0; i < kKeyColumns.size(); ++i) {
      if (const Value v = current.Get(kKeyColumns[i])) {
        key.values[i] = *v;
      } else {
        key.nulls = static_cast<std::uint8_t>(key.nulls | (1u << i));
      }
    }
    // The mask is a 32-bit sum; unsigned arithmetic keeps an absurd input
    // from overflowing into undefined behaviour.
    const auto bits = static_cast<std::uint32_t>(current.Get(Column::Channel).value_or(0));

    if (!run.empty() && !sameRun(run.front().first, key)) {
      run.clear();
      largeRun.clear();
    }
    std::optional<std::size_t> group;
    if (!largeRun.empty()) {
      if (const auto found = largeRun.find(key); found != largeRun.end()) group = found->second;
    } else {
      for (const auto& [k, index] : run) {
        if (k == key) {
          group = index;
          break;
        }
      }
    }
    if (!group) {
      EventTable::Record record;
      for (std::size_t i = 0; i < kKeyColumns.size(); ++i) {
        const auto column = static_cast<std::size_t>(kKeyColumns[i]);
        record.values[column] = key.values[i];
        if (key.nulls & (1u << i)) {
          record.nullMask = static_cast<std::uint8_t>(record.nullMask | (1u << column));
        }
      }
      record.values[kChannel] = static_cast<std::int32_t>(bits);
      if (run.size() < kLinearGroups) {
        run.emplace_back(key, output.size());
      } else {
        if (largeRun.empty()) largeRun.insert(run.begin(), run.end());
        largeRun.emplace(key, output.size());
      }
      output.push_back(record);
    } else {
      std::int32_t& mask = output[*group].values[kChannel];
      mask = static_cast<std::int32_t>(static_cast<std::uint32_t>(mask) + bits);
    }
  }
  return EventTable::FromRecords(std::move(output));
}

}  // namespace importer
