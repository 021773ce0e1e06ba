#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "import/sequence_elements.h"
#include "import/sequence_reader.h"
#include "import/sequence_scanner.h"
#include "tests/fakes/run_program.h"
#include "tests/fakes/special_files.h"
#include "tests/fakes/temp_dir.h"
#include "tests/import/import_support.h"

namespace importer {
namespace {

std::string Repeat(const std::string& text, int times) {
  std::string repeated;
  for (int i = 0; i < times; ++i) repeated += text;
  return repeated;
}

// The reader takes a sound document in one pass over its bytes and leaves
// everything else to pugixml's tree. A document type, which pugixml passes
// over and the single pass never takes, sends a document down the tree road:
// with and without one, every document must read alike, rows, channels,
// texts and refusals. Read() takes both roads and gives the single pass's.
class Reader : public ::testing::Test {
 protected:
  // Device, number, first row, row count.
  using ChannelFields = std::tuple<std::int32_t, std::int32_t, std::size_t, std::size_t>;
  static std::vector<ChannelFields> Channels(const SequenceDocument& d) {
    std::vector<ChannelFields> channels;
    for (const auto& c : d.channels) {
      channels.emplace_back(c.device, c.channelNumber, c.firstRow, c.rowCount);
    }
    return channels;
  }
  platform::Result<SequenceDocument> ReadOneRoad(const std::string& bytes) {
    fakes::WriteBytes(path_, bytes);
    return ReadSequenceDocument(path_);
  }
  platform::Result<SequenceDocument> Read(const std::string& bytes) {
    auto fast = ReadOneRoad(bytes);
    const auto tree = ReadOneRoad(ThroughTree(bytes));
    EXPECT_EQ(fast.ok(), tree.ok()) << (fast.ok() ? tree.message() : fast.message());
    if (!fast.ok() || !tree.ok()) {
      EXPECT_EQ(fast.message(), tree.message());
      return fast;
    }
    const auto fields = [](const SequenceDocument& d) {
      return std::tuple(d.title, d.artist, d.filePath, d.rows, Channels(d));
    };
    EXPECT_TRUE(fields(fast.value()) == fields(tree.value())) << "the roads read it differently";
    return fast;
  }
  platform::Result<SequenceDocument> Read(const std::vector<fakes::Controller>& controllers) {
    return Read(fakes::ToXml({.filePath = "", .controllers = controllers}));
  }
  // The same document with a document type before its root, on the same
  // line, so line numbers in refusals stay where they were.
  static std::string ThroughTree(const std::string& bytes) {
    std::size_t at = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    if (bytes.compare(at, 5, "<?xml") == 0) at = bytes.find("?>", at) + 2;
    return bytes.substr(0, at) + "<!DOCTYPE Sequence>" + bytes.substr(at);
  }

  fakes::TempDir dir_;
  std::string path_ = dir_.File("Show");
};

// Rows are {SampleNumber, Device, Channel, Command, StartIntensity, EndIntensity}.
TEST_F(Reader, GivesOneRowPerInterval) {
  using Case = std::tuple<const char*, std::string, std::string, std::vector<fakes::Interval>,
                          std::vector<SequenceRow>>;  // name, controller, channel, intervals, rows
  const Case cases[] = {
      {"fade", "3", "1", {{"88200", "1", "0", "255"}}, {{88200, 3, 1, 34, 0, 255}}},
      {"effect 4 sends 240", "1", "3", {{"0", "4", "10", "20"}}, {{0, 1, 4, 33, 240, 240}}},
      {"effect 4, bank 2", "1", "11", {{"0", "4", "10", "20"}}, {{0, 1, 4, 23, 240, 240}}},
      {"effect 7", "1", "1", {{"0", "7", "1", "2"}, {"10", "1", "0", "9"}}, {{10, 1, 1, 34, 0, 9}}},
      {"unknown effect, bank 2", "1", "16", {{"0", "0", "1", "2"}}, {{0, 1, 128, -10, 1, 2}}},
      {"channel 9", "2", "9", {{"0", "1", "0", "255"}}, {{0, 2, 1, 24, 0, 255}}},
      {"channel 16", "2", "16", {{"0", "1", "0", "255"}}, {{0, 2, 128, 24, 0, 255}}},
      {"position rounded down", "1", "1", {{"1000.9", "1", "0", "1"}}, {{1000, 1, 1, 34, 0, 1}}},
      {"halves to even", "1", "1", {{"0", "1", "12.5", "13.5"}}, {{0, 1, 1, 34, 12, 14}}},
      {"effect 2.5 rounded", "1", "1", {{"0", "2.5", "0", "0"}}, {{0, 1, 1, 34, 0, 0}}},
      {"effect 4.6 rounded", "1", "1", {{"0", "4.6", "0", "0"}}, {{0, 1, 1, 36, 0, 0}}},
      {"ids rounded", "1.5", "8.5", {{"0", "1", "0", "0"}}, {{0, 2, 128, 34, 0, 0}}},
      {"blanks and signs", " 5 ", "\n 2\t", {{" +7 ", "1", "-3", "1e2"}}, {{7, 5, 2, 34, -3, 100}}},
  };
  for (const auto& [name, controller, channel, intervals, rows] : cases) {
    SCOPED_TRACE(name);
    auto read = Read({{controller, {{channel, intervals}}}});
    ASSERT_TRUE(read.ok()) << read.message();
    EXPECT_EQ(read.value().rows, rows);
  }
}

// Controllers 0 and below are not read; the others in document order, every
// channel listed with its rows, even without any.
TEST_F(Reader, ListsEveryChannelOfReadControllersInDocumentOrder) {
  auto read = Read({{"3", {{"12", {}}, {"1", {{"50", "1", "0", "1"}, {"5", "7", "0", "1"}}}}},
                    {"0", {{"4", {{"0", "1", "0", "1"}}}}},
                    {"-2", {{"4", {{"0", "1", "0", "1"}}}}},
                    {"1", {{"9", {{"0", "5", "4", "4"}}}}}});
  ASSERT_TRUE(read.ok()) << read.message();
  EXPECT_EQ(read.value().rows,
            (std::vector<SequenceRow>{{50, 3, 1, 34, 0, 1}, {0, 1, 1, 26, 4, 4}}));
  EXPECT_EQ(Channels(read.value()),
            (std::vector<ChannelFields>{{3, 12, 0, 0}, {3, 1, 0, 1}, {1, 9, 1, 1}}));
}

TEST_F(Reader, FindsElementsAtAnyDepthFirstInDocumentOrderWithEntitiesAndCdata) {
  auto read = Read(
      "<Show><Meta><AudioFile Title=\"Attr\"><Info><Title>Rock &amp; Roll</Title><Title>Second"
      "</Title></Info><Artist><![CDATA[<Band>]]></Artist><Where><FilePath> /music/carol.wav "
      "</FilePath></Where></AudioFile></Meta><AudioFile><Title>Ignored</Title></AudioFile>"
      "<Controller><Head><ControllerID>4</ControllerID></Head><Channel><Deep><ChannelNumber>2"
      "</ChannelNumber></Deep><TimeInterval><A><Effect>3</Effect></A><Effect>1</Effect>"
      "<IntensityOut>9</IntensityOut><B><IntensityIn>8</IntensityIn></B><PositionInSamples>77"
      "</PositionInSamples></TimeInterval></Channel></Controller></Show>");
  ASSERT_TRUE(read.ok()) << read.message();
  EXPECT_EQ(read.value().DisplayTitle(), "Rock & Roll - <Band>");
  EXPECT_EQ(read.value().filePath, "/music/carol.wav");
  EXPECT_EQ(read.value().rows, (std::vector<SequenceRow>{{77, 4, 2, 33, 8, 9}}));
}

TEST_F(Reader, ShowsTitleAndArtistAsUtf8) {
  // The declaration, the title and artist's bytes, and the same text in UTF-8.
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"<?xml version=\"1.0\" encoding=\"windows-1252\"?>", "Caf\xE9 \x96 No\xEBl \x80",
       "Caf\xC3\xA9 \xE2\x80\x93 No\xC3\xABl \xE2\x82\xAC"},
      {"<?xml version='1.0' encoding='Windows-1252' ?>", "\x93Hi\x94",
       "\xE2\x80\x9CHi\xE2\x80\x9D"},
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "Caf\xE9 \x96",
       "Caf\xC3\xA9 \xE2\x80\x93"},
      {"<?xml version=\"1.0\" encoding=\"iso-8859-15\"?>", "5 \xA4 \xBD",
       "5 \xE2\x82\xAC \xC5\x93"},
      {"\xEF\xBB\xBF<?xml version=\"1.0\"?>", "No\xC3\xABl", "No\xC3\xABl"},
      {"", "No\xC3\xABl", "No\xC3\xABl"},
      {"<?xml version=\"1.0\" encoding=\"windows-1250\"?>", "Carol", "Carol"},
      // Growing by more than the room kept for converting in place (the
      // comment), with titles as long as they may be.
      {"<?xml version=\"1.0\" encoding=\"windows-1252\"?><!--" + std::string(20000, '\xE9') + "-->",
       std::string(2048, '\xE9'), Repeat("\xC3\xA9", 2048)},
  };
  for (const auto& [declaration, bytes, utf8] : cases) {
    SCOPED_TRACE(declaration);
    auto read = Read(declaration + "<Show><AudioFile><Title>" + bytes + "</Title><Artist>" + bytes +
                     "</Artist><FilePath>x.wav</FilePath></AudioFile></Show>");
    ASSERT_TRUE(read.ok()) << read.message();
    EXPECT_EQ(std::tie(read.value().title, read.value().artist), std::tie(utf8, utf8));
  }

  // What some Windows tools save, with a title outside the Basic Multilingual
  // Plane: both byte orders, with and without a mark.
  const std::u16string text =
      u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<S><AudioFile><Title>Caf\u00e9 \U0001F3B5"
      u"</Title><Artist>A</Artist><FilePath>x</FilePath></AudioFile></S>";
  for (const bool bigEndian : {false, true}) {
    for (const bool mark : {false, true}) {
      std::string bytes;
      auto put = [&](char16_t u) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
      };
      if (mark) put(0xFEFF);
      for (char16_t u : text) put(u);
      auto read = ReadOneRoad(bytes);
      ASSERT_TRUE(read.ok()) << read.message();
      EXPECT_EQ(read.value().title, "Caf\xC3\xA9 \xF0\x9F\x8E\xB5") << bigEndian << mark;
    }
  }
}

// Documents written one element per line, so the lines in the expected
// messages can be counted by eye.
const std::string kAudio =  // lines 3 to 7
    "<AudioFile>\n<Title>Carol</Title>\n<Artist>Choir</Artist>\n<FilePath>/a.wav</FilePath>\n"
    "</AudioFile>\n";
std::string Doc(const std::string& body, const std::string& audio = kAudio) {
  return "<?xml version=\"1.0\"?>\n<Sequence>\n" + audio + body + "</Sequence>\n";
}
std::string AudioFile(const std::string& title, const std::string& path) {
  return "<AudioFile>\n<Title>" + title + "</Title>\n<Artist>Choir</Artist>\n<FilePath>" + path +
         "</FilePath>\n</AudioFile>\n";
}
// Leaves out the empty values.
std::string Interval(const std::string& position, const std::string& effect = "1",
                     const std::string& in = "0", const std::string& out = "255") {
  std::string x = "<TimeInterval>\n";
  if (!position.empty()) x += "<PositionInSamples>" + position + "</PositionInSamples>\n";
  if (!effect.empty()) x += "<Effect>" + effect + "</Effect>\n";
  if (!in.empty()) x += "<IntensityIn>" + in + "</IntensityIn>\n";
  if (!out.empty()) x += "<IntensityOut>" + out + "</IntensityOut>\n";
  return x + "</TimeInterval>\n";
}
std::string Controller(const std::string& id, const std::string& channels) {
  return "<Controller>\n<ControllerID>" + id + "</ControllerID>\n" + channels + "</Controller>\n";
}
std::string Channel(const std::string& number, const std::string& intervals) {
  return "<Channel>\n<ChannelNumber>" + number + "</ChannelNumber>\n" + intervals + "</Channel>\n";
}
// Lines: 8 Controller, 9 ControllerID, 10 Channel, 11 ChannelNumber,
// 12 TimeInterval, 13.. its values.
std::string OneController(const std::string& id, const std::string& channel,
                          const std::string& interval) {
  return Doc(Controller(id, Channel(channel, interval)));
}

TEST_F(Reader, RefusalNamesTheElementAndItsLineAndTextsHaveALimit) {
  const std::string good = Interval("0", "1", "0", "255");
  const std::string limit =
      " bytes, more than the 4096 a title, artist or audio file path may have";
  const std::string nan = ", which is not a number", range = ", but channels are numbered 1 to 16",
                    fit = ", which does not fit a 32-bit whole number";
  const std::string control =
      " holds a line break or another control character, which a file path cannot have";
  const std::pair<std::string, std::string> cases[] = {
      // A title of tens of megabytes (with its song missing) froze the
      // window for minutes while its message was built.
      {Doc("", AudioFile(std::string(5000, 'x'), "/a.wav")),
       "the Title element on line 4 holds 5000" + limit},
      {Doc("", AudioFile("Carol", "/a" + std::string(40000, 'x') + ".wav")),
       "the FilePath element on line 6 holds 40006" + limit},
      {Doc("", AudioFile("Carol", "/a&#10;b.wav")), "the FilePath element on line 6" + control},
      {Doc("", AudioFile("Carol", "/a\x1B.wav")), "the FilePath element on line 6" + control},
      {"", "it is not well-formed XML on line 1 (No document element found)"},
      {Doc("<Controller>\n<ControllerID>1</Controller>\n"),
       "it is not well-formed XML on line 9 (Start-end tags mismatch)"},
      {"<Sequence>\n</Sequence>\n", "it has no AudioFile element"},
      {Doc("", "<AudioFile>\n<Artist>A</Artist>\n<FilePath>x</FilePath>\n</AudioFile>\n"),
       "the AudioFile element on line 3 has no Title element"},
      {Doc("<Controller>\n<Channel/>\n</Controller>\n"),
       "the Controller element on line 8 has no ControllerID element"},
      {OneController("  ", "1", good), "the ControllerID element on line 9 has no value"},
      {OneController("three", "1", good),
       "the ControllerID element on line 9 holds \"three\"" + nan},
      {OneController("2147483647.5", "1", good),
       "the ControllerID element on line 9 holds \"2147483647.5\"" + fit},
      {Doc(Controller("1", "<Channel>\n" + good + "</Channel>\n")),
       "the Channel element on line 10 has no ChannelNumber element"},
      {OneController("1", "1,5", good), "the ChannelNumber element on line 11 holds \"1,5\"" + nan},
      {OneController("1", "0", good), "the ChannelNumber element on line 11 holds 0" + range},
      {OneController("1", "17", good), "the ChannelNumber element on line 11 holds 17" + range},
      {OneController("1", "1", Interval("", "1", "0", "0")),
       "the TimeInterval element on line 12 has no PositionInSamples element"},
      {OneController("1", "1", Interval("0", "7", "", "0")),  // even for effect 7
       "the TimeInterval element on line 12 has no IntensityIn element"},
      {OneController("1", "1", Interval("3e9", "1", "0", "0")),
       "the PositionInSamples element on line 13 holds \"3e9\"" + fit},
      // The line report blamed the line for a row 1 s before the song.
      {OneController("1", "1", Interval("-88200", "1", "0", "0")),
       "the PositionInSamples element on line 13 holds -88200, a position before the song "
       "starts; positions count from 0"},
      {OneController("1", "1", Interval("-0.5", "7", "0", "0")),  // even for effect 7
       "the PositionInSamples element on line 13 holds -1, a position before the song "
       "starts; positions count from 0"},
      {OneController("1", "1", Interval("0", std::string(60, 'x'), "0", "0")),
       "the Effect element on line 14 holds \"" + std::string(40, 'x') + "...\"" + nan},
      {OneController("1", "1", good + Interval("9", "1", "-", "0")),
       "the IntensityIn element on line 21 holds \"-\"" + nan},
      {"<Sequence>\r\n<AudioFile>\r\n<Title>A</Title>\r\n<Artist>B</Artist>\r\n<FilePath>x"
       "</FilePath>\r\n</AudioFile>\r\n<Controller>\r\n<ControllerID>?</ControllerID>\r\n"
       "</Controller>\r\n</Sequence>\r\n",
       "the ControllerID element on line 8 holds \"?\"" + nan},
      {"<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<S>\n<AudioFile>\n<Title>\xE9\xE9\xE9"
       "</Title>\n<Artist>\x96</Artist>\n<FilePath>x</FilePath>\n</AudioFile>\n<Controller>\n"
       "<ControllerID>\xE9</ControllerID>\n</Controller>\n</S>\n",
       "the ControllerID element on line 9 holds \"\xC3\xA9\"" + nan},
      // What pugixml takes and XML does not: both roads refuse it.
      {Doc("") + "<Other/>\n",
       "it is not well-formed XML on line 9 (a second root element, \"Other\", after the one "
       "the document has)"},
      {Doc("", AudioFile("Carol&#0;", "/a.wav")),
       "it is not well-formed XML on line 4 (a reference to a character no XML document may "
       "hold, \"&#0;\")"},
      {OneController("&#xD800;", "1", good),
       "it is not well-formed XML on line 9 (a reference to a character no XML document may "
       "hold, \"&#xD800;\")"},
      {Doc("<X a='&#1114112;'/>\n"),
       "it is not well-formed XML on line 8 (a reference to a character no XML document may "
       "hold, \"&#1114112;\")"},
      {"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<S><Title>\x82\xA0</Title></S>",
       "it declares the text encoding \"Shift_JIS\", which this program cannot read (save it as "
       "UTF-8 or windows-1252)"},
  };
  for (const auto& [bytes, expected] : cases) {
    auto read = Read(bytes);
    ASSERT_FALSE(read.ok()) << expected;
    EXPECT_EQ(read.message(),
              "The sequence document \"" + path_ + "\" cannot be imported: " + expected + ".");
  }
  // At the limit, and a title's line break, are read: the import makes the
  // title one line.
  auto atLimit = Read(Doc("", AudioFile(std::string(4096, 'x'), "/a.wav")));
  ASSERT_TRUE(atLimit.ok()) << atLimit.message();
  auto broken = Read(Doc("", AudioFile("Carol&#10;Bells", "/a.wav")));
  ASSERT_TRUE(broken.ok()) << broken.message();
  EXPECT_EQ(broken.value().title, "Carol\nBells");
  // A skipped controller is not read, so its content cannot refuse the import.
  EXPECT_TRUE(Read(OneController("0", "99", Interval("x", "", "", ""))).ok());

  auto missing = ReadSequenceDocument(dir_.File("Nothing"));
  EXPECT_EQ(missing.message(), "The sequence document \"" + dir_.File("Nothing") +
                                   "\" cannot be imported: the file does not exist.");
}

// Hostile documents: nesting deep enough to overflow a recursive reader, a
// file far larger than any sequence (sparse, so the test writes nothing), a
// pipe that would hold the reader waiting for a writer.
TEST_F(Reader, HostileDocumentsAreRefusedWithoutReadingThemWhole) {
  std::string deep = Doc("");
  deep.insert(deep.rfind("</"), Repeat("<a>", 200000) + Repeat("</a>", 200000));
  auto read = Read(deep);
  ASSERT_TRUE(read.ok()) << read.message();
  EXPECT_TRUE(read.value().rows.empty());

  const std::string huge = dir_.File("huge");
  fakes::WriteBytes(huge, "<Sequence>");
  std::filesystem::resize_file(huge, std::uintmax_t{600} * 1024 * 1024);
  EXPECT_NE(ReadSequenceDocument(huge).message().find(
                "the file is 600 MB, more than the 512 MB a sequence document may have"),
            std::string::npos)
      << ReadSequenceDocument(huge).message();

  for (const fakes::SpecialFile& special : fakes::SpecialFiles()) {
    const std::string path = dir_.File(special.name);
    special.make(path);
    EXPECT_NE(ReadSequenceDocument(path).message().find(special.reason), std::string::npos)
        << ReadSequenceDocument(path).message();
  }
}

// The tree took up to 18 times a document's size, and running out of memory
// was reported as "not well-formed XML".
TEST_F(Reader, TreeReadingHasABoundAndRunningOutOfMemoryIsSaidAsSuch) {
  // Zero bytes keep the direct scanner off it (sparse: nothing is written).
  const std::string large = dir_.File("large");
  fakes::WriteBytes(large, "<Sequence>");
  std::filesystem::resize_file(large, kMaxTreeDocumentBytes + 1);
  EXPECT_NE(ReadSequenceDocument(large).message().find(
                "it is 65 MB, and a document that is not plain UTF-8"),
            std::string::npos)
      << ReadSequenceDocument(large).message();

  // An address space limit means nothing under the address sanitizer, which
  // reserves terabytes of shadow memory: that build checks the bound only.
#if defined(__SANITIZE_ADDRESS__)
  return;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return;
#endif
#endif
  // A document the tree must read (UTF-16) of five million elements, under
  // an address space limit far below what its tree needs.
  std::string utf16 = "\xFF\xFE";
  const std::string body = Doc("<Controller><ControllerID>1</ControllerID>" +
                               Repeat("<a/>", 5000000) + "</Controller>\n");
  for (const char c : body) utf16 += std::string{c, '\0'};
  fakes::WriteBytes(path_, utf16);
  const auto [code, said] = fakes::RunInChild([&](std::string& said) {
    rlimit cap{};
    getrlimit(RLIMIT_AS, &cap);
    std::ifstream status("/proc/self/statm");
    std::size_t pages = 0;
    status >> pages;
    cap.rlim_cur = pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) + (160u << 20);
    setrlimit(RLIMIT_AS, &cap);
    said = ReadSequenceDocument(path_).message();
    return 0;
  });
  EXPECT_NE(said.find("cannot be imported: there is not enough memory to read it"),
            std::string::npos)
      << said << " (exit code " << code << ")";
}

// Shapes the tests above do not take down both roads already.
TEST_F(Reader, BothRoadsReadEveryDocumentAlike) {
  const std::string one = Controller("2", Channel("9", Interval("100") + Interval("50", "4")));
  const std::pair<std::string, std::string> cases[] = {
      {"identifier and number after the content",
       Doc("<Controller><Channel>" + Interval("7") +
           "<ChannelNumber>3</ChannelNumber></Channel><ControllerID>4</ControllerID>"
           "</Controller>")},
      {"entities, references and blanks",
       Doc(Controller(" &#52; ", Channel("&#x31;", Interval("1&#48;", "1", "\n 5\t"))),
           "<AudioFile><Title>Rock &amp; Roll &lt;&#233;&gt;</Title><Artist>&quot;A&apos;"
           "</Artist><FilePath> /m/c.wav </FilePath></AudioFile>")},
      {"attributes, comments, CDATA outside values",
       Doc("<!-- a > b --><Controller id='1' note=\"a > b\"><![CDATA[<Controller>]]>"
           "<ControllerID >1</ControllerID ><Channel\n a=\"1\"><ChannelNumber>1</ChannelNumber>" +
           Interval("3") + "<Empty/></Channel></Controller>")},
      {"markup inside a value", Doc(Controller("1<!-- c -->2", Channel("1", Interval("0"))))},
      {"CDATA in a value", Doc(Controller("<![CDATA[3]]>", Channel("1", Interval("0"))))},
      {"unknown entity in a value", Doc(Controller("&one;", Channel("1", Interval("0"))))},
      {"empty value element", Doc(Controller("1", Channel("1", Interval("0", "<Effect/>"))))},
      {"channels and intervals outside controllers",
       Doc(Channel("1", Interval("5")) + Interval("6") + one)},
      {"several audio files, title only in the second",
       Doc(one, "<AudioFile><Artist>A</Artist><FilePath>x</FilePath></AudioFile>" + kAudio)},
      {"audio file inside a controller", Doc(Controller("1", kAudio + Channel("2", "")))},
      {"windows-1252",
       "<?xml version=\"1.0\" encoding=\"windows-1252\"?><S><AudioFile><Title>Caf\xE9 \x96"
       "</Title><Artist>\x80</Artist><FilePath>\xE9.wav</FilePath></AudioFile>" +
           one + "</S>"},
      {"unclosed", "<Sequence>" + kAudio},
      {"two roots", Doc(one) + "<Other/>"},
      {"text outside the root", Doc(one) + "stray"},
      {"zero byte", Doc(one).insert(30, std::string(1, '\0'))},
      {"processing instruction", Doc("<?mark this?>" + one)},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    static_cast<void>(Read(bytes));  // Read compares the roads
  }
}

// The single pass takes the shapes sequencers write (else the comparisons
// would compare the tree with itself) and declines the rest.
TEST_F(Reader, SinglePassTakesWhatSequencersWrite) {
  const std::string one = Controller("2", Channel("9", Interval("100")));
  const std::tuple<const char*, std::string, bool> cases[] = {
      {"Spectrum's shape",
       fakes::ToXml({.filePath = "", .controllers = {{"3", {{"1", {{"5", "1", "0", "9"}}}}}}}),
       true},
      {"attributes, comments, CDATA", Doc("<!--c--><X a='1'><![CDATA[x]]></X>" + one), true},
      {"references", Doc(Controller("&#50;", Channel("9", Interval("1")))), true},
      {"document type", ThroughTree(Doc(one)), false},
      {"markup in a value", Doc(Controller("<!--c-->2", Channel("9", ""))), false},
      {"bad number", Doc(Controller("x", Channel("9", ""))), false},
      {"nested", Doc(Controller("1", Controller("2", ""))), false},
  };
  for (const auto& [name, bytes, taken] : cases) {
    EXPECT_EQ(ScanSequenceDocument(bytes, ByteForm::kUtf8).has_value(), taken) << name;
  }
}

// Elements are found at any depth, so a Controller, Channel or TimeInterval
// inside another of its kind would be read once for each ancestor: 300
// channels nested around 300 intervals made 90,000 rows. No sequencer writes
// that; the document is refused, naming the element and its line.
TEST_F(Reader, RefusesNestedControllersChannelsAndIntervals) {
  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "<Channel><ChannelNumber>1</ChannelNumber>\n";
  for (int i = 0; i < 300; ++i) deep += Interval(std::to_string(i));
  for (int i = 0; i < 300; ++i) deep += "</Channel>";
  const std::pair<std::string, std::string> cases[] = {
      {Doc(Controller("1", Controller("2", ""))),
       "the Controller element on line 10 lies inside another Controller element"},
      {Doc(Controller("1", Channel("1", Channel("2", "")))),
       "the Channel element on line 12 lies inside another Channel element"},
      {Doc(Controller("1", Channel("1",
                                   "<TimeInterval>\n<PositionInSamples>0</PositionInSamples>"
                                   "<Effect>1</Effect><IntensityIn>0</IntensityIn>"
                                   "<IntensityOut>0</IntensityOut>\n" +
                                       Interval("5") + "</TimeInterval>\n"))),
       "the TimeInterval element on line 14 lies inside another TimeInterval element"},
      // Even inside a controller that is skipped, or outside every controller.
      {Doc(Controller("0", Channel("1", Channel("2", "")))),
       "the Channel element on line 12 lies inside another Channel element"},
      {Doc("<Channel>\n<Channel/>\n</Channel>\n"),
       "the Channel element on line 9 lies inside another Channel element"},
      // The shape that made 90,000 rows is refused at once.
      {Doc(Controller("1", deep)),
       "the Channel element on line 11 lies inside another Channel element"},
  };
  for (const auto& [bytes, expected] : cases) {
    const auto read = Read(bytes);
    ASSERT_FALSE(read.ok()) << expected;
    EXPECT_EQ(read.message(), "The sequence document \"" + path_ + "\" cannot be imported: " +
                                  expected + ", which no sequencer writes.");
  }
}

// Both roads classify tags through one list of names: each is itself, and a
// tag that differs in case, by a letter or in length is no element of ours.
TEST(SequenceElements, EachNameIsItselfAndNearMissesAreNone) {
  for (int e = 0; e < kElementCount; ++e) {
    EXPECT_EQ(ClassifyElement(kElementNames[e]), e) << kElementNames[e];
  }
  for (const char* other :
       {"", "title", "Titles", "Titl", "Channe", "ChannelNumbers", "CONTROLLER", "ControllerId",
        "IntensityOuT", "PositionInSample", "TimeIntervals", "PositionInSamplesX"}) {
    EXPECT_EQ(ClassifyElement(other), kNotRead) << other;
  }
}

TEST(ReaderNumbers, RoundOrFloorIntoA32BitWholeNumber) {
  using enum NumberError;
  using Case = std::pair<const char*, std::int32_t>;
  const auto got = [](ParsedNumber p) { return std::pair(p.error, p.value); };
  const Case rounded[] = {{"2.5", 2},  {"3.5", 4},     {"-2.5", -2},  {"-3.5", -4}, {".5", 0},
                          {"-0.5", 0}, {"0.49999", 0}, {"1e-999", 0}, {"7.", 7},    {"-0", 0}};
  const Case limits[] = {{"00000000000000000007", 7},
                         {"-2147483648.4", INT32_MIN},
                         {"-2147483648.5", INT32_MIN},
                         {"2147483646.5", 2147483646},
                         {"2147483647", INT32_MAX}};
  const Case floored[] = {
      {"2147483647.9", INT32_MAX}, {"-2147483648", INT32_MIN}, {"-0.1", -1}, {"5.9999", 5}};
  // Too close to 0 for a double, without an exponent to say so: a hundred
  // thousand digits of "0.000...1" were called too big for a 32-bit number.
  const std::string tinyWithoutExponent = "0." + std::string(100000, '0') + "1";
  const std::string tinyWithExponent = "1000" + std::string(400, '0') + "e-1000";
  for (const std::string& text :
       {tinyWithoutExponent, "-" + tinyWithoutExponent, tinyWithExponent}) {
    EXPECT_EQ(got(ParseRoundedNumber(text)), std::pair(kNone, 0)) << text.substr(0, 20);
  }
  for (const auto& [text, value] : rounded) {
    EXPECT_EQ(got(ParseRoundedNumber(text)), std::pair(kNone, value)) << text;
  }
  for (const auto& [text, value] : limits) {
    EXPECT_EQ(got(ParseRoundedNumber(text)), std::pair(kNone, value)) << text;
  }
  for (const auto& [text, value] : floored) {
    EXPECT_EQ(got(ParseFlooredNumber(text)), std::pair(kNone, value)) << text;
  }
  for (const auto parse : {ParseRoundedNumber, ParseFlooredNumber}) {
    for (const char* text : {"", " \r\n"}) EXPECT_EQ(parse(text).error, kEmpty) << text;
    for (const char* text : {"nan", "+-1", "++1", "1 2", "&H10", "-", "1,5"}) {
      EXPECT_EQ(parse(text).error, kNotANumber) << text;
    }
    for (const std::string& text :
         {std::string("1e999"), std::string("2147483648"), std::string("-2147483649"),
          std::string("-2147483648.6"), std::string("0.0001e400"),
          "1" + std::string(400, '0') + ".5"}) {
      EXPECT_EQ(parse(text).error, kOutOfRange) << text.substr(0, 20);
    }
  }
}

TEST(ReaderNumbers, MapEffectsToCommandsAndChannelsToBits) {
  const std::optional<std::int32_t> commands[] = {0, 34, 34, 33, 33, 36, 37, std::nullopt, 0};
  for (int effect = 0; effect <= 8; ++effect) EXPECT_EQ(EffectToCommand(effect), commands[effect]);
  EXPECT_EQ(EffectToCommand(-1), 0);
  const std::int32_t bits[] = {0, 1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  for (int channel = 0; channel <= 16; ++channel) EXPECT_EQ(ChannelToBit(channel), bits[channel]);
  EXPECT_EQ(ChannelToBit(-5), 0);
}

}  // namespace
}  // namespace importer
