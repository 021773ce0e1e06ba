#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "platform/qt/qt_file_filter.h"
#include "platform/qt/qt_text.h"

namespace {

using platform::qt::FromQString;
using platform::qt::ToQString;
using platform::qt::ToQtFileFilter;

TEST(QtTextTest, BytesAreReadAsUtf8ElseAsWindows1252) {
  const std::tuple<const char*, std::string, QString> cases[] = {
      {"Ascii", "Summer Show", QStringLiteral("Summer Show")},
      {"Utf8", "Caf\xC3\xA9 \xE2\x82\xAC", QString::fromUtf8("Caf\xC3\xA9 \xE2\x82\xAC")},
      {"Windows1252", "Caf\xE9 \x80", QString::fromUtf8("Caf\xC3\xA9 \xE2\x82\xAC")},
      {"DegreeSignAlone",
       "\xB0"
       "0.94",
       QString::fromUtf8("\xC2\xB0"
                         "0.94")},
      {"Unassigned1252ByteKept", "\x81", QString(QChar(0x81))},
      {"TruncatedUtf8", "a\xC3", QString::fromUtf8("a\xC3\x83")}};
  for (const auto& [name, bytes, text] : cases) EXPECT_EQ(ToQString(bytes), text) << name;
  // Paths chosen in a dialog come back as UTF-8.
  EXPECT_EQ(FromQString(QString::fromUtf8("/m\xC3\xBAsica/a b.msq")), "/m\xC3\xBAsica/a b.msq");
}

TEST(QtTextTest, FileFiltersBecomeQtsForm) {
  const std::pair<std::string, QString> cases[] = {
      {"WAV Files (*.wav) | *.wav| MP3 Files (*.mp3) | *.mp3",
       QStringLiteral("WAV Files (*.wav);;MP3 Files (*.mp3)")},
      {"Spectrum Sequences (*.msq) | *.msq", QStringLiteral("Spectrum Sequences (*.msq)")},
      {"All files|*.*", QStringLiteral("All files (*.*)")},  // description without pattern
      {"Audio (*.wav;*.mp3)|*.wav;*.mp3", QStringLiteral("Audio (*.wav *.mp3)")},
      {"Sequences", QStringLiteral("Sequences (*)")},
      {"", QString()}};
  for (const auto& [windows, qt] : cases) EXPECT_EQ(ToQtFileFilter(windows), qt) << windows;
}

}  // namespace
