// The raw download-set reader: every field of every block at hand-computed byte offsets,
// damaged observation files (skipped stretches reported, nothing else lost), and the E file
// of a GLONASS receiver read through the module. (Site and event files and every observable
// of real sets: the RINEX export tests.)
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "base/byte_order.h"
#include "dataset/byte_builder.h"
#include "dataset/download_set_reader.h"
#include "dataset/ephemeris_file_writer.h"
#include "dataset/observation_file_writer.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

using testing_support::TempDir;

// A 97-byte record with a distinct value in every field of the three blocks, placed at
// offsets counted by hand: block starts 4, 35, 66; range +0, warning +15, SNR +17,
// Doppler +19, phase +23.
std::vector<uint8_t> DualRecord(uint8_t prn) {
  std::vector<uint8_t> r(97, 0xEE);  // unread bytes hold noise
  r[0] = prn;
  const int starts[3] = {4, 35, 66};
  for (int b = 0; b < 3; ++b) {
    uint8_t* p = r.data() + starts[b];
    StoreF64(p, 0.07 + 0.001 * b + prn * 1e-6);
    p[15] = static_cast<uint8_t>(128 >> b);
    p[17] = static_cast<uint8_t>(40 + b);
    StoreI32(p + 19, -123456 - b);
    StoreF64(p + 23, 1000.25 * (b + 1) + prn);
  }
  return r;
}

std::vector<uint8_t> Header(const std::string& site, double tow, int8_t count) {
  ObsEpoch e;
  e.site = site;
  e.time_s = tow;
  e.z_m = 3.0;
  e.clock_m = 4.5;
  e.countByte = static_cast<uint8_t>(count);
  return EpochHeaderBytes(e);
}

std::string WriteSet(const TempDir& dir, const std::vector<uint8_t>& body,
                     const std::string& model = "Z-XII3") {
  ObsFile f;
  f.model = model;
  std::vector<uint8_t> bytes = ObservationHeaderBytes(f);
  bytes.insert(bytes.end(), body.begin(), body.end());
  const std::string path = dir.File("BSITEA04.162");
  EXPECT_TRUE(WriteFileBytes(path, bytes));
  return path;
}

void Append(std::vector<uint8_t>* to, const std::vector<uint8_t>& more) {
  to->insert(to->end(), more.begin(), more.end());
}

// An L2-codeless epoch: the C/A block at 4 and the L2 block at 35 (the dual-frequency P1
// and L2 blocks at 35 and 66: every observable of the real sets in the RINEX export tests).
TEST(DownloadSetReader, SignalBlocksReadAtTheirOffsets) {
  TempDir dir;
  std::vector<uint8_t> body = Header("A101", 345600.5, 1);
  Append(&body, DualRecord(9));
  body.resize(body.size() - 97 + 66);  // a 66-byte record
  DownloadSetReader reader;
  ASSERT_EQ(reader.Open(WriteSet(dir, body, "L-XII")), 0) << reader.errorText();
  RawEpoch e;
  ASSERT_EQ(reader.NextEpoch(&e), 1);
  EXPECT_STREQ(e.site, "A101");
  EXPECT_FIELDS(FIELD_IS(reader.receiverType(), 3), FIELD_IS(e.offset, 90),
                FIELD_IS(e.tow_s, 345600.5), FIELD_IS(e.ecef_m[2], 3.0), FIELD_IS(e.clock_m, 4.5));
  ASSERT_EQ(e.channels.size(), 1u);
  const RawChannel& c = e.channels[0];
  EXPECT_EQ(c.prn, 9);
  EXPECT_FALSE(c.hasP1);
  ASSERT_TRUE(c.hasL2);
  const RawSignalBlock* blocks[2] = {&c.ca, &c.l2};
  for (int b = 0; b < 2; ++b) {
    SCOPED_TRACE(b);
    const RawSignalBlock& k = *blocks[b];
    EXPECT_FIELDS(FIELD_IS(k.range_s, 0.07 + 0.001 * b + 9e-6), FIELD_IS(k.warning, 128 >> b),
                  FIELD_IS(k.snr, 40 + b), FIELD_IS(k.doppler, -123456 - b),
                  FIELD_IS(k.phase_cyc, 1000.25 * (b + 1) + 9));
  }
  EXPECT_EQ(reader.NextEpoch(&e), 0);
  EXPECT_TRUE(reader.damage().empty());
}

// Damaged stretches: each case puts bytes between two good epochs (or cuts the file) and
// names the bytes the reader must skip and the epochs it must still deliver.
TEST(DownloadSetReader, DamageIsSkippedAndReported) {
  struct Case {
    const char* name;
    std::vector<uint8_t> middle;  // between epoch 1 and epoch 2
    bool cutLast;                 // cut 50 bytes off the end (inside epoch 2's records)
    int64_t skipped;
    size_t epochs;
  };
  std::vector<uint8_t> tooMany = Header("A101", 40.0, 13);
  tooMany.resize(tooMany.size() + 13 * 97, 0x11);
  std::vector<uint8_t> noise(300, 0xFF);
  // Noise around 67 bytes that read as a header of no channel records, as range and phase
  // doubles sometimes do: not an epoch, since it carries another site name and no plausible
  // header follows it.
  std::vector<uint8_t> falseHeader(100, 0xFF);
  Append(&falseHeader, Header("Q7#z", 45.0, 0));
  falseHeader.resize(falseHeader.size() + 50, 0xFF);
  // An epoch the module writes whose C/A phase is not a number: kept, its 8 bytes reported.
  std::vector<uint8_t> notANumber = Header("A101", 45.0, 1);
  Append(&notANumber, DualRecord(5));
  StoreF64(notANumber.data() + 67 + 4 + 23, std::nan(""));
  const Case cases[] = {
      {"count above 12", tooMany, false, static_cast<int64_t>(tooMany.size()), 2},
      {"noise", noise, false, 300, 2},
      {"noise around a header of no records", falseHeader, false, 217, 2},
      {"cut file", {}, true, 97 * 2 + 67 - 50, 1},
      {"a value that is not a number", notANumber, false, 8, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::vector<uint8_t> body = Header("A101", 30.0, 1);
    Append(&body, DualRecord(3));
    Append(&body, c.middle);
    Append(&body, Header("A101", 60.0, 2));
    Append(&body, DualRecord(3));
    Append(&body, DualRecord(4));
    if (c.cutLast) body.resize(body.size() - 50);
    DownloadSetReader reader;
    ASSERT_EQ(reader.Open(WriteSet(dir, body)), 0);
    std::vector<RawEpoch> epochs;
    RawEpoch e;
    while (reader.NextEpoch(&e) == 1) epochs.push_back(e);
    // A cut epoch is left out, as the module leaves it out.
    ASSERT_EQ(epochs.size(), c.epochs);
    EXPECT_EQ(epochs.back().tow_s, c.cutLast ? 30.0 : 60.0);
    EXPECT_EQ(epochs.back().channels.size(), c.cutLast ? 1u : 2u);
    EXPECT_EQ(reader.lastEpochCut(), c.cutLast);
    ASSERT_EQ(reader.damage().size(), 1u);
    // The stretch starts right after epoch 1.
    EXPECT_EQ(reader.damagedBytes(), c.skipped);
    EXPECT_EQ(reader.damage()[0].offset, 90 + 67 + 97);
    if (c.epochs == 3) {
      EXPECT_EQ(epochs[1].channels[0].ca.phase_cyc, 0.0);  // read as none
    }
  }
}

// More damaged stretches than texts are kept (200): every stretch and byte is still counted,
// and the last text kept is the latest stretch, here the cut at the end of the file.
TEST(DownloadSetReader, DamageBeyondTheKeptTextsIsCounted) {
  TempDir dir;
  std::vector<uint8_t> body;
  for (int i = 0; i < 250; ++i) {
    Append(&body, Header("A101", 30.0 + i, 1));
    Append(&body, DualRecord(5));
    StoreF64(body.data() + body.size() - 97 + 4 + 23, std::nan(""));  // 8 bytes of C/A phase
  }
  Append(&body, Header("A101", 300.0, 1));
  Append(&body, DualRecord(5));
  body.resize(body.size() - 50);
  DownloadSetReader reader;
  ASSERT_EQ(reader.Open(WriteSet(dir, body)), 0);
  RawEpoch e;
  while (reader.NextEpoch(&e) == 1) {
  }
  EXPECT_EQ(reader.damagedPlaces(), 251);
  EXPECT_EQ(reader.damagedBytes(), 250 * 8 + 67 + 97 - 50);
  ASSERT_EQ(reader.damage().size(), 200u);
  EXPECT_EQ(reader.damage().back().offset, 90 + 250 * (67 + 97));
  EXPECT_TRUE(reader.lastEpochCut());
}

// Single-byte faults as field downloads show them: a header read one byte early or late has
// a plausible time near 0 s and used to pass as an epoch. Every epoch delivered must be one
// of the clean set, in order, at most two lost, and the damage reported.
TEST(DownloadSetReader, SingleByteFaultsInventNoEpoch) {
  std::vector<uint8_t> clean;
  for (int k = 0; k < 5; ++k) {
    Append(&clean, Header("A101", 345600.0 + 30.0 * k, 2));
    Append(&clean, DualRecord(3));
    Append(&clean, DualRecord(4));
  }
  // {offset, +1 a zero byte inserted / -1 the byte lost / 0 bit 1 flipped}; epoch k starts
  // at 261 k: before a header, inside a record (twice), a header's site, count 2 read as 0.
  const std::pair<size_t, int> faults[] = {{522, 1}, {378, 1}, {435, -1}, {784, -1}, {588, 0}};
  for (const auto& f : faults) {
    SCOPED_TRACE(f.first);
    TempDir dir;
    std::vector<uint8_t> body = clean;
    if (f.second > 0) body.insert(body.begin() + static_cast<long>(f.first), 0x00);
    if (f.second < 0) body.erase(body.begin() + static_cast<long>(f.first));
    if (f.second == 0) body[f.first] ^= 0x02;
    DownloadSetReader reader;
    ASSERT_EQ(reader.Open(WriteSet(dir, body)), 0);
    RawEpoch e;
    size_t count = 0;
    for (size_t k = 0; reader.NextEpoch(&e) == 1; ++k, ++count) {
      while (k < 5 && 345600.0 + 30.0 * k != e.tow_s) ++k;
      EXPECT_LT(k, 5u) << e.tow_s;  // a clean epoch's time, later than the one before
    }
    EXPECT_GE(count, 3u);
    EXPECT_FALSE(reader.damage().empty());
  }
}

// The E file of a GLONASS receiver through the module: a GPS record with its health, a
// GLONASS record after it (PRN 40, y 15,000 km), and a cut last record reported where it
// starts.
TEST(DownloadSetReader, CompanionFilesThroughTheModule) {
  TempDir dir;
  GpsEph eph{};
  eph.prn = 7;
  EphemerisFileWriter e;
  e.AddGps(eph, 63);
  e.AddGlonass({40, 0, 0, 0.0, 0.0f, 0.0f, 0, 0.0, {0.0, 1.5e7, 0.0}});
  e.AddCut(GpsEphemerisRecord(eph), 100);
  ASSERT_TRUE(e.WriteTo(dir.File("ESITEA04.162")));
  DownloadSetReader reader;
  ASSERT_EQ(reader.Open(WriteSet(dir, Header("A101", 30.0, 0), "GG-24")), 0);
  std::vector<SetGpsEphemeris> gps;
  std::vector<SetGlonassEphemeris> glonass;
  ASSERT_EQ(reader.ReadEphemerides(&gps, &glonass), 0);
  ASSERT_EQ(gps.size(), 1u);
  ASSERT_EQ(glonass.size(), 1u);
  ASSERT_EQ(reader.damage().size(), 1u);
  EXPECT_FIELDS(FIELD_IS(reader.receiverType(), 4), FIELD_IS(gps[0].eph.prn, 7),
                FIELD_IS(gps[0].health, 63), FIELD_IS(glonass[0].offset, 129),
                FIELD_IS(glonass[0].fields.prn, 40), FIELD_IS(glonass[0].fields.pos[1], 1.5e7),
                FIELD_IS(reader.damage()[0].file, 'E'),
                FIELD_IS(reader.damage()[0].offset, 2 * 129));
}

}  // namespace
}  // namespace talverin
