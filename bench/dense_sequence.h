#pragma once

// The dense, uneven sequence the playback benchmarks play, the port that
// stamps their writes, and their percentile: one definition, so the figures
// of different benchmarks (and of the Linux and Windows builds) come from the
// same work.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binary/wav_writer.h"
#include "platform/file_store.h"
#include "platform/serial_port.h"
#include "playback/wire_protocol.h"
#include "playlist/playlist.h"
#include "sequence_format/fade_timing.h"
#include "sequence_format/sequence_cache.h"

#include "playback/wire_protocol.h"
#include "sequence_format/event_table.h"

namespace bench {

using Record = sequence_format::EventTable::Record;

inline constexpr int kCommands[] = {33, 23, 34, 24, 36, 26, 37, 27};
inline constexpr int kRowsPerSecond = 200;  // 120,000 rows in ten minutes

// Row i's fields make its message unique, so every arrival names its row.
inline Record MakeRow(int i, std::int64_t sample) {
  using sequence_format::Column;
  const int k = i / 8;
  Record r;
  r.values[static_cast<int>(Column::SampleNumber)] = static_cast<std::int32_t>(sample);
  r.values[static_cast<int>(Column::Command)] = kCommands[i % 8];
  r.values[static_cast<int>(Column::Device)] = 1 + k / 255;
  r.values[static_cast<int>(Column::Channel)] = 1 + k % 255;
  r.values[static_cast<int>(Column::StartIntensity)] = k & 0xFF;
  r.values[static_cast<int>(Column::EndIntensity)] = 255 - (k & 0xFF);
  r.values[static_cast<int>(Column::ShortInterval)] = 1 + k % 200;
  r.values[static_cast<int>(Column::LongInterval)] = 1 + (k / 200) % 250;
  return r;
}

// Dense and uneven: most rows a few ms apart, some in bursts of up to eight
// at the same moment, as a chase over many channels gives.
inline std::vector<Record> MakeSequence(int seconds) {
  const int rows = seconds * kRowsPerSecond;
  const std::int64_t first = playback::kSamplesPerSecond;  // 1 s in
  const std::int64_t last = static_cast<std::int64_t>(seconds - 1) * playback::kSamplesPerSecond;
  std::mt19937 random(42);
  std::vector<std::int64_t> moments;
  std::uniform_int_distribution<std::int64_t> at(first, last);
  std::uniform_int_distribution<int> burst(1, 8);
  while (static_cast<int>(moments.size()) < rows) {
    const std::int64_t t = at(random);
    const int n = random() % 4 == 0 ? burst(random) : 1;
    for (int j = 0; j < n && static_cast<int>(moments.size()) < rows; ++j) moments.push_back(t);
  }
  std::sort(moments.begin(), moments.end());
  std::vector<Record> records;
  for (int i = 0; i < rows; ++i) records.push_back(MakeRow(i, moments[i]));
  return records;
}

// The entry's compiled sequence and a silent song of the same length, as
// files; the error names the file that could not be written.
inline platform::Status WriteEntryFiles(const std::vector<Record>& records, int seconds,
                                        const playlist::PlaylistEntry& entry,
                                        platform::FileStore& files) {
  if (auto s = sequence_format::SaveSequenceCache(sequence_format::EventTable::FromRecords(records),
                                                  entry.CachePath, files);
      !s) {
    return platform::Status::Error("cannot write " + entry.CachePath + ": " + s.message());
  }
  if (auto s = files.ReplaceFile(
          entry.AudioPath, binary::SilentWav(8000, 1, static_cast<std::uint32_t>(seconds) * 8000));
      !s) {
    return platform::Status::Error("cannot write " + entry.AudioPath + ": " + s.message());
  }
  return platform::Status::Ok();
}

// Each row's message on the line, naming the row it came from.
inline std::unordered_map<std::string, std::size_t> RowOfMessage(const std::vector<Record>& records,
                                                                 int seconds) {
  const std::int64_t audioEnd = static_cast<std::int64_t>(seconds) * playback::kSamplesPerSecond;
  std::unordered_map<std::string, std::size_t> rows;
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::string m;
    playback::EncodeEvent(records[i], audioEnd, sequence_format::kFadeTimingTable, m);
    rows.emplace(m, i);
  }
  return rows;
}

inline double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// The port as the player sees it, noting when each write returned: lateness
// at the write is the player's own; what a reader of the line sees later
// adds the line's (or a pseudo-terminal's) delivery.
class TimedPort final : public platform::SerialPort {
 public:
  using Clock = std::chrono::steady_clock;
  explicit TimedPort(platform::SerialPort& inner) : inner_(inner) {}
  void SetPortNumber(int number) override { inner_.SetPortNumber(number); }
  void SetSettings(const std::string& settings) override { inner_.SetSettings(settings); }
  platform::Status Open() override { return inner_.Open(); }
  bool IsOpen() const override { return inner_.IsOpen(); }
  void Close() override { inner_.Close(); }
  platform::Status Write(std::string_view bytes) override {
    const Clock::time_point called = Clock::now();
    platform::Status s = inner_.Write(bytes);
    writes.push_back({Clock::now(), std::string(bytes)});
    callTimes.push_back(writes.back().first - called);
    return s;
  }
  std::vector<std::pair<Clock::time_point, std::string>> writes;
  // How long each write call took: the part of the lateness the port adds.
  std::vector<Clock::duration> callTimes;

 private:
  platform::SerialPort& inner_;
};

inline double Max(const std::vector<double>& v) {
  return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
}

}  // namespace bench
