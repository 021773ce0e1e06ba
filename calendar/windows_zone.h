#pragma once

#ifdef _WIN32

#include <cstdint>
#include <string>

namespace calendar {

// Windows knows zones by the names of its registry keys ("W. Europe Standard
// Time"), with rules that may change from year to year, and has no TZ.
//
// Makes local times follow zone `keyName` from now on; "" goes back to the
// zone the system is set to, which is read afresh at every question so that
// a change in the settings (or a new year's rules) counts at once. False,
// and nothing changed, for a zone this system does not know. Meant for the
// start of a program or a test, before other threads ask.
bool UseWindowsZone(const std::string& keyName);

// The offset of local time from UTC at `moment` (seconds since the epoch),
// in seconds east of Greenwich.
int WindowsUtcOffsetAt(std::int64_t moment);

}  // namespace calendar

#endif
