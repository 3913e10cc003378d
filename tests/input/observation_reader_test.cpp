// The observation reader: channel records decoded from hand-placed bytes, the time step and
// the header position, and whole observation files converted through ConvertFile and read
// back from the GPB file (every layout, progress, damage, recovery and premature ends).
#include "input/observation_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/byte_order.h"
#include "base/text_buffer.h"
#include "input/receiver_detect.h"
#include "job/conversion_job.h"
#include "tests/support/conversion_fixtures.h"

#include <GeographicLib/Geocentric.hpp>

namespace talverin {
namespace {

using testing_support::ConvertDownloadSet;
using testing_support::ConvertedSet;
using testing_support::Message;
using testing_support::ReceiverEcef;
using testing_support::TempDir;

constexpr double kC = 299792458.0;               // m/s
constexpr double kInvC = 3.3356409519815204e-9;  // s/m, as the receiver files use it
constexpr char kTooMany[] = "Error: Too many channels: \nWill Try to Recover Data";

TEST(TimeStep, FoldsAcrossWeekBoundariesInBothDirections) {
  const struct {
    double t, previous, expected;
  } cases[] = {
      {30.0, 10.0, 20.0},
      {5.0, 10.0, -5.0},
      {10.0, 604790.0, 20.0},         // 10 s into the next week: d = -604780
      {604790.0, 10.0, -20.0},        // back across the start of the week
      {400000.0, 95200.0, 304800.0},  // exactly the limit is not folded
      {100.0, 0.0, 0.0},              // no previous time
      {100.0, -1.0, 0.0},
      {kNaN, 10.0, 0.0},
      {10.0, kNaN, 0.0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, TimeStep(c.t, c.previous)) << c.t << " after " << c.previous;
  }
}

// Record bytes placed at their offsets by hand, not by the file writer.
std::vector<uint8_t> HandRecord(uint8_t prn, double range_s, uint8_t l1Warning, uint8_t snr,
                                int32_t doppler, double phase) {
  std::vector<uint8_t> r(kChannelBufferSize, 0);
  r[0] = prn;
  StoreF64(&r[4], range_s);
  r[19] = l1Warning;
  r[21] = snr;
  StoreI32(&r[23], doppler);
  StoreF64(&r[27], phase);
  return r;
}

// prn, sflags, range1, phase1, doppler1, snr1, range2, phase2, snr2 of a decoded channel.
std::vector<double> Fields(const gpb_sat_type& s) {
  return {double(s.prn), double(s.sflags), s.range1, s.phase1, s.doppler1,
          s.snr1,        s.range2,         s.phase2, s.snr2};
}

TEST(DecodeChannel, EveryLayoutGivesMetresCyclesAndFlags) {
  ConversionJob job;
  job.receiverType = 3;
  gpb_epoch_type epoch{};
  std::vector<uint8_t> r = HandRecord(17, 0.0712345, 0, 42, -2345678, 1234567.875);
  StoreF64(&r[35], 0.0712399);   // type 3 L2 range
  StoreF64(&r[58], -960000.25);  // type 3 L2 phase
  int32_t leap = 0;
  ASSERT_EQ(0, DecodeChannel(job, epoch, r.data(), 1.0, 2, &leap));
  EXPECT_EQ(
      (std::vector<double>{17, 0x1 | 0x2 | 0x4 | 0x8 | 0x10 | 0x40 | 0x80, 0.0712345 * kC,
                           -1234567.875, -(-2345678 * 0.0001), 42, 0.0712399 * kC, 960000.25, 0}),
      Fields(epoch.sat[2]));

  // Type 2: the L2 block sits at 66 (range), 81 (warning), 83 (SNR), 89 (phase).
  job.receiverType = 2;
  std::vector<uint8_t> d = HandRecord(5, 0.0701, 0, 40, 100, 2.0e6);
  StoreF64(&d[35], 99.0);  // unread bytes of type 2: must not reach range2
  StoreF64(&d[66], 0.0702);
  d[83] = 37;
  StoreF64(&d[89], 1.5e6);
  ASSERT_EQ(0, DecodeChannel(job, epoch, d.data(), 1.0, 0, &leap));
  std::vector<double> dual = {5,  0x3FF & ~0x20, 0.0701 * kC, -2.0e6, -(100 * 0.0001),
                              40, 0.0702 * kC,   -1.5e6,      37};
  EXPECT_EQ(dual, Fields(epoch.sat[0]));

  // Types 1 and 4 carry no L2 values, whatever the bytes after 35 hold.
  for (int32_t type : {1, 4}) {
    job.receiverType = type;
    ASSERT_EQ(0, DecodeChannel(job, epoch, d.data(), 1.0, 1, &leap));
    dual[1] = 0x1F;
    dual[6] = dual[7] = dual[8] = 0;
    EXPECT_EQ(dual, Fields(epoch.sat[1])) << type;
  }

  // The alternative layout: lock (ms) at 0, PRN at 4 (not range-checked), transmit time
  // at 8, Doppler at 16, phase at 23, status at 49 (only bit 2 does not reject).
  job.receiverType = 2;
  epoch.gpsTime = 200000.0;
  std::vector<uint8_t> a(kChannelBufferSize, 0);
  StoreU32(&a[0], 123456);
  a[4] = 200;
  StoreF64(&a[8], 199999.925);  // transmitted 75 ms earlier
  StoreI32(&a[16], 31415926);
  StoreF64(&a[23], 2718281.5);
  a[49] = 2;
  ASSERT_EQ(0, DecodeChannelAlt(job, epoch, a.data(), 3));
  EXPECT_EQ((std::vector<double>{200, 0x1 | 0x2 | 0x4 | 0x8, (200000.0 - 199999.925) * kC,
                                 -2718281.5, 31415926 * 0.0001 * -1.0, 0, 0, 0, 0}),
            Fields(epoch.sat[3]));
  EXPECT_EQ(123456 * 0.001, epoch.sat[3].lock1);
  EXPECT_EQ(1, DecodeChannelAlt(job, epoch, a.data(), 24));
  for (uint8_t status : {1, 4, 5, 0xFF}) {
    gpb_epoch_type other{};
    a[49] = status;
    EXPECT_EQ(1, DecodeChannelAlt(job, other, a.data(), 0)) << int(status);
    EXPECT_EQ(0u, other.sat[0].prn);
  }
}

std::vector<std::string> gTexts;
void TALVERIN_CALL RecordText(double, const char* text) { gTexts.push_back(text); }

// A zero phase leaves its flag clear (the codeless L2 phase flag stays set); with the
// option, an L2 phase without an L2 range is dropped but keeps its flag. PRNs each
// receiver type can have, and slots outside the epoch, decide whether a record is taken.
// Quality warnings are sent with their option only (of the L1 ones the first only); the
// last one sent is also the module error text.
TEST(DecodeChannel, PhasesPrnsSlotsAndQualityWarnings) {
  constexpr uint32_t kUnchecked = 0xFFFFFFFFu;
  const std::string l1 = "L1 phase question: prn 7 @ 3600.5";
  const std::string l2 = "L2 Phase questionable on prn 7 at 3600.5";
  const std::string l2Phase = "L2 phase question: prn 7 @ 3600.5";
  const struct {
    int32_t type, option;  // option: DropL2PhaseWithoutRange and ReportQualityWarnings
    uint8_t prn;
    int32_t slot, result;
    uint8_t l1Warning = 0, l2Warning = 0;
    std::vector<std::string> texts = {};
    double phase1 = 1.0, l2Range_s = 0.0, l2Phase = 0.0;  // L2: dual frequency record only
    uint32_t flags = kUnchecked;                          // sflags & 0x82
    double phase2 = 0.0;
  } cases[] = {
      {3, 0, 9, 0, 0, 0, 0, {}, 0.0, 0.0, 0.0, 0x80u, 0.0},
      {2, 0, 9, 0, 0, 0, 0, {}, 0.0, 0.0, 0.0, 0x00u, 0.0},
      {2, 1, 9, 0, 0, 0, 0, {}, 0.0, 0.0, 777.0, 0x80u, 0.0},
      {2, 1, 9, 0, 0, 0, 0, {}, 0.0, 0.0702, 777.0, 0x80u, -777.0},
      {2, 0, 9, 0, 0, 0, 0, {}, 0.0, 0.0, 777.0, 0x80u, -777.0},
      {1, 0, 0, 0, 1},
      {1, 0, 1, 0, 0},
      {1, 0, 32, 0, 0},
      {1, 0, 33, 0, 1},
      {2, 0, 40, 0, 1},
      {3, 0, 40, 0, 1},
      {4, 0, 0, 0, 1},
      {4, 0, 40, 0, 0},
      {4, 0, 71, 0, 0},
      {4, 0, 72, 0, 1},
      {4, 0, 255, 0, 1},
      {2, 0, 200, 0, 1},
      {1, 0, 3, 23, 0},
      {1, 0, 3, 24, 1},
      {1, 0, 3, -1, 1},
      {1, 1, 7, 0, 0, 4 | 8 | 16, 0, {l1}},
      {1, 1, 7, 0, 0, 8 | 16, 0, {"Code phase questionable on prn 7"}},
      {1, 1, 7, 0, 0, 16, 0, {"Code phase integration unstable on prn 7"}},
      {2, 1, 7, 0, 0, 0, 128, {l2}},
      {2, 1, 7, 0, 0, 4, 128, {l1, l2, l2Phase}},
      {2, 0, 7, 0, 0, 4 | 8 | 16, 128},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type) + " prn " + std::to_string(c.prn) + " slot " +
                 std::to_string(c.slot) + " L2 phase " + std::to_string(c.l2Phase));
    ConversionJob job;
    job.receiverType = c.type;
    job.options.DropL2PhaseWithoutRange = c.option;
    job.options.ReportQualityWarnings = c.option;
    job.messageCallback = RecordText;
    gTexts.clear();
    ModuleErrorText()[0] = '\0';
    gpb_epoch_type epoch{};
    epoch.gpsTime = 3600.5;
    std::vector<uint8_t> r = HandRecord(c.prn, 0.07, c.l1Warning, 0, 0, c.phase1);
    StoreF64(&r[66], c.l2Range_s);
    r[81] = c.l2Warning;
    StoreF64(&r[89], c.l2Phase);
    EXPECT_EQ(c.result, DecodeChannel(job, epoch, r.data(), 1.0, c.slot, nullptr));
    if (c.flags != kUnchecked) {
      EXPECT_EQ(c.flags, epoch.sat[0].sflags & 0x82u);
      EXPECT_EQ(c.phase2, epoch.sat[0].phase2);
    }
    EXPECT_EQ(c.texts, gTexts);
    EXPECT_EQ(c.texts.empty() ? std::string() : c.texts.back(), ModuleErrorText());
    EXPECT_STREQ("", job.messageBuffer);
  }
}

TEST(DecodeChannel, TrackingTimesGrowAndRestart) {
  ConversionJob job;
  job.receiverType = 2;
  gpb_epoch_type epoch{};
  const struct {
    double dt;
    uint8_t l1Warning, l2Warning;
    double lock1, lock2;
  } steps[] = {
      {-1.0, 0, 0, 0.0, -1.0},  // first epoch: L1 restarts, L2 receives -1.0
      {20.0, 0, 0, 20.0, 19.0},
      {20.0, 0, 0, 40.0, 39.0},
      {20.0, 128, 0, 0.0, 59.0},  // L1 restart bit
      {10.0, 0, 0, 10.0, 69.0},
      {0.0, 0, 0, 0.0, 69.0},  // dt <= 0 restarts L1 only
      {-5.0, 0, 0, 0.0, 64.0},
      {10.0, 0, 128, 10.0, 0.0},  // L2 restart bit
      {10.0, 4, 0, 0.0, 0.0},     // L1 phase questionable restarts both
      {10.0, 8, 0, 10.0, 10.0},   // code warnings do not
      {10.0, 16, 0, 20.0, 20.0},
      {kNaN, 0, 0, 0.0, 0.0},  // a non-finite step restarts L2 instead of poisoning it
      {1.0, 0, 0, 1.0, 1.0},
  };
  for (const auto& s : steps) {
    std::vector<uint8_t> r = HandRecord(12, 0.07, s.l1Warning, 0, 0, 1.0);
    r[81] = s.l2Warning;
    ASSERT_EQ(0, DecodeChannel(job, epoch, r.data(), s.dt, 0, nullptr));
    EXPECT_EQ(s.lock1, epoch.sat[0].lock1) << "step " << &s - steps;
    EXPECT_EQ(s.lock2, epoch.sat[0].lock2) << "step " << &s - steps;
  }
  EXPECT_EQ(0.0, job.l1Time[11]);  // another PRN's times are untouched
  EXPECT_EQ(0.0, job.l2Time[13]);
}

// Round trip against the closed-form forward conversion on the receivers' own ellipsoid,
// near the poles and up to GPS orbit height; and against GeographicLib, whose WGS84 e^2
// (0.00669437999014, the receivers round it to 0.006694380066) moves latitudes by up to
// 3e-9 degrees: there the tolerance is 1e-8 degrees (1 mm).
TEST(EcefToGeodetic, RoundTripsAGridAgreesWithGeographicLibAndSurvivesEdgePoints) {
  for (double lat = -89.9; lat <= 89.9; lat += 9.98) {
    for (double lon = -179.0; lon <= 180.0; lon += 37.0) {
      for (double h : {-100.0, 0.0, 1500.0, 20200000.0}) {
        double x, y, z, la, lo, hh;
        ReceiverEcef(lat, lon, h, &x, &y, &z);
        EcefToGeodetic(x, y, z, &la, &lo, &hh);
        EXPECT_NEAR(lat, la * 180.0 / M_PI, 1e-9) << lat << " " << lon << " " << h;  // ~0.1 mm
        EXPECT_NEAR(lon, lo * 180.0 / M_PI, 1e-9);
        EXPECT_NEAR(h, hh, 1e-3);  // 1 mm
        double gLat, gLon, gH;
        GeographicLib::Geocentric::WGS84().Reverse(x, y, z, gLat, gLon, gH);
        EXPECT_NEAR(gLat, la * 180.0 / M_PI, 1e-8);
        EXPECT_NEAR(gLon, lo * 180.0 / M_PI, 1e-12);
        EXPECT_NEAR(gH, hh, 1e-3);
      }
    }
  }
  // The polar axis and non-finite input give zeros; deep inside the Earth, where the
  // fixed-point iteration oscillates, it still returns (with the longitude of the point).
  const double inputs[][3] = {{0, 0, 6356752.3}, {0, 0, -6356752.3}, {0, 0, 0},
                              {kNaN, 1, 2},      {1, kInf, 2},       {1, 2, -kInf},
                              {1.0, 0.0, 0.0},   {1e-3, 1e-3, 1e-3}, {1e300, 1e300, 1e300}};
  for (const auto& p : inputs) {
    double la = 9, lo = 9, hh = 9;
    EcefToGeodetic(p[0], p[1], p[2], &la, &lo, &hh);
    const bool zeros = !std::isfinite(p[0] + p[1] + p[2]) || (p[0] == 0.0 && p[1] == 0.0);
    EXPECT_NEAR(zeros ? 0.0 : std::atan2(p[1], p[0]), lo, 1e-15) << p[0] << " " << p[2];
    if (zeros) {
      EXPECT_EQ(0.0, la);
      EXPECT_EQ(0.0, hh);
    }
  }
}

// --- Whole files through ConvertFile --------------------------------------------------

ObsChannel Channel(uint8_t prn, int k) {
  ObsChannel c;
  c.prn = prn;
  c.caRange_s = 0.0701 + 0.0001 * k;
  c.l1Snr = static_cast<uint8_t>(30 + k);
  c.doppler = 12345678 + 1000 * k;  // 1234.5678 Hz + 0.1 k
  c.l1Phase_cyc = 1.25e6 + 0.5 * k;
  c.l2Range_s = 0.0702 + 0.0001 * k;
  c.l2Snr = static_cast<uint8_t>(20 + k);
  c.l2Phase_cyc = -9.75e5 - 0.25 * k;
  c.lock_ms = 5000u + 250u * k;
  c.transmit_s = -(0.0701 + 0.0001 * k);  // added to the epoch time by EpochAt
  return c;
}

// An epoch at 47.25 N 8.5 E, 512 m, clock 12345.678 m; n channels of PRNs 1..n unless
// channels are given. The top byte of every record's phase is 0x41 ('A').
ObsEpoch EpochAt(double time_s, int n, std::vector<ObsChannel> channels = {}) {
  ObsEpoch e;
  e.time_s = time_s;
  ReceiverEcef(47.25, 8.5, 512.0, &e.x_m, &e.y_m, &e.z_m);
  e.clock_m = 12345.678;
  for (int k = 0; k < n; ++k) channels.push_back(Channel(static_cast<uint8_t>(k + 1), k));
  for (ObsChannel& c : channels) c.transmit_s += time_s;
  e.channels = std::move(channels);
  return e;
}

// A file of no epochs yet, with the record size of the receiver type.
ObsFile FileOf(int32_t type) {
  ObsFile f;
  f.model = "G-12";
  f.recordSize = ChannelRecordSize(type);
  return f;
}

// Damage to a file's bytes.
using ByteDamage = std::function<void(std::vector<uint8_t>&)>;

ConvertedSet Convert(const ObsFile& f, int32_t type,
                     const std::function<void(ConvertOptions&)>& more = {},
                     const ByteDamage& damage = {}) {
  std::vector<uint8_t> bytes = ObservationFileBytes(f);
  if (damage) damage(bytes);
  TempDir dir;
  return ConvertDownloadSet(dir, bytes, {}, [&](ConvertOptions& o) {
    o.ReceiverType = type;
    o.RecomputePosition = 0;
    o.AltChannelLayout = f.layout == ObsLayout::kAlternative ? 1 : 0;
    if (more) more(o);
  });
}

// Whole files of every layout: the reader takes the decoder of the layout and steps by the
// record size of the type, so the third channel comes from its own record. Progress comes
// at the headers of epochs 0, 50 and 100 and at the end; Doppler values are brought to Hz
// when every one of the epoch is below 5 in the file's units.
TEST(ObservationFile, EveryLayoutReadsEachChannelFromItsOwnRecord) {
  const struct {
    int32_t type;
    bool alternative, l2;
  } cases[] = {
      {1, false, false}, {2, false, true}, {3, false, true},
      {4, false, false}, {1, true, false}, {2, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + (c.alternative ? " alternative" : ""));
    ObsFile f = FileOf(c.type);
    if (c.alternative) f.layout = ObsLayout::kAlternative;
    for (int i = 0; i < 101; ++i) f.epochs.push_back(EpochAt(345600.0 + i, 3));
    for (int i : {99, 100}) {
      for (ObsChannel& ch : f.epochs[i].channels) ch.doppler = 12345;  // -1.2345
    }
    f.epochs[100].channels[0].doppler = 50000;  // -5.0: not below 5
    const ConvertedSet out = Convert(f, c.type);
    ASSERT_EQ(101u, out.epochs.size());
    ASSERT_EQ(3, out.epochs[0].epoch.nsat);
    const gpb_sat_type& s = out.epochs[0].epoch.sat[2];
    const double range_s = 0.0701 + 0.0001 * 2;  // alternative: reception - transmission
    EXPECT_EQ(3u, s.prn);
    EXPECT_EQ((c.alternative ? 345600.0 - (345600.0 - range_s) : range_s) * kC, s.range1);
    EXPECT_EQ(-(1.25e6 + 0.5 * 2), s.phase1);
    EXPECT_EQ(c.alternative ? 5.5 : 0.0, s.lock1);
    EXPECT_NEAR(c.l2 ? (0.0702 + 0.0001 * 2) * kC : 0.0, s.range2, 1e-3);
    EXPECT_DOUBLE_EQ(-12345.0, out.epochs[99].epoch.sat[1].doppler1);
    EXPECT_DOUBLE_EQ(-5.0, out.epochs[100].epoch.sat[0].doppler1);
    const int32_t epochBytes = 67 + 3 * f.recordSize;
    const int32_t total = 90 + 101 * epochBytes;
    const std::vector<std::pair<int32_t, int32_t>> expected = {{90 + 67, total},
                                                               {90 + 50 * epochBytes + 67, total},
                                                               {90 + 100 * epochBytes + 67, total},
                                                               {total, total}};
    EXPECT_EQ(expected, out.run.progress);
  }
}

// Without recomputation the header position is passed on as the receiver's, flagged valid
// only where a receiver can be: with four channels, not zeros (no fix yet), not
// non-finite, not on the polar axis, and from 1 km below to 100 km above the ellipsoid.
// ForceMoving adds the moving bit to every epoch.
TEST(ObservationFile, HeaderPositionIsValidOnlyWhereAReceiverCanBe) {
  const struct {
    double lat_deg, lon_deg, h_m;  // converted to ECEF here unless xyz is given
    bool geodetic;
    double x, y, z;
    bool valid;
    int channels = 4;
  } cases[] = {
      {0, 0, 0, false, 0.0, 0.0, 0.0, false},
      {0, 0, 0, false, kNaN, 1.0e6, 6.0e6, false},
      {0, 0, 0, false, 0.0, 0.0, 6356752.3, false},  // North Pole: no longitude
      {31.5, 35.5, -420.0, true, 0, 0, 0, true},     // the Dead Sea shore
      {47.25, 8.5, 99000.0, true, 0, 0, 0, true},
      {47.25, 8.5, 101000.0, true, 0, 0, 0, false},
      {47.25, 8.5, -1100.0, true, 0, 0, 0, false},
      {47.25, 8.5, 512.0, true, 0, 0, 0, false, 3},  // three channels
  };
  ObsFile f = FileOf(1);
  for (const auto& c : cases) {
    ObsEpoch e = EpochAt(100.0 + f.epochs.size(), c.channels);
    if (c.geodetic) {
      ReceiverEcef(c.lat_deg, c.lon_deg, c.h_m, &e.x_m, &e.y_m, &e.z_m);
    } else {
      e.x_m = c.x;
      e.y_m = c.y;
      e.z_m = c.z;
    }
    f.epochs.push_back(e);
  }
  const ConvertedSet out = Convert(f, 1, [](ConvertOptions& o) { o.ForceMoving = 1; });
  ASSERT_EQ(std::size(cases), out.epochs.size());
  for (size_t i = 0; i < out.epochs.size(); ++i) {
    const gpb_epoch_type& e = out.epochs[i].epoch;
    const auto& c = cases[i];
    SCOPED_TRACE(i);
    EXPECT_EQ((c.valid ? 1 : 0) | 2, e.flags);  // ForceMoving: every epoch moving
    EXPECT_NEAR(c.valid ? c.lat_deg : 0.0, e.lat, 1e-9);
    EXPECT_NEAR(c.valid ? c.lon_deg : 0.0, e.lon, 1e-9);
    EXPECT_NEAR(c.valid ? c.h_m : 0.0, e.height, 1e-2);
    // The receiver's clock and times pass through as the header gives them.
    EXPECT_EQ(12345.678, e.clock);
    EXPECT_EQ(100.0 + i, e.rcvTime);
    EXPECT_DOUBLE_EQ(100.0 + i - 12345.678 * kInvC, e.corrTime);
  }
}

// Damage to a file of three-channel epochs: to its description, or to its bytes at an
// offset within epoch i (after the 90-byte file header; 67 + 3 * 35 bytes an epoch).
using Damage = std::function<void(ObsFile&)>;
size_t At(size_t epoch, size_t offset) { return 90 + epoch * (67 + 3 * 35) + offset; }
// The epochs replaced by epochs of three channels at these times.
Damage Times(const std::vector<double>& times_s) {
  return [=](ObsFile& f) {
    f.epochs.clear();
    for (double t : times_s) f.epochs.push_back(EpochAt(t, 3));
  };
}
Damage Time(size_t epoch, double t_s) {
  return [=](ObsFile& f) { f.epochs[epoch].time_s = t_s; };
}
Damage Count(size_t epoch, uint8_t count) {
  return [=](ObsFile& f) { f.epochs[epoch].countByte = count; };
}
Damage Site(size_t epoch, const std::string& name) {
  return [=](ObsFile& f) { f.epochs[epoch].site = name; };
}
Damage Prns(size_t epoch, const std::vector<uint8_t>& prns) {
  return [=](ObsFile& f) {
    for (size_t k = 0; k < prns.size(); ++k) f.epochs[epoch].channels[k].prn = prns[k];
  };
}
// The second epoch replaced by one of n channels at t_s.
Damage Wide(double t_s, int n) {
  return [=](ObsFile& f) { f.epochs[1] = EpochAt(t_s, n); };
}
Damage Cut(size_t epoch, size_t offset) {
  return [=](ObsFile& f) { f.cutAt = At(epoch, offset); };
}
ByteDamage Insert(size_t epoch, size_t offset, uint8_t byte, size_t count = 1) {
  return [=](std::vector<uint8_t>& b) { b.insert(b.begin() + At(epoch, offset), count, byte); };
}
ByteDamage Erase(size_t epoch, size_t offset) {
  return [=](std::vector<uint8_t>& b) { b.erase(b.begin() + At(epoch, offset)); };
}

TEST(ObservationFile, ImplausibleHeadersAreDroppedAndReadingResumesAtTheNextTrueEpoch) {
  // Epochs of three channels, 30 s apart unless a case says otherwise. Each case damages
  // the file and names the times that must come out, in order.
  struct Case {
    const char* what;
    Damage damage;     // on the description
    ByteDamage bytes;  // then on the file's bytes
    std::vector<double> expected;
    int recoveries;                // "Will Try to Recover Data" messages
    const char* reason = nullptr;  // a text some messages hold
    double reasonTime_s = -1.0;    // of those messages; -1: not checked
    bool fails = false;            // the reason is the module error text and the last message
    int32_t type = 1;
    int reasons = 1;           // messages that hold the reason
    bool alternative = false;  // channel layout
  };
  const std::vector<double> regular = {100, 130, 160, 190, 220};
  const std::vector<double> second = {100, 160, 190, 220};  // the second epoch dropped
  const std::vector<double> first = {130, 160, 190, 220};
  const std::vector<double> third = {100, 130, 190, 220};
  const std::vector<double> fourth = {100, 130, 160, 220};
  const std::vector<double> restart = {345600, 345630, 100000, 100030};  // backwards
  const std::vector<double> rollover = {604740, 604770, 0, 30};
  const char* const early = "(the epoch after the one at 160.000 s starts 1 bytes early)";
  const char* const end3 = "Warning: Pre-mature end of file at 3 epochs";
  const char* const end5 = "Warning: Pre-mature end of file at 5 epochs";
  const char* const duplicate =
      "Warning: Multiple occurances of PRN 9 at 130.0. Possible invalid data type";
  const Case cases[] = {
      {"week rollover", Times(rollover), {}, rollover, 0},
      {"restart of logging", Times(restart), {}, restart, 0},
      {"a time damaged forwards", Time(2, 230), {}, third, 1},
      {"the first time damaged", Time(0, 5000), {}, first, 1},
      {"a count of 13 in the first epoch", Count(0, 13), {}, first, 1},
      {"a count too large but within the limit", Count(1, 5), {}, second, 1},
      {"a site name byte of 1", Site(3, {'A', 1, '0', '1'}), {}, fourth, 1},
      {"a site name byte of 0x1F", Site(3, {'A', 0x1F, '0', '1'}), ByteDamage(), fourth, 1,
       "site name bytes 41 1F 30 31"},
      {"the last site name one byte to the left", Site(3, "101A"), ByteDamage(), fourth, 1,
       "moved by a byte"},
      {"the last site name one byte to the right", Site(3, "ZA10"), ByteDamage(), fourth, 1,
       "moved by a byte"},
      {"a byte inserted in the records", {}, Insert(1, 67 + 40, 0x00), second, 1},
      {"a byte deleted from the records", {}, Erase(2, 67 + 80), third, 1, early},
      {"a byte inserted between epochs", {}, Insert(1, 0, 0x41), regular, 1},
      {"a short header at the end is the normal end", {}, Insert(5, 0, 0x41, 66), regular, 0},
      // The records before the stray byte are checked: PRN 71 is a GLONASS satellite.
      {"GLONASS PRN 71 in an alternative record, then a byte inserted", Prns(0, {71}),
       Insert(1, 0, 0x41), regular, 1, nullptr, -1, false, 4, 1, true},
      // More channels than the receiver has: the recovery message at the epoch's time (0 when
      // that time is impossible), and the records of the epoch do not fool the search.
      {"13 channels, C/A", Wide(130, 13), {}, second, 1, kTooMany, 130},
      {"12 channels, L2-codeless", Wide(130, 12), {}, regular, 0, nullptr, -1, false, 3},
      {"24 channels, GLONASS", Wide(130, 24), {}, regular, 0, nullptr, -1, false, 4},
      {"25 channels, GLONASS", Wide(130, 25), {}, second, 1, kTooMany, 130, false, 4},
      {"13 channels before the week", Wide(-5, 13), {}, second, 1, kTooMany, 0},
      // A file that ends inside an epoch, or after a recovery that finds no further header,
      // fails with the premature end; the epochs before it are kept.
      {"a cut inside the third epoch", Cut(2, 90), {}, {100, 130}, 0, end3, 160, true},
      {"a count of 13, last epoch", Count(4, 13), {}, {100, 130, 160, 190}, 1, end5, 220, true},
      // Quality warnings are on: a PRN three times in an epoch warns once per pair.
      {"a duplicate PRN", Prns(1, {9, 9, 9}), {}, regular, 0, duplicate, -1, false, 1, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ObsFile f = FileOf(c.type);
    if (c.alternative) f.layout = ObsLayout::kAlternative;
    Times(regular)(f);
    if (c.damage) c.damage(f);
    const ConvertedSet out = Convert(
        f, c.type, [](ConvertOptions& o) { o.ReportQualityWarnings = 1; }, c.bytes);
    EXPECT_EQ(c.fails ? -1 : 0, out.run.result) << out.run.errorText;
    if (c.fails) {
      EXPECT_EQ(c.reason, out.run.errorText);
      ASSERT_FALSE(out.run.messages.empty());
      EXPECT_EQ(c.reason, out.run.messages.back().text);
    }
    EXPECT_EQ(c.expected, out.Times());
    int recoveries = 0, reasons = 0;
    for (const Message& m : out.run.messages) {
      recoveries += m.text.find("Will Try to Recover Data") != std::string::npos ? 1 : 0;
      if (c.reason == nullptr || m.text.find(c.reason) == std::string::npos) continue;
      ++reasons;
      if (c.reasonTime_s >= 0.0) {
        EXPECT_EQ(c.reasonTime_s, m.time);
      }
    }
    EXPECT_EQ(c.recoveries, recoveries);
    EXPECT_EQ(c.reason == nullptr ? 0 : c.reasons, reasons) << c.reason;
  }
}

// GLONASS ranges carry the whole GPS-UTC seconds: the first one names them once in the
// .epp file and every GLONASS range loses them; with GPS satellites only, the option does.
TEST(ObservationFile, GlonassRangesAndTheGpsUtcRecordsOfTheEppFile) {
  for (const auto& c : {std::make_pair(40, 0), std::make_pair(20, 14)}) {
    ObsFile f = FileOf(4);
    for (int i = 0; i < 3; ++i) {
      f.epochs.push_back(EpochAt(100.0 + i, 2));
      for (int k = 0; k < 2; ++k) {
        f.epochs.back().channels[k].prn = static_cast<uint8_t>(c.first + k);
        f.epochs.back().channels[k].caRange_s = 13.0002 + 0.07 * k;
      }
    }
    const ConvertedSet out =
        Convert(f, 4, [&](ConvertOptions& o) { o.GpsUtcLeapSeconds = c.second; });
    ASSERT_EQ(0, out.run.result) << out.run.errorText;
    const std::string records = out.epp.substr(out.epp.find('\n') + 1);  // after the header line
    EXPECT_EQ(c.first == 40 ? "GpsIon { Utc: 13\n}\n" : "GpsIon { Utc: 14\n}\n", records);
    ASSERT_EQ(3u, out.epochs.size());
    EXPECT_NEAR((c.first == 40 ? 0.0002 : 13.0002) * kC, out.epochs[2].epoch.sat[0].range1, 1e-4);
  }
}

}  // namespace
}  // namespace talverin
