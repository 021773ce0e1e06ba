#pragma once

#include <array>
#include <numeric>
#include <ostream>
#include <string>
#include <vector>

#include "import/compile_window.h"
#include "import/sequence_reader.h"
#include "sequence_format/event_table.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/sequence_document.h"

// Shared by the import tests: event tables written as rows of values, and a
// compiler window that records what it is shown.
namespace import_test {

using sequence_format::Column;
using sequence_format::EventTable;
using sequence_format::Value;

// SampleNumber, Device, Channel, Command, StartIntensity, EndIntensity,
// ShortInterval, LongInterval; columns left out are null.
using Values = std::array<Value, sequence_format::kColumnCount>;
constexpr std::nullopt_t null = std::nullopt;

inline EventTable MakeTable(const std::vector<Values>& rows) {
  EventTable table;
  for (const Values& row : rows) {
    table.AddRow();
    for (int c = 0; c < sequence_format::kColumnCount; ++c) {
      table.Set(static_cast<Column>(c), row[static_cast<std::size_t>(c)]);
    }
  }
  return table;
}

// The rows from the first, in the table's current order.
inline std::vector<Values> ReadAll(EventTable& table) {
  std::vector<Values> rows;
  for (table.MoveFirst(); !table.AtEnd(); table.MoveNext()) {
    Values& row = rows.emplace_back();
    for (int c = 0; c < sequence_format::kColumnCount; ++c) {
      row[static_cast<std::size_t>(c)] = table.Get(static_cast<Column>(c));
    }
  }
  return rows;
}

// Records every status text; the bitmask box answers as set. Hooked to the
// fake user interface, it notes how many texts had been shown at each yield.
class RecordingWindow : public importer::CompileWindow {
 public:
  explicit RecordingWindow(fakes::FakeUserInterface& ui, bool performBitmask = false)
      : bitmask(performBitmask) {
    ui.onDoEvents = [this](int) { textsAtYield.push_back(static_cast<int>(statuses.size())); };
  }
  void SetStatus(const std::string& text) override { statuses.push_back(text); }
  bool PerformBitmask() const override {
    ++bitmaskReads;
    return bitmask;
  }

  // True when one yield followed every text, before the next one.
  bool YieldedAfterEveryText() const {
    std::vector<int> afterEach(statuses.size());
    std::iota(afterEach.begin(), afterEach.end(), 1);
    return textsAtYield == afterEach;
  }

  bool bitmask;
  std::vector<std::string> statuses;
  std::vector<int> textsAtYield;
  mutable int bitmaskReads = 0;
};

}  // namespace import_test

namespace importer {
inline void PrintTo(const SequenceRow& r, std::ostream* os) {
  *os << "{" << r.sampleNumber << ", " << r.device << ", " << r.channel << ", " << r.command << ", "
      << r.startIntensity << ", " << r.endIntensity << "}";
}
}  // namespace importer
