#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/registry_value.h"
#include "tests/fakes/fake_registry.h"

namespace {

using shell::GetRegistryValue;
using shell::RegistryValue;

constexpr const char* kKey = "SOFTWARE\\Test";

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

struct Conversion {
  const char* name;
  std::uint32_t type;
  std::vector<std::uint8_t> stored;
  RegistryValue expected;
};

class ConversionTest : public ::testing::TestWithParam<Conversion> {};

TEST_P(ConversionTest, ConvertsByType) {
  fakes::FakeRegistry registry;
  registry.Put(kKey, "v", GetParam().type, GetParam().stored);
  EXPECT_EQ(GetRegistryValue(registry, platform::kHkeyLocalMachine, kKey, "v"),
            GetParam().expected);
  EXPECT_EQ(registry.openHandles, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Types, ConversionTest,
    ::testing::Values(
        Conversion{"Sz", 1, Bytes(std::string("C:\\x\0", 5)), std::string("C:\\x")},
        Conversion{"SzWithoutTerminatorLosesLastByte", 1, Bytes("abc"), std::string("ab")},
        Conversion{"SzEmptyValue", 1, {}, std::string()},
        Conversion{"ExpandSzNotExpanded", 2, Bytes(std::string("%WINDIR%\\a\0", 11)),
                   std::string("%WINDIR%\\a")},
        Conversion{"Binary", 3, {0, 255, 7}, std::vector<std::uint8_t>{0, 255, 7}},
        Conversion{"BinaryEmpty", 3, {}, std::vector<std::uint8_t>{}},
        Conversion{"Dword", 4, {0x0a, 0, 0, 0}, std::int32_t{10}},
        Conversion{"DwordNegative", 4, {0xfe, 0xff, 0xff, 0xff}, std::int32_t{-2}},
        Conversion{"DwordLittleEndian", 4, {0x78, 0x56, 0x34, 0x12}, std::int32_t{0x12345678}},
        Conversion{"DwordShortPadsWithZero", 4, {0x01, 0x02}, std::int32_t{0x0201}},
        Conversion{"MultiSz", 7, Bytes(std::string("a\0bc\0\0", 6)), std::string("a\0bc", 4)},
        Conversion{"MultiSzTooShort", 7, {0}, std::string()}),
    [](const auto& info) { return std::string(info.param.name); });

class UnsupportedTypeTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(UnsupportedTypeTest, RaisesError1001AndClosesTheKey) {
  fakes::FakeRegistry registry;
  registry.Put(kKey, "v", GetParam(), {1, 2, 3, 4});
  try {
    GetRegistryValue(registry, platform::kHkeyLocalMachine, kKey, "v");
    FAIL() << "no error for type " << GetParam();
  } catch (const shell::RegistryError& e) {
    EXPECT_EQ(e.Number(), 1001);
    EXPECT_EQ(e.Description(), "Unsupported value type");
  }
  EXPECT_EQ(registry.openHandles, 0);
}

INSTANTIATE_TEST_SUITE_P(Types, UnsupportedTypeTest, ::testing::Values(0u, 5u, 6u, 8u, 11u));

TEST(GetRegistryValueTest, LongValueIsReadAgainWithTheReportedLength) {
  fakes::FakeRegistry registry;
  std::string text(3000, 'x');
  text += "end";
  registry.PutString(kKey, "long", text);
  EXPECT_EQ(GetRegistryValue(registry, platform::kHkeyLocalMachine, kKey, "long"),
            RegistryValue(text));
  EXPECT_EQ(registry.queries, 2);
  EXPECT_EQ(registry.openHandles, 0);
}

TEST(GetRegistryValueTest, ValueOfExactlyTheFirstBufferNeedsOneRead) {
  fakes::FakeRegistry registry;
  registry.PutString(kKey, "v", std::string(1023, 'y'));
  EXPECT_EQ(GetRegistryValue(registry, platform::kHkeyLocalMachine, kKey, "v"),
            RegistryValue(std::string(1023, 'y')));
  EXPECT_EQ(registry.queries, 1);
}

TEST(GetRegistryValueTest, MissingKeyOrValueGivesTheDefault) {
  fakes::FakeRegistry registry;
  registry.PutString(kKey, "present", "x");
  const auto root = platform::kHkeyLocalMachine;
  EXPECT_EQ(GetRegistryValue(registry, root, "SOFTWARE\\Other", "present"), RegistryValue());
  EXPECT_EQ(GetRegistryValue(registry, root, kKey, "absent"), RegistryValue());
  EXPECT_EQ(GetRegistryValue(registry, root, kKey, "absent", std::int32_t{5}),
            RegistryValue(std::int32_t{5}));
  EXPECT_EQ(GetRegistryValue(registry, 0x80000001u, kKey, "present", std::string("d")),
            RegistryValue(std::string("d")));
  EXPECT_EQ(registry.openHandles, 0);
}

}  // namespace
