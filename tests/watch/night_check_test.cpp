#include "watch/night_check.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/fakes/fake_time_source.h"

namespace {

using namespace std::chrono_literals;
using platform::Status;

// Everything a night needs is there, unless a test says otherwise.
class FakeProbes : public watch::NightProbes {
 public:
  Status LoadCache(const std::string& path) override { return Answer(badCache, path); }
  Status OpenSong(const std::string& path) override { return Answer(badSong, path); }
  Status OpenPort() override { return portError.empty() ? Status::Ok() : Status::Error(portError); }
  Status AudioDevice() override {
    ++audioAsked;
    return audioError.empty() ? Status::Ok() : Status::Error(audioError);
  }
  platform::Result<std::uint64_t> FreeBytes(const std::string&) override { return freeBytes; }
  std::uint64_t FileSize(const std::string& path) override {
    return path.find("big") != std::string::npos ? 40u << 20 : 1u << 20;
  }

  std::string badCache, badSong, portError, audioError;
  std::uint64_t freeBytes = 1ull << 30;
  int audioAsked = 0;

 private:
  static Status Answer(const std::string& bad, const std::string& path) {
    return path == bad ? Status::Error(path + ": damaged") : Status::Ok();
  }
};

watch::NightNeeds Needs() {
  return {.entries = {{"Jingle", "Cache/a.cache", "Songs/a.wav"},
                      {"Carol", "Cache/big.cache", "Songs/b.mp3"}},
          .folder = "/show",
          .silentChosen = false,
          .logLimit = 1u << 20};
}

struct CheckCase {
  const char* name;
  std::function<void(FakeProbes&, fakes::FakeTimeSource&, watch::NightNeeds&)> spoil;
  const char* problem;  // the one problem expected
};

TEST(NightCheck, EachNeedFailsOnItsOwn) {
  const CheckCase cases[] = {
      {"cache", [](FakeProbes& p, auto&, auto&) { p.badCache = "Cache/big.cache"; },
       "entry 2 (Carol): Cache/big.cache: damaged"},
      {"song", [](FakeProbes& p, auto&, auto&) { p.badSong = "Songs/a.wav"; },
       "entry 1 (Jingle): Songs/a.wav: damaged"},
      {"port", [](FakeProbes& p, auto&, auto&) { p.portError = "COM1: no serial device"; },
       "serial port: COM1: no serial device"},
      {"audio", [](FakeProbes& p, auto&, auto&) { p.audioError = "no audio device: none found"; },
       "sound: no audio device: none found; the songs would play silently"},
      {"disk", [](FakeProbes& p, auto&, auto&) { p.freeBytes = 30u << 20; },
       "disk: only 30.0 MB free in /show, the log and a cache rewrite need 41.0 MB"},
      {"clock before the build",
       [](auto&, fakes::FakeTimeSource& t, auto&) { t.wall -= std::chrono::hours(24 * 400); },
       "clock: the clock is earlier than the day this program was built; is the date set?"},
      {"empty playlist", [](auto&, auto&, watch::NightNeeds& n) { n.entries.clear(); },
       "the playlist is empty"},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeProbes probes;
    fakes::FakeTimeSource time;
    watch::NightNeeds needs = Needs();
    const auto builtAt = time.wall - std::chrono::hours(24 * 30);
    c.spoil(probes, time, needs);
    watch::ClockWatch clock(time, builtAt);
    const watch::NightCheckReport report = watch::CheckNight(needs, probes, clock);
    EXPECT_EQ(report.problems, std::vector<std::string>{c.problem});
    EXPECT_FALSE(report.clockJumped);
  }
}

TEST(NightCheck, AllWellAndSilenceChosenNeedsNoSoundDevice) {
  FakeProbes probes;
  probes.audioError = "no audio device: none found";
  fakes::FakeTimeSource time;
  watch::ClockWatch clock(time, time.wall);
  watch::NightNeeds needs = Needs();
  needs.silentChosen = true;
  const watch::NightCheckReport report = watch::CheckNight(needs, probes, clock);
  EXPECT_TRUE(report.ok());
  EXPECT_EQ(probes.audioAsked, 0);
  EXPECT_EQ(watch::DescribeNightCheck(report),
            "Check before the night: all well (2 entries, serial port, disk, clock)");
}

TEST(ClockWatch, AJumpOfMoreThanAMinuteAgainstTheSteadyClockEitherWay) {
  fakes::FakeTimeSource time;
  watch::ClockWatch clock(time, time.wall - 24h);
  EXPECT_EQ(clock.Look().problem, "");
  time.Advance(std::chrono::hours(23));  // a day of the show: both clocks move
  time.Jump(59s);                        // and a time server's small correction
  EXPECT_FALSE(clock.Look().jumped);
  time.Advance(10min);
  time.Jump(-std::chrono::hours(1));  // the power cut's battery-less clock
  const watch::ClockWatch::Finding back = clock.Look();
  EXPECT_TRUE(back.jumped);
  EXPECT_EQ(back.problem, "the clock moved 3600 seconds back");
  time.Jump(61s);
  EXPECT_EQ(clock.Look().problem, "the clock moved 61 seconds ahead");
}

TEST(NightCheck, AClockJumpIsAProblemAndSaysItJumped) {
  FakeProbes probes;
  fakes::FakeTimeSource time;
  watch::ClockWatch clock(time, time.wall - 24h);
  (void)watch::CheckNight(Needs(), probes, clock);
  time.Advance(std::chrono::hours(24));
  time.Jump(-5min);
  const watch::NightCheckReport report = watch::CheckNight(Needs(), probes, clock);
  EXPECT_TRUE(report.clockJumped);
  EXPECT_EQ(report.problems, std::vector<std::string>{"clock: the clock moved 300 seconds back"});
}

// The files are read apart from the rest and the halves make the same
// report; a read stopped part way finds nothing rather than half a night.
TEST(NightCheck, TheFilesReadApartMakeTheSameReportAndAStopFindsNothing) {
  FakeProbes probes;
  probes.badCache = "Cache/a.cache";
  probes.badSong = "Songs/b.mp3";
  probes.freeBytes = 30u << 20;
  fakes::FakeTimeSource time;
  watch::ClockWatch clock(time, time.wall - 24h);
  const std::optional<watch::EntryFindings> found = watch::CheckEntries(Needs().entries, probes);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->largestCache, 40u << 20);
  EXPECT_EQ(watch::CheckNight(Needs(), *found, probes, clock).problems,
            watch::CheckNight(Needs(), probes, clock).problems);
  EXPECT_EQ(watch::CheckNight(Needs(), probes, clock).problems,
            (std::vector<std::string>{
                "entry 1 (Jingle): Cache/a.cache: damaged", "entry 2 (Carol): Songs/b.mp3: damaged",
                "disk: only 30.0 MB free in /show, the log and a cache rewrite need 41.0 MB"}));

  int asked = 0;
  EXPECT_FALSE(watch::CheckEntries(Needs().entries, probes, [&] { return ++asked < 1; }));
  EXPECT_EQ(asked, 1) << "stopped after the first entry";
}

}  // namespace
