#include <QCheckBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <set>
#include <string>

#include "tests/shell/window_fixture.h"

namespace shelltest {
namespace {

using WindowLookTest = WindowTest;

TEST_F(WindowLookTest, RendersTheWholeClientArea) {
  Start();
  const QPixmap shot = window->grab();
  const std::string file = dir.File("frmMain.png");
  ASSERT_TRUE(shot.save(QString::fromStdString(file), "PNG"));

  const QImage image(QString::fromStdString(file));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.width(), 845);
  EXPECT_EQ(image.height(), 508);
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); y += 3) {
    for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
  }
  EXPECT_GT(colours.size(), 10u) << "the window rendered blank";
  // The status line is drawn in orange somewhere along the bottom.
  bool orange = false;
  for (int y = 478; y < 500 && !orange; ++y) {
    for (int x = 8; x < 729 && !orange; ++x) {
      const QColor c = image.pixelColor(x, y);
      orange = c.red() > 200 && c.green() > 80 && c.green() < 180 && c.blue() < 80;
    }
  }
  EXPECT_TRUE(orange);
}

struct Caption {
  const char* name;
  const char* text;
};

TEST_F(WindowLookTest, EveryControlIsThereWithItsCaption) {
  Start();
  for (const Caption& frame :
       {Caption{"Frame1", "Playlist"}, Caption{"Frame2", "Communication Preferences"},
        Caption{"Frame3", "Show Control"}, Caption{"Frame4", "Show Schedule"}}) {
    EXPECT_EQ(Child<QGroupBox>(frame.name).title().toStdString(), frame.text);
  }
  for (const Caption& button :
       {Caption{"cmdShowStart", "Start"}, Caption{"cmdStop", "Stop"},
        Caption{"cmdPlayListAdd", "Add"}, Caption{"cmdPlaylistRemove", "Remove"},
        Caption{"cmdPlayListMoveUp", "Move Up"}, Caption{"cmdPlaylistMoveDown", "Move Down"}}) {
    EXPECT_EQ(Button(button.name).text().toStdString(), button.text);
  }
  EXPECT_EQ(Child<QLabel>("Label7").text().toStdString(),
            "Perfrom Bitmask Optimization When Importing ");
  EXPECT_TRUE(Child<QCheckBox>("chkPerformBitmask").text().isEmpty());
  for (const char* list :
       {"cboPort", "cboDataRate", "cboFrameComp", "cboStartTime", "cboEndTime"}) {
    EXPECT_FALSE(List(list).isEditable()) << list;
  }
  std::set<std::string> labels;
  for (const QLabel* label : window->findChildren<QLabel*>()) {
    labels.insert(label->text().toStdString());
  }
  for (const char* text : {" COM Port:", "Baud Rate:", "Frame Timing:", "Start Time:", "End Time:",
                           "Please wait while the sequence is being imported..."}) {
    EXPECT_EQ(labels.count(text), 1u) << text;
  }
  EXPECT_EQ(Child<QLabel>("lblStatus").width(), 721);
  EXPECT_TRUE(Child<QLabel>("lblStatus").font().bold());
  EXPECT_EQ(Child<QGroupBox>("Frame2").width(), 449);
  EXPECT_EQ(Child<QGroupBox>("Frame3").width(), 449);
  EXPECT_EQ(Child<QGroupBox>("Frame4").width(), 449);
  EXPECT_TRUE(Child<QLineEdit>("Text1").font().bold());
  EXPECT_NE(window->findChild<QWidget*>(QStringLiteral("WindowsMedia")), nullptr);
}

TEST_F(WindowLookTest, NoControlSticksOutOfItsParent) {
  Start();
  for (const QWidget* child : window->findChildren<QWidget*>()) {
    const QWidget* parent = child->parentWidget();
    if (!child->isVisibleTo(window.get()) || parent == nullptr) continue;
    // Pop-up parts of the lists live in their own windows.
    if (child->isWindow()) continue;
    EXPECT_TRUE(parent->rect().contains(child->geometry()))
        << child->objectName().toStdString() << " in " << parent->objectName().toStdString();
  }
}

}  // namespace
}  // namespace shelltest
