// SinglePoint on simulated epochs: C/A ranges that a receiver at BAHR would have measured on
// 2004-06-10 from the real broadcast ephemerides, computed by the independent simulator.
// Checks the recovered position and clock, the first-epoch refinement, the elevation mask,
// the clock-shift messages, the residual and reliability tests, the failure paths and the
// handling of corrupt records.
#include "position/single_point.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/position/bahr_nav_records.h"
#include "tools/download_set/range_simulator.h"

namespace talverin {
namespace {

using test_data::kBahrDayStart_s;

constexpr double kC = 299792458.0;
constexpr double kT0 = kBahrDayStart_s + 1800.0;  // 00:30 GPS time
constexpr int32_t kWriteAll = 3;

struct Message {
  double time;
  std::string text;
};

struct Recorder {
  std::vector<Message> messages;
  std::function<void(const Message&)> hook;
};
Recorder* g_recorder = nullptr;

void TALVERIN_CALL RecordMessage(double time, const char* text) {
  if (g_recorder == nullptr) return;
  g_recorder->messages.push_back({time, text});
  if (g_recorder->hook) g_recorder->hook(g_recorder->messages.back());
}

double Distance(const double a[3], const double b[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

class SinglePointSim : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ParseRinexGpsNavigation(test_data::kBahrNavRecords, &ephs_));
    ASSERT_EQ(ephs_.size(), 9u);
    for (const GpsEph& eph : ephs_) ASSERT_EQ(engine_.store().AddGpsEph(eph), 0);
    g_recorder = &recorder_;
    engine_.SetMessageFunction(&RecordMessage);
  }
  void TearDown() override { g_recorder = nullptr; }

  // The epoch of the satellites at or above minElevation_deg; at 00:30 seven satellites are
  // above 15 degrees (PRNs 5 9 30 6 10 17 24), PRN 4 is at 5 and PRN 21 at 10 degrees.
  gpb_epoch_type Epoch(double t_s, double clock_m, double minElevation_deg = 15.0,
                       const std::vector<GpsEph>* ephs = nullptr) {
    gpb_epoch_type epoch;
    sim_.BuildEpoch(ephs != nullptr ? *ephs : ephs_, t_s, clock_m, minElevation_deg, &epoch);
    return epoch;
  }
  std::vector<GpsEph> Only(std::initializer_list<int> prns) const {
    std::vector<GpsEph> out;
    for (int prn : prns) {
      for (const GpsEph& eph : ephs_) {
        if (eph.prn == prn) out.push_back(eph);
      }
    }
    return out;
  }
  static gpb_sat_type* Find(gpb_epoch_type* epoch, uint32_t prn) {
    for (int i = 0; i < epoch->nsat; ++i) {
      if (epoch->sat[i].prn == prn) return &epoch->sat[i];
    }
    return nullptr;
  }
  double PositionError() const { return Distance(engine_.receiverPosition(), sim_.receiver()); }
  bool Used(int32_t prn) const {
    for (int32_t i = 0; i < engine_.usedCount(); ++i) {
      if (engine_.usedPrns()[i] == prn) return true;
    }
    return false;
  }
  int Count(const std::string& text) const {
    int n = 0;
    for (const Message& m : recorder_.messages) n += m.text == text ? 1 : 0;
    return n;
  }
  int CountPrefix(const std::string& prefix) const {
    int n = 0;
    for (const Message& m : recorder_.messages) n += m.text.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
  // Solves a clean first epoch so that later epochs start from a known position.
  void SolveFirstEpoch(double clock_m = 100.0) {
    gpb_epoch_type epoch = Epoch(kT0, clock_m);
    ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0);
    recorder_.messages.clear();
  }

  SinglePoint engine_;
  RangeSimulator sim_{test_data::kBahrLat_deg, test_data::kBahrLon_deg, test_data::kBahrHeight_m,
                      test_data::kBahrFullWeek};
  std::vector<GpsEph> ephs_;
  Recorder recorder_;
};

TEST_F(SinglePointSim, NoiseFreeEpochsRecoverPositionAndClockWithinOneCentimetre) {
  double firstGpsTime = 0.0;
  for (int k = 0; k < 20; ++k) {
    const double t_s = kT0 + k;
    const double clock_m = 1234.5 + 0.3 * k;  // a drifting receiver clock
    gpb_epoch_type epoch = Epoch(t_s, clock_m);
    ASSERT_EQ(epoch.nsat, 7);
    if (k == 0) firstGpsTime = epoch.gpsTime;
    ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0) << k;
    EXPECT_LT(PositionError(), 0.01) << k;
    EXPECT_NE(epoch.flags & kEpochPositionValid, 0) << k;
    // 1 cm is 9.0e-8 degrees of latitude and 1.0e-7 degrees of longitude at 26 N.
    EXPECT_NEAR(epoch.lat, test_data::kBahrLat_deg, 9.0e-8) << k;
    EXPECT_NEAR(epoch.lon, test_data::kBahrLon_deg, 1.0e-7) << k;
    EXPECT_NEAR(epoch.height, test_data::kBahrHeight_m, 0.01) << k;
    EXPECT_NEAR(epoch.clock, clock_m, 0.01) << k;
    // 1 cm of clock is 3.3e-11 s, below one step of a double at 347400 s: allow two steps.
    EXPECT_NEAR(epoch.corrTime, t_s, 1.2e-10) << k;
    EXPECT_EQ(engine_.status(), kStatusClean) << k;
    EXPECT_EQ(engine_.usedCount(), 7) << k;
  }
  EXPECT_EQ(engine_.epochCount(), 20);
  ASSERT_EQ(recorder_.messages.size(), 1u);
  EXPECT_EQ(recorder_.messages[0].text, "Refining solution on first epoch");
  EXPECT_EQ(recorder_.messages[0].time, firstGpsTime);
}

TEST_F(SinglePointSim, FirstSolveUsesEverySatelliteWithoutTroposphereThenMasksAndCorrects) {
  gpb_epoch_type epoch = Epoch(kT0, 500.0, -90.0);
  ASSERT_EQ(epoch.nsat, 9);
  int32_t usedAtRefine = -1;
  double largestDelayAtRefine = -1.0;
  int32_t knownAtRefine = -1;
  recorder_.hook = [&](const Message& m) {
    if (m.text != "Refining solution on first epoch") return;
    usedAtRefine = engine_.usedCount();
    knownAtRefine = engine_.positionKnown();
    largestDelayAtRefine = 0.0;
    for (int32_t i = 0; i < engine_.usedCount(); ++i) {
      const double d = std::fabs(engine_.satellite(engine_.usedPrns()[i]).troposphericDelay);
      if (d > largestDelayAtRefine) largestDelayAtRefine = d;
    }
  };
  ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0);
  EXPECT_EQ(usedAtRefine, 9);  // no mask before a position is known
  EXPECT_EQ(knownAtRefine, 1);
  EXPECT_EQ(largestDelayAtRefine, 0.0);
  EXPECT_EQ(engine_.usedCount(), 7);  // PRN 4 (5 deg) and PRN 21 (10 deg) below the mask
  EXPECT_FALSE(Used(4));
  EXPECT_FALSE(Used(21));
  for (int32_t i = 0; i < engine_.usedCount(); ++i) {
    EXPECT_GT(engine_.satellite(engine_.usedPrns()[i]).troposphericDelay, 2.0);
  }
  // The refined solve takes its troposphere at the uncorrected first solution, metres off.
  EXPECT_LT(PositionError(), 0.05);
  gpb_epoch_type next = Epoch(kT0 + 1, 500.0, -90.0);
  ASSERT_EQ(engine_.ProcessEpoch(&next, kWriteAll), 0);
  EXPECT_EQ(engine_.usedCount(), 7);
  EXPECT_LT(PositionError(), 0.01);
}

TEST_F(SinglePointSim, ClockJumpsResolveWithFiveMessagesThenOneFinalThenSilence) {
  SolveFirstEpoch(100.0);
  std::vector<double> jumpTimes;
  for (int k = 1; k <= 9; ++k) {
    // Alternating 6 km resets: the 6000 m/s apparent drift is dropped, so each prediction
    // is the previous clock and misses by 6000 m.
    const double clock_m = k % 2 == 1 ? 6100.0 : 100.0;
    gpb_epoch_type epoch = Epoch(kT0 + k, clock_m);
    jumpTimes.push_back(epoch.gpsTime);
    ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0) << k;
    EXPECT_LT(PositionError(), 0.01) << k;
    EXPECT_NEAR(epoch.clock, clock_m, 0.01) << k;
  }
  const std::string refining = "Large clock shift changed detected-refining solution";
  const std::string final = "Large clock shift changed detected-no more messages will be printed";
  ASSERT_EQ(recorder_.messages.size(), 6u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(recorder_.messages[i].text, refining);
    EXPECT_EQ(recorder_.messages[i].time, jumpTimes[i]);
  }
  EXPECT_EQ(recorder_.messages[5].text, final);
  EXPECT_EQ(recorder_.messages[5].time, jumpTimes[5]);
}

TEST_F(SinglePointSim, OneBadRangeAmongSevenIsRejectedAndTheSolutionOmitsIt) {
  SolveFirstEpoch();
  gpb_epoch_type epoch = Epoch(kT0 + 1, 100.0);
  Find(&epoch, 10)->range1 += 1000.0;
  ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0);
  const std::string prefix = "  Rejected PRN 10 with reliability of ";
  ASSERT_EQ(CountPrefix(prefix), 1);
  for (const Message& m : recorder_.messages) {
    if (m.text.rfind(prefix, 0) != 0) continue;
    const std::string rest = m.text.substr(prefix.size());
    const size_t tail = rest.find("--Solution OK");
    ASSERT_NE(tail, std::string::npos);
    EXPECT_EQ(tail + std::strlen("--Solution OK"), rest.size());
    EXPECT_GT(std::stod(rest.substr(0, tail)), 4.0);
    EXPECT_EQ(m.time, epoch.gpsTime);
  }
  EXPECT_EQ(engine_.usedCount(), 6);
  EXPECT_FALSE(Used(10));
  EXPECT_LT(PositionError(), 0.01);
  EXPECT_NE(epoch.flags & kEpochPositionValid, 0);
}

TEST_F(SinglePointSim, OneBadRangeAmongFiveIsReportedButNotRejected) {
  const std::vector<GpsEph> five = Only({5, 17, 30, 24, 10});
  gpb_epoch_type first = Epoch(kT0, 100.0, 15.0, &five);
  ASSERT_EQ(engine_.ProcessEpoch(&first, kWriteAll), 0);
  recorder_.messages.clear();
  gpb_epoch_type epoch = Epoch(kT0 + 1, 100.0, 15.0, &five);
  ASSERT_EQ(epoch.nsat, 5);
  // With one redundant range the error spreads: here the largest residual is PRN 17's.
  Find(&epoch, 5)->range1 += 1000.0;
  ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0);
  EXPECT_EQ(engine_.status(), kStatusLargeResidual);
  EXPECT_EQ(engine_.usedCount(), 5);
  EXPECT_EQ(CountPrefix("  Rejected"), 0);
  ASSERT_EQ(recorder_.messages.size(), 1u);
  const std::string& text = recorder_.messages[0].text;
  EXPECT_EQ(text.rfind("PRN ", 0), 0u) << text;
  EXPECT_NE(text.find(" had large C/A residual ("), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 3), " m)") << text;
}

TEST_F(SinglePointSim, ExactlyFourSatellitesSolveWithOneDegreeOfFreedom) {
  const std::vector<GpsEph> four = Only({5, 17, 30, 10});
  for (int k = 0; k < 2; ++k) {
    gpb_epoch_type epoch = Epoch(kT0 + k, 100.0, 15.0, &four);
    ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0);
    EXPECT_LT(PositionError(), 0.01);
    // No redundancy: residuals vanish, and the RMS over max(n - 4, 1) stays a number.
    EXPECT_TRUE(std::isfinite(engine_.residualRms()));
    EXPECT_LT(engine_.residualRms(), 1e-3);
    EXPECT_EQ(engine_.status(), kStatusClean);
  }
}

TEST_F(SinglePointSim, CovarianceIsSigmaSquaredTimesTheInverseNormalMatrix) {
  gpb_epoch_type epoch = Epoch(kT0, 100.0);
  ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0);
  std::vector<SimulatedRange> ranges;
  gpb_epoch_type again;
  sim_.BuildEpoch(ephs_, kT0, 100.0, 15.0, &again, &ranges);
  ASSERT_EQ(ranges.size(), 7u);
  // A^T A from the simulator's own geometry, rows (unit vector to satellite, 1).
  double normal[4][4] = {};
  for (const SimulatedRange& r : ranges) {
    double row[4] = {0, 0, 0, 1};
    for (int j = 0; j < 3; ++j) row[j] = (r.satellite_m[j] - sim_.receiver()[j]) / r.geometric_m;
    for (int a = 0; a < 4; ++a) {
      for (int b = 0; b < 4; ++b) normal[a][b] += row[a] * row[b];
    }
  }
  for (int a = 0; a < 4; ++a) {
    for (int b = 0; b < 4; ++b) {
      double product = 0.0;
      for (int m = 0; m < 4; ++m) product += engine_.cofactor().at(a, m) * normal[m][b];
      EXPECT_NEAR(product, a == b ? 1.0 : 0.0, 1e-6) << a << b;
      EXPECT_NEAR(engine_.covariance().at(a, b), 49.0 * engine_.cofactor().at(a, b),
                  1e-9 * std::fabs(engine_.covariance().at(a, b)) + 1e-12);
    }
  }
}

TEST_F(SinglePointSim, TwoBadRangesFailTheEpochKeepingPredictedClockAndOldPosition) {
  SolveFirstEpoch(200.0);
  gpb_epoch_type second = Epoch(kT0 + 1, 201.0);
  ASSERT_EQ(engine_.ProcessEpoch(&second, kWriteAll), 0);
  recorder_.messages.clear();

  gpb_epoch_type epoch = Epoch(kT0 + 2, 202.0);
  Find(&epoch, 10)->range1 += 3000.0;
  Find(&epoch, 24)->range1 -= 5000.0;
  epoch.lat = 12.5;
  epoch.lon = 33.25;
  epoch.height = 7.0f;
  EXPECT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 1);
  EXPECT_EQ(epoch.flags & kEpochPositionValid, 0);
  EXPECT_EQ(epoch.lat, 12.5);
  EXPECT_EQ(epoch.lon, 33.25);
  EXPECT_EQ(epoch.height, 7.0f);
  // Clock prediction from the two good epochs: 201 + 1 m/s * 1 s.
  EXPECT_NEAR(epoch.clock, 202.0, 0.02);
  EXPECT_DOUBLE_EQ(epoch.corrTime, epoch.rcvTime - epoch.clock * 3.3356409519815204e-9);
  EXPECT_EQ(Count("Solution failed due to data errors"), 2);
  EXPECT_EQ(Count("Solution failed--trying again with new clockshift"), 1);
  EXPECT_EQ(engine_.epochCount(), 2);

  // The failed epoch left the last good solution in place.
  gpb_epoch_type next = Epoch(kT0 + 3, 203.0);
  ASSERT_EQ(engine_.ProcessEpoch(&next, kWriteAll), 0);
  EXPECT_LT(PositionError(), 0.01);
}

TEST_F(SinglePointSim, UnusableRecordsAreSkipped) {
  SolveFirstEpoch();
  gpb_epoch_type epoch = Epoch(kT0 + 1, 100.0);
  ASSERT_EQ(epoch.nsat, 7);
  Find(&epoch, 9)->range1 = 99.9;                                        // not a range
  Find(&epoch, 6)->sflags = 0;                                           // C/A bit clear
  Find(&epoch, 24)->range1 = std::numeric_limits<double>::quiet_NaN();   // corrupt value
  gpb_sat_type& glonass = epoch.sat[epoch.nsat++];
  glonass = *Find(&epoch, 5);
  glonass.prn = 33;
  gpb_sat_type& zero = epoch.sat[epoch.nsat++];
  zero = *Find(&epoch, 5);
  zero.prn = 0;
  ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0);
  EXPECT_EQ(engine_.usedCount(), 4);
  for (int prn : {9, 6, 24, 33, 0}) EXPECT_FALSE(Used(prn)) << prn;
  EXPECT_LT(PositionError(), 0.01);
  EXPECT_TRUE(recorder_.messages.empty());
}

TEST_F(SinglePointSim, MissingEphemerisIsReportedOncePerPrnAtReceptionTime) {
  double firstRcvTime = 0.0;
  for (int k = 0; k < 3; ++k) {
    gpb_epoch_type epoch = Epoch(kT0 + k, 300.0);
    if (k == 0) firstRcvTime = epoch.rcvTime;
    gpb_sat_type& extra = epoch.sat[epoch.nsat++];
    extra = epoch.sat[0];
    extra.prn = 2;  // no ephemeris for PRN 2
    ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0);
    EXPECT_LT(PositionError(), 0.01);
  }
  EXPECT_EQ(Count("Ephemeris missing for PRN 2"), 1);
  for (const Message& m : recorder_.messages) {
    // The first epoch starts from a zero clock: the reception time is the time tag itself.
    if (m.text == "Ephemeris missing for PRN 2") {
      EXPECT_EQ(m.time, firstRcvTime);
    }
  }
  EXPECT_EQ(engine_.satellite(2).missingCount, 4);  // two solves of the first epoch, then one each
}

TEST_F(SinglePointSim, FewerThanFourSatellitesGiveNoSolution) {
  const std::vector<GpsEph> three = Only({5, 17, 30});
  gpb_epoch_type epoch = Epoch(kT0, 100.0, 15.0, &three);
  epoch.flags = kEpochPositionValid;
  epoch.lat = test_data::kBahrLat_deg;
  epoch.lon = test_data::kBahrLon_deg;
  EXPECT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 1);
  EXPECT_EQ(epoch.flags & kEpochPositionValid, 0);
  ASSERT_EQ(recorder_.messages.size(), 1u);
  EXPECT_EQ(recorder_.messages[0].text,
            "Less than 4 satellites with ephemerides (only 3 found)--Cannot compute epoch");
  EXPECT_EQ(recorder_.messages[0].time, epoch.gpsTime);
  EXPECT_EQ(engine_.epochCount(), 0);
}

// Refused untouched but for the header's position-valid bit: no solution, no valid position.
TEST_F(SinglePointSim, NonFiniteOrAbsurdEpochTimeIsRefusedWithoutAValidPosition) {
  const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity(), 1e300};
  for (double value : bad) {
    for (int field = 0; field < 2; ++field) {
      gpb_epoch_type epoch = Epoch(kT0, 100.0);
      epoch.flags = kEpochPositionValid | 0x2;  // the header's position, and moving
      epoch.lat = test_data::kBahrLat_deg;
      (field == 0 ? epoch.gpsTime : epoch.rcvTime) = value;
      gpb_epoch_type expected;
      std::memcpy(&expected, &epoch, sizeof epoch);
      expected.flags = 0x2;
      EXPECT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 1);
      EXPECT_EQ(std::memcmp(&expected, &epoch, sizeof epoch), 0);
    }
  }
  EXPECT_TRUE(recorder_.messages.empty());
}

// A header position off by tens to thousands of km: the troposphere (here at 20 km height,
// none), the light time and the elevation mask are first taken there; the epoch is solved
// again from its first solution, or, when the mask at the header leaves too few satellites,
// from the last solution, and ends on the simulated antenna.
TEST_F(SinglePointSim, HeaderPositionFarOffStillGivesTheTruth) {
  SolveFirstEpoch();
  const struct {
    double dLat_deg, dLon_deg, dHeight_m;
  } offsets[] = {{0.1, 0.1, 20000.0},  // 25 km, mostly up
                 {3.0, 0.0, 0.0},      // 330 km north
                 {-25.0, 25.0, 0.0},   // 3500 km: the mask there drops two satellites
                 {-52.4, 180.0, 0.0}};  // the antipode: no satellite above its mask
  int k = 1;
  for (const auto& o : offsets) {
    gpb_epoch_type epoch = Epoch(kT0 + k++, 100.0);
    epoch.flags = kEpochPositionValid;
    epoch.lat = test_data::kBahrLat_deg + o.dLat_deg;
    epoch.lon = test_data::kBahrLon_deg + o.dLon_deg;
    epoch.height = static_cast<float>(test_data::kBahrHeight_m + o.dHeight_m);
    epoch.clock = 100.0;
    ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0) << o.dLat_deg;
    EXPECT_LT(PositionError(), 0.01) << o.dLat_deg;
    EXPECT_NE(epoch.flags & kEpochPositionValid, 0);
    EXPECT_NEAR(epoch.lat, test_data::kBahrLat_deg, 9.0e-8);
    EXPECT_EQ(engine_.usedCount(), 7) << o.dLat_deg;
  }
}

TEST_F(SinglePointSim, CorruptReceiverPositionIsNotUsedAsAPriori) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double lat, lon;
    float height;
    double clock;
  };
  const Case cases[] = {
      {nan, 50.0, 0.0f, 0.0}, {26.0, 50.0, 0.0f, inf}, {26.0, 50.0, 1e30f, 0.0},
      {400.0, 50.0, 0.0f, 0.0}, {26.0, 50.0, 0.0f, 1e12},
  };
  for (const Case& c : cases) {
    SinglePoint engine;
    for (const GpsEph& eph : ephs_) ASSERT_EQ(engine.store().AddGpsEph(eph), 0);
    gpb_epoch_type epoch = Epoch(kT0, 100.0);
    epoch.flags = kEpochPositionValid;
    epoch.lat = c.lat;
    epoch.lon = c.lon;
    epoch.height = c.height;
    epoch.clock = c.clock;
    ASSERT_EQ(engine.ProcessEpoch(&epoch, kWriteAll), 0) << c.lat << " " << c.clock;
    EXPECT_LT(Distance(engine.receiverPosition(), sim_.receiver()), 0.01);
    EXPECT_NEAR(epoch.clock, 100.0, 0.01);
  }
}

TEST_F(SinglePointSim, ReleasedEngineFailsThroughItsMessagesWithoutCrashing) {
  engine_.Release();
  for (const GpsEph& eph : ephs_) ASSERT_EQ(engine_.store().AddGpsEph(eph), 0);
  gpb_epoch_type epoch = Epoch(kT0, 100.0);
  EXPECT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 1);
  EXPECT_EQ(epoch.flags & kEpochPositionValid, 0);
  EXPECT_EQ(Count("Normal matrix not allocated"), 2);
  EXPECT_EQ(Count("Solution failed--trying again with new clockshift"), 1);
}

TEST_F(SinglePointSim, OneMetreNoiseGivesMetreLevelPositions) {
  std::mt19937 generator(20040610);
  std::normal_distribution<double> noise(0.0, 1.0);
  double sumSquares = 0.0;
  const int epochs = 40;
  for (int k = 0; k < epochs; ++k) {
    gpb_epoch_type epoch = Epoch(kT0 + k, 1234.5);
    for (int i = 0; i < epoch.nsat; ++i) epoch.sat[i].range1 += noise(generator);
    ASSERT_EQ(engine_.ProcessEpoch(&epoch, kWriteAll), 0) << k;
    const double error = PositionError();
    EXPECT_LT(error, 15.0) << k;
    sumSquares += error * error;
    EXPECT_GT(engine_.residualRms(), 0.05) << k;
    EXPECT_LT(engine_.residualRms(), 4.0) << k;
    EXPECT_EQ(engine_.usedCount(), 7) << k;
  }
  // PDOP of this geometry is about 2: metre noise gives metres, not centimetres or tens.
  const double rms = std::sqrt(sumSquares / epochs);
  EXPECT_GT(rms, 0.2);
  EXPECT_LT(rms, 6.0);
  EXPECT_EQ(CountPrefix("  Rejected"), 0);
}

}  // namespace
}  // namespace talverin
