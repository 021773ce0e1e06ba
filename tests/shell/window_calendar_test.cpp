#include <QComboBox>
#include <QGroupBox>
#include <string>

#include "calendar/local_time.h"
#include "shell/elided_label.h"
#include "tests/calendar/time_zone.h"
#include "tests/shell/window_fixture.h"

namespace shelltest {
namespace {

class WindowCalendarTest : public WindowTest {
 protected:
  std::string NoticeLine() const {
    return Child<shell::ElidedLabel>("lblNotice").FullText().toStdString();
  }
  calendar_test::ScopedTimeZone zone{"Europe/Amsterdam"};
};

TEST_F(WindowCalendarTest, TheNextShowIsShownAndWithACalendarTheListsStepAside) {
  // Thursday 3 December 2026, noon in Amsterdam.
  clock.ms = calendar::LocalMoment({2026, 12, 3}, 12 * 3600) * 1000;
  // Without one, the next daily window.
  Start();
  EXPECT_EQ(NoticeLine().rfind("Next show: ", 0), 0u) << NoticeLine();

  fakes::WriteBytes(dir.File("calendar.toml"),
                    "[[show]]\ndays = [\"Fri\"]\nstart = \"6:00 PM\"\nend = \"1:00 AM\"\n");
  Start();
  EXPECT_FALSE(List("cboStartTime").isEnabled());
  EXPECT_FALSE(List("cboEndTime").isEnabled());
  EXPECT_TRUE(List("cboPort").isEnabled());
  EXPECT_EQ(Child<QGroupBox>("Frame4").title().toStdString(),
            "Show Schedule (calendar.toml in use)");
  EXPECT_EQ(NoticeLine(), "Next show: Fri 4 Dec, 6:00 PM");

  // One with a mistake says so under the status; the lists still step aside.
  fakes::WriteBytes(dir.File("calendar.toml"), "[[show]]\nstart = \"6:00 PM\"\n");
  Start();
  EXPECT_FALSE(List("cboStartTime").isEnabled());
  EXPECT_EQ(NoticeLine(),
            "The calendar cannot be used, so the show waits until it is mended and started again: "
            "calendar.toml line 1: [[show]]: end is missing; a show needs start and end, or off = "
            "true");
}

}  // namespace
}  // namespace shelltest
