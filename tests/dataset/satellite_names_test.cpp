// Satellite names: GPS PRN 1-32; a GLONASS receiver's slots 1-24 as PRN 38-61.
#include "dataset/satellite_names.h"

#include <gtest/gtest.h>

namespace talverin {
namespace {

TEST(SatelliteNames, GpsAndTheGlonassNumbering) {
  const struct {
    int32_t prn;
    bool glonassReceiver;
    const char* name;
  } cases[] = {
      {1, false, "G01"},     {32, true, "G32"},      {0, false, "PRN 0"}, {33, true, "PRN 33"},
      {37, true, "PRN 37"},  {38, true, "R01"},      {61, true, "R24"},   {62, true, "PRN 62"},
      {40, false, "PRN 40"}, {255, true, "PRN 255"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.name, SatelliteName(c.prn, c.glonassReceiver));
  }
}

}  // namespace
}  // namespace talverin
