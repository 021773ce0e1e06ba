#pragma once

#include <cmath>
#include <cstdint>

namespace importer {

// part / whole x 100 in double precision, rounded to the nearest whole number
// with a half going to the even neighbour (12.5 gives 12, 37.5 gives 38), as
// the progress texts of the compiler show it. Independent of the floating
// point rounding mode.
inline std::int16_t ProgressPercent(double part, double whole) {
  const double value = part / whole * 100.0;
  if (!(value > -32768.5 && value < 32767.5)) return value > 0 ? INT16_MAX : INT16_MIN;
  double rounded = std::floor(value);
  const double fraction = value - rounded;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0.0)) rounded += 1.0;
  return static_cast<std::int16_t>(rounded);
}

}  // namespace importer
