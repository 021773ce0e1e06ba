#pragma once

#include <climits>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "playback/show_session.h"
#include "playback/wire_protocol.h"
#include "playlist/playlist_entry.h"
#include "sequence_format/event_table.h"
#include "sequence_format/sequence_cache.h"
#include "tests/fakes/fake_audio_player.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_serial_port.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/temp_dir.h"

namespace playback_test {

using Record = sequence_format::EventTable::Record;

// "00 FF 41" -> bytes, and back.
inline std::string Hex(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 3) {
    bytes += static_cast<char>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16));
  }
  return bytes;
}
inline std::string ToHex(std::string_view bytes) {
  std::string text;
  char digits[4];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof digits, text.empty() ? "%02X" : " %02X", c);
    text += digits;
  }
  return text;
}

// Seconds that the player turns back into exactly `samples` positions.
inline double Seconds(std::int64_t samples) {
  return (static_cast<double>(samples) + 0.5) / static_cast<double>(playback::kSamplesPerSecond);
}

// Whether `text` holds `part`; a failure shows the whole text.
inline testing::AssertionResult Contains(const std::string& text, std::string_view part) {
  if (text.find(part) != std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "\"" << part << "\" is not in: " << text;
}

// A row; nulls where std::nullopt is given.
inline Record Row(sequence_format::Value sample, sequence_format::Value device,
                  sequence_format::Value channel, sequence_format::Value command,
                  sequence_format::Value start = 0, sequence_format::Value end = 0,
                  sequence_format::Value shortCode = std::nullopt,
                  sequence_format::Value longCode = std::nullopt) {
  const sequence_format::Value values[] = {sample, device, channel,   command,
                                           start,  end,    shortCode, longCode};
  Record record;
  for (int i = 0; i < sequence_format::kColumnCount; ++i) {
    record.values[static_cast<std::size_t>(i)] = values[i].value_or(0);
    if (!values[i]) record.nullMask = static_cast<std::uint8_t>(record.nullMask | (1u << i));
  }
  return record;
}

// One-intensity row for device 1 whose intensity byte tells rows apart.
inline Record Level(std::int32_t sample, std::int32_t intensity) {
  return Row(sample, 1, 1, 33, intensity);
}

// What happened, in order, across the fakes.
struct Trace {
  enum class Kind { Poll, Write, Yield, Status };
  struct Event {
    Kind kind;
    std::string text;
  };
  std::vector<Event> events;

  void Add(Kind kind, std::string text = {}) { events.push_back({kind, std::move(text)}); }

  // The batches of Level rows written, as the digits of their intensities:
  // "12 3" is a write of the rows of intensity 1 and 2, then one of 3. With
  // `byPass`, every poll adds a "|": "||1" is a write after the second poll.
  std::string Levels(bool byPass = false) const {
    std::string text;
    for (const auto& e : events) {
      if (e.kind == Kind::Poll && byPass) text += '|';
      if (e.kind != Kind::Write || e.text.size() == 4) continue;
      if (!text.empty() && text.back() != '|') text += ' ';
      for (std::size_t i = 3; i < e.text.size(); i += 6) text += static_cast<char>('0' + e.text[i]);
    }
    return text;
  }
  // For every event of `kind` (and `text`, if given), the number of polls
  // before it: the pass it belongs to.
  std::vector<int> PassesOf(Kind kind, std::string_view text = {}) const {
    std::vector<int> passes;
    int polls = 0;
    for (const auto& e : events) {
      polls += e.kind == Kind::Poll;
      if (e.kind == kind && kind != Kind::Poll && (text.empty() || e.text == text)) {
        passes.push_back(polls);
      }
    }
    return passes;
  }
  // Events of `kind` (and `text`, if given) in passes `first` to `last`.
  int Count(Kind kind, std::string_view text = {}, int first = 0, int last = INT_MAX) const {
    int n = 0;
    for (int pass : PassesOf(kind, text)) n += pass >= first && pass <= last;
    return n;
  }
};

struct TracingSerialPort : fakes::FakeSerialPort {
  explicit TracingSerialPort(Trace& t) : trace(t) {}
  platform::Status Write(std::string_view bytes) override {
    platform::Status written = FakeSerialPort::Write(bytes);
    if (written) trace.Add(Trace::Kind::Write, std::string(bytes));
    return written;
  }
  Trace& trace;
};

// The front end's side of a session: settings, playlist and view, with what
// the show told it.
struct FakeShowWindow : playback::ShowSettingsSource, playback::PlaylistSource, playback::ShowView {
  explicit FakeShowWindow(Trace& t) : trace(t) {}

  playback::ShowSettings CurrentSettings() const override {
    return {portNumber, baud, frameTiming, startTime, endTime};
  }
  void SaveSettings() override { savedWhileRunning.push_back(showRunning); }
  int RowCount() const override { return static_cast<int>(entries.size()); }
  playlist::PlaylistEntry EntryAt(int row) const override {
    return entries.at(static_cast<std::size_t>(row));
  }
  void SelectRow(int row) override {
    selected.push_back(row);
    if (onSelect) onSelect(row);
  }
  void ShowStarted() override { states.push_back("running"); }
  void ShowEnded() override { states.push_back("stopped"); }
  void StatusChanged(const std::string& text) override {
    statuses.push_back(text);
    trace.Add(Trace::Kind::Status, text);
  }
  void NoticeAdded(const std::string& text) override { notices.push_back(text); }
  void PlayingNoteChanged(const std::string& text) override { playingNote = text; }
  void KeepAliveGap(int seconds, bool late) override {
    gaps.push_back(seconds);
    lateGaps += late;
  }
  std::string Status() const { return statuses.empty() ? "" : statuses.back(); }
  std::string Notice() const { return notices.empty() ? "" : notices.back(); }
  // The show log's lines that hold `part`.
  std::vector<std::string> LoggedWith(std::string_view part) const {
    std::vector<std::string> lines;
    for (const std::string& line : logged) {
      if (line.find(part) != std::string::npos) lines.push_back(line);
    }
    return lines;
  }

  bool showRunning = true;
  const sequence_format::FadeTimingTable& fadeTimings = sequence_format::kFadeTimingTable;
  int frameTiming = 1, portNumber = 3, lateGaps = 0;
  int baud = 115200;
  std::string startTime = "12:00:00 AM", endTime = "11:59:59 PM";
  std::vector<std::string> statuses, states, notices, logged;
  std::string playingNote;
  std::vector<int> gaps, selected;
  std::vector<bool> savedWhileRunning;
  std::vector<playlist::PlaylistEntry> entries;
  std::function<void(int)> onSelect;
  Trace& trace;
};

// show.log kept in memory, one event a line, without the time.
struct MemoryLog : platform::LogFile {
  explicit MemoryLog(std::vector<std::string>& to) : lines(to) {}
  platform::Status AppendLine(const std::string& line) override {
    lines.push_back(line.substr(line.find(' ') + 1));
    return platform::Status::Ok();
  }
  std::vector<std::string>& lines;
};

// A session of `window` over the given devices.
inline std::unique_ptr<playback::ShowSession> MakeSession(
    FakeShowWindow& window, platform::SerialPort& port, platform::AudioPlayer& audio,
    platform::UserInterface& ui, platform::Clock& clock, platform::LogFile& log) {
  return std::make_unique<playback::ShowSession>(
      playback::ShowSession::Devices{port, audio, ui, clock, log, [] { return std::string("-"); }},
      playback::ShowSession::FrontEnd{window.showRunning, window, window, window},
      window.fadeTimings);
}

// The fakes wired together, with cache files in a temporary folder.
struct Rig {
  Rig() {
    ui.onDoEvents = [this](int) { trace.Add(Trace::Kind::Yield); };
  }

  // Adds a playlist entry whose cache file holds `rows`; returns its row.
  int AddEntry(const std::string& name, const std::vector<Record>& rows) {
    const std::string cachePath = dir.File(name + ".csq");
    WriteCache(cachePath, rows);
    return AddEntryFiles(name, cachePath);
  }
  int AddEntryFiles(const std::string& name, const std::string& cachePath) {
    window.entries.push_back({dir.File(name + ".wav"), cachePath, name, "0.94", name + ".msq"});
    return static_cast<int>(window.entries.size()) - 1;
  }
  void WriteCache(const std::string& path, const std::vector<Record>& rows) {
    fakes::FakeFileStore files;
    const platform::Status saved = sequence_format::SaveSequenceCache(
        sequence_format::EventTable::FromRecords(rows), path, files);
    if (!saved) throw std::runtime_error(saved.message());
  }

  // Plays the audio along `positions` (sample positions, one per poll) and
  // stops it after the last one. `also` runs at every poll with its 1-based
  // number.
  void ScriptAudio(std::vector<std::int64_t> positions, std::function<void(int)> also = {}) {
    audio.onPoll = [this, positions = std::move(positions), also](fakes::FakeAudioPlayer& player) {
      trace.Add(Trace::Kind::Poll);
      if (also) also(player.polls);
      const auto index = static_cast<std::size_t>(player.polls - 1);
      if (index < positions.size()) player.position = Seconds(positions[index]);
      if (index + 1 >= positions.size()) player.state = platform::kPlayStateStopped;
    };
  }
  // Audio moving `step` positions per poll from 0 and stopping at `end`.
  void SteadyAudio(std::int64_t step, std::int64_t end, std::function<void(int)> also = {}) {
    audio.onPoll = [this, step, end, also](fakes::FakeAudioPlayer& player) {
      trace.Add(Trace::Kind::Poll);
      if (also) also(player.polls);
      const std::int64_t position = step * (player.polls - 1);
      player.position = Seconds(position < end ? position : end);
      if (position >= end) player.state = platform::kPlayStateStopped;
    };
  }

  fakes::TempDir dir;
  Trace trace;
  FakeShowWindow window{trace};
  TracingSerialPort port{trace};
  fakes::FakeUserInterface ui;
  fakes::FakeClock clock{10LL * 3600 * 1000};
  fakes::FakeAudioPlayer audio;
  MemoryLog log{window.logged};
  std::unique_ptr<playback::ShowSession> ownSession =
      MakeSession(window, port, audio, ui, clock, log);
  playback::ShowSession& session = *ownSession;
};

}  // namespace playback_test
