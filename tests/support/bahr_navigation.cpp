#include "tests/support/bahr_navigation.h"

#include <gtest/gtest.h>

#include <string>

#include "base/text_buffer.h"
#include "rinex/rinex_nav_reader.h"
#include "tests/rinex/rinex_test_data.h"

namespace talverin {
namespace test_data {
namespace {

constexpr int32_t kToe_s = 352800;  // 02:00 GPS time
constexpr int32_t kWeeksPerRollover = 1024;

const RinexNavFile& BahrNavigation() {
  static const RinexNavFile file = [] {
    RinexNavFile read;
    char error[kTextSize] = "";
    const std::string path = rinex_test::SampleFile("bahr1620.04n");
    EXPECT_EQ(0, ReadRinexNav(path.c_str(), &read, error)) << path << ": " << error;
    return read;
  }();
  return file;
}

}  // namespace

std::vector<GpsEph> BahrEphemerides(const std::vector<int>& prns) {
  std::vector<GpsEph> records;
  for (const int prn : prns) {
    GpsEph found{};
    for (const RinexNavRecord& r : BahrNavigation().records) {
      if (r.eph.prn == prn && r.eph.toe == kToe_s) {
        found = r.eph;
        found.week %= kWeeksPerRollover;
        break;
      }
    }
    EXPECT_EQ(prn, found.prn) << "no record of toe 352800 s for PRN " << prn;
    records.push_back(found);
  }
  return records;
}

}  // namespace test_data
}  // namespace talverin
