#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/sequence_reader.h"
#include "tests/fakes/temp_dir.h"

namespace importer {
namespace {

// Documents are written one element per line, so the lines in the expected
// messages can be counted by eye.
std::string Doc(const std::string& audio, const std::string& controllers) {
  return "<?xml version=\"1.0\"?>\n"  // 1
         "<Sequence>\n" +             // 2
         audio +                      // 3..
         controllers +
         "</Sequence>\n";
}

const std::string kAudio =
    "<AudioFile>\n"                  // 3
    "<Title>Carol</Title>\n"         // 4
    "<Artist>Choir</Artist>\n"       // 5
    "<FilePath>/a.wav</FilePath>\n"  // 6
    "</AudioFile>\n";                // 7

std::string Interval(const std::string& position, const std::string& effect, const std::string& in,
                     const std::string& out) {
  std::string x = "<TimeInterval>\n";
  if (!position.empty()) x += "<PositionInSamples>" + position + "</PositionInSamples>\n";
  if (!effect.empty()) x += "<Effect>" + effect + "</Effect>\n";
  if (!in.empty()) x += "<IntensityIn>" + in + "</IntensityIn>\n";
  if (!out.empty()) x += "<IntensityOut>" + out + "</IntensityOut>\n";
  return x + "</TimeInterval>\n";
}

// Lines: 8 Controller, 9 ControllerID, 10 Channel, 11 ChannelNumber,
// 12 TimeInterval, 13.. its values.
std::string OneController(const std::string& id, const std::string& channel,
                          const std::string& interval) {
  return "<Controller>\n<ControllerID>" + id + "</ControllerID>\n<Channel>\n<ChannelNumber>" +
         channel + "</ChannelNumber>\n" + interval + "</Channel>\n</Controller>\n";
}

struct RefusalCase {
  const char* name;
  std::string bytes;
  std::string expected;  // the part after "cannot be imported: "
};
void PrintTo(const RefusalCase& c, std::ostream* os) {
  *os << c.name;
}

const std::string kGood = Interval("0", "1", "0", "255");

const RefusalCase kRefusals[] = {
    {"Empty", "", "it is not well-formed XML on line 1 (No document element found)"},
    {"Malformed", Doc(kAudio, "<Controller>\n<ControllerID>1</Controller>\n"),
     "it is not well-formed XML on line 9 (Start-end tags mismatch)"},
    {"NoAudioFile", "<Sequence>\n</Sequence>\n", "it has no AudioFile element"},
    {"NoTitle", Doc("<AudioFile>\n<Artist>A</Artist>\n<FilePath>x</FilePath>\n</AudioFile>\n", ""),
     "the AudioFile element on line 3 has no Title element"},
    {"NoControllerID", Doc(kAudio, "<Controller>\n<Channel/>\n</Controller>\n"),
     "the Controller element on line 8 has no ControllerID element"},
    {"EmptyControllerID", Doc(kAudio, OneController("  ", "1", kGood)),
     "the ControllerID element on line 9 has no value"},
    {"ControllerIDNotANumber", Doc(kAudio, OneController("three", "1", kGood)),
     "the ControllerID element on line 9 holds \"three\", which is not a number"},
    {"ControllerIDTooBig", Doc(kAudio, OneController("2147483647.5", "1", kGood)),
     "the ControllerID element on line 9 holds \"2147483647.5\", which does not fit a 32-bit "
     "whole number"},
    {"NoChannelNumber",
     Doc(kAudio, "<Controller>\n<ControllerID>1</ControllerID>\n<Channel>\n" + kGood +
                     "</Channel>\n</Controller>\n"),
     "the Channel element on line 10 has no ChannelNumber element"},
    {"ChannelNumberDecimalComma", Doc(kAudio, OneController("1", "1,5", kGood)),
     "the ChannelNumber element on line 11 holds \"1,5\", which is not a number"},
    {"Channel0", Doc(kAudio, OneController("1", "0", kGood)),
     "the ChannelNumber element on line 11 holds 0, but channels are numbered 1 to 16"},
    {"Channel17", Doc(kAudio, OneController("1", "17", kGood)),
     "the ChannelNumber element on line 11 holds 17, but channels are numbered 1 to 16"},
    {"NoPosition", Doc(kAudio, OneController("1", "1", Interval("", "1", "0", "0"))),
     "the TimeInterval element on line 12 has no PositionInSamples element"},
    {"NoIntensityInEvenForEffect7",
     Doc(kAudio, OneController("1", "1", Interval("0", "7", "", "0"))),
     "the TimeInterval element on line 12 has no IntensityIn element"},
    {"PositionTooBig", Doc(kAudio, OneController("1", "1", Interval("3e9", "1", "0", "0"))),
     "the PositionInSamples element on line 13 holds \"3e9\", which does not fit a 32-bit whole "
     "number"},
    {"LongTextIsCut",
     Doc(kAudio, OneController("1", "1", Interval("0", std::string(60, 'x'), "0", "0"))),
     "the Effect element on line 14 holds \"" + std::string(40, 'x') +
         "...\", which is not a number"},
    {"SecondIntervalIsBad",
     Doc(kAudio, OneController("1", "1", kGood + Interval("9", "1", "-", "0"))),
     "the IntensityIn element on line 21 holds \"-\", which is not a number"},
    {"CrLfLinesCount",
     "<Sequence>\r\n<AudioFile>\r\n<Title>A</Title>\r\n<Artist>B</Artist>\r\n<FilePath>x"
     "</FilePath>\r\n</AudioFile>\r\n<Controller>\r\n<ControllerID>?</ControllerID>\r\n"
     "</Controller>\r\n</Sequence>\r\n",
     "the ControllerID element on line 8 holds \"?\", which is not a number"},
    {"Windows1252LinesCountAfterConversion",
     "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<S>\n<AudioFile>\n<Title>\xE9\xE9\xE9"
     "</Title>\n<Artist>\x96</Artist>\n<FilePath>x</FilePath>\n</AudioFile>\n<Controller>\n"
     "<ControllerID>\xE9</ControllerID>\n</Controller>\n</S>\n",
     "the ControllerID element on line 9 holds \"\xC3\xA9\", which is not a number"},
    {"UnreadableEncoding",
     "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<S><Title>\x82\xA0</Title></S>",
     "it declares the text encoding \"Shift_JIS\", which this program cannot read (save it as "
     "UTF-8 or windows-1252)"},
};

class ReaderRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ReaderRefusal, NamesTheElementAndItsLine) {
  fakes::TempDir dir;
  const std::string path = dir.File("Show");
  fakes::WriteBytes(path, GetParam().bytes);

  auto read = ReadSequenceDocument(path);
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.message(), "The sequence document \"" + path +
                                "\" cannot be imported: " + GetParam().expected + ".");
}

INSTANTIATE_TEST_SUITE_P(Cases, ReaderRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// A skipped controller is not read, so its content cannot refuse the import.
TEST(Reader, DoesNotCheckSkippedControllers) {
  fakes::TempDir dir;
  const std::string path = dir.File("Show");
  fakes::WriteBytes(path, Doc(kAudio, OneController("0", "99", Interval("x", "", "", ""))));

  auto read = ReadSequenceDocument(path);
  EXPECT_TRUE(read.ok()) << read.message();
}

TEST(Reader, RefusesAMissingFileAndAFolder) {
  fakes::TempDir dir;
  auto missing = ReadSequenceDocument(dir.File("Nothing"));
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.message(), "The sequence document \"" + dir.File("Nothing") +
                                   "\" cannot be imported: the file does not exist.");

  auto folder = ReadSequenceDocument(dir.path().string());
  ASSERT_FALSE(folder.ok());
  EXPECT_NE(folder.message().find("it is a folder, not a file"), std::string::npos);
}

struct NumberCase {
  const char* text;
  bool roundDown;
  std::int32_t value;
  NumberError error;
};

TEST(Reader, ParsesNumbers) {
  const NumberCase cases[] = {
      {"2.5", false, 2, NumberError::kNone},
      {"3.5", false, 4, NumberError::kNone},
      {"-2.5", false, -2, NumberError::kNone},
      {"-3.5", false, -4, NumberError::kNone},
      {"0.49999", false, 0, NumberError::kNone},
      {"-0.5", false, 0, NumberError::kNone},
      {"1e-999", false, 0, NumberError::kNone},
      {".5", false, 0, NumberError::kNone},
      {"7.", false, 7, NumberError::kNone},
      {"-2147483648.4", false, -2147483648, NumberError::kNone},
      {"-2147483648.6", false, 0, NumberError::kOutOfRange},
      {"-2147483648.5", false, -2147483648, NumberError::kNone},
      {"2147483646.5", false, 2147483646, NumberError::kNone},
      {"2147483647.9", true, 2147483647, NumberError::kNone},
      {"-0.1", true, -1, NumberError::kNone},
      {"5.9999", true, 5, NumberError::kNone},
      {"", false, 0, NumberError::kEmpty},
      {" \r\n", true, 0, NumberError::kEmpty},
      {"nan", false, 0, NumberError::kNotANumber},
      {"+-1", false, 0, NumberError::kNotANumber},
      {"++1", false, 0, NumberError::kNotANumber},
      {"1 2", false, 0, NumberError::kNotANumber},
      {"&H10", false, 0, NumberError::kNotANumber},
      {"2147483647", false, 2147483647, NumberError::kNone},
      {"2147483648", false, 0, NumberError::kOutOfRange},
      {"-2147483648", true, -2147483648, NumberError::kNone},
      {"-2147483649", false, 0, NumberError::kOutOfRange},
      {"99999999999", false, 0, NumberError::kOutOfRange},
      {"00000000000000000007", false, 7, NumberError::kNone},
      {"-", false, 0, NumberError::kNotANumber},
      {"1e999", true, 0, NumberError::kOutOfRange},
      {"-0", false, 0, NumberError::kNone},
  };
  for (const auto& c : cases) {
    const ParsedNumber parsed =
        c.roundDown ? ParseFlooredNumber(c.text) : ParseRoundedNumber(c.text);
    EXPECT_EQ(parsed.error, c.error) << c.text;
    if (c.error == NumberError::kNone) {
      EXPECT_EQ(parsed.value, c.value) << c.text;
    }
  }
}

TEST(Reader, MapsEffectsAndChannels) {
  const std::optional<std::int32_t> commands[] = {0, 34, 34, 33, 33, 36, 37, std::nullopt, 0};
  for (int effect = 0; effect <= 8; ++effect) {
    EXPECT_EQ(EffectToCommand(effect), commands[effect]) << effect;
  }
  EXPECT_EQ(EffectToCommand(-1), 0);
  const std::int32_t bits[] = {0, 1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  for (int channel = 0; channel <= 16; ++channel) EXPECT_EQ(ChannelToBit(channel), bits[channel]);
  EXPECT_EQ(ChannelToBit(-5), 0);
}

}  // namespace
}  // namespace importer
