// The number fields of the RINEX writers against the C library's printf: exact decimal ties
// (which printf rounds to even), values that round up into a new digit, negative values that
// round to zero, values beyond the exact fast path, and a spread of magnitudes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "rinex/rinex_format.h"

namespace talverin {
namespace {

std::string Printf(const char* format, double value, int width, int precision) {
  char text[128];
  std::snprintf(text, sizeof text, format, width, precision, value);
  return text;
}

void ExpectFixedAsPrintf(double value, int width, int precision) {
  std::string got = "|";  // text before the field must stay
  AppendFixed(&got, value, width, precision);
  EXPECT_EQ("|" + Printf("%*.*f", value, width, precision), got)
      << "value " << Printf("%.*g", value, 0, 17) << " width " << width << " precision "
      << precision;
}

TEST(RinexFormat, FixedFieldsAsPrintf) {
  const double ties[] = {0.0625, 0.1875, 2.5, 3.5, -0.0625, 1234.0625, 0.5, 1.5};
  for (double v : ties) ExpectFixedAsPrintf(v, 14, 3), ExpectFixedAsPrintf(v, 6, 0);
  const double edges[] = {0.0,           -0.0,     -0.0004,           0.0005,
                          9.9995,        -9.99951, 9999999999.999,    -9999999999.999,
                          20123456.7895, 1.0e11,   123456789012.3456, 8796093022.2085,
                          -1.25e-13,     0.373e-3, 59.99999995,       1e15 - 1.0};
  for (double v : edges) {
    ExpectFixedAsPrintf(v, 14, 3);
    ExpectFixedAsPrintf(v, 11, 7);
    ExpectFixedAsPrintf(v, 15, 12);
  }
  // A spread of magnitudes and digit patterns, deterministic.
  double v = 0.7071067811865476;
  for (int i = 0; i < 20000; ++i) {
    v = std::fmod(v * 7919.0 + 0.123456789, 1.0);
    const double value = (i % 2 == 0 ? 1.0 : -1.0) * v * std::pow(10.0, i % 13 - 3);
    ExpectFixedAsPrintf(value, 14, 3);
    ExpectFixedAsPrintf(value, 12, 9);
  }
}

TEST(RinexFormat, IntegersAsPrintf) {
  const long long values[] = {0, 7, -7, 42, 2004, -120, 123456789};
  for (long long value : values) {
    for (int width : {1, 2, 4}) {
      char spaced[32], zeroed[32];
      std::snprintf(spaced, sizeof spaced, "%*lld", width, value);
      std::snprintf(zeroed, sizeof zeroed, "%0*lld", width, value);
      std::string a, b;
      AppendInt(&a, value, width);
      AppendInt(&b, value, width, '0');
      EXPECT_EQ(spaced, a) << value << " width " << width;
      EXPECT_EQ(zeroed, b) << value << " width " << width << " zero-filled";
    }
  }
}

}  // namespace
}  // namespace talverin
