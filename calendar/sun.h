#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "calendar/civil_date.h"

namespace calendar {

struct Location {
  double latitude = 0.0;   // degrees, north positive
  double longitude = 0.0;  // degrees, east positive
};

enum class SunEvent { Sunrise, Sunset };

struct SunTime {
  std::optional<std::int64_t> at;  // seconds since the epoch
  std::string reason;              // why there is none ("the sun does not set ...")
};

// The sun's apparent right ascension and declination (degrees) at a Julian
// day, by Meeus' series for the sun (chapter 25), which NOAA's calculator
// uses too.
struct SunPosition {
  double rightAscension = 0.0;
  double declination = 0.0;
};
SunPosition ApparentSun(double julianDay);

// The sunrise or sunset of a date at a place (the sun's upper edge at the
// standard horizon, refraction included, as almanacs give it): the one that
// happens on that date of the place's own solar day, so a place far from its
// zone's meridian still gets the evening of that date. Nothing, with the
// reason, where the sun stays up or stays down all that day.
SunTime SunOn(SunEvent which, const Date& date, const Location& where);

}  // namespace calendar
