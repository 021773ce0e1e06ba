#include <QAbstractScrollArea>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QVariant>
#include <set>
#include <string>
#include <vector>

#include "tests/shell/window_fixture.h"

namespace shelltest {
namespace {

using WindowLookTest = WindowTest;

TEST_F(WindowLookTest, RendersEveryCaptionOnceWithNothingClippedOrOverlapping) {
  Start();
  std::multiset<std::string> captions;
  for (const QWidget* widget : window->findChildren<QWidget*>()) {
    for (const char* property : {"title", "text"}) {
      const QVariant value = widget->property(property);
      if (value.typeId() == QMetaType::QString) captions.insert(value.toString().toStdString());
    }
  }
  for (const char* text :
       {"Playlist", "Communication Preferences", "Show Control", "Show Schedule", "Start", "Stop",
        "Add", "Remove", "Move Up", "Move Down", " COM Port:", "Baud Rate:", "Frame Timing:",
        "Start Time:", "End Time:", "Perfrom Bitmask Optimization When Importing ",
        "Please wait while the sequence is being imported..."}) {
    EXPECT_EQ(captions.count(text), 1u) << text;
  }

  const QImage image = window->grab().toImage();
  EXPECT_EQ(image.width(), 845);
  EXPECT_EQ(image.height(), 530);
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

  // No caption is clipped, not even the longest status text.
  window->ShowImportingPanel(true);
  window->SetStatus("Show Paused - Waiting For Time Between The Specified Start And End Times");
  for (const QLabel* label : window->findChildren<QLabel*>()) {
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

  window->ShowImportingPanel(false);
  QList<QWidget*> parents = window->findChildren<QWidget*>();
  parents.append(window.get());
  for (const QWidget* parent : parents) {
    if (qobject_cast<const QAbstractScrollArea*>(parent) != nullptr) continue;
    std::vector<const QWidget*> children;
    for (const QObject* object : parent->children()) {
      const auto* child = qobject_cast<const QWidget*>(object);
      if (child != nullptr && !child->isWindow() && child->isVisibleTo(window.get()) &&
          !child->objectName().startsWith(QStringLiteral("qt_"))) {
        children.push_back(child);
      }
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
      for (std::size_t j = i + 1; j < children.size(); ++j) {
        EXPECT_FALSE(children[i]->geometry().intersects(children[j]->geometry()))
            << children[i]->objectName().toStdString() << " / "
            << children[j]->objectName().toStdString();
      }
    }
  }
}

}  // namespace
}  // namespace shelltest
