#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <set>
#include <string>
#include <vector>

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
  EXPECT_EQ(Child<QGroupBox>("Frame3").width(), 449);
  EXPECT_NE(window->findChild<QWidget*>(QStringLiteral("WindowsMedia")), nullptr);
}

TEST_F(WindowLookTest, NoCaptionIsClipped) {
  Start();
  window->ShowImportingPanel(true);
  for (const QLabel* label : window->findChildren<QLabel*>()) {
    if (label->objectName() == QStringLiteral("lblStatus")) continue;  // set at run time
    const int needed =
        label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
    EXPECT_LE(needed, label->height()) << label->text().toStdString();
    if (!label->wordWrap()) {
      EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
    }
  }
  for (const QPushButton* button : window->findChildren<QPushButton*>()) {
    EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()) + 8, button->width())
        << button->text().toStdString();
  }
  // The longest status text fits the status line.
  window->SetStatus("Show Paused - Waiting For Time Between The Specified Start And End Times");
  const QLabel& status = Child<QLabel>("lblStatus");
  EXPECT_LE(status.sizeHint().width(), status.width());
}

TEST_F(WindowLookTest, SiblingControlsDoNotOverlap) {
  Start();
  QList<QWidget*> parents = window->findChildren<QWidget*>();
  parents.append(window.get());
  for (const QWidget* parent : parents) {
    std::vector<const QWidget*> children;
    for (const QObject* object : parent->children()) {
      const auto* child = qobject_cast<const QWidget*>(object);
      // The importing panel is meant to lie over the window while it shows.
      if (child != nullptr && !child->isWindow() && child->isVisibleTo(window.get()) &&
          child->objectName() != QStringLiteral("frmImporting") &&
          !child->objectName().startsWith(QStringLiteral("qt_"))) {
        children.push_back(child);
      }
    }
    if (qobject_cast<const QAbstractScrollArea*>(parent) != nullptr) continue;
    for (std::size_t i = 0; i < children.size(); ++i) {
      for (std::size_t j = i + 1; j < children.size(); ++j) {
        EXPECT_FALSE(children[i]->geometry().intersects(children[j]->geometry()))
            << children[i]->objectName().toStdString() << " / "
            << children[j]->objectName().toStdString() << " ("
            << children[i]->metaObject()->className() << ", "
            << children[j]->metaObject()->className() << ")";
      }
    }
  }
}

}  // namespace
}  // namespace shelltest
