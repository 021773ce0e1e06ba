#include "platform/posix/wine_registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using platform::WineRegistry;

// A system.reg written by the test into its own folder.
class WineRegistryTest : public ::testing::Test {
 protected:
  WineRegistryTest() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "glimmer-winereg-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
    dir_ = pattern;
  }
  ~WineRegistryTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string Write(const std::string& body) {
    const std::string path = dir_ + "/system.reg";
    std::ofstream(path, std::ios::binary) << "WINE REGISTRY Version 2\n"
                                             ";; All keys relative to \\\\Machine\n\n"
                                             "#arch=win64\n\n"
                                          << body;
    return path;
  }

  struct Read {
    long result = 0;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
  };

  static Read Query(platform::Registry& registry, const std::string& key, const std::string& name) {
    platform::RegistryHandle handle = 0;
    const long opened = registry.OpenKey(platform::kHkeyLocalMachine, key, handle);
    Read read;
    read.result = opened;
    if (opened != platform::kErrorSuccess) return read;
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

  std::string dir_;
};

constexpr const char* kSample =
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
    "\"Empty\"=\"\"\n";

TEST_F(WineRegistryTest, ReadsEachNotation) {
  WineRegistry registry(Write(kSample));
  struct Case {
    const char* name;
    std::uint32_t type;
    std::vector<std::uint8_t> bytes;
  };
  const std::vector<Case> cases = {
      {"Expand", 2, Z("%SystemRoot%\\system32")},
      {"Count", 4, {10, 0, 0, 0}},
      {"Minus", 4, {0xfe, 0xff, 0xff, 0xff}},
      {"Bin", 3, {0x01, 0xff, 0x10, 0x20}},
      {"Multi", 7, {'a', 0, 'b', 'c', 0, 0}},
      {"Qword", 11, {1, 0, 0, 0, 0, 0, 0, 0}},
      {"Escapes", 1, Z("tab\there\nline \"q\" back\\slash")},
      {"Unicode", 1, Z("Caf\xC3\xA9 \xE2\x82\xAC")},
      {"Octal", 1, {'a', 0, 'b', 0}},
      {"Empty", 1, {0}},
  };
  for (const Case& c : cases) {
    const Read read = Query(registry, "Software\\Test", c.name);
    EXPECT_EQ(read.result, platform::kErrorSuccess) << c.name;
    EXPECT_EQ(read.type, c.type) << c.name;
    EXPECT_EQ(read.bytes, c.bytes) << c.name;
  }
}

TEST_F(WineRegistryTest, KeyAndValueNamesIgnoreCase) {
  WineRegistry registry(Write(kSample));
  const Read read = Query(registry, "SOFTWARE\\Classes\\Applications\\SpectrumSequencer.exe\\shell",
                          "friendlycache");
  EXPECT_EQ(read.result, platform::kErrorSuccess);
  EXPECT_EQ(read.bytes, Z("Spectrum Sequencer"));
}

TEST_F(WineRegistryTest, AtSignIsTheDefaultValue) {
  WineRegistry registry(Write(kSample));
  const Read read =
      Query(registry, "SOFTWARE\\Classes\\Applications\\WinRAR.exe\\shell\\open\\command", "");
  EXPECT_EQ(read.type, platform::kRegSz);
  EXPECT_EQ(read.bytes, Z("\"C:\\Program Files\\WinRAR\\WinRAR.exe\" \"%1\""));
}

TEST_F(WineRegistryTest, MissingThingsAreNotFound) {
  WineRegistry registry(Write(kSample));
  EXPECT_EQ(Query(registry, "Software\\Nothing", "x").result, platform::kErrorFileNotFound);
  EXPECT_EQ(Query(registry, "Software\\Test", "Nothing").result, platform::kErrorFileNotFound);
  // A parent of a key is not a key unless the file names it.
  EXPECT_EQ(Query(registry, "Software", "x").result, platform::kErrorFileNotFound);

  platform::RegistryHandle handle = 0;
  EXPECT_EQ(registry.OpenKey(0x80000001u, "Software\\Test", handle), platform::kErrorFileNotFound);
}

TEST_F(WineRegistryTest, MissingFileIsAnEmptyRegistry) {
  WineRegistry registry(dir_ + "/no-such/system.reg");
  EXPECT_EQ(Query(registry, "Software\\Test", "Count").result, platform::kErrorFileNotFound);
  WineRegistry unnamed("");
  EXPECT_EQ(Query(unnamed, "Software\\Test", "Count").result, platform::kErrorFileNotFound);
}

TEST_F(WineRegistryTest, SmallBufferGetsMoreDataWithTheLength) {
  WineRegistry registry(Write(kSample));
  platform::RegistryHandle handle = 0;
  ASSERT_EQ(registry.OpenKey(platform::kHkeyLocalMachine, "Software\\Test", handle),
            platform::kErrorSuccess);
  std::vector<std::uint8_t> buffer(3, 0xAA);
  std::uint32_t type = 0;
  std::uint32_t length = 0;
  EXPECT_EQ(registry.QueryValue(handle, "Expand", type, buffer, length), platform::kErrorMoreData);
  EXPECT_EQ(length, Z("%SystemRoot%\\system32").size());
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(3, 0xAA)) << "buffer left untouched";
  buffer.resize(length);
  EXPECT_EQ(registry.QueryValue(handle, "Expand", type, buffer, length), platform::kErrorSuccess);
  EXPECT_EQ(buffer, Z("%SystemRoot%\\system32"));
  registry.CloseKey(handle);
  EXPECT_NE(registry.QueryValue(handle, "Expand", type, buffer, length), platform::kErrorSuccess)
      << "a closed handle reads nothing";
}

TEST_F(WineRegistryTest, DamagedLinesAreSkippedNotFatal) {
  WineRegistry registry(
      Write("\"Orphan\"=\"before any key\"\n"
            "[Software\\\\Broken\n"
            "[Software\\\\Test] 1\n"
            "\"Unclosed\"=\"no end\n"
            "\"BadHex\"=hex:zz,01\n"
            "\"BadDword\"=dword:123456789\n"
            "\"NoEquals\" \"x\"\n"
            "garbage line\n"
            "\"Good\"=dword:00000001\r\n"));
  EXPECT_EQ(Query(registry, "Software\\Test", "Good").bytes,
            (std::vector<std::uint8_t>{1, 0, 0, 0}));
  for (const char* name : {"Orphan", "Unclosed", "BadHex", "BadDword", "NoEquals"}) {
    EXPECT_EQ(Query(registry, "Software\\Test", name).result, platform::kErrorFileNotFound) << name;
  }
}

TEST(WineRegistryPathTest, PrefixThenHome) {
  EXPECT_EQ(WineRegistry::DefaultPath("/p/wine", "/home/op"), "/p/wine/system.reg");
  EXPECT_EQ(WineRegistry::DefaultPath("", "/home/op"), "/home/op/.wine/system.reg");
  EXPECT_EQ(WineRegistry::DefaultPath(nullptr, "/home/op"), "/home/op/.wine/system.reg");
  EXPECT_EQ(WineRegistry::DefaultPath(nullptr, nullptr), "");
}

}  // namespace
