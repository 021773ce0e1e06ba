// glimmer's commands as their users run them.
#include <fcntl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/posix_file_store.h"
#include "platform/posix/unique_fd.h"
#include "playback/show_event.h"
#include "qr/qr_code.h"
#include "sequence_format/event_table.h"
#include "sequence_format/sequence_cache.h"
#include "tests/calendar/time_zone.h"
#include "tests/fakes/run_program.h"
#include "tests/fakes/special_files.h"
#include "tests/fakes/temp_dir.h"
#include "tests/tools/glimmer_process.h"

namespace {

struct Case {
  std::vector<std::string> args;
  int exitCode;
  std::string inOut;  // a piece of standard output
  std::string inErr;  // a piece of standard error
};

TEST(GlimmerArguments, MistakesExitOneAndHelpExitsZero) {
  const std::vector<Case> cases = {
      {{}, 1, "", "Usage: glimmer COMMAND"},
      {{"fly"}, 1, "", "unknown command 'fly'"},
      {{"--help"},
       0,
       "The player's files (preferences.txt, playlist.txt, Cache, show.log) are in",
       ""},
      {{"--version"}, 0, "glimmer " GLIMMER_VERSION "\n", ""},
      {{"play"}, 1, "", "glimmer play: CACHE is required"},
      {{"play", "--port", "17", "a.csq", "a.wav"}, 1, "", "--port: needs a whole number from 1"},
      {{"play", "--port", "2", "--device", "/dev/null", "a", "b"}, 1, "", "excludes"},
      {{"play", "--baud", "9600", "a", "b"}, 1, "", "--baud"},
      {{"play", "a", "b", "c"}, 1, "", "not expected: c"},
      {{"play", "--help", "--port", "99"}, 0, "Usage: glimmer play", ""},
      {{"compile", "--bogus", "a", "b"}, 1, "", "--bogus"},
      {{"compile", "--audio"}, 1, "", "--audio"},
      {{"dump"}, 1, "", "Run 'glimmer dump --help'"},
      {{"dump", "-h"}, 0, "Usage: glimmer dump CACHE", ""},
      {{"monitor", "--baud", "fast", "/dev/null"}, 1, "", "--baud"},
      {{"check", "--baud", "9600", "a.csq"}, 1, "", "--baud"},
      {{"calendar", "--help"},
       0,
       "For each date the rule with the fewest dates wins among those whose dates and days contain "
       "it; on a tie the rule that names days, then the later one in the file.",
       ""},
  };
  // Help texts break their lines anywhere.
  const auto flat = [](std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    fakes::TempDir dir;
    tools_test::GlimmerProcess glimmer(dir, c.args);
    ASSERT_TRUE(glimmer.Started());
    EXPECT_EQ(glimmer.Wait(), c.exitCode) << glimmer.Err();
    EXPECT_NE(flat(glimmer.Out()).find(flat(c.inOut)), std::string::npos) << glimmer.Out();
    EXPECT_NE(glimmer.Err().find(c.inErr), std::string::npos) << glimmer.Err();
  }
}

// Every command the usage lists answers --help and --version with status 0
// and is in the README's list of commands, so none is found only by chance.
TEST(GlimmerArguments, EveryCommandHasHelpAVersionAndALineInTheReadme) {
  fakes::TempDir dir;
  tools_test::GlimmerProcess usage(dir, {"--help"});
  ASSERT_EQ(usage.Wait(), 0);
  const std::string listed = usage.Out();
  const std::string readme = fakes::ReadBytes(GLIMMER_GOLDEN_DIR "/../../README.md");
  std::vector<std::string> names;
  const auto commands = listed.find("Commands:\n");
  ASSERT_NE(commands, std::string::npos) << listed;
  std::istringstream lines(listed.substr(commands + 10));
  for (std::string line; std::getline(lines, line) && line.rfind("  ", 0) == 0;) {
    if (line[2] != ' ') names.push_back(line.substr(2, line.find(' ', 2) - 2));  // not a summary's
  }
  ASSERT_GE(names.size(), 10u) << listed;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    tools_test::GlimmerProcess help(dir, {name, "--help"});
    EXPECT_EQ(help.Wait(), 0) << help.Err();
    EXPECT_EQ(help.Out().rfind("Usage: glimmer " + name, 0), 0u) << help.Out();
    tools_test::GlimmerProcess version(dir, {name, "--version"});
    EXPECT_EQ(version.Wait(), 0) << version.Err();
    EXPECT_EQ(version.Out(), "glimmer " GLIMMER_VERSION "\n");
    EXPECT_NE(readme.find("build/bin/glimmer " + name + " "), std::string::npos);
  }
}

// The link a phone opens, printed and drawn: the QR code holds exactly the
// link with the token settings.toml now has.
TEST(GlimmerWeb, EnablePrintsTheReadyLinkAndItsQrCode) {
  fakes::TempDir dir;
  tools_test::GlimmerProcess web(dir, {"web", "--dir", dir.path().string(), "--enable"});
  ASSERT_EQ(web.Wait(), 0) << web.Err();
  const std::string settings = fakes::ReadBytes(dir.File("settings.toml"));
  const auto at = settings.find("token = \"");
  ASSERT_NE(at, std::string::npos) << settings;
  const std::string token = settings.substr(at + 9, 64);
  const std::string link = "http://127.0.0.1:8080/#token=" + token;
  const std::string out = web.Out();
  EXPECT_NE(out.find("Ready link (opens the page with its token):\n  " + link + "\n"),
            std::string::npos)
      << out;
  const auto code = qr::QrCode::Encode(link);
  ASSERT_TRUE(code) << code.message();
  // Not a terminal here: no colour codes, the light modules drawn.
  EXPECT_NE(out.find(qr::TerminalText(code.value(), qr::Terminal::LightOnDark)), std::string::npos)
      << out;
  EXPECT_EQ(out.find("\x1b["), std::string::npos);
}

// glimmer calendar: the preview and the check (the rule its help states is
// checked above).
std::string Golden(const std::string& name) {
  return std::string(GLIMMER_GOLDEN_DIR) + "/calendar/" + name;
}

// The preview in New York, across the autumn change (set here, so the
// program inherits it).
TEST(CalendarCommandTest, JsonPreviewMatchesTheExpectedFileAndCheckSaysWhetherTheFileIsSound) {
  calendar_test::ScopedTimeZone zone("America/New_York");
  fakes::TempDir dir;
  const std::string file = dir.File("calendar.toml");
  const auto calendar = [&](std::vector<std::string> more) {
    more.insert(more.begin(), {tools_test::GlimmerProgram(), "calendar", "--dir", dir.path()});
    return fakes::RunProgram(more);
  };
  std::filesystem::copy_file(Golden("calendar.toml"), file);
  const auto preview = calendar({"--from", "2026-10-19", "--days", "24", "--json"});
  ASSERT_EQ(preview.exitCode, 0) << preview.err;
  EXPECT_EQ(preview.out, fakes::ReadBytes(Golden("new_york_autumn.json")));
  const auto sound = calendar({"--check"});
  ASSERT_EQ(sound.exitCode, 0) << sound.err;
  EXPECT_EQ(sound.out, file + " is sound: 4 rules, with a location for dusk and dawn\n");
  std::ofstream(file, std::ios::trunc)
      << "[[show]]\nstart = \"6:00 PM\"\nend = \"9:00 PM\"\nvolume = 120\n";
  const auto faulty = calendar({"--check"});
  EXPECT_EQ(faulty.exitCode, 1);
  EXPECT_EQ(faulty.err, "glimmer calendar: " + file +
                            " line 4: volume: 120 is not a whole percent from 0 to 100; "
                            "leave it out for 100\n");
  EXPECT_EQ(faulty.out, "");
  std::filesystem::remove(file);
  const auto missing = calendar({});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("there is no " + file), std::string::npos);
  // A folder in the file's place is refused before it is opened.
  std::filesystem::create_directory(file);
  const auto folder = calendar({"--check"});
  EXPECT_EQ(folder.exitCode, 1);
  EXPECT_EQ(folder.err,
            "glimmer calendar: calendar.toml cannot be read: it is a folder, not a file\n");
}

// glimmer check: the import's serial line report for a compiled sequence.
using Record = sequence_format::EventTable::Record;

TEST(CheckCommand, WarnsAtTheSlowRateOnlyAndRefusesAMissingFile) {
  fakes::TempDir dir;
  // 32 fades on every 50 ms for a minute: more than 56000 baud carries.
  std::vector<Record> rows;
  for (std::int32_t t = 4410; t < 60 * 88200; t += 4410) {
    for (std::int32_t d = 1; d <= 32; ++d) rows.push_back(Record{{t, d, 3, 34, 0, 255, 1, 20}, 0});
  }
  const std::string cache = dir.File("dense.csq");
  platform::PosixFileStore files;
  ASSERT_TRUE(sequence_format::SaveSequenceCache(sequence_format::EventTable::FromRecords(rows),
                                                 cache, files)
                  .ok());

  const std::string glimmer = tools_test::GlimmerProgram();
  const auto slow = fakes::RunProgram({glimmer, "check", "--baud", "56000", cache});
  EXPECT_EQ(slow.exitCode, 0) << slow.err;
  EXPECT_NE(slow.out.find("Warning: The lights will fall up to "), std::string::npos) << slow.out;
  EXPECT_NE(slow.out.find("Serial line at 115200 baud: p99 "), std::string::npos) << slow.out;
  // Channels 1 and 2 in one row: the merge was on, so it is not suggested.
  EXPECT_EQ(slow.out.find("Perform bitmask"), std::string::npos) << slow.out;

  const auto fast = fakes::RunProgram({glimmer, "check", cache});
  EXPECT_EQ(fast.exitCode, 0) << fast.err;
  EXPECT_EQ(fast.out.find("Warning"), std::string::npos) << fast.out;
  EXPECT_NE(fast.out.find("Serial line at 115200 baud: on time"), std::string::npos) << fast.out;

  const auto missing = fakes::RunProgram({glimmer, "check", dir.File("none.csq")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("none.csq"), std::string::npos) << missing.err;
}

// glimmer log reads show.log through the one rule for files: what is not a
// regular file is refused at once, before it is opened.
// A pipe named show.log, with a writer that never writes: reading it used
// to wait for ever.
TEST(GlimmerLog, RefusesAPipeAFolderAndADeviceAtOnce) {
  for (const fakes::SpecialFile& special : fakes::SpecialFiles()) {
    SCOPED_TRACE(special.name);
    fakes::TempDir dir;
    const std::string log = dir.File("show.log");
    special.make(log);
    platform::UniqueFd writer;
    if (std::string(special.name) == "pipe") {
      writer.Reset(::open(log.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    }
    tools_test::GlimmerProcess glimmer(dir, {"log", "--dir", dir.path().string()});
    ASSERT_TRUE(glimmer.Started());
    EXPECT_EQ(glimmer.Wait(), 1);
    EXPECT_NE(glimmer.Err().find("cannot read " + log + ": " + special.reason), std::string::npos)
        << glimmer.Err();
  }
}

TEST(GlimmerLog, SumsUpTheNightsAndSaysHowManyLinesItCouldNotRead) {
  fakes::TempDir dir;
  fakes::WriteBytes(dir.File("show.log"),
                    "2026-12-24 17:30:00 Show started (Start button)\n"
                    "2026-12-24 17:33:00 Entry 1 finished\n"
                    "2026-13-01 05:00:00 Entry 1 finished\n"
                    "garbage\n");
  tools_test::GlimmerProcess glimmer(dir, {"log", "--dir", dir.path().string()});
  EXPECT_EQ(glimmer.Wait(), 0) << glimmer.Err();
  EXPECT_NE(glimmer.Out().find("2026-12-24        1       1"), std::string::npos) << glimmer.Out();
  EXPECT_NE(glimmer.Err().find("2 line(s) of "), std::string::npos) << glimmer.Err();
}

// "played 9" stood against "songs 15": songs counted every entry started,
// skipped and stopped ones too, and the operator's Skip was mixed with
// entries that could not play.
TEST(GlimmerLog, SongsAreEntriesThatPlayedAndASkipByRequestIsCountedApart) {
  namespace ev = playback::show_event;
  std::string log;
  const auto at = [&log](const char* time, const playback::ShowEvent& event) {
    log += std::string("2026-12-24 ") + time + " " + playback::Describe(event) + "\n";
  };
  at("17:30:00", ev::NightWindow("5:30:00 PM", "6:00:00 PM"));
  at("17:30:00", ev::ShowStarted("Start button"));
  at("17:30:00", ev::EntryStarted(0, "A"));
  at("17:40:00", ev::EntryFinished(0));
  at("17:40:00", ev::EntryStarted(1, "B"));
  at("17:41:00", ev::EntryCut(1));
  at("17:41:00", ev::EntryStarted(2, "C"));
  at("17:41:00", ev::EntrySkipped(2, "audio: gone"));
  at("17:41:00", ev::EntryStarted(0, "A"));
  at("17:51:00", ev::EntryFinished(0));
  at("17:51:00", ev::ShowStopped("Stop button"));
  fakes::TempDir dir;
  fakes::WriteBytes(dir.File("show.log"), log);
  tools_test::GlimmerProcess glimmer(dir, {"log", "--dir", dir.path().string()});
  ASSERT_EQ(glimmer.Wait(), 0) << glimmer.Err();
  // Shows, played, skipped, late keep-alives, port losses, late lines, by request.
  char counts[128];
  std::snprintf(counts, sizeof counts, "%-12s %6d %7d %8d %11d %11d %10d %11d\n", "2026-12-24", 1,
                2, 1, 0, 0, 0, 1);
  EXPECT_NE(glimmer.Out().find(counts), std::string::npos) << glimmer.Out();
  // Asked 21 of the window's 30 minutes (the Stop), all played: not short.
  char played[160];
  std::snprintf(played, sizeof played, "%-12s %8s %4d min %5s %6d %8d %11d %9d %10d %7d\n",
                "2026-12-24", "21 min", 21, "100", 2, 1, 1, 0, 0, 0);
  EXPECT_NE(glimmer.Out().find(played), std::string::npos) << glimmer.Out();
}

}  // namespace
