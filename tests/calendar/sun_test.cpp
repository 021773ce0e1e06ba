// Dusk and dawn against NOAA's solar calculator. The reference is NOAA's own
// set of equations (those of its solar calculator and its "General Solar
// Position" spreadsheet, iterated at the moment of the event as its web
// calculator does), worked out here: a different algorithm from libnova's,
// which follows Meeus with VSOP87. Almanacs give the minute; we hold to it.
#include "calendar/sun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

namespace {

using calendar::Date;
using calendar::SunEvent;

constexpr double kPi = 3.14159265358979323846;
constexpr auto Rad = [](double degrees) { return degrees * kPi / 180.0; };
constexpr auto Deg = [](double radians) { return radians * 180.0 / kPi; };

struct NoaaSun {
  double declination;     // degrees
  double equationOfTime;  // minutes
};

NoaaSun NoaaAt(double julianDay) {
  const double t = (julianDay - 2451545.0) / 36525.0;
  const double l0 = std::fmod(280.46646 + t * (36000.76983 + t * 0.0003032), 360.0);
  const double m = 357.52911 + t * (35999.05029 - 0.0001537 * t);
  const double e = 0.016708634 - t * (0.000042037 + 0.0000001267 * t);
  const double c = std::sin(Rad(m)) * (1.914602 - t * (0.004817 + 0.000014 * t)) +
                   std::sin(Rad(2 * m)) * (0.019993 - 0.000101 * t) +
                   std::sin(Rad(3 * m)) * 0.000289;
  const double omega = 125.04 - 1934.136 * t;
  const double lambda = l0 + c - 0.00569 - 0.00478 * std::sin(Rad(omega));
  const double seconds = 21.448 - t * (46.8150 + t * (0.00059 - t * 0.001813));
  const double epsilon0 = 23.0 + (26.0 + seconds / 60.0) / 60.0;
  const double epsilon = epsilon0 + 0.00256 * std::cos(Rad(omega));
  const double declination = Deg(std::asin(std::sin(Rad(epsilon)) * std::sin(Rad(lambda))));
  double y = std::tan(Rad(epsilon) / 2.0);
  y *= y;
  const double eot = y * std::sin(2.0 * Rad(l0)) - 2.0 * e * std::sin(Rad(m)) +
                     4.0 * e * y * std::sin(Rad(m)) * std::cos(2.0 * Rad(l0)) -
                     0.5 * y * y * std::sin(4.0 * Rad(l0)) - 1.25 * e * e * std::sin(2.0 * Rad(m));
  return {declination, Deg(eot) * 4.0};
}

// Minutes after 0h UT of the date; nothing where the sun stays up or down.
std::optional<double> NoaaMinutes(bool rise, double midnightJd, double lat, double lon) {
  double minutes = 720.0;
  for (int pass = 0; pass < 3; ++pass) {
    const NoaaSun sun = NoaaAt(midnightJd + minutes / 1440.0);
    const double cosine =
        std::cos(Rad(90.833)) / (std::cos(Rad(lat)) * std::cos(Rad(sun.declination))) -
        std::tan(Rad(lat)) * std::tan(Rad(sun.declination));
    if (cosine < -1.0 || cosine > 1.0) return std::nullopt;
    double hourAngle = Deg(std::acos(cosine));
    if (!rise) hourAngle = -hourAngle;
    minutes = 720.0 - 4.0 * (lon + hourAngle) - sun.equationOfTime;
  }
  return minutes;
}

struct Place {
  const char* name;
  double latitude, longitude;
};

TEST(SunTest, DuskAndDawnAreWithinAMinuteOfNoaa) {
  const Place places[] = {{"Amsterdam", 52.37, 4.89},   {"New York", 40.71, -74.01},
                          {"Sydney", -33.87, 151.21},   {"Honolulu", 21.31, -157.86},
                          {"Reykjavik", 64.15, -21.94}, {"Quito", -0.18, -78.47},
                          {"Auckland", -36.85, 174.76}, {"Anchorage", 61.22, -149.90}};
  const Date dates[] = {{2026, 11, 27}, {2026, 12, 21}, {2027, 1, 6},
                        {2027, 3, 14},  {2026, 6, 21},  {2026, 11, 1}};
  double worst = 0.0;
  for (const Place& place : places) {
    for (const Date& date : dates) {
      for (const bool rise : {true, false}) {
        SCOPED_TRACE(std::string(place.name) + " " + calendar::IsoDate(date) +
                     (rise ? " sunrise" : " sunset"));
        const auto day = static_cast<double>(calendar::DayNumber(date));
        const std::optional<double> noaa =
            NoaaMinutes(rise, 2440587.5 + day, place.latitude, place.longitude);
        const calendar::SunTime ours = calendar::SunOn(rise ? SunEvent::Sunrise : SunEvent::Sunset,
                                                       date, {place.latitude, place.longitude});
        ASSERT_TRUE(noaa);
        ASSERT_TRUE(ours.at) << ours.reason;
        const double noaaSeconds = day * 86400.0 + *noaa * 60.0;
        const double off = std::fabs(static_cast<double>(*ours.at) - noaaSeconds);
        EXPECT_LE(off, 60.0) << "ours " << *ours.at << " NOAA " << noaaSeconds;
        worst = std::max(worst, off);
      }
    }
  }
  std::printf("furthest from NOAA: %.1f s\n", worst);
}

// Far north every day of a year: a sunrise or sunset on every date NOAA has
// one, within its minute. Fairbanks' late-May sunrise, near noon UT and
// earlier each day, once fell between the days searched; Tromsø has the
// midnight sun and the polar night. NOAA takes the sun's declination at its
// estimate of the moment, so on the last evening before the midnight sun
// it may lose the short dip below the horizon whose other half it has: a
// sunset is always followed by the next morning's sunrise.
TEST(SunTest, FarNorthEveryDateHasItsDuskAndDawnWhereNoaaHasThem) {
  const Place places[] = {{"Fairbanks", 64.84, -147.72}, {"Tromso", 69.65, 18.96}};
  for (const Place& place : places) {
    const auto noaaOn = [&place](bool rise, const Date& date) {
      const auto day = static_cast<double>(calendar::DayNumber(date));
      return NoaaMinutes(rise, 2440587.5 + day, place.latitude, place.longitude);
    };
    int without = 0;
    for (Date date{2026, 1, 1}; date.year == 2026; date = calendar::AddDays(date, 1)) {
      for (const bool rise : {true, false}) {
        SCOPED_TRACE(std::string(place.name) + " " + calendar::IsoDate(date) +
                     (rise ? " sunrise" : " sunset"));
        const std::optional<double> noaa = noaaOn(rise, date);
        const calendar::SunTime ours = calendar::SunOn(rise ? SunEvent::Sunrise : SunEvent::Sunset,
                                                       date, {place.latitude, place.longitude});
        if (!ours.at) ++without;
        if (!noaa) {
          // Only the half of a dip NOAA has the other half of.
          EXPECT_TRUE(!ours.at || noaaOn(!rise, calendar::AddDays(date, rise ? -1 : 1)))
              << *ours.at;
          continue;
        }
        ASSERT_TRUE(ours.at) << ours.reason;
        const double noaaSeconds =
            static_cast<double>(calendar::DayNumber(date)) * 86400.0 + *noaa * 60.0;
        EXPECT_LE(std::fabs(static_cast<double>(*ours.at) - noaaSeconds), 60.0);
      }
    }
    EXPECT_EQ(without > 0, std::string(place.name) == "Tromso") << without;
  }
}

// Meeus, Astronomical Algorithms, example 25.a: 1992 October 13.0 TD.
TEST(SunTest, SunPositionMatchesMeeusExample) {
  const calendar::SunPosition sun = calendar::ApparentSun(2448908.5);
  EXPECT_NEAR(sun.rightAscension, 198.38083, 0.00001);
  EXPECT_NEAR(sun.declination, -7.78507, 0.00001);
}

}  // namespace
