#include <gtest/gtest.h>

#include <string>

#include "import/compile_sequence.h"
#include "import/import_driver.h"
#include "platform/win/win_user_interface.h"

namespace platform::win {
namespace {

using namespace std::string_literals;

TEST(DialogFilter, PairsAreTrimmedAndZeroEnded) {
  const struct {
    const char* filter;
    std::wstring expected;
  } cases[] = {
      {"Spectrum Sequences (*.msq) | *.msq", L"Spectrum Sequences (*.msq)\0*.msq\0\0"s},
      {"WAV Files (*.wav) | *.wav| MP3 Files (*.mp3) | *.mp3",
       L"WAV Files (*.wav)\0*.wav\0MP3 Files (*.mp3)\0*.mp3\0\0"s},
      // A description without its pattern shows every file.
      {"All", L"All\0*.*\0\0"s},
      {"Songs | *.wav;*.mp3 |", L"Songs\0*.wav;*.mp3\0\0"s},
      // A pattern alone is its own description.
      {" | *.msq", L"*.msq\0*.msq\0\0"s},
      {"", L"\0"s},
      {" | ", L"\0"s},
      // Non-ASCII descriptions reach the dialog whole.
      {"S\xC3\xA9quences | *.msq", L"S\u00E9quences\0*.msq\0\0"s},
  };
  for (const auto& c : cases) EXPECT_EQ(DialogFilter(c.filter), c.expected) << c.filter;
}

TEST(DialogFilter, TheProgramsOwnFiltersGiveTwoZeroEndedPieces) {
  for (const char* filter : {importer::kSequenceFilter, importer::kAudioFileFilter}) {
    const std::wstring converted = DialogFilter(filter);
    ASSERT_GE(converted.size(), 2u);
    EXPECT_EQ(converted.substr(converted.size() - 2), L"\0\0"s) << filter;
    EXPECT_EQ(converted.find(L'|'), std::wstring::npos) << filter;
    EXPECT_EQ(converted.find(L" \0"s), std::wstring::npos) << "untrimmed: " << filter;
  }
}

}  // namespace
}  // namespace platform::win
