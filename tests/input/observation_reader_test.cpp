#include "input/observation_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "base/byte_order.h"
#include "base/text_buffer.h"
#include "input/receiver_detect.h"
#include "plugin/abort_counter.h"
#include "plugin/conversion_job.h"
#include "position/single_point.h"
#include "tests/support/test_support.h"
#include "tools/download_set/byte_builder.h"
#include "tools/download_set/observation_file_writer.h"

#ifdef TALVERIN_HAVE_GEOGRAPHICLIB
#include <GeographicLib/Geocentric.hpp>
#endif

namespace talverin {
namespace {

using testing_support::Message;
using testing_support::TempDir;

constexpr double kC = 299792458.0;  // m/s
constexpr char kLessThanFour[] = "Warning, less then 4 ephemerides unable to recompute position";

// A ConversionJob set up by hand around one observation file, as the pipeline leaves it
// after the 90-byte header. The GPB writer is never created, so every epoch write fails:
// epochs show up through the position warning that each processed epoch raises (position
// recomputation on, no ephemerides), with the epoch's time.
class ReaderHarness {
 public:
  ReaderHarness() {
    current = this;
    job.messageCallback = RecordMessage;
    job.progressCallback = RecordProgress;
    job.options.RecomputePosition = 1;
    ModuleErrorText()[0] = '\0';
  }
  ~ReaderHarness() { current = nullptr; }

  void Open(const ObsFile& file, int32_t receiverType) {
    const std::string path = dir.File("BTEST0.001");
    ASSERT_TRUE(WriteObservationFile(path, file));
    job.observationFile = std::fopen(path.c_str(), "rb");
    ASSERT_NE(nullptr, job.observationFile);
    ASSERT_EQ(0, std::fseek(job.observationFile, kObservationHeaderSize, SEEK_SET));
    job.eppFile = std::fopen(dir.File("out.epp").c_str(), "w");
    job.receiverType = receiverType;
    job.channelRecordSize = ChannelRecordSize(receiverType);
  }
  std::string EppText() {
    std::fflush(job.eppFile);
    return ReadFileText(dir.File("out.epp"));
  }
  std::vector<double> ProcessedTimes() const {
    std::vector<double> times;
    for (const Message& m : messages) {
      if (m.text == kLessThanFour) times.push_back(m.time);
    }
    return times;
  }
  int Count(const std::string& text) const {
    int n = 0;
    for (const Message& m : messages) n += m.text == text ? 1 : 0;
    return n;
  }

  TempDir dir;
  ConversionJob job;
  std::vector<Message> messages;
  std::vector<std::pair<int32_t, int32_t>> progress;

 private:
  static void TALVERIN_CALL RecordMessage(double time, const char* text) {
    if (current != nullptr) current->messages.push_back({time, text});
  }
  static void TALVERIN_CALL RecordProgress(int32_t position, int32_t total) {
    if (current != nullptr) current->progress.emplace_back(position, total);
  }
  static ReaderHarness* current;
};
ReaderHarness* ReaderHarness::current = nullptr;

ObsEpoch Epoch(double time_s, int channels, const std::string& site = "A101") {
  ObsEpoch e;
  e.site = site;
  e.time_s = time_s;
  e.x_m = 4000000.0;
  e.y_m = 1000000.0;
  e.z_m = 4800000.0;
  for (int i = 0; i < channels; ++i) {
    ObsChannel c;
    c.prn = static_cast<uint8_t>(i + 1);
    c.doppler = 12345678;
    c.l1Phase_cyc = 1.5e6 + i;  // top byte 0x41 ('A') ends every record
    e.channels.push_back(c);
  }
  return e;
}

ObsFile TypeOneFile() {
  ObsFile f;
  f.model = "G-12";
  f.recordSize = 35;
  return f;
}

// --- Time step and tracking times --------------------------------------------------

TEST(TimeStep, FoldsAcrossWeekBoundariesInBothDirections) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double t, previous, expected;
  };
  const Case cases[] = {
      {30.0, 10.0, 20.0},
      {5.0, 10.0, -5.0},
      {10.0, 604790.0, 20.0},         // 10 s into the next week: d = -604780
      {604790.0, 10.0, -20.0},        // back across the start of the week
      {400000.0, 95200.0, 304800.0},  // exactly the limit is not folded
      {100.0, 0.0, 0.0},              // no previous time
      {100.0, -1.0, 0.0},
      {nan, 10.0, 0.0},
      {10.0, nan, 0.0},
      {std::numeric_limits<double>::infinity(), 10.0, 0.0},
  };
  for (const Case& c : cases) {
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

TEST(DecodeChannel, StandardLayoutsGiveMetresCyclesAndFlags) {
  ConversionJob job;
  job.receiverType = 3;
  gpb_epoch_type epoch{};
  std::vector<uint8_t> r = HandRecord(17, 0.0712345, 0, 42, -2345678, 1234567.875);
  StoreF64(&r[35], 0.0712399);   // type 3 L2 range
  StoreF64(&r[58], -960000.25);  // type 3 L2 phase
  int32_t leap = 0;
  ASSERT_EQ(0, DecodeChannel(job, epoch, r.data(), 1.0, 2, &leap));
  const gpb_sat_type& s = epoch.sat[2];
  EXPECT_EQ(17u, s.prn);
  EXPECT_DOUBLE_EQ(0.0712345 * kC, s.range1);
  EXPECT_EQ(-1234567.875, s.phase1);
  EXPECT_DOUBLE_EQ(234.5678, s.doppler1);  // -(-2345678 x 0.0001)
  EXPECT_EQ(42.0, s.snr1);
  EXPECT_DOUBLE_EQ(0.0712399 * kC, s.range2);
  EXPECT_EQ(960000.25, s.phase2);
  EXPECT_EQ(0x1u | 0x2u | 0x4u | 0x8u | 0x10u | 0x40u | 0x80u, s.sflags);

  // Type 2: the L2 block sits at 66 (range), 81 (warning), 83 (SNR), 89 (phase).
  job.receiverType = 2;
  std::vector<uint8_t> d = HandRecord(5, 0.0701, 0, 40, 100, 2.0e6);
  StoreF64(&d[35], 99.0);  // unread bytes of type 2: must not reach range2
  StoreF64(&d[66], 0.0702);
  d[83] = 37;
  StoreF64(&d[89], 1.5e6);
  ASSERT_EQ(0, DecodeChannel(job, epoch, d.data(), 1.0, 0, &leap));
  EXPECT_DOUBLE_EQ(0.0702 * kC, epoch.sat[0].range2);
  EXPECT_EQ(37.0, epoch.sat[0].snr2);
  EXPECT_EQ(-1.5e6, epoch.sat[0].phase2);
  EXPECT_EQ(0x3FFu & ~0x20u, epoch.sat[0].sflags);

  // Types 1 and 4 carry no L2 values, whatever the bytes after 35 hold.
  for (int32_t type : {1, 4}) {
    job.receiverType = type;
    ASSERT_EQ(0, DecodeChannel(job, epoch, d.data(), 1.0, 1, &leap));
    EXPECT_EQ(0x1Fu, epoch.sat[1].sflags) << type;
    EXPECT_EQ(0.0, epoch.sat[1].range2);
    EXPECT_EQ(0.0, epoch.sat[1].phase2);
  }
}

TEST(DecodeChannel, ZeroPhaseLeavesItsFlagClearExceptForTheCodelessL2) {
  ConversionJob job;
  job.receiverType = 3;
  gpb_epoch_type epoch{};
  std::vector<uint8_t> r = HandRecord(9, 0.07, 0, 0, 0, 0.0);
  ASSERT_EQ(0, DecodeChannel(job, epoch, r.data(), 1.0, 0, nullptr));
  EXPECT_EQ(0u, epoch.sat[0].sflags & 0x2u);
  EXPECT_EQ(0x80u, epoch.sat[0].sflags & 0x80u);

  job.receiverType = 2;
  ASSERT_EQ(0, DecodeChannel(job, epoch, r.data(), 1.0, 0, nullptr));
  EXPECT_EQ(0u, epoch.sat[0].sflags & 0x82u);
}

TEST(DecodeChannel, DropsL2PhaseWithoutL2RangeWhenAsked) {
  ConversionJob job;
  job.receiverType = 2;
  job.options.DropL2PhaseWithoutRange = 1;
  gpb_epoch_type epoch{};
  std::vector<uint8_t> r = HandRecord(9, 0.07, 0, 0, 0, 1.0);
  StoreF64(&r[89], 777.0);  // L2 phase, L2 range left 0
  ASSERT_EQ(0, DecodeChannel(job, epoch, r.data(), 1.0, 0, nullptr));
  EXPECT_EQ(0.0, epoch.sat[0].phase2);
  EXPECT_EQ(0x80u, epoch.sat[0].sflags & 0x80u);  // the flag stays as set

  StoreF64(&r[66], 0.0702);
  ASSERT_EQ(0, DecodeChannel(job, epoch, r.data(), 1.0, 0, nullptr));
  EXPECT_EQ(-777.0, epoch.sat[0].phase2);
}

TEST(DecodeChannel, PrnRangeByReceiverType) {
  struct Case {
    int32_t type;
    uint8_t prn;
    int32_t result;
  };
  const Case cases[] = {
      {1, 0, 1}, {1, 1, 0},  {1, 32, 0}, {1, 33, 1}, {2, 40, 1},  {3, 40, 1},
      {4, 0, 1}, {4, 40, 0}, {4, 71, 0}, {4, 72, 1}, {4, 255, 1}, {2, 200, 1},
  };
  for (const Case& c : cases) {
    ConversionJob job;
    job.receiverType = c.type;
    gpb_epoch_type epoch{};
    std::vector<uint8_t> r = HandRecord(c.prn, 0.07, 0, 0, 0, 1.0);
    EXPECT_EQ(c.result, DecodeChannel(job, epoch, r.data(), 1.0, 0, nullptr))
        << "type " << c.type << " prn " << int(c.prn);
  }
}

TEST(DecodeChannel, RefusesASlotOutsideTheEpoch) {
  ConversionJob job;
  job.receiverType = 1;
  gpb_epoch_type epoch{};
  std::vector<uint8_t> r = HandRecord(3, 0.07, 0, 0, 0, 1.0);
  EXPECT_EQ(1, DecodeChannel(job, epoch, r.data(), 1.0, 24, nullptr));
  EXPECT_EQ(1, DecodeChannel(job, epoch, r.data(), 1.0, -1, nullptr));
  EXPECT_EQ(1, DecodeChannelAlt(job, epoch, r.data(), 24));
}

TEST(DecodeChannel, TrackingTimesGrowAndRestart) {
  ConversionJob job;
  job.receiverType = 2;
  gpb_epoch_type epoch{};
  const uint8_t prn = 12;
  struct Step {
    double dt;
    uint8_t l1Warning, l2Warning;
    double lock1, lock2;
  };
  const Step steps[] = {
      {-1.0, 0, 0, 0.0, -1.0},  // first epoch: L1 restarts, L2 receives -1.0
      {20.0, 0, 0, 20.0, 19.0},  {20.0, 0, 0, 40.0, 39.0},
      {20.0, 128, 0, 0.0, 59.0},                             // L1 restart bit
      {10.0, 0, 0, 10.0, 69.0},  {0.0, 0, 0, 0.0, 69.0},     // dt <= 0 restarts L1 only
      {-5.0, 0, 0, 0.0, 64.0},   {10.0, 0, 128, 10.0, 0.0},  // L2 restart bit
      {10.0, 4, 0, 0.0, 0.0},                                // L1 phase questionable restarts both
      {10.0, 8, 0, 10.0, 10.0},                              // code warnings do not
      {10.0, 16, 0, 20.0, 20.0},
  };
  int n = 0;
  for (const Step& s : steps) {
    std::vector<uint8_t> r = HandRecord(prn, 0.07, s.l1Warning, 0, 0, 1.0);
    r[81] = s.l2Warning;
    ASSERT_EQ(0, DecodeChannel(job, epoch, r.data(), s.dt, 0, nullptr));
    EXPECT_EQ(s.lock1, epoch.sat[0].lock1) << "step " << n;
    EXPECT_EQ(s.lock2, epoch.sat[0].lock2) << "step " << n;
    ++n;
  }
  // Another PRN's times are untouched.
  EXPECT_EQ(0.0, job.l1Time[11]);
  EXPECT_EQ(0.0, job.l2Time[13]);
}

TEST(DecodeChannel, NonFiniteStepRestartsL2InsteadOfPoisoningIt) {
  ConversionJob job;
  job.receiverType = 2;
  gpb_epoch_type epoch{};
  std::vector<uint8_t> r = HandRecord(3, 0.07, 0, 0, 0, 1.0);
  ASSERT_EQ(0, DecodeChannel(job, epoch, r.data(), 30.0, 0, nullptr));
  ASSERT_EQ(0, DecodeChannel(job, epoch, r.data(), std::nan(""), 0, nullptr));
  EXPECT_EQ(0.0, epoch.sat[0].lock1);
  EXPECT_EQ(0.0, epoch.sat[0].lock2);
  ASSERT_EQ(0, DecodeChannel(job, epoch, r.data(), 1.0, 0, nullptr));
  EXPECT_EQ(1.0, epoch.sat[0].lock2);
}

std::vector<std::string> gTexts;
void TALVERIN_CALL RecordText(double, const char* text) { gTexts.push_back(text); }

TEST(DecodeChannel, QualityWarningsGoToTheModuleErrorText) {
  struct Case {
    int32_t type;
    uint8_t l1Warning, l2Warning;
    std::vector<std::string> texts;
  };
  const Case cases[] = {
      {1, 4, 0, {"L1 phase question: prn 7 @ 3600.5"}},
      {1, 4 | 8 | 16, 0, {"L1 phase question: prn 7 @ 3600.5"}},  // only one of them
      {1, 8, 0, {"Code phase questionable on prn 7"}},
      {1, 8 | 16, 0, {"Code phase questionable on prn 7"}},
      {1, 16, 0, {"Code phase integration unstable on prn 7"}},
      {1, 128, 0, {}},
      {2, 0, 128, {"L2 Phase questionable on prn 7 at 3600.5"}},
      {2,
       4,
       128,
       {"L1 phase question: prn 7 @ 3600.5", "L2 Phase questionable on prn 7 at 3600.5",
        "L2 phase question: prn 7 @ 3600.5"}},
  };
  for (const Case& c : cases) {
    ConversionJob job;
    job.receiverType = c.type;
    job.options.ReportQualityWarnings = 1;
    job.messageCallback = RecordText;
    gTexts.clear();
    ModuleErrorText()[0] = '\0';
    gpb_epoch_type epoch{};
    epoch.gpsTime = 3600.5;
    std::vector<uint8_t> r = HandRecord(7, 0.07, c.l1Warning, 0, 0, 1.0);
    r[81] = c.l2Warning;
    ASSERT_EQ(0, DecodeChannel(job, epoch, r.data(), 1.0, 0, nullptr));
    EXPECT_EQ(c.texts, gTexts) << int(c.l1Warning);
    EXPECT_EQ(c.texts.empty() ? std::string() : c.texts.back(), ModuleErrorText());
    EXPECT_STREQ("", job.messageBuffer);

    // Without the option the same bytes say nothing.
    job.options.ReportQualityWarnings = 0;
    gTexts.clear();
    ASSERT_EQ(0, DecodeChannel(job, epoch, r.data(), 1.0, 0, nullptr));
    EXPECT_TRUE(gTexts.empty());
  }
}

TEST(DecodeChannel, GlonassRangeLosesTheWholeGpsUtcSeconds) {
  ConversionJob job;
  job.receiverType = 4;
  gpb_epoch_type epoch{};
  int32_t leap = 0;
  std::vector<uint8_t> r = HandRecord(40, 13.0002, 0, 0, 0, 1.0);
  ASSERT_EQ(0, DecodeChannel(job, epoch, r.data(), 1.0, 0, &leap));
  EXPECT_EQ(1, leap);
  EXPECT_NEAR(0.0002 * kC, epoch.sat[0].range1, 1e-4);  // 13.0002 s - 13 s, in m

  // A GPS satellite of the same receiver keeps its range.
  std::vector<uint8_t> g = HandRecord(20, 13.0002, 0, 0, 0, 1.0);
  ASSERT_EQ(0, DecodeChannel(job, epoch, g.data(), 1.0, 1, &leap));
  EXPECT_DOUBLE_EQ(13.0002 * kC, epoch.sat[1].range1);

  // Corrupt ranges (infinite, NaN, beyond any integer) are left as they are.
  const double bad[] = {std::numeric_limits<double>::infinity(), std::nan(""), 1e300, 3e9};
  for (double value : bad) {
    std::vector<uint8_t> b = HandRecord(41, value, 0, 0, 0, 1.0);
    leap = 0;
    ASSERT_EQ(0, DecodeChannel(job, epoch, b.data(), 1.0, 2, &leap));
    EXPECT_EQ(0, leap) << value;
  }
}

TEST(DecodeChannelAlt, ReadsItsOwnOffsets) {
  ConversionJob job;
  job.receiverType = 2;
  gpb_epoch_type epoch{};
  epoch.gpsTime = 200000.0;
  std::vector<uint8_t> r(kChannelBufferSize, 0);
  StoreU32(&r[0], 123456);      // 123.456 s
  r[4] = 200;                   // PRN, not range-checked here
  StoreF64(&r[8], 199999.925);  // transmitted 75 ms earlier
  StoreI32(&r[16], 31415926);
  StoreF64(&r[23], 2718281.5);
  r[49] = 2;  // a status bit that does not reject
  ASSERT_EQ(0, DecodeChannelAlt(job, epoch, r.data(), 3));
  const gpb_sat_type& s = epoch.sat[3];
  EXPECT_EQ(200u, s.prn);
  EXPECT_DOUBLE_EQ(123.456, s.lock1);
  EXPECT_DOUBLE_EQ((200000.0 - 199999.925) * kC, s.range1);
  EXPECT_DOUBLE_EQ(-3141.5926, s.doppler1);
  EXPECT_EQ(-2718281.5, s.phase1);
  EXPECT_EQ(0x1u | 0x2u | 0x4u | 0x8u, s.sflags);

  for (uint8_t status : {1, 4, 5, 0xFF}) {
    gpb_epoch_type other{};
    r[49] = status;
    EXPECT_EQ(1, DecodeChannelAlt(job, other, r.data(), 0)) << int(status);
    EXPECT_EQ(0u, other.sat[0].prn);
  }
}

// --- Geodetic position ----------------------------------------------------------------

TEST(EcefToGeodetic, RoundTripsAGridIncludingNearPoles) {
  // Forward conversion written out here (closed form), independent of the iteration.
  const double a = 6378137.0, e2 = 0.006694380066;
  for (double lat = -89.9; lat <= 89.9; lat += 9.98) {
    for (double lon = -179.0; lon <= 180.0; lon += 37.0) {
      for (double h : {-100.0, 0.0, 1500.0, 20200000.0}) {
        const double phi = lat * M_PI / 180.0, lam = lon * M_PI / 180.0;
        const double n = a / std::sqrt(1.0 - e2 * std::sin(phi) * std::sin(phi));
        const double x = (n + h) * std::cos(phi) * std::cos(lam);
        const double y = (n + h) * std::cos(phi) * std::sin(lam);
        const double z = (n * (1.0 - e2) + h) * std::sin(phi);
        double la, lo, hh;
        EcefToGeodetic(x, y, z, &la, &lo, &hh);
        EXPECT_NEAR(lat, la * 180.0 / M_PI, 1e-9) << lat << " " << lon << " " << h;  // ~0.1 mm
        EXPECT_NEAR(lon, lo * 180.0 / M_PI, 1e-9);
        EXPECT_NEAR(h, hh, 1e-3);  // 1 mm
      }
    }
  }
}

#ifdef TALVERIN_HAVE_GEOGRAPHICLIB
TEST(EcefToGeodetic, AgreesWithGeographicLib) {
  // The receiver files round e^2 to 0.006694380066 (WGS84: 0.00669437999014), which moves
  // latitudes by up to 3e-9 degrees (0.3 mm): the tolerance is 1e-8 degrees (1 mm).
  const GeographicLib::Geocentric& earth = GeographicLib::Geocentric::WGS84();
  const double points[][3] = {{4075580.0, 931855.0, 4801568.0},
                              {-2694045.0, -4293642.0, 3857878.0},
                              {1113194.0, 6245688.0, 111.0},
                              {10.0, 20.0, 6356752.0}};
  for (const auto& p : points) {
    double lat, lon, h;
    earth.Reverse(p[0], p[1], p[2], lat, lon, h);
    double la, lo, hh;
    EcefToGeodetic(p[0], p[1], p[2], &la, &lo, &hh);
    EXPECT_NEAR(lat, la * 180.0 / M_PI, 1e-8);
    EXPECT_NEAR(lon, lo * 180.0 / M_PI, 1e-12);
    EXPECT_NEAR(h, hh, 1e-3);
  }
}
#endif

TEST(EcefToGeodetic, PolarAxisAndNonFiniteInputGiveZeros) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inputs[][3] = {{0, 0, 6356752.3}, {0, 0, -6356752.3}, {0, 0, 0},
                              {nan, 1, 2},       {1, inf, 2},        {1, 2, -inf}};
  for (const auto& p : inputs) {
    double la = 9, lo = 9, hh = 9;
    EcefToGeodetic(p[0], p[1], p[2], &la, &lo, &hh);
    EXPECT_EQ(0.0, la);
    EXPECT_EQ(0.0, lo);
    EXPECT_EQ(0.0, hh);
  }
}

TEST(EcefToGeodetic, EndsOnPointsWhereTheIterationCannotConverge) {
  // Deep inside the Earth the fixed-point iteration oscillates; it must still return.
  const double inputs[][3] = {{1.0, 0.0, 0.0}, {1e-3, 1e-3, 1e-3}, {1e300, 1e300, 1e300}};
  for (const auto& p : inputs) {
    double la, lo, hh;
    EcefToGeodetic(p[0], p[1], p[2], &la, &lo, &hh);
    EXPECT_NEAR(std::atan2(p[1], p[0]), lo, 1e-15);
  }
}

// --- The epoch loop -------------------------------------------------------------------

TEST(ReadEpochs, ProgressAtEveryEpochWhileWritesFail) {
  // The written count stays 0, a multiple of 50, so every epoch reports its offset.
  ReaderHarness h;
  ObsFile f = TypeOneFile();
  for (int i = 0; i < 3; ++i) f.epochs.push_back(Epoch(100.0 + i, 2));
  h.Open(f, 1);
  EXPECT_EQ(0, ReadEpochs(h.job));
  const int32_t epochBytes = 67 + 2 * 35;
  const int32_t total = 90 + 3 * epochBytes;
  const std::vector<std::pair<int32_t, int32_t>> expected = {{90 + 67, total},
                                                             {90 + epochBytes + 67, total},
                                                             {90 + 2 * epochBytes + 67, total},
                                                             {total, total}};
  EXPECT_EQ(expected, h.progress);
  EXPECT_EQ(0, h.job.epochsWritten);
  EXPECT_EQ((std::vector<double>{100.0, 101.0, 102.0}), h.ProcessedTimes());
}

TEST(ReadEpochs, TooManyChannelsResumesAtTheNextHeaderOfTheSite) {
  // Every record ends in the top byte 0x41 of its phase, 'A', the first letter of the site:
  // the next header is preceded by an 'A'.
  struct Case {
    int32_t type;
    int channels;  // of the middle epoch
    bool dropped;
  };
  const Case cases[] = {{1, 13, true}, {4, 13, false}, {4, 24, false},
                        {4, 25, true}, {2, 13, true},  {3, 12, false}};
  for (const Case& c : cases) {
    ReaderHarness h;
    ObsFile f = TypeOneFile();
    f.recordSize = ChannelRecordSize(c.type);
    f.epochs = {Epoch(100.0, 3), Epoch(101.0, c.channels), Epoch(102.0, 2)};
    if (c.channels > 24) {
      for (ObsChannel& ch : f.epochs[1].channels) ch.prn = 5;
    }
    h.Open(f, c.type);
    ASSERT_EQ(0, ReadEpochs(h.job)) << c.type << " " << c.channels;
    const int recoveries = h.Count("Error: Too many channels: \nWill Try to Recover Data");
    if (c.dropped) {
      EXPECT_EQ(1, recoveries);
      EXPECT_EQ((std::vector<double>{100.0, 102.0}), h.ProcessedTimes());
    } else {
      EXPECT_EQ(0, recoveries);
      EXPECT_EQ((std::vector<double>{100.0, 101.0, 102.0}), h.ProcessedTimes());
    }
  }
}

TEST(ReadEpochs, RecoveryMessageCarriesTimeZeroForAnImpossibleTime) {
  for (double t : {-5.0, 604800.5, std::nan("")}) {
    ReaderHarness h;
    ObsFile f = TypeOneFile();
    f.epochs = {Epoch(50.0, 1), Epoch(t, 13), Epoch(300.0, 1)};
    h.Open(f, 1);
    ASSERT_EQ(0, ReadEpochs(h.job));
    ASSERT_EQ(1, h.Count("Error: Too many channels: \nWill Try to Recover Data"));
    for (const Message& m : h.messages) {
      if (m.text.rfind("Error: Too many", 0) == 0) {
        EXPECT_EQ(0.0, m.time) << t;
      }
    }
    EXPECT_EQ((std::vector<double>{50.0, 300.0}), h.ProcessedTimes());
  }
}

TEST(ReadEpochs, RecoveryWithoutAnotherHeaderEndsPrematurely) {
  ReaderHarness h;
  ObsFile f = TypeOneFile();
  f.epochs = {Epoch(100.0, 2), Epoch(101.0, 2)};
  f.epochs[1].countByte = 13;  // and no other header after it
  h.Open(f, 1);
  EXPECT_EQ(3, ReadEpochs(h.job));
  ASSERT_EQ(4u, h.messages.size());  // the first two: the epoch at 100 s
  EXPECT_EQ("Error: Too many channels: \nWill Try to Recover Data", h.messages[2].text);
  EXPECT_EQ("Warning: Pre-mature end of file at 2 epochs", h.messages[3].text);
  EXPECT_EQ(101.0, h.messages[3].time);
  EXPECT_STREQ("Warning: Pre-mature end of file at 2 epochs", ModuleErrorText());
  EXPECT_EQ(2u, h.progress.size());  // one per header, none for the end after a failure
}

TEST(ReadEpochs, ImplausibleHeadersAreDroppedAndReadingResumesAtTheNextTrueEpoch) {
  // Epochs of three channels, 30 s apart unless a case says otherwise. Each case damages
  // the file and names the times that must come out, in order.
  struct Case {
    const char* what;
    std::vector<double> times;
    std::function<void(ObsFile&)> damage;  // on the description
    std::function<void(std::vector<uint8_t>&)> bytes;  // then on the file's bytes
    std::vector<double> expected;
    int recoveries;  // "Will Try to Recover Data" messages
  };
  const size_t epochBytes = 67 + 3 * 35;
  const std::vector<double> regular = {100, 130, 160, 190, 220};
  const Case cases[] = {
      {"week rollover", {604740, 604770, 0, 30}, {}, {}, {604740, 604770, 0, 30}, 0},
      {"restart of logging, backwards", {345600, 345630, 100000, 100030}, {}, {},
       {345600, 345630, 100000, 100030}, 0},
      {"restart of logging, hours later", {345600, 345630, 360000, 360030}, {}, {},
       {345600, 345630, 360000, 360030}, 0},
      {"a time damaged forwards", regular, [](ObsFile& f) { f.epochs[2].time_s = 230; }, {},
       {100, 130, 190, 220}, 1},
      {"a time damaged backwards", regular, [](ObsFile& f) { f.epochs[2].time_s = 50; }, {},
       {100, 130, 190, 220}, 1},
      {"the next time damaged backwards", regular, [](ObsFile& f) { f.epochs[3].time_s = 140; },
       {}, {100, 130, 160, 220}, 1},
      {"the first time damaged", regular, [](ObsFile& f) { f.epochs[0].time_s = 5000; }, {},
       {130, 160, 190, 220}, 1},
      {"a NaN time", regular, [](ObsFile& f) { f.epochs[1].time_s = std::nan(""); }, {},
       {100, 160, 190, 220}, 1},
      {"a huge time", regular, [](ObsFile& f) { f.epochs[1].time_s = 1e300; }, {},
       {100, 160, 190, 220}, 1},
      {"a count of -1", regular, [](ObsFile& f) { f.epochs[1].countByte = 0xFF; }, {},
       {100, 160, 190, 220}, 1},
      {"a count of 13 in the first epoch", regular, [](ObsFile& f) { f.epochs[0].countByte = 13; },
       {}, {130, 160, 190, 220}, 1},
      {"a count too large but within the limit", regular,
       [](ObsFile& f) { f.epochs[1].countByte = 5; }, {}, {100, 160, 190, 220}, 1},
      {"a site name byte of 1", regular, [](ObsFile& f) { f.epochs[3].site = "A\x01" "01"; }, {},
       {100, 130, 160, 220}, 1},
      {"a site name byte deleted", regular, {},
       [&](std::vector<uint8_t>& b) { b.erase(b.begin() + 90 + 3 * epochBytes + 2); },
       {100, 130, 160, 220}, 1},
      {"a byte inserted in the records", regular, {},
       [&](std::vector<uint8_t>& b) { b.insert(b.begin() + 90 + epochBytes + 67 + 40, 0x00); },
       {100, 160, 190, 220}, 1},
      {"a byte deleted from the records", regular, {},
       [&](std::vector<uint8_t>& b) { b.erase(b.begin() + 90 + 2 * epochBytes + 67 + 80); },
       {100, 130, 190, 220}, 1},
      {"a byte inserted between epochs", regular, {},
       [&](std::vector<uint8_t>& b) { b.insert(b.begin() + 90 + epochBytes, 0x41); },
       {100, 130, 160, 190, 220}, 1},
  };
  for (const Case& c : cases) {
    ObsFile f = TypeOneFile();
    for (double t : c.times) f.epochs.push_back(Epoch(t, 3));
    if (c.damage) c.damage(f);
    std::vector<uint8_t> bytes = ObservationFileBytes(f);
    if (c.bytes) c.bytes(bytes);
    ObsFile raw;
    raw.rawAfter.assign(bytes.begin() + 90, bytes.end());
    ReaderHarness h;
    h.Open(raw, 1);
    EXPECT_EQ(0, ReadEpochs(h.job)) << c.what;
    EXPECT_EQ(c.expected, h.ProcessedTimes()) << c.what;
    int recoveries = 0;
    for (const Message& m : h.messages) {
      recoveries += m.text.find("Will Try to Recover Data") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(c.recoveries, recoveries) << c.what;
  }
}

TEST(ReadEpochs, ShortHeaderAtTheEndIsTheNormalEnd) {
  ReaderHarness h;
  ObsFile f = TypeOneFile();
  f.epochs = {Epoch(100.0, 1)};
  f.rawAfter = std::vector<uint8_t>(66, 0x41);
  h.Open(f, 1);
  EXPECT_EQ(0, ReadEpochs(h.job));
  EXPECT_EQ((std::vector<double>{100.0}), h.ProcessedTimes());
}

TEST(ReadEpochs, DuplicatePrnWarningsPerPair) {
  ReaderHarness h;
  h.job.options.ReportQualityWarnings = 1;
  ObsFile f = TypeOneFile();
  f.epochs = {Epoch(4321.25, 5)};
  for (int i : {0, 2, 4}) f.epochs[0].channels[i].prn = 9;
  h.Open(f, 1);
  EXPECT_EQ(0, ReadEpochs(h.job));
  EXPECT_EQ(3,
            h.Count("Warning: Multiple occurances of PRN 9 at 4321.2. Possible invalid data type"));
}

TEST(ReadEpochs, WarnsAtEveryEpochWithFewerThanFourEphemerides) {
  ReaderHarness h;
  ObsFile f = TypeOneFile();
  f.epochs = {Epoch(10.0, 1), Epoch(11.0, 1)};
  h.Open(f, 1);
  EXPECT_EQ(0, ReadEpochs(h.job));
  EXPECT_EQ(2, h.Count(kLessThanFour));
  EXPECT_STREQ(kLessThanFour, h.job.messageBuffer);

  // The store needs more than three GPS ephemerides.
  ReaderHarness three;
  three.job.engine->store().gpsCount = 3;
  three.Open(f, 1);
  EXPECT_EQ(0, ReadEpochs(three.job));
  EXPECT_EQ(2, three.Count(kLessThanFour));

  ReaderHarness off;
  off.job.options.RecomputePosition = 0;
  off.Open(f, 1);
  EXPECT_EQ(0, ReadEpochs(off.job));
  EXPECT_EQ(0, off.Count(kLessThanFour));
}

TEST(ReadEpochs, GlonassGpsUtcRecordsOfTheEppFile) {
  // GPS weeks by calendar: week 1221 starts 2003-06-01 (GPS-UTC 13 s), week 960 starts
  // 1998-05-31 (12 s), week 1364 lies in 2006 and week 542 in 1990 (no table row).
  struct Case {
    int32_t optionSeconds;
    uint8_t prn;
    int32_t ephWeek;
    std::string epp;
    int32_t type = 4;
  };
  const Case cases[] = {
      {0, 40, -1, "GpsIon { Utc: 13\n}\n"},   // once for the whole file
      {14, 20, 1221, "", 1},                    // only GLONASS receivers write them
      {0, 40, 960, "GpsIon { Utc: 13\n}\n"},  // the ranges told already
      {0, 20, -1, ""},                        // GPS satellites carry no offset
      {14, 20, -1, "GpsIon { Utc: 14\n}\n"},
      {1, 20, -1, ""},
      {0, 20, 1221, "GpsIon { Utc: 13\n}\n"},
      {0, 20, 960, "GpsIon { Utc: 12\n}\n"},
      {0, 20, 1364, ""},
      {0, 20, 542, ""},
  };
  for (const Case& c : cases) {
    ReaderHarness h;
    h.job.options.GpsUtcLeapSeconds = c.optionSeconds;
    h.job.lastEphWeek = c.ephWeek;
    h.job.lastEphTime = 86400.0;
    ObsFile f = TypeOneFile();
    f.model = "GG-24";
    for (int i = 0; i < 3; ++i) {
      ObsEpoch e = Epoch(100.0 + i, 2);
      e.channels[0].prn = c.prn;
      e.channels[0].caRange_s = 13.0002;
      e.channels[1].prn = static_cast<uint8_t>(c.prn + 1);
      e.channels[1].caRange_s = 13.0702;
      f.epochs.push_back(e);
    }
    h.Open(f, c.type);
    EXPECT_EQ(0, ReadEpochs(h.job));
    EXPECT_EQ(c.epp, h.EppText()) << c.optionSeconds << " " << int(c.prn) << " " << c.ephWeek;
  }
}

TEST(ReadEpochs, CorruptEpochValuesStayFinishable) {
  // Header and record fields of every kind of corrupt double; the loop must run to the
  // end without undefined behaviour (the sanitizer build checks that) and process every
  // epoch, since every header is sound.
  const double inf = std::numeric_limits<double>::infinity();
  const double bad[] = {std::nan(""), inf, -inf, 1e308, -1e308, 0.0};
  ReaderHarness h;
  ObsFile f = TypeOneFile();
  double t = 1000.0;
  for (double v : bad) {
    ObsEpoch e = Epoch(t, 5);
    e.x_m = v;
    e.z_m = v;
    e.clock_m = v;
    for (ObsChannel& ch : e.channels) {
      ch.caRange_s = v;
      ch.l1Phase_cyc = v;
    }
    e.channels[0].doppler = -2147483647 - 1;
    f.epochs.push_back(e);
    t += 1.0;
  }
  h.Open(f, 1);
  EXPECT_EQ(0, ReadEpochs(h.job));
  EXPECT_EQ(6u, h.ProcessedTimes().size());
}

TEST(ReadEpochs, SurvivesRandomlyDamagedFiles) {
  // Random bytes overwritten and random cuts in valid files of every record size; the
  // loop must end with 0 or 3 each time (the sanitizer build also checks memory and UB).
  std::mt19937 random(20261206u);
  const int32_t types[] = {1, 2, 3, 4};
  for (int round = 0; round < 200; ++round) {
    const int32_t type = types[round % 4];
    ObsFile f = TypeOneFile();
    f.recordSize = ChannelRecordSize(type);
    for (int i = 0; i < 6; ++i) f.epochs.push_back(Epoch(500.0 + i, 1 + i % 5));
    std::vector<uint8_t> bytes = ObservationFileBytes(f);
    const int damage = 1 + static_cast<int>(random() % 24);
    for (int d = 0; d < damage; ++d) {
      bytes[90 + random() % (bytes.size() - 90)] = static_cast<uint8_t>(random());
    }
    if (round % 3 == 0) bytes.resize(90 + random() % (bytes.size() - 90));
    ReaderHarness h;
    h.job.options.ReportQualityWarnings = 1;
    h.job.options.AltChannelLayout = round % 5 == 0 ? 1 : 0;
    ObsFile raw;
    raw.rawAfter.assign(bytes.begin() + 90, bytes.end());
    h.Open(raw, type);
    const int32_t result = ReadEpochs(h.job);
    EXPECT_TRUE(result == 0 || result == 3) << "round " << round << " result " << result;
    EXPECT_LE(h.ProcessedTimes().size(), (bytes.size() - 90) / 67) << "round " << round;
  }
}

}  // namespace
}  // namespace talverin
