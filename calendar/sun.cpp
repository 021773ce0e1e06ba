#include "calendar/sun.h"

#include <libnova/julian_day.h>
#include <libnova/ln_types.h>
#include <libnova/rise_set.h>
#include <libnova/solar.h>

#include <cmath>
#include <cstdio>

namespace calendar {
namespace {

constexpr double kUnixEpochJulianDay = 2440587.5;
constexpr double kPi = 3.14159265358979323846;

double Radians(double degrees) {
  return degrees * kPi / 180.0;
}
double Degrees(double radians) {
  return radians * 180.0 / kPi;
}

// libnova's rising and setting, fed with the sun below.
void SunForLibnova(double julianDay, ln_equ_posn* position) {
  const SunPosition sun = ApparentSun(julianDay);
  position->ra = sun.rightAscension;
  position->dec = sun.declination;
}

std::string Place(const Location& where) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f, %.2f", where.latitude, where.longitude);
  return text;
}

}  // namespace

SunPosition ApparentSun(double julianDay) {
  const double t = (julianDay - 2451545.0) / 36525.0;
  const double meanLongitude = std::fmod(280.46646 + t * (36000.76983 + t * 0.0003032), 360.0);
  const double anomaly = 357.52911 + t * (35999.05029 - 0.0001537 * t);
  const double centre = std::sin(Radians(anomaly)) * (1.914602 - t * (0.004817 + 0.000014 * t)) +
                        std::sin(Radians(2 * anomaly)) * (0.019993 - 0.000101 * t) +
                        std::sin(Radians(3 * anomaly)) * 0.000289;
  const double node = 125.04 - 1934.136 * t;
  const double longitude = meanLongitude + centre - 0.00569 - 0.00478 * std::sin(Radians(node));
  const double obliquity =
      23.0 + (26.0 + (21.448 - t * (46.815 + t * (0.00059 - t * 0.001813))) / 60.0) / 60.0 +
      0.00256 * std::cos(Radians(node));
  SunPosition sun;
  sun.rightAscension = Degrees(std::atan2(
      std::cos(Radians(obliquity)) * std::sin(Radians(longitude)), std::cos(Radians(longitude))));
  if (sun.rightAscension < 0.0) sun.rightAscension += 360.0;
  sun.declination = Degrees(std::asin(std::sin(Radians(obliquity)) * std::sin(Radians(longitude))));
  return sun;
}

SunTime SunOn(SunEvent which, const Date& date, const Location& where) {
  ln_lnlat_posn observer{};
  observer.lng = where.longitude;
  observer.lat = where.latitude;
  const std::int64_t wanted = DayNumber(date);
  // libnova answers for a day of Universal Time; the evening of a date far
  // east or west of Greenwich can fall on the day before or after it there.
  // The place's mean solar time decides which of the three is this date's.
  for (const std::int64_t day : {wanted, wanted - 1, wanted + 1}) {
    ln_rst_time rst{};
    const double julianDay = kUnixEpochJulianDay + static_cast<double>(day) + 0.5;
    // libnova's own sun (ln_get_solar_rst) is the packaged 0.16's weak spot:
    // its VSOP87 longitude is 0.1 degree off in 1992 and 0.37 in 2026 (Meeus'
    // example 25.a and the December 2026 solstice), which moves sunset one to
    // two minutes early. Its rising and setting are sound, so they get the sun
    // from Meeus' series instead.
    const int kind = ln_get_body_rst_horizon(julianDay, &observer, SunForLibnova,
                                             LN_SOLAR_STANDART_HORIZON, &rst);
    if (kind != 0) {
      if (day != wanted) continue;
      SunTime none;
      none.reason = std::string("the sun does not ") +
                    (which == SunEvent::Sunset ? "set" : "rise") + " on " + IsoDate(date) + " at " +
                    Place(where) +
                    (kind == 1 ? ": it stays up all day" : ": it stays down all day");
      return none;
    }
    const double eventDay = which == SunEvent::Sunset ? rst.set : rst.rise;
    const double seconds = (eventDay - kUnixEpochJulianDay) * 86400.0;
    const std::int64_t moment = static_cast<std::int64_t>(std::llround(seconds));
    const double solarSeconds = static_cast<double>(moment) + where.longitude / 15.0 * 3600.0;
    const auto solarDay = static_cast<std::int64_t>(std::floor(solarSeconds / 86400.0));
    if (solarDay == wanted) return SunTime{moment, {}};
  }
  SunTime none;
  none.reason = std::string("the sun does not ") + (which == SunEvent::Sunset ? "set" : "rise") +
                " on " + IsoDate(date) + " at " + Place(where);
  return none;
}

}  // namespace calendar
