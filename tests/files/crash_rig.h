#pragma once

// Kills a process that keeps rewriting preferences.txt, playlist.txt and a
// compiled sequence, at random moments, and after each kill checks that every
// file holds exactly the old or the new content. Shared by the test (a few
// dozen kills) and bench/crash_consistency (hundreds).
//
// The writer is a forked child running the program's own save code on the real
// file system. It reports, through a pipe, each write it begins and ends. The
// parent reads a random number of reports, spins a random number of empty
// loop turns, and kills it; the reports still in the pipe then tell which
// write was under way, hence which two contents are allowed.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_store.h"
#include "playlist/playlist.h"
#include "sequence_format/event_table.h"
#include "sequence_format/sequence_cache.h"
#include "shell/preferences.h"
#include "tests/fakes/fake_list_box.h"
#include "tests/fakes/fake_user_interface.h"
#include "tests/fakes/temp_dir.h"

namespace crash_rig {

enum FileIndex { kPreferences = 0, kPlaylist = 1, kCache = 2 };
constexpr int kFiles = 3;
constexpr std::array<const char*, kFiles> kFileNames = {"preferences.txt", "playlist.txt",
                                                        "Cache/Show.csq"};
// Contents cycle through this many versions; consecutive ones always differ.
constexpr int kVersions = 7;

// Version v of each file, made by the program's own formatting code.
inline shell::Preferences PreferencesVersion(int v) {
  return {std::to_string(1 + v),
          v % 2 ? "56000" : "115200",
          std::to_string(1 + v % 10),
          "5:30:00 PM",
          "11:00:00 PM",
          v % 2 ? "1" : "0",
          "/home/show/Shows, Summer " + std::string(static_cast<std::size_t>(v) * 9, 'x')};
}

inline std::vector<playlist::PlaylistEntry> PlaylistVersion(int v) {
  std::vector<playlist::PlaylistEntry> entries;
  for (int i = 0; i <= v * 3; ++i) {
    const std::string name = "song " + std::to_string(v) + "-" + std::to_string(i);
    entries.push_back({"/home/show/Audio/" + name + ".mp3", "/app/Cache/" + name + ".csq",
                       name + " - Band         (/home/show/Shows/" + name + ".msq)", "0.94",
                       "/home/show/Shows/" + name + ".msq"});
  }
  return entries;
}

// Big enough that a write takes a while: 4,000 to 28,000 rows (132 KB to 924 KB).
inline sequence_format::EventTable CacheVersion(int v) {
  std::vector<sequence_format::EventTable::Record> records(
      static_cast<std::size_t>(4000 + v * 4000));
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto n = static_cast<std::int32_t>(i);
    records[i].values = {n * 441, 1 + n % 8, 1 << (n % 8), 34, v, 255 - v, 19, 195};
  }
  return sequence_format::EventTable::FromRecords(std::move(records));
}

// Keeps what would have been written, in memory.
class CapturingStore : public platform::FileStore {
 public:
  platform::Status ReplaceFile(const std::string&, std::string_view bytes) override {
    last = std::string(bytes);
    return platform::Status::Ok();
  }
  std::string last;
};

// The save code the program runs, over one folder.
class Writer {
 public:
  Writer(const std::filesystem::path& folder, platform::FileStore& files)
      : folder_(folder),
        files_(files),
        preferences_(Path(kPreferences), files, ui_),
        playlist_(list_, ui_, files, Path(kPlaylist)) {}

  std::string Path(int file) const { return (folder_ / kFileNames[file]).string(); }

  bool Write(int file, int version) {
    switch (file) {
      case kPreferences:
        preferences_.Save(PreferencesVersion(version));
        return ui_.messages.empty();
      case kPlaylist:
        list_.Clear();
        playlist_.ResetEntries();
        for (const auto& entry : PlaylistVersion(version)) playlist_.AddPlaylistEntry(entry);
        return playlist_.SavePlaylist().ok();
      default:
        return sequence_format::SaveSequenceCache(CacheVersion(version), Path(kCache), files_).ok();
    }
  }

 private:
  std::filesystem::path folder_;
  platform::FileStore& files_;
  fakes::FakeUserInterface ui_;
  fakes::FakeListBox list_;
  shell::PreferencesFile preferences_;
  playlist::Playlist playlist_;
};

// What the bytes of every version are.
inline std::array<std::array<std::string, kVersions>, kFiles> ExpectedContents() {
  std::array<std::array<std::string, kVersions>, kFiles> contents;
  CapturingStore store;
  Writer writer("/nonexistent", store);
  for (int f = 0; f < kFiles; ++f) {
    for (int v = 0; v < kVersions; ++v) {
      writer.Write(f, v);
      contents[static_cast<std::size_t>(f)][static_cast<std::size_t>(v)] = store.last;
    }
  }
  return contents;
}

struct Report {
  std::uint8_t file, ended;  // ended 0: the write begins, 1: it ended
  std::uint16_t version;
};

struct Figures {
  int kills = 0;
  std::array<int, kFiles> killsDuring{};  // kills while this file's write was under way
  std::array<int, kFiles> foundOld{};     // ... that left the old content
  std::array<int, kFiles> foundNew{};     // ... that left the new content
  std::array<int, kFiles> torn{};         // any kill: content neither old nor new
  int mostLeftovers = 0;                  // most files other than the three seen after a kill
  int leftoverFiles = 0;  // ... once every file has been written again after the last kill
  std::vector<std::string> faults;  // what was torn, and where
};

// Files in the folder other than the three the writer writes.
inline int CountLeftovers(const std::filesystem::path& folder) {
  int count = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    const auto relative = std::filesystem::relative(entry.path(), folder).string();
    count += entry.is_regular_file() &&
             std::find(kFileNames.begin(), kFileNames.end(), relative) == kFileNames.end();
  }
  return count;
}

// Runs `kills` rounds in `folder` (which must exist and be empty).
// `files` is the store the writer saves through (the program's own, or a
// plainer one to show what the check catches).
inline Figures Run(const std::filesystem::path& folder, platform::FileStore& files, int kills,
                   std::uint32_t seed, int maxReports = 12, double maxSpin = 2e7) {
  const auto expected = ExpectedContents();
  std::filesystem::create_directories(folder / "Cache");
  std::array<int, kFiles> onDisk{};  // version each file holds now
  {
    Writer writer(folder, files);
    for (int f = 0; f < kFiles; ++f) writer.Write(f, 0);
  }

  std::mt19937 random(seed);
  Figures figures;
  while (figures.kills < kills) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
      figures.faults.push_back("cannot make a pipe");
      return figures;
    }
    // Each round's child goes on from what is on disk: every file's next
    // version follows the one it holds.
    const std::array<int, kFiles> start = onDisk;
    const pid_t child = fork();
    if (child == 0) {
      close(pipeEnds[0]);
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      Writer writer(folder, files);
      const auto send = [&](const Report& r) {
        if (write(pipeEnds[1], &r, sizeof r) != sizeof r) _exit(3);
      };
      for (int step = 1; step <= 100000; ++step) {
        for (int f = 0; f < kFiles; ++f) {
          const auto version = static_cast<std::uint16_t>((start[f] + step) % kVersions);
          send({static_cast<std::uint8_t>(f), 0, version});
          if (!writer.Write(f, version)) _exit(2);
          send({static_cast<std::uint8_t>(f), 1, version});
        }
      }
      _exit(0);
    }
    close(pipeEnds[1]);

    std::array<int, kFiles> inFlight{-1, -1, -1};
    Report report;
    // Reads the next report and notes the write it begins or ends.
    const auto take = [&] {
      if (read(pipeEnds[0], &report, sizeof report) != static_cast<ssize_t>(sizeof report)) {
        return false;
      }
      if (report.ended) onDisk[report.file] = report.version;
      inFlight[report.file] = report.ended ? -1 : report.version;
      return true;
    };
    const int reportsBeforeKill = std::uniform_int_distribution<int>(1, maxReports)(random);
    int taken = 0;
    while (taken < reportsBeforeKill && take()) ++taken;
    // A random moment after that report: no clock, just a number of empty
    // turns, spread evenly over the orders of magnitude from one to maxSpin
    // so that short writes and the long fsync of a large one are both hit.
    const auto turns = static_cast<long>(
        std::exp(std::uniform_real_distribution<double>(0.0, std::log(maxSpin))(random)));
    for (long turn = 0; turn < turns; ++turn) asm volatile("" ::: "memory");
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    while (take()) continue;  // what the writer was doing when it died
    close(pipeEnds[0]);
    if (!WIFSIGNALED(status)) {
      figures.faults.push_back("the writer ended by itself, status " + std::to_string(status));
      return figures;
    }
    ++figures.kills;

    // Each file must hold the content of its last finished write, or of the
    // write under way.
    for (int f = 0; f < kFiles; ++f) {
      const std::string bytes = fakes::ReadBytes((folder / kFileNames[f]).string());
      const bool isOld = bytes == expected[f][static_cast<std::size_t>(onDisk[f])];
      const bool isNew =
          inFlight[f] >= 0 && bytes == expected[f][static_cast<std::size_t>(inFlight[f])];
      if (inFlight[f] >= 0) {
        ++figures.killsDuring[f];
        if (isOld) ++figures.foundOld[f];
        if (isNew) ++figures.foundNew[f];
      }
      if (isNew) onDisk[f] = inFlight[f];
      if (!isOld && !isNew) {
        ++figures.torn[f];
        figures.faults.push_back(std::string(kFileNames[f]) + " torn at kill " +
                                 std::to_string(figures.kills) + ": " +
                                 std::to_string(bytes.size()) + " bytes");
        // Go on from a known state.
        Writer(folder, files).Write(f, onDisk[f]);
      }
    }
    figures.mostLeftovers = std::max(figures.mostLeftovers, CountLeftovers(folder));
  }
  // The program's next save of each file, not interrupted.
  Writer writer(folder, files);
  for (int f = 0; f < kFiles; ++f) writer.Write(f, (onDisk[f] + 1) % kVersions);
  figures.leftoverFiles = CountLeftovers(folder);
  return figures;
}

}  // namespace crash_rig
