#include "tools/download_set/observation_file_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace talverin {
namespace {

// Little-endian bytes of the doubles used below (IEEE 754 binary64).
const uint8_t kOne[8] = {0, 0, 0, 0, 0, 0, 0xF0, 0x3F};       // 1.0
const uint8_t kMinusTwo[8] = {0, 0, 0, 0, 0, 0, 0x00, 0xC0};  // -2.0
const uint8_t kHalf[8] = {0, 0, 0, 0, 0, 0, 0xE0, 0x3F};      // 0.5
const uint8_t kThree[8] = {0, 0, 0, 0, 0, 0, 0x08, 0x40};     // 3.0

void ExpectBytesAt(const std::vector<uint8_t>& bytes, size_t offset, const uint8_t* expected,
                   size_t count, const char* what) {
  ASSERT_LE(offset + count, bytes.size()) << what;
  for (size_t i = 0; i < count; ++i) {
    EXPECT_EQ(expected[i], bytes[offset + i]) << what << " byte " << i;
  }
}

TEST(ObservationFileWriter, FileAndEpochHeaderBytes) {
  ObsFile f;
  f.versionTag = "VERSION:";
  f.model = "LM-XII";
  const std::vector<uint8_t> h = ObservationHeaderBytes(f);
  ASSERT_EQ(90u, h.size());
  const uint8_t tag[8] = {'V', 'E', 'R', 'S', 'I', 'O', 'N', ':'};
  ExpectBytesAt(h, 0, tag, 8, "tag");
  const uint8_t model[7] = {'L', 'M', '-', 'X', 'I', 'I', 0};
  ExpectBytesAt(h, 11, model, 7, "model");

  ObsEpoch e;
  e.site = "A1";
  e.time_s = 1.0;
  e.x_m = -2.0;
  e.y_m = 0.5;
  e.z_m = 3.0;
  e.clock_m = -2.0;
  e.channels.resize(3);
  std::vector<uint8_t> b = EpochHeaderBytes(e);
  ASSERT_EQ(67u, b.size());
  const uint8_t site[4] = {'A', '1', 0, 0};
  ExpectBytesAt(b, 0, site, 4, "site");
  ExpectBytesAt(b, 4, kOne, 8, "time");
  ExpectBytesAt(b, 12, kMinusTwo, 8, "x");
  ExpectBytesAt(b, 20, kHalf, 8, "y");
  ExpectBytesAt(b, 28, kThree, 8, "z");
  ExpectBytesAt(b, 48, kMinusTwo, 8, "clock");
  EXPECT_EQ(3, b[66]);
  for (size_t i : {36u, 47u, 56u, 65u}) EXPECT_EQ(0, b[i]) << i;

  e.countByte = 0xC8;
  EXPECT_EQ(0xC8, EpochHeaderBytes(e)[66]);
}

TEST(ObservationFileWriter, ChannelRecordBytesOfEveryLayout) {
  ObsChannel c;
  c.prn = 0x11;
  c.caRange_s = 1.0;
  c.l1Warning = 0x84;
  c.l1Snr = 0x2A;
  c.doppler = 0x01020304;
  c.l1Phase_cyc = -2.0;
  c.l2Range_s = 0.5;
  c.l2Warning = 0x80;
  c.l2Snr = 0x25;
  c.l2Phase_cyc = 3.0;
  const uint8_t doppler[4] = {0x04, 0x03, 0x02, 0x01};

  for (int size : {35, 66, 97}) {
    const std::vector<uint8_t> r = ChannelRecordBytes(c, size, ObsLayout::kStandard);
    ASSERT_EQ(static_cast<size_t>(size), r.size());
    EXPECT_EQ(0x11, r[0]);
    ExpectBytesAt(r, 4, kOne, 8, "range");
    EXPECT_EQ(0x84, r[19]);
    EXPECT_EQ(0x2A, r[21]);
    ExpectBytesAt(r, 23, doppler, 4, "doppler");
    ExpectBytesAt(r, 27, kMinusTwo, 8, "phase");
  }
  const std::vector<uint8_t> codeless = ChannelRecordBytes(c, 66, ObsLayout::kStandard);
  ExpectBytesAt(codeless, 35, kHalf, 8, "L2 range 66");
  ExpectBytesAt(codeless, 58, kThree, 8, "L2 phase 66");

  const std::vector<uint8_t> dual = ChannelRecordBytes(c, 97, ObsLayout::kStandard);
  ExpectBytesAt(dual, 66, kHalf, 8, "L2 range 97");
  EXPECT_EQ(0x80, dual[81]);
  EXPECT_EQ(0x25, dual[83]);
  ExpectBytesAt(dual, 89, kThree, 8, "L2 phase 97");
  for (size_t i = 35; i < 66; ++i) EXPECT_EQ(0, dual[i]) << i;

  ObsChannel a;
  a.lock_ms = 0x0A0B0C0D;
  a.prn = 0x2B;
  a.transmit_s = 0.5;
  a.doppler = 0x01020304;
  a.l1Phase_cyc = 3.0;
  a.altStatus = 0x05;
  const std::vector<uint8_t> alt = ChannelRecordBytes(a, 66, ObsLayout::kAlternative);
  const uint8_t lock[4] = {0x0D, 0x0C, 0x0B, 0x0A};
  ExpectBytesAt(alt, 0, lock, 4, "lock");
  EXPECT_EQ(0x2B, alt[4]);
  ExpectBytesAt(alt, 8, kHalf, 8, "transmit");
  ExpectBytesAt(alt, 16, doppler, 4, "alt doppler");
  ExpectBytesAt(alt, 23, kThree, 8, "alt phase");
  EXPECT_EQ(0x05, alt[49]);
  // A 35-byte record cannot hold the status byte.
  EXPECT_EQ(35u, ChannelRecordBytes(a, 35, ObsLayout::kAlternative).size());
}

TEST(ObservationFileWriter, FileConcatenatesAndCanBeCut) {
  ObsFile f;
  f.recordSize = 35;
  ObsEpoch e;
  e.channels.resize(2);
  e.rawAfter = {0xEE, 0xEF};
  f.epochs = {e, e};
  f.rawAfter = {0xAB};
  const std::vector<uint8_t> whole = ObservationFileBytes(f);
  ASSERT_EQ(90u + 2 * (67 + 70 + 2) + 1, whole.size());
  EXPECT_EQ(0xEE, whole[90 + 137]);
  EXPECT_EQ('A', whole[90 + 139]);  // second header's site
  EXPECT_EQ(0xAB, whole.back());

  f.cutAt = 100;
  const std::vector<uint8_t> cut = ObservationFileBytes(f);
  ASSERT_EQ(100u, cut.size());
  EXPECT_TRUE(std::equal(cut.begin(), cut.end(), whole.begin()));
}

}  // namespace
}  // namespace talverin
