// The raw download-set reader: every field of every block at hand-computed byte offsets,
// damaged observation files (skipped stretches reported, nothing else lost), and the E, S
// and D files read through the module.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "input/event_marks.h"
#include "tests/support/test_support.h"
#include "tools/download_set/byte_builder.h"
#include "tools/download_set/download_set_reader.h"
#include "tools/download_set/ephemeris_file_writer.h"
#include "tools/download_set/observation_file_writer.h"
#include "tools/download_set/site_event_writers.h"

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
  e.x_m = 1.0;
  e.y_m = 2.0;
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

TEST(DownloadSetReader, DualFrequencyBlocksReadAtTheirOffsets) {
  TempDir dir;
  std::vector<uint8_t> body = Header("A101", 345600.5, 2);
  Append(&body, DualRecord(5));
  Append(&body, DualRecord(17));
  DownloadSetReader reader;
  ASSERT_EQ(reader.Open(WriteSet(dir, body)), 0) << reader.errorText();
  EXPECT_EQ(reader.receiverType(), 2);
  EXPECT_STREQ(reader.model(), "Z-XII3");
  RawEpoch e;
  ASSERT_EQ(reader.NextEpoch(&e), 1);
  EXPECT_EQ(e.offset, 90);
  EXPECT_STREQ(e.site, "A101");
  EXPECT_EQ(e.tow_s, 345600.5);
  EXPECT_EQ(e.ecef_m[2], 3.0);
  EXPECT_EQ(e.clock_m, 4.5);
  ASSERT_EQ(e.channels.size(), 2u);
  const RawChannel& c = e.channels[1];
  EXPECT_EQ(c.prn, 17);
  ASSERT_TRUE(c.hasP1 && c.hasL2);
  const RawSignalBlock* blocks[3] = {&c.ca, &c.p1, &c.l2};
  for (int b = 0; b < 3; ++b) {
    SCOPED_TRACE(b);
    EXPECT_EQ(blocks[b]->range_s, 0.07 + 0.001 * b + 17e-6);
    EXPECT_EQ(blocks[b]->warning, 128 >> b);
    EXPECT_EQ(blocks[b]->snr, 40 + b);
    EXPECT_EQ(blocks[b]->doppler, -123456 - b);
    EXPECT_EQ(blocks[b]->phase_cyc, 1000.25 * (b + 1) + 17);
  }
  EXPECT_EQ(reader.NextEpoch(&e), 0);
  EXPECT_TRUE(reader.damage().empty());
}

TEST(DownloadSetReader, L2CodelessBlockStartsAtByte35) {
  TempDir dir;
  std::vector<uint8_t> record = DualRecord(9);
  record.resize(66);
  std::vector<uint8_t> body = Header("A101", 10.0, 1);
  Append(&body, record);
  DownloadSetReader reader;
  ASSERT_EQ(reader.Open(WriteSet(dir, body, "L-XII")), 0);
  RawEpoch e;
  ASSERT_EQ(reader.NextEpoch(&e), 1);
  ASSERT_EQ(e.channels.size(), 1u);
  EXPECT_FALSE(e.channels[0].hasP1);
  ASSERT_TRUE(e.channels[0].hasL2);
  EXPECT_EQ(e.channels[0].l2.phase_cyc, 1000.25 * 2 + 9);
  EXPECT_EQ(e.channels[0].l2.snr, 41);
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
    EXPECT_EQ(reader.damagedBytes(), c.skipped);
    EXPECT_EQ(reader.damage()[0].offset, 90 + 67 + 97);
    if (c.epochs == 3) {
      EXPECT_EQ(epochs[1].channels[0].ca.phase_cyc, 0.0);  // read as none
    }
  }
}

// Single-byte faults as field downloads show them. A header read one byte early or late
// has a plausible time near 0 s (its top byte shifted out) and used to pass as an epoch:
// every epoch delivered must be one of the clean set, in order, with at most the damaged
// epoch and the one after it lost and the damage reported.
TEST(DownloadSetReader, SingleByteFaultsInventNoEpoch) {
  std::vector<uint8_t> clean;
  std::vector<size_t> starts;
  for (int k = 0; k < 5; ++k) {
    starts.push_back(clean.size());
    Append(&clean, Header("A101", 345600.0 + 30.0 * k, 2));
    Append(&clean, DualRecord(3));
    Append(&clean, DualRecord(4));
  }
  struct Fault {
    const char* name;
    size_t at;
    int kind;  // 1 a zero byte inserted, -1 the byte lost, 0 bit 1 flipped
  };
  const Fault faults[] = {
      {"byte inserted before a header", starts[2], 1},
      {"byte inserted inside a record", starts[1] + 67 + 50, 1},
      {"byte lost inside a record", starts[1] + 67 + 97 + 10, -1},
      {"byte lost from a header's site", starts[3] + 1, -1},
      {"count 2 read as 0", starts[2] + 66, 0},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.name);
    TempDir dir;
    std::vector<uint8_t> body = clean;
    if (f.kind > 0) {
      body.insert(body.begin() + static_cast<long>(f.at), 0x00);
    } else if (f.kind < 0) {
      body.erase(body.begin() + static_cast<long>(f.at));
    } else {
      body[f.at] ^= 0x02;
    }
    DownloadSetReader reader;
    ASSERT_EQ(reader.Open(WriteSet(dir, body)), 0);
    RawEpoch e;
    double previous = 0.0;
    size_t count = 0;
    while (reader.NextEpoch(&e) == 1) {
      const double k = (e.tow_s - 345600.0) / 30.0;
      EXPECT_TRUE(k >= 0.0 && k <= 4.0 && k == std::floor(k)) << e.tow_s;
      EXPECT_GT(e.tow_s, previous);
      previous = e.tow_s;
      ++count;
    }
    EXPECT_GE(count, 3u);
    EXPECT_FALSE(reader.damage().empty());
  }
}

TEST(DownloadSetReader, CompanionFilesThroughTheModule) {
  TempDir dir;
  std::vector<uint8_t> body = Header("A101", 30.0, 0);
  DownloadSetReader reader;
  ASSERT_EQ(reader.Open(WriteSet(dir, body, "GG-24")), 0);
  EXPECT_EQ(reader.receiverType(), 4);

  GpsEph eph{};
  eph.prn = 7;
  eph.week = 250;
  eph.toe = 345600;
  eph.m0 = 0.5;
  EphemerisFileWriter e;
  e.AddGps(eph, 0);
  e.AddGps(eph, 63);
  GlonassEphFields g;
  g.prn = 40;
  g.pos_m[1] = 1.5e7;
  e.AddGlonass(g);
  e.AddCut(GpsEphemerisRecord(eph), 100);
  ASSERT_TRUE(e.WriteTo(dir.File("ESITEA04.162")));
  std::vector<SetGpsEphemeris> gps;
  std::vector<SetGlonassEphemeris> glonass;
  ASSERT_EQ(reader.ReadEphemerides(&gps, &glonass), 0);
  ASSERT_EQ(gps.size(), 2u);
  EXPECT_EQ(gps[1].health, 63);
  EXPECT_EQ(gps[1].offset, 129);
  EXPECT_DOUBLE_EQ(gps[0].eph.m0, 0.5);
  ASSERT_EQ(glonass.size(), 1u);
  EXPECT_EQ(glonass[0].fields.pos[1], 1.5e7);
  ASSERT_EQ(reader.damage().size(), 1u);
  EXPECT_EQ(reader.damage()[0].file, 'E');
  EXPECT_EQ(reader.damage()[0].offset, 3 * 129);

  SetSiteInfo site;
  reader.ReadSite(&site);
  EXPECT_FALSE(site.present);
  SiteFileLines lines;
  lines.line6 = SiteHeightLine("BEFORE", 1.2345);
  ASSERT_TRUE(WriteFileText(dir.File("SSITEA04.162"), SiteFileText(lines)));
  reader.ReadSite(&site);
  EXPECT_TRUE(site.present);
  EXPECT_STREQ(site.name, "ABCD");
  EXPECT_DOUBLE_EQ(site.antennaHeight_m, 1.2345);

  EventFileBuilder d;
  d.Time(100.0).Mark("P001", "FENCE", "1.500");
  ASSERT_TRUE(WriteFileText(dir.File("DSITEA04.162"), d.Text()));
  EventTable table;
  ASSERT_EQ(reader.ReadEvents(false, &table), 0);
  ASSERT_EQ(table.count, 1);
  EXPECT_STREQ(table.records[0].evName, "P001");
  EXPECT_EQ(table.records[0].evTime, 100.0);  // GLONASS receivers keep the event time
  FreeEventTable(table);
}

}  // namespace
}  // namespace talverin
