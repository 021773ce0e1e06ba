#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/sequence_elements.h"
#include "import/sequence_reader.h"
#include "import/sequence_scanner.h"
#include "tests/fakes/temp_dir.h"
#include "tests/import/import_support.h"

// The reader takes a sound document in one pass over its bytes and leaves
// everything else to pugixml's tree. A document type, which pugixml passes
// over and the single pass never takes, sends a document down the tree road:
// with and without one, every document must read alike, rows, channels,
// texts and refusals.
namespace importer {
namespace {

class ReaderRoads : public ::testing::Test {
 protected:
  platform::Result<SequenceDocument> Read(const std::string& bytes) {
    fakes::WriteBytes(path_, bytes);
    return ReadSequenceDocument(path_);
  }

  // The same document with a document type before its root, on the same
  // line, so line numbers in refusals stay where they were.
  static std::string ThroughTree(const std::string& bytes) {
    std::size_t at = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    if (bytes.compare(at, 5, "<?xml") == 0) at = bytes.find("?>", at) + 2;
    return bytes.substr(0, at) + "<!DOCTYPE Sequence>" + bytes.substr(at);
  }

  void ExpectSameOnBothRoads(const std::string& name, const std::string& bytes) {
    SCOPED_TRACE(name);
    const auto fast = Read(bytes);
    const auto tree = Read(ThroughTree(bytes));
    ASSERT_EQ(fast.ok(), tree.ok()) << (fast.ok() ? tree.message() : fast.message());
    if (!fast.ok()) {
      EXPECT_EQ(fast.message(), tree.message());
      return;
    }
    const SequenceDocument& a = fast.value();
    const SequenceDocument& b = tree.value();
    EXPECT_EQ(a.title, b.title);
    EXPECT_EQ(a.artist, b.artist);
    EXPECT_EQ(a.filePath, b.filePath);
    EXPECT_EQ(a.rows, b.rows);
    ASSERT_EQ(a.channels.size(), b.channels.size());
    for (std::size_t i = 0; i < a.channels.size(); ++i) {
      EXPECT_EQ(a.channels[i].device, b.channels[i].device) << i;
      EXPECT_EQ(a.channels[i].channelNumber, b.channels[i].channelNumber) << i;
      EXPECT_EQ(a.channels[i].firstRow, b.channels[i].firstRow) << i;
      EXPECT_EQ(a.channels[i].rowCount, b.channels[i].rowCount) << i;
    }
  }

  fakes::TempDir dir_;
  std::string path_ = dir_.File("Show");
};

const std::string kAudio =
    "<AudioFile><Title>Carol</Title><Artist>Choir</Artist><FilePath>/a.wav</FilePath></AudioFile>";

std::string Doc(const std::string& body, const std::string& audio = kAudio) {
  return "<?xml version=\"1.0\"?>\n<Sequence>" + audio + body + "</Sequence>\n";
}

std::string Interval(const std::string& position, const std::string& effect = "1",
                     const std::string& in = "0", const std::string& out = "255") {
  return "<TimeInterval><PositionInSamples>" + position + "</PositionInSamples><Effect>" + effect +
         "</Effect><IntensityIn>" + in + "</IntensityIn><IntensityOut>" + out +
         "</IntensityOut></TimeInterval>";
}

std::string Controller(const std::string& id, const std::string& channels) {
  return "<Controller><ControllerID>" + id + "</ControllerID>" + channels + "</Controller>";
}

std::string Channel(const std::string& number, const std::string& intervals) {
  return "<Channel><ChannelNumber>" + number + "</ChannelNumber>" + intervals + "</Channel>";
}

TEST_F(ReaderRoads, ReadEveryDocumentAlike) {
  const std::string one = Controller("2", Channel("9", Interval("100") + Interval("50", "4")));
  import_test::Sequence spectrum;
  spectrum.controllers = {{"3", {{"1", {{"5", "1", "0", "9"}}}, {"12", {}}}},
                          {"0", {{"4", {{"0", "1", "0", "1"}}}}}};
  const std::pair<std::string, std::string> cases[] = {
      {"plain", Doc(one)},
      {"shaped as Spectrum writes it", import_test::ToXml(spectrum)},
      {"identifier and number after the content",
       Doc("<Controller><Channel>" + Interval("7") +
           "<ChannelNumber>3</ChannelNumber></Channel><ControllerID>4</ControllerID>"
           "</Controller>")},
      {"values deep inside and repeated",
       Doc("<Controller><X><ControllerID>5</ControllerID></X><ControllerID>6</ControllerID>"
           "<Channel><TimeInterval><A><Effect>3</Effect></A><Effect>1</Effect><IntensityOut>9"
           "</IntensityOut><B><IntensityIn>8</IntensityIn></B><PositionInSamples>77"
           "</PositionInSamples></TimeInterval><Y><ChannelNumber>2</ChannelNumber></Y>"
           "</Channel></Controller>")},
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
      {"skipped controller holds garbage",
       Doc(Controller("-1", Channel("99", Interval("x", ""))) + one)},
      {"channels and intervals outside controllers",
       Doc(Channel("1", Interval("5")) + Interval("6") + one)},
      {"several audio files, title only in the second",
       Doc(one, "<AudioFile><Artist>A</Artist><FilePath>x</FilePath></AudioFile>" + kAudio)},
      {"audio file inside a controller", Doc(Controller("1", kAudio + Channel("2", "")))},
      {"effect 7 and unknown effects",
       Doc(Controller("1", Channel("16", Interval("0", "7") + Interval("1", "9"))))},
      {"channel out of range", Doc(Controller("1", Channel("17", "")))},
      {"bad number", Doc(Controller("1", Channel("1", Interval("1,5"))))},
      {"missing value", Doc(Controller("1", Channel("1", "<TimeInterval/>")))},
      {"no audio file", "<Sequence>" + one + "</Sequence>"},
      {"windows-1252",
       "<?xml version=\"1.0\" encoding=\"windows-1252\"?><S><AudioFile><Title>Caf\xE9 \x96"
       "</Title><Artist>\x80</Artist><FilePath>\xE9.wav</FilePath></AudioFile>" +
           one + "</S>"},
      {"latin-9", "<?xml version='1.0' encoding='ISO-8859-15'?><S>" + kAudio.substr(0, 18) +
                      "\xA4" + kAudio.substr(18) + "</S>"},
      {"byte order mark", "\xEF\xBB\xBF" + Doc(one)},
      {"mismatched tags", Doc("<Controller><ControllerID>1</Controller>")},
      {"unclosed", "<Sequence>" + kAudio},
      {"two roots", Doc(one) + "<Other/>"},
      {"text outside the root", Doc(one) + "stray"},
      {"zero byte", Doc(one).insert(30, std::string(1, '\0'))},
      {"processing instruction", Doc("<?mark this?>" + one)},
      {"carriage returns", "<Sequence>\r\n" + kAudio + "\r\n" + one + "\r\n</Sequence>\r\n"},
  };
  for (const auto& [name, bytes] : cases) ExpectSameOnBothRoads(name, bytes);
}

// The single pass takes the shapes sequencers write (else the comparison
// above would compare the tree with itself) and declines the rest.
TEST_F(ReaderRoads, SinglePassTakesWhatSequencersWrite) {
  const std::string one = Controller("2", Channel("9", Interval("100")));
  import_test::Sequence spectrum;
  spectrum.controllers = {{"3", {{"1", {{"5", "1", "0", "9"}}}}}};
  const std::tuple<const char*, std::string, bool> cases[] = {
      {"Spectrum's shape", import_test::ToXml(spectrum), true},
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
TEST_F(ReaderRoads, RefuseNestedControllersChannelsAndIntervals) {
  const std::pair<std::string, std::string> cases[] = {
      {"<S>\n" + kAudio +
           "\n<Controller>\n<ControllerID>1</ControllerID>\n<Controller>\n"
           "<ControllerID>2</ControllerID>\n</Controller>\n</Controller>\n</S>",
       "the Controller element on line 5 lies inside another Controller element"},
      {"<S>\n" + kAudio + "\n" +
           Controller("1", "<Channel>\n<ChannelNumber>1</ChannelNumber>\n" + Channel("2", "") +
                               "\n</Channel>") +
           "\n</S>",
       "the Channel element on line 5 lies inside another Channel element"},
      {"<S>\n" + kAudio + "\n" +
           Controller("1", Channel("1",
                                   "<TimeInterval>\n<PositionInSamples>0</PositionInSamples>"
                                   "<Effect>1</Effect><IntensityIn>0</IntensityIn>"
                                   "<IntensityOut>0</IntensityOut>\n" +
                                       Interval("5") + "</TimeInterval>")) +
           "\n</S>",
       "the TimeInterval element on line 5 lies inside another TimeInterval element"},
      // Even inside a controller that is skipped, or outside every controller.
      {"<S>" + kAudio + Controller("0", Channel("1", Channel("2", ""))) + "</S>",
       "the Channel element on line 1 lies inside another Channel element"},
      {"<S>" + kAudio + "<Channel><Channel/></Channel></S>",
       "the Channel element on line 1 lies inside another Channel element"},
  };
  for (const auto& [bytes, expected] : cases) {
    for (const std::string& document : {bytes, ThroughTree(bytes)}) {
      const auto read = Read(document);
      ASSERT_FALSE(read.ok()) << expected;
      EXPECT_EQ(read.message(), "The sequence document \"" + path_ + "\" cannot be imported: " +
                                    expected + ", which no sequencer writes.");
    }
  }
}

TEST_F(ReaderRoads, RefuseTheDeeplyNestedShapeAtOnce) {
  std::string channels;
  for (int i = 0; i < 300; ++i) channels += "<Channel><ChannelNumber>1</ChannelNumber>\n";
  for (int i = 0; i < 300; ++i) channels += Interval(std::to_string(i));
  for (int i = 0; i < 300; ++i) channels += "</Channel>";
  const auto read = Read("<S>" + kAudio + "\n" + Controller("1", channels) + "</S>");
  ASSERT_FALSE(read.ok());
  EXPECT_NE(read.message().find("the Channel element on line 3 lies inside another Channel"),
            std::string::npos)
      << read.message();
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

}  // namespace
}  // namespace importer
