// SinglePoint on simulated epochs: C/A ranges that a receiver at BAHR would have measured on
// 2004-06-10 from the real broadcast ephemerides, computed by the independent simulator.
// Noisy ranges: the real-data accuracy tests. Also the receiver clock model (week folding,
// sample replacement, drift limits, gaps) and the geometry helpers of an attempt (elevation
// and azimuth, first light-time guesses).
#include "position/single_point.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "position/epoch_solution.h"
#include "testkit/range_simulator.h"
#include "testkit/reference_models.h"
#include "tests/support/bahr_navigation.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

using namespace test_data;  // NOLINT: the BAHR fixtures
using testing_support::Distance3;
using testing_support::Message;

constexpr double kT0 = kBahrDayStart_s + 1800.0;  // 00:30 GPS time
constexpr int32_t kWriteAll = 3;
constexpr double kDeg = 3.14159265358979323846 / 180.0;  // rad per degree
// 1 cm is 9.0e-8 degrees of latitude at 26 N.
constexpr double kCentimetreOfLat_deg = 9.0e-8;

std::vector<Message>* g_messages = nullptr;

void TALVERIN_CALL RecordMessage(double time, const char* text) {
  if (g_messages != nullptr) g_messages->push_back({time, text});
}

class SinglePointSim : public ::testing::Test {
 protected:
  void SetUp() override {
    ephs_ = BahrEphemerides({5, 9, 30, 6, 10, 17, 24, 4, 21});  // 4 and 21: low at 00:30
    Load(engine_);
    g_messages = &messages_;
  }
  // Gives an engine every ephemeris and the message recorder.
  void Load(SinglePoint& engine) {
    for (const GpsEph& eph : ephs_) ASSERT_EQ(engine.store().AddGpsEph(eph), 0);
    engine.SetMessageFunction(&RecordMessage);
  }
  void TearDown() override { g_messages = nullptr; }

  // The epoch of the satellites at or above minElevation_deg (of the PRNs given, or all);
  // at 00:30 seven satellites are above 15 degrees (PRNs 5 9 30 6 10 17 24), PRN 4 is at 5
  // and PRN 21 at 10 degrees.
  gpb_epoch_type Epoch(double t_s, double clock_m, double minElevation_deg = 15.0,
                       std::initializer_list<int> prns = {}) {
    std::vector<GpsEph> some;
    for (const GpsEph& eph : ephs_) {
      if (std::find(prns.begin(), prns.end(), eph.prn) != prns.end()) some.push_back(eph);
    }
    gpb_epoch_type epoch;
    sim_.BuildEpoch(prns.size() != 0 ? some : ephs_, t_s, clock_m, minElevation_deg, &epoch);
    return epoch;
  }
  static gpb_sat_type* Find(gpb_epoch_type* epoch, uint32_t prn) {
    for (int i = 0; i < epoch->nsat; ++i) {
      if (epoch->sat[i].prn == prn) return &epoch->sat[i];
    }
    return nullptr;
  }
  double PositionError() const { return Distance3(engine_.receiverPosition(), sim_.receiver()); }
  bool Used(int32_t prn) const {
    return std::count(engine_.usedPrns(), engine_.usedPrns() + engine_.usedCount(), prn) != 0;
  }
  int Count(const std::string& text) const {
    return std::count_if(messages_.begin(), messages_.end(),
                         [&text](const Message& m) { return m.text == text; });
  }
  // Solves a clean first epoch so that later epochs start from a known position.
  void SolveFirstEpoch(double clock_m = 100.0) {
    gpb_epoch_type epoch = Epoch(kT0, clock_m);
    ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0);
    messages_.clear();
  }

  SinglePoint engine_;
  RangeSimulator sim_{kBahrLat_deg, kBahrLon_deg, kBahrHeight_m, kBahrFullWeek};
  std::vector<GpsEph> ephs_;
  std::vector<Message> messages_;
};

// The first epoch carries only the seven satellites above 15 degrees; the later ones also
// PRN 4 and 21, which the mask must leave out. From epoch 10 on the clock jumps by 6 km up
// and back down, against every prediction: five warnings, a last one, then silence.
TEST_F(SinglePointSim, NoiseFreeEpochsRecoverPositionAndClockWithinOneCentimetre) {
  double firstGpsTime = 0.0, jumpGpsTime = 0.0;
  for (int k = 0; k < 20; ++k) {
    SCOPED_TRACE(k);
    const double t_s = kT0 + k;
    const double clock_m = 1234.5 + 0.3 * k + (k >= 10 && k % 2 == 0 ? 6000.0 : 0.0);
    gpb_epoch_type epoch = Epoch(t_s, clock_m, k == 0 ? 15.0 : -90.0);
    ASSERT_EQ(epoch.nsat, k == 0 ? 7 : 9);
    if (k == 0) firstGpsTime = epoch.gpsTime;
    if (k == 10) jumpGpsTime = epoch.gpsTime;
    ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0);
    EXPECT_LT(PositionError(), 0.01);
    EXPECT_NE(epoch.flags & kEpochPositionValid, 0);
    EXPECT_NEAR(epoch.lat, kBahrLat_deg, kCentimetreOfLat_deg);
    EXPECT_NEAR(epoch.lon, kBahrLon_deg, 1.0e-7);  // 1 cm of longitude at 26 N
    EXPECT_NEAR(epoch.height, kBahrHeight_m, 0.01);
    EXPECT_NEAR(epoch.clock, clock_m, 0.01);
    // 1 cm of clock is 3.3e-11 s, below one step of a double at 347400 s: allow two steps.
    EXPECT_NEAR(epoch.corrTime, t_s, 1.2e-10);
    EXPECT_EQ(engine_.status(), kStatusClean);
    EXPECT_EQ(engine_.usedCount(), 7);
    EXPECT_FALSE(Used(4) || Used(21));  // 5 and 10 degrees: below the mask
  }
  EXPECT_EQ(engine_.epochCount(), 20);
  ASSERT_EQ(messages_.size(), 7u);
  EXPECT_EQ(messages_[0].text, "Refining solution on first epoch");
  EXPECT_EQ(messages_[0].time, firstGpsTime);
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(messages_[i].text, "Large clock shift changed detected-refining solution");
  }
  EXPECT_EQ(messages_[1].time, jumpGpsTime);
  EXPECT_EQ(messages_[6].text,
            "Large clock shift changed detected-no more messages will be printed");
}

// With six redundant ranges the bad one is found and left out; two bad ones fail the epoch,
// which keeps its old position and takes the predicted clock. With one redundant range the
// error spreads (here the largest residual is PRN 17's): reported, not rejected.
TEST_F(SinglePointSim, OneBadRangeIsRejectedAmongSevenAndOnlyReportedAmongFive) {
  SolveFirstEpoch(200.0);
  gpb_epoch_type epoch = Epoch(kT0 + 1, 201.0);
  Find(&epoch, 10)->range1 += 1000.0;
  ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0);
  const std::string prefix = "  Rejected PRN 10 with reliability of ";
  ASSERT_EQ(messages_.size(), 2u);  // the large residual first, then the rejection
  const std::string& rejected = messages_[1].text;
  const size_t tail = rejected.find("--Solution OK");
  ASSERT_EQ(rejected.rfind(prefix, 0), 0u) << rejected;
  ASSERT_EQ(tail + 13, rejected.size()) << rejected;
  EXPECT_GT(std::stod(rejected.substr(prefix.size(), tail - prefix.size())), 4.0);
  EXPECT_EQ(messages_[1].time, epoch.gpsTime);
  EXPECT_EQ(engine_.usedCount(), 6);
  EXPECT_FALSE(Used(10));
  EXPECT_LT(PositionError(), 0.01);
  EXPECT_NE(epoch.flags & kEpochPositionValid, 0);
  messages_.clear();

  epoch = Epoch(kT0 + 2, 202.0);
  Find(&epoch, 10)->range1 += 3000.0;
  Find(&epoch, 24)->range1 -= 5000.0;
  epoch.lat = 12.5;
  epoch.lon = 33.25;
  epoch.height = 7.0f;
  EXPECT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 1);
  EXPECT_EQ(epoch.flags & kEpochPositionValid, 0);
  EXPECT_FIELDS(FIELD_IS(epoch.lat, 12.5), FIELD_IS(epoch.lon, 33.25), FIELD_IS(epoch.height, 7.0));
  // Clock prediction from the two good epochs: 201 + 1 m/s * 1 s.
  EXPECT_NEAR(epoch.clock, 202.0, 0.02);
  EXPECT_DOUBLE_EQ(epoch.corrTime, epoch.rcvTime - epoch.clock * 3.3356409519815204e-9);
  EXPECT_EQ(Count("Solution failed due to data errors"), 2);
  EXPECT_EQ(Count("Solution failed--trying again with new clockshift"), 1);
  EXPECT_EQ(engine_.epochCount(), 2);

  SinglePoint five;
  Load(five);
  gpb_epoch_type first = Epoch(kT0, 100.0, 15.0, {5, 17, 30, 24, 10});
  ASSERT_EQ(five.ProcessEpoch(&first, kWriteAll), 0);
  messages_.clear();
  epoch = Epoch(kT0 + 1, 100.0, 15.0, {5, 17, 30, 24, 10});
  ASSERT_EQ(epoch.nsat, 5);
  Find(&epoch, 5)->range1 += 1000.0;
  ASSERT_EQ(five.ProcessEpoch(&epoch, kWriteAll), 0);
  EXPECT_EQ(five.status(), kStatusLargeResidual);
  EXPECT_EQ(five.usedCount(), 5);
  ASSERT_EQ(messages_.size(), 1u);
  const std::string& text = messages_[0].text;
  EXPECT_EQ(text.rfind("PRN ", 0), 0u) << text;
  EXPECT_NE(text.find(" had large C/A residual ("), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 3), " m)") << text;
  // Least squares: the squared residuals sum to the bias times the biased range's own
  // residual; five satellites leave one degree of freedom, so that sum is the RMS squared
  // (within 2 %: the 500 m the bias moves the solution change its geometry a little).
  const double residual_m = std::stod(text.substr(text.find('(') + 1));
  EXPECT_NEAR(five.residualRms() * five.residualRms(), 1000.0 * residual_m,
              0.02 * 1000.0 * residual_m);
}

// Every satellite of the epoch is used by its number, the lowest and the highest GPS PRN
// too; a count above the 24 records an epoch holds reads those 24 and no further.
TEST_F(SinglePointSim, EverySatelliteOfTheEpochIsUsedByItsNumber) {
  ephs_[0].prn = 1;   // PRN 5's orbit
  ephs_[1].prn = 32;  // PRN 9's
  for (const int16_t count : {7, 30}) {
    SCOPED_TRACE(count);
    SinglePoint engine;
    Load(engine);
    gpb_epoch_type epoch = Epoch(kT0, 100.0);
    ASSERT_EQ(7, epoch.nsat);
    epoch.nsat = count;
    ASSERT_EQ(0, engine.ProcessEpoch(&epoch, kWriteAll));
    std::vector<int32_t> used(engine.usedPrns(), engine.usedPrns() + engine.usedCount());
    std::sort(used.begin(), used.end());
    EXPECT_EQ((std::vector<int32_t>{1, 6, 10, 17, 24, 30, 32}), used);
  }
}

// A fourth satellite solves (no redundancy: the residual RMS over max(n - 4, 1) stays a
// number); a third does not. An epoch time that is no number or absurd is refused untouched
// but for the header's position-valid bit.
TEST_F(SinglePointSim, FourSatellitesSolveAndThreeOrAnUnusableTimeDoNot) {
  for (int k = 0; k < 2; ++k) {
    gpb_epoch_type epoch = Epoch(kT0 + k, 100.0, 15.0, {5, 17, 30, 10});
    ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0);
    EXPECT_LT(PositionError(), 0.01);
    EXPECT_LT(engine_.residualRms(), 1e-3);  // also fails for NaN and infinity
    EXPECT_EQ(engine_.status(), kStatusClean);
  }
  engine_.Reset();  // a reset forgets the last epoch's residuals
  EXPECT_EQ(engine_.residualRms(), 0.0);
  messages_.clear();
  gpb_epoch_type epoch = Epoch(kT0, 100.0, 15.0, {5, 17, 30});
  epoch.flags = kEpochPositionValid;
  EXPECT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 1);
  EXPECT_EQ(epoch.flags & kEpochPositionValid, 0);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text,
            "Less than 4 satellites with ephemerides (only 3 found)--Cannot compute epoch");
  EXPECT_EQ(messages_[0].time, epoch.gpsTime);
  EXPECT_EQ(engine_.epochCount(), 0);
  messages_.clear();
  for (double value : {kNaN, kInf, 1e300}) {
    for (int field = 0; field < 2; ++field) {
      epoch = Epoch(kT0, 100.0);
      epoch.flags = kEpochPositionValid | 0x2;  // the header's position, and moving
      epoch.lat = kBahrLat_deg;
      (field == 0 ? epoch.gpsTime : epoch.rcvTime) = value;
      gpb_epoch_type expected;
      std::memcpy(&expected, &epoch, sizeof epoch);
      expected.flags = 0x2;
      EXPECT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 1);
      const auto* want = reinterpret_cast<const uint8_t*>(&expected);
      const auto* got = reinterpret_cast<const uint8_t*>(&epoch);
      EXPECT_EQ(std::mismatch(want, want + sizeof epoch, got).first - want, sizeof epoch)
          << "the first byte changed besides the flags";
    }
  }
  EXPECT_TRUE(messages_.empty());
}

// PRN 2 has no ephemeris; records that are no C/A range of a GPS satellite are skipped
// without a word.
TEST_F(SinglePointSim, MissingEphemerisIsReportedOncePerPrnAndUnusableRecordsAreSkipped) {
  double firstRcvTime = 0.0;
  for (int k = 0; k < 3; ++k) {
    gpb_epoch_type epoch = Epoch(kT0 + k, 300.0);
    if (k == 0) firstRcvTime = epoch.rcvTime;
    Find(&epoch, 9)->range1 = 99.9;       // not a range
    Find(&epoch, 6)->sflags = 0;          // C/A bit clear
    Find(&epoch, 24)->range1 = kNaN;      // corrupt value
    for (uint32_t prn : {2u, 33u, 0u}) {  // no ephemeris, GLONASS, none
      epoch.sat[epoch.nsat] = *Find(&epoch, 5);
      epoch.sat[epoch.nsat++].prn = prn;
    }
    ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0);
    EXPECT_EQ(engine_.usedCount(), 4);
    for (int prn : {9, 6, 24, 2, 33, 0}) EXPECT_FALSE(Used(prn)) << prn;
    EXPECT_LT(PositionError(), 0.01);
  }
  // The first epoch starts from a zero clock: the reception time is the time tag itself.
  ASSERT_EQ(messages_.size(), 2u);  // and the first epoch's refinement
  EXPECT_EQ(messages_[0].text, "Ephemeris missing for PRN 2");
  EXPECT_EQ(messages_[0].time, firstRcvTime);
  EXPECT_EQ(engine_.satellite(2).missingCount, 4);  // two solves of the first epoch, then one each
}

// The receiver's own position and clock as the start. Far off (tens to thousands of km):
// the troposphere (at 20 km height, none), the light time and the mask are first taken
// there; the epoch is solved again from its first solution, or, when the mask at the header
// leaves too few satellites, from the last solution. Corrupt (not a number, beyond the
// Earth, an absurd clock), on a first epoch: not used at all. Both end on the antenna.
TEST_F(SinglePointSim, ReceiverPositionFarOffOrCorruptStillGivesTheTruth) {
  const struct {
    const char* what;
    double lat, lon, height, clock;
  } cases[] = {
      {"25 km, mostly up", kBahrLat_deg + 0.1, kBahrLon_deg + 0.1, kBahrHeight_m + 2e4, 100.0},
      {"3500 km: the mask there drops two", kBahrLat_deg - 25.0, kBahrLon_deg + 25.0, kBahrHeight_m,
       100.0},
      {"the antipode: nothing above its mask", kBahrLat_deg - 52.4, kBahrLon_deg + 180.0,
       kBahrHeight_m, 100.0},
      {"latitude NaN", kNaN, 50.0, 0.0, 0.0},
      {"height 1e30", 26.0, 50.0, 1e30, 0.0},
      {"latitude 400", 400.0, 50.0, 0.0, 0.0},
      {"clock 1e12 m", 26.0, 50.0, 0.0, 1e12},
  };
  SolveFirstEpoch();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int k = static_cast<int>(&c - cases) + 1;  // the far-off rows follow one another
    const bool farOff = k <= 3;
    SinglePoint fresh;
    Load(fresh);
    SinglePoint& engine = farOff ? engine_ : fresh;
    gpb_epoch_type epoch = Epoch(farOff ? kT0 + k : kT0, 100.0);
    epoch.flags = kEpochPositionValid;
    epoch.lat = c.lat;
    epoch.lon = c.lon;
    epoch.height = static_cast<float>(c.height);
    epoch.clock = c.clock;
    ASSERT_EQ(engine.ProcessEpoch(&epoch, kWriteAll), 0);
    EXPECT_LT(Distance3(engine.receiverPosition(), sim_.receiver()), 0.01);
    EXPECT_NE(epoch.flags & kEpochPositionValid, 0);
    EXPECT_NEAR(epoch.lat, kBahrLat_deg, kCentimetreOfLat_deg);
    EXPECT_NEAR(epoch.clock, 100.0, 0.01);
    EXPECT_EQ(engine.usedCount(), 7);
  }
}

// WeekDifference folds across the week boundary; the clock prediction uses the last two
// samples (closer than 0.02 s the later replaces the earlier), no drift beyond 5000 m/s or
// from samples farther than 60 s apart, and nothing beyond 60 s or before a sample.
TEST(ClockModel, PredictsFromTheLastTwoSamples) {
  EXPECT_DOUBLE_EQ(WeekDifference(500000.0, 0.0), 500000.0);
  EXPECT_DOUBLE_EQ(WeekDifference(500001.0, 0.0), -104799.0);
  // Each row: two samples, one prediction with its drift (m/s); after Reset nothing.
  const struct {
    const char* what;
    double t1, clock1, t2, clock2, at;
    bool predicted;
    double clock, drift;
  } cases[] = {
      {"across week end", 604799.5, 100.0, 0.5, 110.0, 1.5, true, 120.0, 10.0},
      // 1000.015625 is 2^-6 s after the first: closer than 0.02 s, so it replaces it and
      // leaves no previous sample, hence no drift.
      {"close samples replace", 1000.0, 100.0, 1000.015625, 150.0, 1001.0, true, 150.0, 0.0},
      // 0.03125 s apart: two samples, drift (101 - 100) / 0.03125 = 32 m/s.
      {"just apart", 1000.0, 100.0, 1000.03125, 101.0, 1001.03125, true, 133.0, 32.0},
      {"60 s later still predicts", 1000.0, 100.0, 1001.0, 100.0, 1061.0, true, 100.0, 0.0},
      {"gap beyond 60 s", 1000.0, 100.0, 1001.0, 110.0, 1061.5, false, 0.0, 0.0},
      {"no number", 1000.0, 100.0, 1001.0, 110.0, std::nan(""), false, 0.0, 0.0},
      {"drift of 5000 m/s kept", 1000.0, 0.0, 1001.0, 5000.0, 1002.0, true, 10000.0, 5000.0},
      {"drift above 5000 m/s dropped", 1000.0, 0.0, 1001.0, 6000.0, 1002.0, true, 6000.0, 0.0},
      {"samples 61 s apart give no drift", 1000.0, 0.0, 1061.0, 61.0, 1062.0, true, 61.0, 0.0},
  };
  for (const auto& c : cases) {
    SinglePoint engine;
    engine.RecordClock(c.t1, c.clock1);
    engine.RecordClock(c.t2, c.clock2);
    double clock = -1.0, drift = -1.0;
    ASSERT_EQ(engine.PredictClock(c.at, &clock, &drift), c.predicted) << c.what;
    if (c.predicted) {
      EXPECT_NEAR(clock, c.clock, 1e-9) << c.what;
      EXPECT_EQ(drift, c.drift) << c.what;
    }
    engine.Reset();
    EXPECT_FALSE(engine.PredictClock(c.t2, &clock)) << c.what;
  }
}

// Builds a satellite from a local direction at the receiver with the usual east/north/up
// unit vectors, then reads the direction back.
TEST(EpochGeometry, ElevationAzimuthRecoversTheLocalDirectionAndLightTimeGuesses) {
  const struct {
    double lat_deg, lon_deg, elevation_deg, azimuth_deg;
  } cases[] = {
      {0.0, 0.0, 90.0, 0.0},      {0.0, 0.0, 0.0, 90.0},      {45.0, 90.0, 30.0, 135.0},
      {-33.9, 18.4, 10.0, -60.0}, {26.2, 50.6, 75.0, -170.0}, {89.0, -120.0, 45.0, 20.0},
  };
  for (const auto& c : cases) {
    const double sp = std::sin(c.lat_deg * kDeg), cp = std::cos(c.lat_deg * kDeg);
    const double sl = std::sin(c.lon_deg * kDeg), cl = std::cos(c.lon_deg * kDeg);
    const double el = c.elevation_deg * kDeg, az = c.azimuth_deg * kDeg;
    // u: up, north and east at the receiver; w: the direction's share along each.
    const double u[3][3] = {{cp * cl, cp * sl, sp}, {-sp * cl, -sp * sl, cp}, {-sl, cl, 0.0}};
    const double w[3] = {std::sin(el), std::cos(el) * std::cos(az), std::cos(el) * std::sin(az)};
    double receiver[3], satellite[3];
    for (int i = 0; i < 3; ++i) {
      receiver[i] = 6378137.0 * u[0][i];
      satellite[i] = receiver[i] + 2.0e7 * (w[0] * u[0][i] + w[1] * u[1][i] + w[2] * u[2][i]);
    }
    double elevation = 0.0, azimuth = 0.0;
    ElevationAzimuth(receiver, GeodeticPos{c.lat_deg, c.lon_deg, 0.0f}, satellite, &elevation,
                     &azimuth);
    // At the zenith the azimuth has no meaning.
    EXPECT_NEAR(elevation, el, 1e-9) << c.lat_deg;
    if (c.elevation_deg != 90.0) {
      EXPECT_NEAR(azimuth, az, 1e-9) << c.lat_deg;
    }
  }
  // First light-time guesses: range - receiver clock + satellite clock * c.
  EXPECT_DOUBLE_EQ(ApproximateRange(2.0e7, 1.0e-3, 100.0), 2.0e7 - 100.0 + 299792.458);
  const double origin[3] = {}, position[3] = {3.0, 4.0, 0.0}, velocity[3] = {0.0, 0.0, 0.2};
  // Moved 60 s at 0.2 m/s along z: (3, 4, 12), 13 m away; nothing beyond 60 s either way.
  EXPECT_NEAR(ExtrapolatedRange(60.0, origin, position, velocity), 13.0, 1e-12);
  EXPECT_EQ(ExtrapolatedRange(60.5, origin, position, velocity), 0.0);
  EXPECT_EQ(ExtrapolatedRange(-61.0, origin, position, velocity), 0.0);
}

}  // namespace
}  // namespace talverin
