#include <gtest/gtest.h>

#include <string>

#include "platform/qt/qt_file_filter.h"
#include "platform/qt/qt_text.h"

namespace {

using platform::qt::FromQString;
using platform::qt::ToQString;
using platform::qt::ToQtFileFilter;

struct TextCase {
  const char* name;
  std::string bytes;
  QString text;
};

class ToQStringTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(ToQStringTest, Utf8ElseWindows1252) {
  EXPECT_EQ(ToQString(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, ToQStringTest,
    ::testing::Values(
        TextCase{"Ascii", "Summer Show", QStringLiteral("Summer Show")},
        TextCase{"Utf8", "Caf\xC3\xA9 \xE2\x82\xAC", QString::fromUtf8("Caf\xC3\xA9 \xE2\x82\xAC")},
        TextCase{"Windows1252", "Caf\xE9 \x80", QString::fromUtf8("Caf\xC3\xA9 \xE2\x82\xAC")},
        TextCase{"DegreeSignAlone",
                 "\xB0"
                 "0.94",
                 QString::fromUtf8("\xC2\xB0"
                                   "0.94")},
        TextCase{"Unassigned1252ByteKept", "\x81", QString(QChar(0x81))},
        TextCase{"TruncatedUtf8", "a\xC3", QString::fromUtf8("a\xC3\x83")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FromQStringTest, ChosenPathsComeBackAsUtf8) {
  EXPECT_EQ(FromQString(QString::fromUtf8("/m\xC3\xBAsica/a b.msq")), "/m\xC3\xBAsica/a b.msq");
}

struct FilterCase {
  const char* name;
  std::string windows;
  QString qt;
};

class FileFilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FileFilterTest, BecomesQtsForm) {
  EXPECT_EQ(ToQtFileFilter(GetParam().windows), GetParam().qt);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, FileFilterTest,
    ::testing::Values(FilterCase{"Audio", "WAV Files (*.wav) | *.wav| MP3 Files (*.mp3) | *.mp3",
                                 QStringLiteral("WAV Files (*.wav);;MP3 Files (*.mp3)")},
                      FilterCase{"Sequences", "Spectrum Sequences (*.msq) | *.msq",
                                 QStringLiteral("Spectrum Sequences (*.msq)")},
                      FilterCase{"DescriptionWithoutPattern", "All files|*.*",
                                 QStringLiteral("All files (*.*)")},
                      FilterCase{"SeveralPatterns", "Audio (*.wav;*.mp3)|*.wav;*.mp3",
                                 QStringLiteral("Audio (*.wav *.mp3)")},
                      FilterCase{"MissingPattern", "Sequences", QStringLiteral("Sequences (*)")},
                      FilterCase{"Empty", "", QString()}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
