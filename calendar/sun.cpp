#include "calendar/sun.h"

#include <libnova/sidereal_time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

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

// The sun's upper edge on the standard horizon: refraction and its
// semi-diameter, as almanacs reckon dusk and dawn.
constexpr double kHorizon = -0.8333;
// A sidereal day against a solar one: the hour angle gains this many
// degrees a day.
constexpr double kDegreesPerDay = 360.985647;

// The sun's hour angle at the place (degrees, 0 at its highest) and its
// altitude (degrees) at a Julian day.
struct SunSeen {
  double hourAngle = 0.0;
  double altitude = 0.0;
};
SunSeen SeenFrom(double julianDay, const Location& where) {
  const SunPosition sun = ApparentSun(julianDay);
  const double hourAngle = std::remainder(
      ln_get_apparent_sidereal_time(julianDay) * 15.0 + where.longitude - sun.rightAscension,
      360.0);
  const double sine = std::sin(Radians(where.latitude)) * std::sin(Radians(sun.declination)) +
                      std::cos(Radians(where.latitude)) * std::cos(Radians(sun.declination)) *
                          std::cos(Radians(hourAngle));
  return {hourAngle, Degrees(std::asin(std::clamp(sine, -1.0, 1.0)))};
}

// The moment near `julianDay` at which the sun's hour angle is `angle`
// (0: its highest, 180: its lowest).
double Culmination(double julianDay, double angle, const Location& where) {
  for (int pass = 0; pass < 4; ++pass) {
    julianDay -=
        std::remainder(SeenFrom(julianDay, where).hourAngle - angle, 360.0) / kDegreesPerDay;
  }
  return julianDay;
}

// Where between two culminations, along which the sun only climbs or only
// sinks, it crosses the horizon: nothing when it stays on one side.
std::optional<double> Crossing(double from, double to, const Location& where) {
  const bool upAtStart = SeenFrom(from, where).altitude >= kHorizon;
  if (upAtStart == (SeenFrom(to, where).altitude >= kHorizon)) return std::nullopt;
  for (int pass = 0; pass < 32; ++pass) {
    const double middle = (from + to) / 2.0;
    if ((SeenFrom(middle, where).altitude >= kHorizon) == upAtStart) {
      from = middle;
    } else {
      to = middle;
    }
  }
  return (from + to) / 2.0;
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
  // The sun rises while it climbs from its lowest to its highest and sets
  // on its way down again, so each solar day has one sunrise between its
  // midnight and its noon and one sunset between its noon and the next
  // midnight, or none where the sun stays on one side. Searching those
  // halves, not a day of Universal Time, keeps a sunrise from falling
  // between two days searched: libnova's rising and setting give the first
  // of each after the moment asked, and a summer sunrise in Fairbanks near
  // noon UT, a few minutes earlier each day, fell out of both days.
  const double meanNoon =
      kUnixEpochJulianDay + static_cast<double>(DayNumber(date)) + 0.5 - where.longitude / 360.0;
  const double noon = Culmination(meanNoon, 0.0, where);
  const bool rise = which == SunEvent::Sunrise;
  const double midnight = Culmination(rise ? noon - 0.5 : noon + 0.5, 180.0, where);
  const std::optional<double> crossing =
      rise ? Crossing(midnight, noon, where) : Crossing(noon, midnight, where);
  if (!crossing) {
    const bool up = SeenFrom(noon, where).altitude >= kHorizon;
    SunTime none;
    none.reason = std::string("the sun does not ") + (rise ? "rise" : "set") + " on " +
                  IsoDate(date) + " at " + Place(where) +
                  (up ? ": it stays up all day" : ": it stays down all day");
    return none;
  }
  const double seconds = (*crossing - kUnixEpochJulianDay) * 86400.0;
  return SunTime{static_cast<std::int64_t>(std::llround(seconds)), {}};
}

}  // namespace calendar
