#include "platform/posix/wine_registry.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fakes/temp_dir.h"

namespace {

using platform::WineRegistry;

class WineRegistryTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& body) {
    const std::string path = dir_.File("system.reg");
    fakes::WriteBytes(path,
                      "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
                      "#arch=win64\n\n" +
                          body);
    return path;
  }

  struct Read {
    long result = 0;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
  };

  static Read Query(platform::Registry& registry, const std::string& key, const std::string& name) {
    platform::RegistryHandle handle = 0;
    Read read;
    read.result = registry.OpenKey(platform::kHkeyLocalMachine, key, handle);
    if (read.result != platform::kErrorSuccess) return read;
    std::uint32_t length = 0;
    std::vector<std::uint8_t> buffer(4096);
    read.result = registry.QueryValue(handle, name, read.type, buffer, length);
    if (read.result == platform::kErrorSuccess) {
      read.bytes.assign(buffer.begin(), buffer.begin() + length);
    }
    registry.CloseKey(handle);
    return read;
  }

  static std::vector<std::uint8_t> Z(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
  }

  fakes::TempDir dir_;
};

constexpr const char* kSample =
    "\"Orphan\"=\"before any key\"\n"
    "[Software\\\\Classes\\\\Applications\\\\SpectrumSequencer.exe\\\\shell] 1614271261\n"
    "#time=1d70b4c1f0e6a2c\n"
    "\"FriendlyCache\"=\"Spectrum Sequencer\"\n"
    "\n"
    "[Software\\\\Classes\\\\Applications\\\\WinRAR.exe\\\\shell\\\\open\\\\command] 1614271261\n"
    "@=\"\\\"C:\\\\Program Files\\\\WinRAR\\\\WinRAR.exe\\\" \\\"%1\\\"\"\n"
    "\n"
    "[Software\\\\Test] 1614271261\n"
    "\"Expand\"=str(2):\"%SystemRoot%\\\\system32\"\n"
    "\"Count\"=dword:0000000a\n"
    "\"Minus\"=dword:fffffffe\n"
    "\"Bin\"=hex:01,ff,\\\n"
    "  10,20\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00\n"
    "\"Qword\"=hex(b):01,00,00,00,00,00,00,00\n"
    "\"Escapes\"=\"tab\\there\\nline \\\"q\\\" back\\\\slash\"\n"
    "\"Unicode\"=\"Caf\\xe9 \\x20ac\"\n"
    "\"Octal\"=\"a\\0b\"\n"
    "\"Empty\"=\"\"\n"
    // Damaged lines are skipped, not fatal.
    "[Software\\\\Broken\n"
    "[Software\\\\Damaged] 1\n"
    "\"Unclosed\"=\"no end\n"
    "\"BadHex\"=hex:zz,01\n"
    "\"BadDword\"=dword:123456789\n"
    "\"NoEquals\" \"x\"\n"
    "garbage line\n"
    "\"Good\"=dword:00000001\r\n";

TEST_F(WineRegistryTest,
       ReadsEachNotationFindsNamesWhateverTheirCaseAndTellsASmallBufferTheLength) {
  WineRegistry registry(Write(kSample));
  const std::string spectrum = "SOFTWARE\\Classes\\Applications\\SpectrumSequencer.exe\\shell";
  const std::string command = "SOFTWARE\\Classes\\Applications\\WinRAR.exe\\shell\\open\\command";
  const std::string test = "Software\\Test";
  const long found = platform::kErrorSuccess, missing = platform::kErrorFileNotFound;
  const struct {
    std::string key, name;
    long result;
    std::uint32_t type;
    std::vector<std::uint8_t> bytes;
  } cases[] = {{test, "Expand", found, 2, Z("%SystemRoot%\\system32")},
               {test, "Count", found, 4, {10, 0, 0, 0}},
               {test, "Minus", found, 4, {0xfe, 0xff, 0xff, 0xff}},
               {test, "Bin", found, 3, {0x01, 0xff, 0x10, 0x20}},
               {test, "Multi", found, 7, {'a', 0, 'b', 'c', 0, 0}},
               {test, "Qword", found, 11, {1, 0, 0, 0, 0, 0, 0, 0}},
               {test, "Escapes", found, 1, Z("tab\there\nline \"q\" back\\slash")},
               {test, "Unicode", found, 1, Z("Caf\xC3\xA9 \xE2\x82\xAC")},
               {test, "Octal", found, 1, {'a', 0, 'b', 0}},
               {test, "Empty", found, 1, {0}},
               {spectrum, "friendlycache", found, 1, Z("Spectrum Sequencer")},
               // "@" is the default value.
               {command, "", found, 1, Z("\"C:\\Program Files\\WinRAR\\WinRAR.exe\" \"%1\"")},
               {"Software\\Nothing", "x", missing, 0, {}},
               {test, "Nothing", missing, 0, {}},
               // A parent of a key is not a key unless the file names it.
               {"Software", "x", missing, 0, {}},
               {"Software\\Damaged", "Good", found, 4, {1, 0, 0, 0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key + " " + c.name);
    const Read read = Query(registry, c.key, c.name);
    EXPECT_EQ(read.result, c.result);
    EXPECT_EQ(read.type, c.type);
    EXPECT_EQ(read.bytes, c.bytes);
  }
  for (const char* name : {"Orphan", "Unclosed", "BadHex", "BadDword", "NoEquals"}) {
    EXPECT_EQ(Query(registry, "Software\\Damaged", name).result, missing) << name;
  }
  platform::RegistryHandle handle = 0;
  EXPECT_EQ(registry.OpenKey(0x80000001u, test, handle), platform::kErrorFileNotFound);

  // A buffer too small gets the length it needs and stays untouched.
  ASSERT_EQ(registry.OpenKey(platform::kHkeyLocalMachine, test, handle), platform::kErrorSuccess);
  std::vector<std::uint8_t> buffer(3, 0xAA);
  std::uint32_t type = 0, length = 0;
  EXPECT_EQ(registry.QueryValue(handle, "Expand", type, buffer, length), platform::kErrorMoreData);
  EXPECT_EQ(length, Z("%SystemRoot%\\system32").size());
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(3, 0xAA));
  buffer.resize(length);
  EXPECT_EQ(registry.QueryValue(handle, "Expand", type, buffer, length), platform::kErrorSuccess);
  EXPECT_EQ(buffer, Z("%SystemRoot%\\system32"));
  registry.CloseKey(handle);
  EXPECT_NE(registry.QueryValue(handle, "Expand", type, buffer, length), platform::kErrorSuccess)
      << "a closed handle reads nothing";
}

// A pipe would hold start-up waiting for a writer, a device may never end.
TEST_F(WineRegistryTest, MissingFileFolderPipeOrDeviceIsAnEmptyRegistry) {
  const std::string fifo = dir_.File("pipe.reg");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {dir_.File("no-such/system.reg"), std::string(),
                                  dir_.path().string(), fifo, std::string("/dev/zero")}) {
    WineRegistry registry(path);
    EXPECT_EQ(Query(registry, "Software\\Test", "Count").result, platform::kErrorFileNotFound)
        << path;
  }
}

TEST(WineRegistryPathTest, PrefixThenHome) {
  EXPECT_EQ(WineRegistry::DefaultPath("/p/wine", "/home/op"), "/p/wine/system.reg");
  EXPECT_EQ(WineRegistry::DefaultPath("", "/home/op"), "/home/op/.wine/system.reg");
  EXPECT_EQ(WineRegistry::DefaultPath(nullptr, "/home/op"), "/home/op/.wine/system.reg");
  EXPECT_EQ(WineRegistry::DefaultPath(nullptr, nullptr), "");
}

}  // namespace
