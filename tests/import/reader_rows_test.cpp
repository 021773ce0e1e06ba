#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/sequence_reader.h"
#include "tests/fakes/temp_dir.h"
#include "tests/import/sequence_xml.h"

namespace importer {
namespace {

using sequence_xml::Channel;
using sequence_xml::Controller;
using sequence_xml::Interval;
using sequence_xml::Sequence;

struct RowCase {
  const char* name;
  std::vector<Controller> controllers;
  std::vector<SequenceRow> rows;
};
void PrintTo(const RowCase& c, std::ostream* os) {
  *os << c.name;
}

// Rows are {SampleNumber, Device, Channel, Command, StartIntensity, EndIntensity}.
const RowCase kRowCases[] = {
    {"FadeOnChannel1", {{"3", {{"1", {{"88200", "1", "0", "255"}}}}}}, {{88200, 3, 1, 34, 0, 255}}},
    {"Effect2IsAFadeToo", {{"3", {{"8", {{"5", "2", "1", "2"}}}}}}, {{5, 3, 128, 34, 1, 2}}},
    {"Effect3", {{"1", {{"2", {{"0", "3", "7", "8"}}}}}}, {{0, 1, 2, 33, 7, 8}}},
    {"Effect4IntensitiesAre240",
     {{"1", {{"3", {{"0", "4", "10", "20"}}}}}},
     {{0, 1, 4, 33, 240, 240}}},
    {"Effect4InBank2", {{"1", {{"11", {{"0", "4", "10", "20"}}}}}}, {{0, 1, 4, 23, 240, 240}}},
    {"Effect5And6",
     {{"1", {{"4", {{"0", "5", "1", "2"}, {"9", "6", "3", "4"}}}}}},
     {{0, 1, 8, 36, 1, 2}, {9, 1, 8, 37, 3, 4}}},
    {"Effect7MakesNoRow",
     {{"1", {{"1", {{"0", "7", "1", "2"}, {"10", "1", "0", "9"}}}}}},
     {{10, 1, 1, 34, 0, 9}}},
    {"UnknownEffectIsCommand0", {{"1", {{"1", {{"0", "9", "1", "2"}}}}}}, {{0, 1, 1, 0, 1, 2}}},
    {"UnknownEffectInBank2IsMinus10",
     {{"1", {{"16", {{"0", "0", "1", "2"}}}}}},
     {{0, 1, 128, -10, 1, 2}}},
    {"Channel9OfController2", {{"2", {{"9", {{"0", "1", "0", "255"}}}}}}, {{0, 2, 1, 24, 0, 255}}},
    {"Channel16", {{"2", {{"16", {{"0", "1", "0", "255"}}}}}}, {{0, 2, 128, 24, 0, 255}}},
    {"Controller0IsSkipped",
     {{"0", {{"1", {{"0", "1", "0", "255"}}}}}, {"4", {{"1", {{"7", "1", "0", "255"}}}}}},
     {{7, 4, 1, 34, 0, 255}}},
    {"NegativeControllerIsSkipped", {{"-2", {{"1", {{"0", "1", "0", "255"}}}}}}, {}},
    {"PositionIsRoundedDown",
     {{"1", {{"1", {{"1000.9", "1", "0", "1"}}}}}},
     {{1000, 1, 1, 34, 0, 1}}},
    {"NegativePositionIsRoundedDown",
     {{"1", {{"1", {{"-0.5", "1", "0", "1"}}}}}},
     {{-1, 1, 1, 34, 0, 1}}},
    {"HalvesGoToEven", {{"1", {{"1", {{"0", "1", "12.5", "13.5"}}}}}}, {{0, 1, 1, 34, 12, 14}}},
    {"EffectIsRoundedToNearest",
     {{"1", {{"1", {{"0", "2.5", "0", "0"}, {"0", "4.6", "0", "0"}}}}}},
     {{0, 1, 1, 34, 0, 0}, {0, 1, 1, 36, 0, 0}}},
    {"ChannelNumberIsRounded",
     {{"1.5", {{"8.5", {{"0", "1", "0", "0"}}}}}},
     {{0, 2, 128, 34, 0, 0}}},
    {"BlanksAroundNumbersAndSigns",
     {{" 5 ", {{"\n 2\t", {{" +7 ", "1", "-3", "1e2"}}}}}},
     {{7, 5, 2, 34, -3, 100}}},
    {"RowsInDocumentOrderAcrossControllers",
     {{"2", {{"3", {{"50", "1", "0", "1"}}}, {"1", {{"10", "3", "2", "2"}}}}},
      {"1", {{"9", {{"0", "5", "4", "4"}}}}}},
     {{50, 2, 4, 34, 0, 1}, {10, 2, 1, 33, 2, 2}, {0, 1, 1, 26, 4, 4}}},
};

class ReaderRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(ReaderRows, GivesTheRowsOfTheDocument) {
  fakes::TempDir dir;
  Sequence sequence;
  sequence.controllers = GetParam().controllers;
  const std::string path = dir.File("Show");
  fakes::WriteBytes(path, sequence_xml::ToXml(sequence));

  auto read = ReadSequenceDocument(path);
  ASSERT_TRUE(read.ok()) << read.message();
  EXPECT_EQ(read.value().rows, GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReaderRows, ::testing::ValuesIn(kRowCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Reader, ListsEveryChannelOfReadControllersWithItsRowsEvenWithoutIntervals) {
  fakes::TempDir dir;
  Sequence sequence;
  sequence.controllers = {{"3", {{"12", {}}, {"1", {{"0", "1", "0", "1"}, {"5", "7", "0", "1"}}}}},
                          {"0", {{"4", {{"0", "1", "0", "1"}}}}}};
  const std::string path = dir.File("Show");
  fakes::WriteBytes(path, sequence_xml::ToXml(sequence));

  auto read = ReadSequenceDocument(path);
  ASSERT_TRUE(read.ok()) << read.message();
  const auto& channels = read.value().channels;
  ASSERT_EQ(channels.size(), 2u);
  EXPECT_EQ(channels[0].device, 3);
  EXPECT_EQ(channels[0].channelNumber, 12);
  EXPECT_EQ(channels[0].rowCount, 0u);
  EXPECT_EQ(channels[1].channelNumber, 1);
  EXPECT_EQ(channels[1].firstRow, 0u);
  EXPECT_EQ(channels[1].rowCount, 1u);
}

TEST(Reader, FindsElementsAtAnyDepthAndTakesTheFirstInDocumentOrder) {
  fakes::TempDir dir;
  const std::string path = dir.File("Show");
  fakes::WriteBytes(path,
                    "<Show><Meta><AudioFile><Info><Title>Carol</Title><Title>Second</Title></Info>"
                    "<Artist>Choir</Artist><Where><FilePath> /music/carol.wav </FilePath></Where>"
                    "</AudioFile></Meta><AudioFile><Title>Ignored</Title></AudioFile>"
                    "<Controller><Head><ControllerID>4</ControllerID></Head><Channel><Deep>"
                    "<ChannelNumber>2</ChannelNumber></Deep><TimeInterval><A><Effect>3</Effect>"
                    "</A><Effect>1</Effect><IntensityOut>9</IntensityOut><B><IntensityIn>8"
                    "</IntensityIn></B><PositionInSamples>77</PositionInSamples></TimeInterval>"
                    "</Channel></Controller></Show>");

  auto read = ReadSequenceDocument(path);
  ASSERT_TRUE(read.ok()) << read.message();
  EXPECT_EQ(read.value().DisplayTitle(), "Carol - Choir");
  EXPECT_EQ(read.value().filePath, "/music/carol.wav");
  EXPECT_EQ(read.value().rows, (std::vector<SequenceRow>{{77, 4, 2, 33, 8, 9}}));
}

TEST(Reader, ReadsTextWithEntitiesAndCdataAndAttributesAreIgnored) {
  fakes::TempDir dir;
  const std::string path = dir.File("Show");
  fakes::WriteBytes(path,
                    "<Show><AudioFile Title=\"Attr\"><Title>Rock &amp; Roll</Title>"
                    "<Artist><![CDATA[<Band>]]></Artist><FilePath>a.wav</FilePath></AudioFile>"
                    "</Show>");

  auto read = ReadSequenceDocument(path);
  ASSERT_TRUE(read.ok()) << read.message();
  EXPECT_EQ(read.value().DisplayTitle(), "Rock & Roll - <Band>");
  EXPECT_TRUE(read.value().rows.empty());
}

struct EncodingCase {
  const char* name;
  std::string declaration;  // text before the document element
  std::string titleBytes;   // as the file holds them
  std::string expectedUtf8;
};
void PrintTo(const EncodingCase& c, std::ostream* os) {
  *os << c.name;
}

const EncodingCase kEncodingCases[] = {
    {"Windows1252", "<?xml version=\"1.0\" encoding=\"windows-1252\"?>",
     "Caf\xE9 \x96 No\xEBl \x80", "Caf\xC3\xA9 \xE2\x80\x93 No\xC3\xABl \xE2\x82\xAC"},
    {"Windows1252SingleQuotesAndCase", "<?xml version='1.0' encoding='Windows-1252' ?>",
     "\x93Hi\x94", "\xE2\x80\x9CHi\xE2\x80\x9D"},
    {"Latin1ReadAsWindows1252", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "Caf\xE9 \x96",
     "Caf\xC3\xA9 \xE2\x80\x93"},
    {"Latin9EuroSign", "<?xml version=\"1.0\" encoding=\"iso-8859-15\"?>", "5 \xA4 \xBD",
     "5 \xE2\x82\xAC \xC5\x93"},
    {"Utf8WithByteOrderMark", "\xEF\xBB\xBF<?xml version=\"1.0\"?>", "No\xC3\xABl", "No\xC3\xABl"},
    {"NoDeclarationMeansUtf8", "", "No\xC3\xABl", "No\xC3\xABl"},
    {"UnknownEncodingButPlainAscii", "<?xml version=\"1.0\" encoding=\"windows-1250\"?>", "Carol",
     "Carol"},
};

class ReaderEncoding : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(ReaderEncoding, ShowsTitleAndArtistAsUtf8) {
  fakes::TempDir dir;
  const std::string path = dir.File("Show");
  const auto& c = GetParam();
  fakes::WriteBytes(path, c.declaration + "<Show><AudioFile><Title>" + c.titleBytes +
                              "</Title><Artist>" + c.titleBytes +
                              "</Artist><FilePath>x.wav</FilePath></AudioFile></Show>");

  auto read = ReadSequenceDocument(path);
  ASSERT_TRUE(read.ok()) << read.message();
  EXPECT_EQ(read.value().title, c.expectedUtf8);
  EXPECT_EQ(read.value().artist, c.expectedUtf8);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReaderEncoding, ::testing::ValuesIn(kEncodingCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A document mostly made of 8-bit characters grows by more than the room
// kept for converting in place.
TEST(Reader, ConvertsDocumentsThatDoubleInSize) {
  fakes::TempDir dir;
  const std::string path = dir.File("Show");
  const std::string title(20000, '\xE9');
  fakes::WriteBytes(path, "<?xml version=\"1.0\" encoding=\"windows-1252\"?><S><AudioFile><Title>" +
                              title +
                              "</Title><Artist>\x80</Artist><FilePath>x</FilePath>"
                              "</AudioFile></S>");

  auto read = ReadSequenceDocument(path);
  ASSERT_TRUE(read.ok()) << read.message();
  std::string expected;
  for (int i = 0; i < 20000; ++i) expected += "\xC3\xA9";
  EXPECT_EQ(read.value().title, expected);
  EXPECT_EQ(read.value().artist, "\xE2\x82\xAC");
}

// A UTF-16 document (what some Windows tools save) with a title outside the
// Basic Multilingual Plane: both byte orders, with and without a mark.
TEST(Reader, ReadsUtf16Documents) {
  const std::u16string text =
      u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<S><AudioFile><Title>Caf\u00e9 \U0001F3B5"
      u"</Title><Artist>A</Artist><FilePath>x</FilePath></AudioFile></S>";
  for (const bool bigEndian : {false, true}) {
    for (const bool mark : {false, true}) {
      std::string bytes;
      auto put = [&](char16_t u) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        bytes += bigEndian ? hi : lo;
        bytes += bigEndian ? lo : hi;
      };
      if (mark) put(0xFEFF);
      for (char16_t u : text) put(u);
      fakes::TempDir dir;
      fakes::WriteBytes(dir.File("Show"), bytes);

      auto read = ReadSequenceDocument(dir.File("Show"));
      ASSERT_TRUE(read.ok()) << read.message();
      EXPECT_EQ(read.value().title, "Caf\xC3\xA9 \xF0\x9F\x8E\xB5") << bigEndian << mark;
    }
  }
}

}  // namespace
}  // namespace importer
