#include "shell/elided_label.h"

#include <QFontMetrics>
#include <QStringList>

namespace shell {

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget* parent) : QLabel(parent), mode_(mode) {
  setTextFormat(Qt::PlainText);
}

void ElidedLabel::SetFullText(const QString& text, const QString& toolTip) {
  full_ = text;
  toolTip_ = toolTip;
  Elide();
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Elide();
}

void ElidedLabel::Elide() {
  const QFontMetrics metrics(font());
  const int width = contentsRect().width();
  QStringList lines = full_.split(QLatin1Char('\n'));
  elided_ = false;
  for (QString& line : lines) {
    if (metrics.horizontalAdvance(line) <= width) continue;
    line = metrics.elidedText(line, mode_, width);
    elided_ = true;
  }
  setText(lines.join(QLatin1Char('\n')));
  if (!toolTip_.isEmpty()) {
    setToolTip(toolTip_);
  } else {
    setToolTip(elided_ ? full_ : QString());
  }
}

}  // namespace shell
