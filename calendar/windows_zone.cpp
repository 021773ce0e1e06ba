#ifdef _WIN32

#include "calendar/windows_zone.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <mutex>
#include <optional>

namespace calendar {
namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01, where FILETIME counts from, to 1970-01-01.
constexpr std::int64_t kEpochDifference = 11'644'473'600;
// SYSTEMTIME ends in the year 30827; nobody plans a show beyond 9999.
constexpr std::int64_t kLastMoment = 253'402'300'799;  // 9999-12-31 23:59:59 UTC
constexpr const wchar_t* kZonesKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones";

// One year's rules of one zone: every question about that year (a season's
// nights ask thousands) reads the registry once.
struct YearRules {
  std::wstring zone;
  int year = 0;
  TIME_ZONE_INFORMATION rules{};
};

std::mutex mutex;
std::optional<std::wstring> chosen;  // none: the system's zone
std::optional<YearRules> cached;

std::int64_t Ticks(const SYSTEMTIME& time) {
  FILETIME file{};
  ::SystemTimeToFileTime(&time, &file);
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(file.dwHighDateTime) << 32) |
                                   file.dwLowDateTime);
}

// The rules for `year` of the chosen zone, or of the system's as it is set
// now; false where the system has none.
bool RulesFor(int year, TIME_ZONE_INFORMATION& rules) {
  DYNAMIC_TIME_ZONE_INFORMATION zone{};
  if (chosen) {
    wcsncpy(zone.TimeZoneKeyName, chosen->c_str(), 127);
  } else if (::GetDynamicTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) {
    return false;
  }
  if (cached && cached->year == year && cached->zone == zone.TimeZoneKeyName) {
    rules = cached->rules;
    return true;
  }
  // An empty key name (a zone set by hand, without a registry entry) has
  // only the rules the system gave now.
  if (zone.TimeZoneKeyName[0] == L'\0') {
    ::GetTimeZoneInformation(&rules);
    return true;
  }
  if (!::GetTimeZoneInformationForYear(static_cast<USHORT>(year), &zone, &rules)) return false;
  cached = YearRules{zone.TimeZoneKeyName, year, rules};
  return true;
}

}  // namespace

bool UseWindowsZone(const std::string& keyName) {
  const std::lock_guard lock(mutex);
  if (keyName.empty()) {
    chosen.reset();
    return true;
  }
  const std::wstring wanted(keyName.begin(), keyName.end());
  HKEY key = nullptr;
  if (wanted.size() > 127 ||
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kZonesKey) + L"\\" + wanted).c_str(), 0,
                      KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(key);
  chosen = wanted;
  return true;
}

int WindowsUtcOffsetAt(std::int64_t moment) {
  // Before 1601 the system has no dates; the rules of the first year hold.
  const std::int64_t clamped = std::clamp<std::int64_t>(moment, -kEpochDifference, kLastMoment);
  const auto ticks = static_cast<std::uint64_t>((clamped + kEpochDifference) * kTicksPerSecond);
  FILETIME file{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utc{};
  ::FileTimeToSystemTime(&file, &utc);

  const std::lock_guard lock(mutex);
  TIME_ZONE_INFORMATION rules{};
  SYSTEMTIME local{};
  if (!RulesFor(utc.wYear, rules) || !::SystemTimeToTzSpecificLocalTime(&rules, &utc, &local)) {
    return 0;
  }
  return static_cast<int>((Ticks(local) - Ticks(utc)) / kTicksPerSecond);
}

}  // namespace calendar

#endif
