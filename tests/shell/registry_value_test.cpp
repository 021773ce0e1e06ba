#include "shell/registry_value.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/fakes/fake_registry.h"

namespace {

using shell::GetRegistryValue;
using shell::RegistryValue;

constexpr const char* kKey = "SOFTWARE\\Test";
constexpr auto kRoot = platform::kHkeyLocalMachine;

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

TEST(GetRegistryValueTest, ConvertsByType) {
  const std::tuple<const char*, std::uint32_t, std::vector<std::uint8_t>, RegistryValue> cases[] = {
      {"Sz", 1, Bytes(std::string("C:\\x\0", 5)), std::string("C:\\x")},
      {"SzWithoutTerminatorLosesLastByte", 1, Bytes("abc"), std::string("ab")},
      {"ExpandSzNotExpanded", 2, Bytes(std::string("%WINDIR%\\a\0", 11)),
       std::string("%WINDIR%\\a")},
      {"Binary", 3, {0, 255, 7}, std::vector<std::uint8_t>{0, 255, 7}},
      {"Dword", 4, {0x0a, 0, 0, 0}, std::int32_t{10}},
      {"DwordNegative", 4, {0xfe, 0xff, 0xff, 0xff}, std::int32_t{-2}},
      {"DwordLittleEndian", 4, {0x78, 0x56, 0x34, 0x12}, std::int32_t{0x12345678}},
      {"DwordShortPadsWithZero", 4, {0x01, 0x02}, std::int32_t{0x0201}},
      {"MultiSz", 7, Bytes(std::string("a\0bc\0\0", 6)), std::string("a\0bc", 4)},
      {"MultiSzTooShort", 7, {0}, std::string()}};
  for (const auto& [name, type, stored, expected] : cases) {
    fakes::FakeRegistry registry;
    registry.Put(kKey, "v", type, stored);
    EXPECT_EQ(GetRegistryValue(registry, kRoot, kKey, "v"), expected) << name;
    EXPECT_EQ(registry.openHandles, 0) << name;
  }
}

TEST(GetRegistryValueTest, UnsupportedTypeRaisesError1001AndClosesTheKey) {
  for (const std::uint32_t type : {0u, 5u, 6u, 8u, 11u}) {
    fakes::FakeRegistry registry;
    registry.Put(kKey, "v", type, {1, 2, 3, 4});
    try {
      GetRegistryValue(registry, kRoot, kKey, "v");
      ADD_FAILURE() << "no error for type " << type;
    } catch (const shell::RegistryError& e) {
      EXPECT_EQ(e.Number(), 1001);
      EXPECT_EQ(e.Description(), "Unsupported value type");
    }
    EXPECT_EQ(registry.openHandles, 0) << type;
  }
}

TEST(GetRegistryValueTest, ValueLongerThanTheFirstBufferIsReadAgainWithTheReportedLength) {
  for (const std::size_t size : {1023u, 3003u}) {  // with the terminator: 1,024 fits
    fakes::FakeRegistry registry;
    const std::string text(size, 'x');
    registry.PutString(kKey, "v", text);
    EXPECT_EQ(GetRegistryValue(registry, kRoot, kKey, "v"), RegistryValue(text));
    EXPECT_EQ(registry.queries, size < 1024 ? 1 : 2) << size;
    EXPECT_EQ(registry.openHandles, 0);
  }
}

TEST(GetRegistryValueTest, MissingKeyOrValueGivesTheDefault) {
  fakes::FakeRegistry registry;
  registry.PutString(kKey, "present", "x");
  EXPECT_EQ(GetRegistryValue(registry, kRoot, "SOFTWARE\\Other", "present"), RegistryValue());
  EXPECT_EQ(GetRegistryValue(registry, kRoot, kKey, "absent"), RegistryValue());
  EXPECT_EQ(GetRegistryValue(registry, kRoot, kKey, "absent", std::int32_t{5}),
            RegistryValue(std::int32_t{5}));
  EXPECT_EQ(GetRegistryValue(registry, 0x80000001u, kKey, "present", std::string("d")),
            RegistryValue(std::string("d")));
  EXPECT_EQ(registry.openHandles, 0);
}

}  // namespace
