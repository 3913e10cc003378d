// What the navigation message can hold: for each field, the lowest and highest code of its
// IS-GPS-200 bit width times its LSB are accepted and one LSB beyond either is refused.
#include "orbit/broadcast_range.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/bahr_navigation.h"

namespace talverin {
namespace {

constexpr double kPiRef = 3.141592653589793;

TEST(BroadcastRange, EachFieldSpansItsBitWidthTimesItsLsb) {
  const struct {
    double GpsEph::*field;
    const char* name;
    double lsb;        // in the message's unit (semicircles for angles)
    double low, high;  // lowest and highest code
    bool semicircles;
  } cases[] = {
      {&GpsEph::tgd, "tgd", std::ldexp(1.0, -31), -128, 127, false},  // 8 bits
      {&GpsEph::af2, "af2", std::ldexp(1.0, -55), -128, 127, false},  // 8 bits
      {&GpsEph::af1, "af1", std::ldexp(1.0, -43), -32768, 32767, false},
      {&GpsEph::af0, "af0", std::ldexp(1.0, -31), -2097152, 2097151, false},  // 22 bits
      {&GpsEph::crs, "crs", 1.0 / 32, -32768, 32767, false},
      {&GpsEph::crc, "crc", 1.0 / 32, -32768, 32767, false},
      {&GpsEph::cuc, "cuc", std::ldexp(1.0, -29), -32768, 32767, false},
      {&GpsEph::cis, "cis", std::ldexp(1.0, -29), -32768, 32767, false},
      {&GpsEph::cus, "cus", std::ldexp(1.0, -29), -32768, 32767, false},
      {&GpsEph::cic, "cic", std::ldexp(1.0, -29), -32768, 32767, false},
      {&GpsEph::deltaN, "deltaN", std::ldexp(1.0, -43), -32768, 32767, true},
      {&GpsEph::m0, "m0", std::ldexp(1.0, -31), -2147483648.0, 2147483647.0, true},
      {&GpsEph::omega0, "omega0", std::ldexp(1.0, -31), -2147483648.0, 2147483647.0, true},
      {&GpsEph::i0, "i0", std::ldexp(1.0, -31), -2147483648.0, 2147483647.0, true},
      {&GpsEph::omega, "omega", std::ldexp(1.0, -31), -2147483648.0, 2147483647.0, true},
      {&GpsEph::omegaDot, "omegaDot", std::ldexp(1.0, -43), -8388608, 8388607, true},  // 24
      {&GpsEph::iDot, "iDot", std::ldexp(1.0, -43), -8192, 8191, true},                // 14 bits
      {&GpsEph::e, "e", std::ldexp(1.0, -33), 0, 4294967295.0, false},  // unsigned 32
      {&GpsEph::rootA, "rootA", std::ldexp(1.0, -19), 0, 4294967295.0, false},
  };
  ASSERT_TRUE(WithinBroadcastRange(test_data::BahrEphemeris(5)));
  for (const auto& c : cases) {
    const double toFile = c.semicircles ? kPiRef : 1.0;
    const struct {
      double code;
      bool accepted;
    } codes[] = {{c.low, true}, {c.high, true}, {c.low - 1, false}, {c.high + 1, false}};
    for (const auto& k : codes) {
      GpsEph eph = test_data::BahrEphemeris(5);
      eph.*c.field = k.code * c.lsb * toFile;
      BroadcastRangeFault fault{};
      EXPECT_EQ(k.accepted, WithinBroadcastRange(eph, &fault)) << c.name << " code " << k.code;
      if (!k.accepted) {
        EXPECT_STREQ(c.name, fault.field);
      }
    }
  }
  // toe and toc: 16 bits of 16 s, within one week.
  for (int32_t GpsEph::*time : {&GpsEph::toe, &GpsEph::toc}) {
    for (int32_t t : {0, 604784, -16, 604800}) {
      GpsEph eph = test_data::BahrEphemeris(5);
      eph.*time = t;
      EXPECT_EQ(t >= 0 && t <= 604784, WithinBroadcastRange(eph)) << t;
    }
  }
}

}  // namespace
}  // namespace talverin
