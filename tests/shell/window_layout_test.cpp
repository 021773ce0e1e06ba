#include <string>
#include <tuple>

#include "shell/start_options.h"
#include "tests/fakes/run_program.h"
#include "tests/shell/window_fixture.h"

namespace shelltest {
namespace {

using WindowLayoutTest = WindowTest;

// At its smallest the window keeps the written layout; the room a larger
// window gives goes to the playlist, the status line and the notice line,
// and the controls under the list and the counters move along with them.
TEST_F(WindowLayoutTest, ResizingGrowsPlaylistStatusAndNoticeLines) {
  Start();
  const struct { int width, height; } sizes[] = {{845, 530}, {1245, 830}, {845, 530}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    window->resize(size.width, size.height);
    const int dx = size.width - 845, dy = size.height - 530;
    EXPECT_EQ(Child<QWidget>("lstPlayList").size(), QSize(352 + dx, 348 + dy));
    EXPECT_EQ(Child<QWidget>("lblStatus").geometry(), QRect(8, 478 + dy, 721 + dx, 22));
    EXPECT_EQ(Child<QWidget>("lblNotice").geometry(), QRect(8, 502 + dy, 829 + dx, 22));
    EXPECT_EQ(Child<QWidget>("Text2").geometry(), QRect(789 + dx, 478 + dy, 48, 22));
    EXPECT_EQ(Button("cmdPlaylistMoveDown").geometry(), QRect(280, 382 + dy, 82, 28));
    // The left column stays as written.
    EXPECT_EQ(Button("cmdShowStart").geometry(), QRect(12, 30, 206, 70));
    EXPECT_EQ(Child<QWidget>("Frame3").geometry(), QRect(8, 264, 449, 120));
  }
  EXPECT_EQ(window->minimumSize(), QSize(845, 530));
}

TEST_F(WindowLayoutTest, KeepAliveBoxesAndFrameTimingSayWhatTheyShow) {
  Start();
  const std::pair<const char*, const char*> cases[] = {
      {"Text1", "seconds since the last keep-alive"},
      {"Text2", "keep-alives that came late"},
      {"cboFrameComp", "each step sends 5.8 ms earlier"}};
  for (const auto& [control, says] : cases) {
    const std::string tip = Child<QWidget>(control).toolTip().toStdString();
    EXPECT_NE(tip.find(says), std::string::npos) << control << ": " << tip;
  }
}

TEST(NoDisplay, TheWindowSaysSoInOneLineUnlessQtCanDoWithout) {
  const std::tuple<const char*, const char*, const char*, bool> cases[] = {
      {nullptr, nullptr, nullptr, true},      {"", "", nullptr, true},
      {":0", nullptr, nullptr, false},        {nullptr, "wayland-0", nullptr, false},
      {nullptr, nullptr, "xcb", true},        {nullptr, "wayland-0", "xcb", true},
      {":0", nullptr, "wayland", true},       {":0", nullptr, "wayland;xcb", false},
      {nullptr, nullptr, "offscreen", false},
  };
  for (const auto& [display, wayland, platform, refused] : cases) {
    const auto message = shell::NoDisplayMessage(display, wayland, platform);
    EXPECT_EQ(message.has_value(), refused)
        << (display ? display : "-") << " " << (wayland ? wayland : "-") << " "
        << (platform ? platform : "-");
    if (message) {
      EXPECT_EQ(message->find('\n'), std::string::npos);
    }
  }
}

// Before Qt is started: Qt's own abort ("Reinstalling the application may fix
// this problem") would say nothing useful.
TEST(NoDisplay, ProgramExitsWithOneLineAndStatusOne) {
  const fakes::ProgramRun run =
      fakes::RunProgram({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u",
                         "QT_QPA_PLATFORM", GLIMMER_BUILD_BIN "/glimmerfield"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err,
            "glimmerfield: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not "
            "set); 'glimmer show' runs the show without a window\n");
  EXPECT_EQ(run.out, "");

  const fakes::ProgramRun help = fakes::RunProgram(
      {"/usr/bin/env", "-u", "DISPLAY", GLIMMER_BUILD_BIN "/glimmerfield", "--help"});
  EXPECT_EQ(help.exitCode, 0) << help.err;
  EXPECT_EQ(help.out.rfind("Usage: glimmerfield", 0), 0u) << help.out;
}

}  // namespace
}  // namespace shelltest
