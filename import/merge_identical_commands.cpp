#include "import/merge_identical_commands.h"

#include <array>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "import/compiler_passes.h"
#include "import/progress_percent.h"

namespace importer {

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
  std::unordered_map<GroupKey, std::size_t, GroupKeyHash> groups;
  groups.reserve(inputCount);
  constexpr auto kChannel = static_cast<std::size_t>(Column::Channel);

  for (; !events.AtEnd(); events.MoveNext()) {
    const std::size_t position = events.Position();
    if (position % 100 == 0) {
      const int percent =
          ProgressPercent(static_cast<double>(position), static_cast<double>(inputCount));
      window.SetStatus("Optimization - Bitmask Of Identical Commands (" + std::to_string(percent) +
                       "% completed) - Optimized Output: " + std::to_string(output.size()));
      ui.DoEvents();
    }

    GroupKey key;
    for (std::size_t i = 0; i < kKeyColumns.size(); ++i) {
      if (const Value v = events.Get(kKeyColumns[i])) {
        key.values[i] = *v;
      } else {
        key.nulls = static_cast<std::uint8_t>(key.nulls | (1u << i));
      }
    }
    // The mask is a 32-bit sum; unsigned arithmetic keeps an absurd input
    // from overflowing into undefined behaviour.
    const auto bits = static_cast<std::uint32_t>(events.Get(Column::Channel).value_or(0));

    const auto [group, isNew] = groups.try_emplace(key, output.size());
    if (isNew) {
      EventTable::Record record;
      for (std::size_t i = 0; i < kKeyColumns.size(); ++i) {
        const auto column = static_cast<std::size_t>(kKeyColumns[i]);
        record.values[column] = key.values[i];
        if (key.nulls & (1u << i)) {
          record.nullMask = static_cast<std::uint8_t>(record.nullMask | (1u << column));
        }
      }
      record.values[kChannel] = static_cast<std::int32_t>(bits);
      output.push_back(record);
    } else {
      std::int32_t& mask = output[group->second].values[kChannel];
      mask = static_cast<std::int32_t>(static_cast<std::uint32_t>(mask) + bits);
    }
  }
  return EventTable::FromRecords(std::move(output));
}

}  // namespace importer
