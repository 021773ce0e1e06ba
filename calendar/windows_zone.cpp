#ifdef _WIN32

#include "calendar/windows_zone.h"

#include <windows.h>

#include <algorithm>
#include <optional>

namespace calendar {
namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01, where FILETIME counts from, to 1970-01-01.
constexpr std::int64_t kEpochDifference = 11'644'473'600;
// SYSTEMTIME ends in the year 30827; nobody plans a show beyond 9999.
constexpr std::int64_t kLastMoment = 253'402'300'799;  // 9999-12-31 23:59:59 UTC

std::optional<DYNAMIC_TIME_ZONE_INFORMATION> chosen;

std::int64_t Ticks(const SYSTEMTIME& time) {
  FILETIME file{};
  ::SystemTimeToFileTime(&time, &file);
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(file.dwHighDateTime) << 32) |
                                   file.dwLowDateTime);
}

}  // namespace

bool UseWindowsZone(const std::string& keyName) {
  if (keyName.empty()) {
    chosen.reset();
    return true;
  }
  const std::wstring wanted(keyName.begin(), keyName.end());
  DYNAMIC_TIME_ZONE_INFORMATION zone{};
  for (DWORD index = 0; ::EnumDynamicTimeZoneInformation(index, &zone) == ERROR_SUCCESS; ++index) {
    if (_wcsicmp(zone.TimeZoneKeyName, wanted.c_str()) == 0) {
      chosen = zone;
      return true;
    }
  }
  return false;
}

int WindowsUtcOffsetAt(std::int64_t moment) {
  // Before 1601 the system has no dates; the rules of the first year hold.
  const std::int64_t clamped = std::clamp<std::int64_t>(moment, -kEpochDifference, kLastMoment);
  const auto ticks = static_cast<std::uint64_t>((clamped + kEpochDifference) * kTicksPerSecond);
  FILETIME file{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utc{};
  ::FileTimeToSystemTime(&file, &utc);

  DYNAMIC_TIME_ZONE_INFORMATION zone{};
  if (chosen) {
    zone = *chosen;
  } else if (::GetDynamicTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) {
    return 0;
  }
  // The year's own rules: zones change their dates now and then. (Wine has
  // no SystemTimeToTzSpecificLocalTimeEx, which would do both steps.)
  TIME_ZONE_INFORMATION rules{};
  SYSTEMTIME local{};
  if (!::GetTimeZoneInformationForYear(utc.wYear, &zone, &rules) ||
      !::SystemTimeToTzSpecificLocalTime(&rules, &utc, &local)) {
    return 0;
  }
  return static_cast<int>((Ticks(local) - Ticks(utc)) / kTicksPerSecond);
}

}  // namespace calendar

#endif
