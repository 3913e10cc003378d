// The scan of a download set that info, rinex, qc and convert share: the bundled BAHR hour
// (RINEX: 2004-06-10 00:00:00 to 00:59:30 GPS every 30 s, 120 epochs, 9 satellites, 166
// navigation records; GPS week 1274 began on Sunday 2004-06-06, so Thursday 00:00 is second
// 4 * 86400 = 345600) whole and cut at byte 50000 (a 90-byte header, 67-byte epoch headers
// and 97-byte records: 62 whole epochs, the 63rd at byte 49640 with 360 of its bytes), and a
// set whose B file is missing.
#include "dataset/set_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataset/byte_builder.h"
#include "tests/rinex/rinex_test_data.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

TEST(SetScan, FactsOfAWholeACutAndAMissingSet) {
  testing_support::TempDir dir;
  const std::string whole =
      rinex_test::ImportSet(rinex_test::SampleFile("bahr1620.04o"),
                            rinex_test::SampleFile("bahr1620.04n"), dir.File("whole"))
          .observationFile;
  ASSERT_FALSE(whole.empty());
  const std::string cut = dir.File("BBAHRA04.162");
  const std::vector<uint8_t> bytes = ReadFileBytes(whole);
  ASSERT_TRUE(WriteFileBytes(cut, {bytes.begin(), bytes.begin() + 50000}));
  const struct {
    std::string path;
    bool opened;
    int64_t epochs;
    double lastTow_s;
    size_t satellites, damage, gps;  // satellites 0: not checked (the import drops some)
    bool lastEpochCut;
  } cases[] = {
      {whole, true, 120, 349170.0, 9, 0, 166, false},
      {cut, true, 62, 345600.0 + 61 * 30.0, 0, 1, 0, true},
      {dir.File("BMISSA04.162"), false, 0, 0.0, 0, 0, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const SetScan s = ScanDownloadSet(c.path, SetScanOptions());
    EXPECT_EQ(c.opened, s.opened);
    EXPECT_EQ(c.epochs, s.epochs);
    if (!c.opened) continue;
    EXPECT_EQ(1274, s.week.week);
    EXPECT_EQ(1274, s.firstWeek);
    EXPECT_EQ(345600.0, s.firstTow_s);
    EXPECT_EQ(c.lastTow_s, s.lastTow_s);
    EXPECT_EQ(1274 * 604800.0 + c.lastTow_s, s.last_s);
    EXPECT_EQ(30.0, s.interval_s);
    EXPECT_EQ(c.epochs, s.expected);
    EXPECT_EQ(0u, s.gaps.size());
    if (c.satellites > 0) {
      EXPECT_EQ(c.satellites, s.satellites.size());
    }
    EXPECT_EQ(c.gps, s.gps.size());
    EXPECT_EQ(c.damage, s.damage.size());
    EXPECT_EQ(c.lastEpochCut, s.lastEpochCut);
    ASSERT_EQ(1u, s.sites.size());
    EXPECT_EQ("BAHR", s.sites[0].name);
    EXPECT_EQ(c.epochs, s.sites[0].epochs);
  }
}

}  // namespace
}  // namespace talverin
