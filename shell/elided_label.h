#pragma once

#include <QLabel>
#include <QString>

namespace shell {

// A label for texts that may be longer than the label is wide. Each line that
// does not fit is cut and ends in "…"; the whole text is then the tooltip, so
// nothing the program says is out of reach. An explicit tooltip, when given,
// is shown instead (for a label that also keeps earlier texts).
class ElidedLabel : public QLabel {
 public:
  ElidedLabel(Qt::TextElideMode mode, QWidget* parent);

  void SetFullText(const QString& text, const QString& toolTip = QString());
  const QString& FullText() const { return full_; }
  // True when some line of the text had to be cut.
  bool IsElided() const { return elided_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Elide();

  Qt::TextElideMode mode_;
  QString full_;
  QString toolTip_;
  bool elided_ = false;
};

}  // namespace shell
