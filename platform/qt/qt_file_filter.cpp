#include "platform/qt/qt_file_filter.h"

#include <QStringList>

#include "platform/qt/qt_text.h"

namespace platform::qt {
namespace {

QString QtPattern(const QString& windowsPattern) {
  QStringList patterns;
  for (const QString& p : windowsPattern.split(u';', Qt::SkipEmptyParts)) {
    const QString trimmed = p.trimmed();
    if (!trimmed.isEmpty()) patterns.append(trimmed);
  }
  return patterns.isEmpty() ? QStringLiteral("*") : patterns.join(u' ');
}

// "WAV Files (*.wav)" already names its pattern; a description without
// parentheses gets them, so Qt does not take the description for patterns.
QString Entry(QString description, const QString& windowsPattern) {
  const QString pattern = QtPattern(windowsPattern);
  const QString own = u'(' + windowsPattern.trimmed() + u')';
  if (description.endsWith(own)) description.chop(own.size());
  description = description.trimmed();
  if (description.isEmpty()) return pattern;
  return description + QStringLiteral(" (") + pattern + u')';
}

}  // namespace

QString ToQtFileFilter(const std::string& windowsFilter) {
  const QStringList parts = ToQString(windowsFilter).split(u'|');
  QStringList entries;
  for (qsizetype i = 0; i < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    const QString pattern = i + 1 < parts.size() ? parts[i + 1].trimmed() : QString();
    if (description.isEmpty() && pattern.isEmpty()) continue;
    entries.append(Entry(description, pattern));
  }
  return entries.join(QStringLiteral(";;"));
}

}  // namespace platform::qt
