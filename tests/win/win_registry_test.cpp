#include "platform/win/win_registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win/wide_text.h"
#include "platform/win/win_handle.h"
#include "shell/registry_value.h"
#include "shell/winrar_locator.h"

namespace {

using platform::win::Widen;
using shell::RegistryValue;

// Writes values below HKEY_LOCAL_MACHINE for one test and takes them away
// afterwards, with the key when the test made it (the system's own keys,
// such as the serial port list, keep their other values).
class ScopedKey {
 public:
  explicit ScopedKey(std::string name) : name_(std::move(name)) {
    DWORD disposition = 0;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, Widen(name_).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key_, &disposition);
    created_ = disposition == REG_CREATED_NEW_KEY;
  }
  ~ScopedKey() {
    for (const auto& value : set_) ::RegDeleteValueW(key_, Widen(value).c_str());
    ::RegCloseKey(key_);
    if (created_) ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Widen(name_).c_str());
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;

  void Set(const std::string& value, DWORD type, const void* data, std::size_t size) {
    set_.push_back(value);
    ASSERT_EQ(::RegSetValueExW(key_, Widen(value).c_str(), 0, type, static_cast<const BYTE*>(data),
                               static_cast<DWORD>(size)),
              ERROR_SUCCESS);
  }
  // A UTF-16 text as stored, with `zeros` terminating zeros.
  void SetText(const std::string& value, DWORD type, const std::wstring& text, int zeros = 1) {
    std::wstring stored = text;
    stored.append(static_cast<std::size_t>(zeros), L'\0');
    Set(value, type, stored.data(), stored.size() * sizeof(wchar_t));
  }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  HKEY key_ = nullptr;
  bool created_ = false;
  std::vector<std::string> set_;
};

constexpr const char* kTestKey = "Software\\Glimmerfield Tests\\Registry";

TEST(WinRegistryTest, ValuesReadAsTheNarrowCallsGiveThem) {
  ScopedKey key(kTestKey);
  key.SetText("", REG_SZ, L"default");
  key.SetText("text", REG_SZ, L"Caf\u00e9 \u03a9");
  key.SetText("unterminated", REG_SZ, L"no zero", 0);
  key.SetText("expand", REG_EXPAND_SZ, L"%TEMP%\\x");
  key.SetText("multi", REG_MULTI_SZ, std::wstring(L"one\0two\0", 8), 1);
  const DWORD dword = 0x01020304;
  key.Set("dword", REG_DWORD, &dword, sizeof dword);
  const unsigned char bytes[] = {0, 1, 0xFF};
  key.Set("binary", REG_BINARY, bytes, sizeof bytes);

  platform::win::WinRegistry registry;
  const struct {
    std::string value;
    RegistryValue expected;
  } cases[] = {
      {"", std::string("default")},
      {"text", std::string("Caf\xc3\xa9 \xce\xa9")},
      {"unterminated", std::string("no zero")},
      {"expand", std::string("%TEMP%\\x")},
      {"multi", std::string("one\0two", 7)},
      {"DWORD", std::int32_t{0x01020304}},  // names in any case, as Windows has them
      {"binary", std::vector<std::uint8_t>{0, 1, 0xFF}},
      {"missing", std::string("fallback")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(shell::GetRegistryValue(registry, platform::kHkeyLocalMachine, kTestKey, c.value,
                                      std::string("fallback")),
              c.expected);
  }
  EXPECT_EQ(shell::GetRegistryValue(registry, platform::kHkeyLocalMachine,
                                    std::string(kTestKey) + "\\absent", "", std::string("none")),
            RegistryValue(std::string("none")));
}

// The length a caller must allow is the UTF-8 one with its zero, and a too
// small buffer is left as it was.
TEST(WinRegistryTest, SmallBufferGivesMoreDataAndTheLengthNeeded) {
  ScopedKey key(kTestKey);
  key.SetText("long", REG_SZ, L"\u00e9\u00e9\u00e9\u00e9");  // 8 UTF-8 bytes + zero
  platform::win::WinRegistry registry;
  platform::RegistryHandle handle = 0;
  ASSERT_EQ(registry.OpenKey(platform::kHkeyLocalMachine, kTestKey, handle),
            platform::kErrorSuccess);
  for (const std::size_t size : {0u, 4u, 8u}) {
    std::vector<std::uint8_t> buffer(size, 0xAA);
    std::uint32_t type = 0, length = 0;
    EXPECT_EQ(registry.QueryValue(handle, "long", type, buffer, length), platform::kErrorMoreData)
        << size;
    EXPECT_EQ(length, 9u);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(size, 0xAA));
  }
  std::vector<std::uint8_t> buffer(9);
  std::uint32_t type = 0, length = 0;
  EXPECT_EQ(registry.QueryValue(handle, "long", type, buffer, length), platform::kErrorSuccess);
  EXPECT_EQ(type, platform::kRegSz);
  EXPECT_EQ(buffer.back(), 0);
  registry.CloseKey(handle);
  EXPECT_NE(registry.QueryValue(handle, "long", type, buffer, length), platform::kErrorSuccess)
      << "a closed key reads nothing";
}

TEST(WinRegistryTest, UnconvertedTypeRaisesError1001) {
  ScopedKey key(kTestKey);
  const unsigned long long qword = 5;
  key.Set("qword", REG_QWORD, &qword, sizeof qword);
  platform::win::WinRegistry registry;
  try {
    (void)shell::GetRegistryValue(registry, platform::kHkeyLocalMachine, kTestKey, "qword");
    FAIL() << "no error raised";
  } catch (const shell::RegistryError& e) {
    EXPECT_EQ(e.Number(), 1001);
    EXPECT_EQ(e.Description(), "Unsupported value type");
  }
}

// The start-up lookup of WinRAR, through the machine's own registry.
TEST(WinRegistryTest, WinRarIsFoundThroughTheRealKeys) {
  ScopedKey command(shell::kWinRarCommandKey);
  command.SetText("", REG_SZ, L"\"C:\\Program Files\\WinRAR\\WinRAR.exe\" \"%1\"");
  platform::win::WinRegistry registry;
  const auto read = [&](const std::string& keyName, const std::string& valueName) {
    return shell::RegistryValueText(
        shell::GetRegistryValue(registry, platform::kHkeyLocalMachine, keyName, valueName));
  };
  EXPECT_EQ(shell::LocateWinRarInRegistry(read), "C:\\Program Files\\WinRAR\\WinRAR.exe");
}

TEST(WinRegistryTest, SerialPortsListedByNumberOnlyComNames) {
  ScopedKey listed("HARDWARE\\DEVICEMAP\\SERIALCOMM");
  listed.SetText("\\Device\\GlimmerTest12", REG_SZ, L"COM12");
  listed.SetText("\\Device\\GlimmerTest2", REG_SZ, L"COM2");
  listed.SetText("\\Device\\GlimmerTestPrinter", REG_SZ, L"LPT3");
  std::vector<std::pair<int, std::string>> ours;
  for (const auto& port : platform::win::ListedSerialPorts()) {
    if (port.device.find("GlimmerTest") != std::string::npos) {
      ours.emplace_back(port.number, port.device);
    }
  }
  const std::vector<std::pair<int, std::string>> expected = {{2, "\\Device\\GlimmerTest2"},
                                                             {12, "\\Device\\GlimmerTest12"}};
  EXPECT_EQ(ours, expected);
}

}  // namespace
