// Observation files converted through the exported ConvertFile and read back from the GPB
// file: every observable of every channel layout, progress, recovery, damage and abort.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "output/gpb_reader.h"
#include "plugin/talverin.h"
#include "tests/support/test_support.h"
#include "tools/download_set/byte_builder.h"
#include "tools/download_set/observation_file_writer.h"

namespace talverin {
namespace {

using testing_support::ConversionRun;
using testing_support::RunConversion;
using testing_support::TempDir;

constexpr double kC = 299792458.0;               // m/s
constexpr double kInvC = 3.3356409519815204e-9;  // s/m, as the receiver files use it

struct Converted {
  ConversionRun run;
  int32_t readResult = 0;  // last GpbReader::ReadEpoch result
  std::vector<GpbReadEpoch> epochs;
};

// Writes B (and an empty E) into dir, converts with position recomputation off unless the
// caller turns it on, and reads every epoch of the GPB file back.
Converted Convert(const TempDir& dir, const ObsFile& file,
                  const std::function<void(ConvertOptions&)>& setOptions = {},
                  const std::function<void(const testing_support::Message&)>& onMessage = {}) {
  Converted out;
  const std::string input = dir.File("B0001A01.001");
  EXPECT_TRUE(WriteObservationFile(input, file));
  EXPECT_TRUE(WriteFileBytes(dir.File("E0001A01.001"), {}));
  const std::string gpb = dir.File("out.gpb");
  out.run = RunConversion(
      input, gpb,
      [&](ConvertOptions& o) {
        o.RecomputePosition = 0;
        if (setOptions) setOptions(o);
      },
      true, onMessage);
  GpbReader reader;
  if (reader.Open(gpb.c_str()) != 0) {
    ADD_FAILURE() << reader.errorText();
    return out;
  }
  for (int guard = 0; guard < 100000; ++guard) {
    GpbReadEpoch e{};
    out.readResult = reader.ReadEpoch(&e);
    if (out.readResult != 1) break;
    out.epochs.push_back(e);
  }
  EXPECT_EQ(0, out.readResult) << reader.errorText();
  return out;
}

// ECEF of a geodetic point on WGS84 (closed form, written out here).
void ToEcef(double lat_deg, double lon_deg, double h_m, ObsEpoch* e) {
  const double a = 6378137.0, e2 = 0.006694380066;
  const double phi = lat_deg * M_PI / 180.0, lam = lon_deg * M_PI / 180.0;
  const double n = a / std::sqrt(1.0 - e2 * std::sin(phi) * std::sin(phi));
  e->x_m = (n + h_m) * std::cos(phi) * std::cos(lam);
  e->y_m = (n + h_m) * std::cos(phi) * std::sin(lam);
  e->z_m = (n * (1.0 - e2) + h_m) * std::sin(phi);
}

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
  c.transmit_s = 0.0;  // set per epoch for the alternative layout
  return c;
}

ObsEpoch EpochAt(double time_s, std::vector<ObsChannel> channels) {
  ObsEpoch e;
  e.site = "A101";
  e.time_s = time_s;
  ToEcef(47.25, 8.5, 512.0, &e);
  e.clock_m = 12345.678;
  e.channels = std::move(channels);
  return e;
}

struct LayoutCase {
  const char* name;
  const char* model;
  int32_t type;
  int recordSize;
  ObsLayout layout;
  int32_t gpbLayout;
};

TEST(ObservationEndToEnd, EveryObservableOfEveryLayoutReachesTheGpbFile) {
  const LayoutCase cases[] = {
      {"C/A", "G-12", 1, 35, ObsLayout::kStandard, 1},
      {"dual", "Z-XII3", 2, 97, ObsLayout::kStandard, 1},
      {"codeless", "LM-XII", 3, 66, ObsLayout::kStandard, 1},
      {"glonass", "GG-24", 4, 35, ObsLayout::kStandard, 1},
      {"alt 35", "G-12", 1, 35, ObsLayout::kAlternative, 1},
      {"alt 97", "Z-XII3", 2, 97, ObsLayout::kAlternative, 1},
      {"dual 1.02", "Z-XII3", 2, 97, ObsLayout::kStandard, 0},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ObsFile f;
    f.model = c.model;
    f.recordSize = c.recordSize;
    f.layout = c.layout;
    const uint8_t prns[] = {3, 17, 32, c.type == 4 ? uint8_t(40) : uint8_t(29)};
    const double times[] = {345600.0, 345601.0};
    for (double t : times) {
      std::vector<ObsChannel> channels;
      for (int k = 0; k < 4; ++k) {
        ObsChannel ch = Channel(prns[k], k);
        ch.transmit_s = t - (0.0701 + 0.0001 * k);
        channels.push_back(ch);
      }
      f.epochs.push_back(EpochAt(t, channels));
    }
    const Converted out = Convert(dir, f, [&](ConvertOptions& o) {
      o.AltChannelLayout = c.layout == ObsLayout::kAlternative ? 1 : 0;
      o.GpbLayout = c.gpbLayout;
    });
    EXPECT_EQ(0, out.run.result) << out.run.errorText;
    ASSERT_EQ(2u, out.epochs.size());
    for (int i = 0; i < 2; ++i) {
      const gpb_epoch_type& e = out.epochs[i].epoch;
      EXPECT_EQ(1, e.flags);  // position valid: four channels announced
      ASSERT_EQ(4, e.nsat);
      EXPECT_NEAR(47.25, e.lat, 1e-9);
      EXPECT_NEAR(8.5, e.lon, 1e-9);
      EXPECT_NEAR(512.0, e.height, 1e-3);
      EXPECT_EQ(times[i], e.gpsTime);
      EXPECT_DOUBLE_EQ(times[i] - 12345.678 * kInvC, e.corrTime);
      EXPECT_EQ(12345.678, e.clock);
      if (c.gpbLayout == 1) {
        EXPECT_EQ(times[i], e.rcvTime);
      }
      const bool alt = c.layout == ObsLayout::kAlternative;
      for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const gpb_sat_type& s = e.sat[k];
        const double doppler_hz = -(12345678 + 1000 * k) * 0.0001;
        EXPECT_EQ(prns[k], s.prn);
        const double range_s = 0.0701 + 0.0001 * k;
        const double range1 = alt ? (times[i] - (times[i] - range_s)) * kC : range_s * kC;
        EXPECT_NEAR(range1, s.range1, 1e-6);
        EXPECT_EQ(-(1.25e6 + 0.5 * k), s.phase1);
        if (c.gpbLayout == 1) {
          EXPECT_EQ(static_cast<float>(doppler_hz), static_cast<float>(s.doppler1));
        } else {
          EXPECT_DOUBLE_EQ(doppler_hz, s.doppler1);
        }
        // Standard layout: L1 tracking time is 0 at the first epoch, dt = 1 s at the second.
        const double lock1 = alt ? (5000 + 250 * k) * 0.001 : (i == 0 ? 0.0 : 1.0);
        if (c.gpbLayout == 1) {
          EXPECT_EQ(lock1, s.lock1);
          EXPECT_EQ(alt ? 0.0 : 30.0 + k, s.snr1);
        } else {
          EXPECT_EQ(static_cast<int>(lock1), out.epochs[i].lockByte[k]);
        }
        const bool hasL2 = !alt && (c.type == 2 || c.type == 3);
        EXPECT_NEAR(hasL2 ? (0.0702 + 0.0001 * k) * kC : 0.0, s.range2, 1e-3);
        EXPECT_EQ(hasL2 ? 9.75e5 + 0.25 * k : 0.0, s.phase2);
        if (c.gpbLayout == 1) {
          // Dual frequency: L2 starts at -1 s (written as 0), then -1 + 1 s = 0 s; the other
          // layouts carry no L2 tracking time.
          EXPECT_EQ(0.0, s.lock2);
          EXPECT_EQ(c.type == 2 && !alt ? 0x100u : 0u, s.sflags & 0x100u);
          EXPECT_EQ(c.type == 2 && !alt ? 20.0 + k : 0.0, s.snr2);
        }
      }
    }
  }
}

TEST(ObservationEndToEnd, HeaderOnlyFileReportsProgressOnce) {
  TempDir dir;
  ObsFile f;
  const Converted out = Convert(dir, f);
  EXPECT_EQ(0, out.run.result);
  ASSERT_EQ(1u, out.run.progress.size());
  EXPECT_EQ(90, out.run.progress[0].first);
  EXPECT_EQ(90, out.run.progress[0].second);
  EXPECT_TRUE(out.epochs.empty());
}

TEST(ObservationEndToEnd, ProgressAtZeroFiftyAndHundredEpochsAndAtTheEnd) {
  TempDir dir;
  ObsFile f;
  f.model = "G-12";
  f.recordSize = 35;
  for (int i = 0; i < 120; ++i) f.epochs.push_back(EpochAt(1000.0 + i, {Channel(5, 0)}));
  const Converted out = Convert(dir, f);
  EXPECT_EQ(0, out.run.result);
  EXPECT_EQ(120u, out.epochs.size());
  EXPECT_EQ(120u, out.run.request.EpochsWritten);
  const int32_t epochBytes = 67 + 35;
  const int32_t total = 90 + 120 * epochBytes;
  const std::vector<std::pair<int32_t, int32_t>> expected = {{90 + 67, total},
                                                             {90 + 50 * epochBytes + 67, total},
                                                             {90 + 100 * epochBytes + 67, total},
                                                             {total, total}};
  EXPECT_EQ(expected, out.run.progress);
}

TEST(ObservationEndToEnd, TooManyChannelsDropsTheEpochAndResumesAtTheSameSite) {
  TempDir dir;
  ObsFile f;
  f.model = "G-12";
  f.recordSize = 35;
  std::vector<ObsChannel> thirteen;
  for (int k = 0; k < 13; ++k) thirteen.push_back(Channel(static_cast<uint8_t>(k + 1), k));
  f.epochs = {EpochAt(100.0, {Channel(1, 0)}), EpochAt(101.0, thirteen),
              EpochAt(102.0, {Channel(2, 1), Channel(3, 2)})};
  const Converted out = Convert(dir, f);
  EXPECT_EQ(0, out.run.result);
  ASSERT_EQ(2u, out.epochs.size());
  EXPECT_EQ(100.0, out.epochs[0].epoch.gpsTime);
  EXPECT_EQ(102.0, out.epochs[1].epoch.gpsTime);
  EXPECT_EQ(2, out.epochs[1].epoch.nsat);
  EXPECT_EQ(1, out.run.CountMessages("Error: Too many channels: \nWill Try to Recover Data"));
}

TEST(ObservationEndToEnd, CutInsideAChannelRecordKeepsTheEpochsSoFar) {
  TempDir dir;
  ObsFile f;
  f.model = "G-12";
  f.recordSize = 35;
  f.epochs = {EpochAt(100.0, {Channel(1, 0), Channel(2, 1)}),
              EpochAt(101.0, {Channel(1, 0), Channel(2, 1)})};
  f.cutAt = 90 + 137 + 67 + 35 + 20;  // inside the second record of epoch 2
  const Converted out = Convert(dir, f);
  EXPECT_EQ(-1, out.run.result);
  EXPECT_EQ("Warning: Pre-mature end of file at 2 epochs", out.run.errorText);
  EXPECT_TRUE(out.run.HasMessage("Warning: Pre-mature end of file at 2 epochs"));
  ASSERT_EQ(1u, out.epochs.size());
  EXPECT_EQ(100.0, out.epochs[0].epoch.gpsTime);
}

TEST(ObservationEndToEnd, AbortAfterTheFirstEpoch) {
  TempDir dir;
  ObsFile f;
  f.model = "G-12";
  f.recordSize = 35;
  for (int i = 0; i < 5; ++i) f.epochs.push_back(EpochAt(100.0 + i, {Channel(1, 0)}));
  // Position recomputation on without ephemerides: the first epoch warns, and the host
  // presses abort while it sees that warning.
  const Converted out = Convert(
      dir, f, [](ConvertOptions& o) { o.RecomputePosition = 1; },
      [](const testing_support::Message& m) {
        if (m.text == "Warning, less then 4 ephemerides unable to recompute position") Abort();
      });
  EXPECT_EQ(1, out.run.result);
  EXPECT_EQ("User Quit", out.run.errorText);
  ASSERT_EQ(1u, out.epochs.size());
  EXPECT_EQ(100.0, out.epochs[0].epoch.gpsTime);
}

TEST(ObservationEndToEnd, DopplerUnitsFollowTheLargestValueOfTheEpoch) {
  TempDir dir;
  ObsFile f;
  f.model = "Z-XII3";
  std::vector<ObsChannel> small = {Channel(1, 0), Channel(2, 1)};
  small[0].doppler = 12345;   // -1.2345
  small[1].doppler = -49999;  // +4.9999
  std::vector<ObsChannel> mixed = small;
  mixed[1].doppler = 50000;  // -5.0: not below 5
  f.epochs = {EpochAt(100.0, small), EpochAt(101.0, mixed)};
  const Converted out = Convert(dir, f, [](ConvertOptions& o) { o.GpbLayout = 0; });
  ASSERT_EQ(2u, out.epochs.size());
  EXPECT_DOUBLE_EQ(-12345.0, out.epochs[0].epoch.sat[0].doppler1);
  EXPECT_DOUBLE_EQ(49999.0, out.epochs[0].epoch.sat[1].doppler1);
  EXPECT_DOUBLE_EQ(-1.2345, out.epochs[1].epoch.sat[0].doppler1);
  EXPECT_DOUBLE_EQ(-5.0, out.epochs[1].epoch.sat[1].doppler1);
}

TEST(ObservationEndToEnd, WeekRolloverGivesTwentySecondsOfTracking) {
  TempDir dir;
  ObsFile f;
  f.model = "Z-XII3";
  f.epochs = {EpochAt(604790.0, {Channel(7, 0)}), EpochAt(10.0, {Channel(7, 0)}),
              EpochAt(30.0, {Channel(7, 0)})};
  const Converted out = Convert(dir, f);
  ASSERT_EQ(3u, out.epochs.size());
  EXPECT_EQ(0.0, out.epochs[0].epoch.sat[0].lock1);
  EXPECT_EQ(20.0, out.epochs[1].epoch.sat[0].lock1);
  EXPECT_EQ(40.0, out.epochs[2].epoch.sat[0].lock1);
  EXPECT_EQ(19.0, out.epochs[1].epoch.sat[0].lock2);  // L2 started at -1 s
  EXPECT_EQ(39.0, out.epochs[2].epoch.sat[0].lock2);
}

// Without recomputation the header position is passed on as the receiver's, flagged valid
// only where a receiver can be: not zeros (no fix yet), not non-finite, not on the polar
// axis, and from 1 km below to 100 km above the ellipsoid (an aircraft at 12 km is real).
TEST(ObservationEndToEnd, HeaderPositionIsValidOnlyWhereAReceiverCanBe) {
  const double nan = std::nan("");
  const struct {
    double lat_deg, lon_deg, h_m;  // converted to ECEF here; used when xyz is not given
    bool geodetic;
    double x, y, z;
    bool valid;
  } cases[] = {
      {0, 0, 0, false, 0.0, 0.0, 0.0, false},
      {0, 0, 0, false, nan, 1.0e6, 6.0e6, false},
      {0, 0, 0, false, 0.0, 0.0, 6356752.3, false},  // North Pole: no longitude
      {0, 0, 0, false, 1.0, 1.0, 1.0, false},        // the Earth's centre
      {47.25, 8.5, 12000.0, true, 0, 0, 0, true},    // an aircraft
      {31.5, 35.5, -420.0, true, 0, 0, 0, true},     // the Dead Sea shore
      {47.25, 8.5, 99000.0, true, 0, 0, 0, true},
      {47.25, 8.5, 101000.0, true, 0, 0, 0, false},
      {47.25, 8.5, -1100.0, true, 0, 0, 0, false},
      {-33.9, 151.2, 20200000.0, true, 0, 0, 0, false},  // a GPS orbit
  };
  TempDir dir;
  ObsFile f;
  f.model = "G-12";
  f.recordSize = 35;
  for (const auto& c : cases) {
    ObsEpoch e = EpochAt(100.0 + f.epochs.size(), {Channel(1, 0), Channel(2, 1), Channel(3, 2),
                                                   Channel(4, 3)});
    if (c.geodetic) {
      ToEcef(c.lat_deg, c.lon_deg, c.h_m, &e);
    } else {
      e.x_m = c.x;
      e.y_m = c.y;
      e.z_m = c.z;
    }
    f.epochs.push_back(e);
  }
  const Converted out = Convert(dir, f);
  ASSERT_EQ(std::size(cases), out.epochs.size());
  for (size_t i = 0; i < out.epochs.size(); ++i) {
    const gpb_epoch_type& e = out.epochs[i].epoch;
    const auto& c = cases[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(c.valid ? 1 : 0, e.flags);
    EXPECT_NEAR(c.valid ? c.lat_deg : 0.0, e.lat, 1e-9);
    EXPECT_NEAR(c.valid ? c.lon_deg : 0.0, e.lon, 1e-9);
    EXPECT_NEAR(c.valid ? c.h_m : 0.0, e.height, 1e-2);
  }
}

}  // namespace
}  // namespace talverin
