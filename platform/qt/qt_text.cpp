#include "platform/qt/qt_text.h"

#include <QByteArray>
#include <QStringDecoder>

#include "text/text.h"

namespace platform::qt {
namespace {

QString FromWindows1252(std::string_view bytes) {
  QString decoded;
  decoded.reserve(static_cast<qsizetype>(bytes.size()));
  for (const char c : bytes) {
    decoded.append(
        QChar(static_cast<char16_t>(text::FromWindows1252(static_cast<unsigned char>(c)))));
  }
  return decoded;
}

}  // namespace

QString ToQString(std::string_view bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (!utf8.hasError()) return text;
  return FromWindows1252(bytes);
}

std::string FromQString(const QString& text) {
  return text.toStdString();
}

}  // namespace platform::qt
