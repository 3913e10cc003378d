// Properties of whole conversions over 300 generated download sets (seeded, so every run
// sees the same sets): valid sets of every receiver type and both channel layouts, with
// ranges simulated from a 24-satellite constellation so positions are recomputed, then
// damaged once (the observation file cut, bit-flipped, overwritten or with garbage
// inserted; or the ephemeris, site or event file damaged). Whatever the damage, the result
// is 0, 1 or -1, every message and the error text fit 511 characters, the GPB file reads
// back to a clean end with exactly EpochsWritten epochs, and every epoch that ended before
// the first damaged byte is written as the undamaged set wrote it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/gnss_constants.h"
#include "output/gpb_reader.h"
#include "tests/support/test_support.h"
#include "tools/download_set/byte_builder.h"
#include "tools/download_set/ephemeris_file_writer.h"
#include "tools/download_set/observation_file_writer.h"
#include "tools/download_set/range_simulator.h"
#include "tools/download_set/site_event_writers.h"

namespace talverin {
namespace {

using testing_support::ConversionRun;
using testing_support::RunConversion;
using testing_support::TempDir;

constexpr int kSetCount = 300;
constexpr uint32_t kSeed = 20261206;
constexpr int32_t kFullWeek = 1400;          // 2006-11-05 .. 11-11
constexpr double kToe_s = 345600.0;          // Thursday 00:00 of that week
constexpr size_t kHeaderSize = 90;           // observation file header
constexpr size_t kEpochHeaderSize = 67;
constexpr double kDeg = kPi / 180.0;
constexpr double kTrueHeight_m = 200.0;      // ellipsoidal height of the simulated receiver

// Record size of a standard channel record per receiver type 1..4.
size_t RecordSize(int32_t type) {
  static const size_t kSizes[5] = {0, 35, 97, 66, 35};
  return kSizes[type];
}

// A Walker-like constellation: six planes 60 degrees apart, four satellites in each,
// 55 degrees inclination, near-circular orbits of 26560 km.
std::vector<GpsEph> Constellation() {
  std::vector<GpsEph> ephs;
  for (int plane = 0; plane < 6; ++plane) {
    for (int slot = 0; slot < 4; ++slot) {
      GpsEph eph{};
      eph.prn = 1 + plane * 4 + slot;
      eph.week = kFullWeek % 1024;
      eph.tow = static_cast<int32_t>(kToe_s) - 18;
      eph.toc = static_cast<int32_t>(kToe_s);
      eph.toe = static_cast<int32_t>(kToe_s);
      eph.af0 = 1.0e-5 * (slot - 1.5);
      eph.af1 = 1.0e-12;
      eph.iode = eph.iodc = 40 + eph.prn;
      eph.rootA = 5153.7;
      eph.e = 0.005;
      eph.i0 = 55.0 * kDeg;
      eph.omega0 = (60.0 * plane - 180.0) * kDeg;
      eph.m0 = (90.0 * slot + 15.0 * plane - 180.0) * kDeg;
      eph.omega = 0.5;
      eph.omegaDot = -8.0e-9;
      ephs.push_back(eph);
    }
  }
  return ephs;
}

struct GeneratedSet {
  int32_t receiverType = 2;   // of the file; the options give it or 0 (detect)
  bool detect = false;
  bool altLayout = false;
  int32_t gpbLayout = 1;
  ObsFile observation;
  std::vector<size_t> epochEnds;  // byte offset just after each epoch in the B file
  std::vector<uint8_t> ephemeris;
  std::string site;
  std::string events;
};

GeneratedSet Generate(std::mt19937& rng) {
  static const std::vector<GpsEph> ephs = Constellation();
  static const char* const kModels[5] = {"", "G-12", "Z-XII3", "LM-XII", "GG-24"};
  GeneratedSet set;
  set.receiverType = 1 + static_cast<int32_t>(rng() % 4);
  set.detect = rng() % 2 == 0;
  set.altLayout = rng() % 4 == 0;
  set.gpbLayout = static_cast<int32_t>(rng() % 2);
  const double lat_deg = -60.0 + static_cast<double>(rng() % 120);
  const double lon_deg = -180.0 + static_cast<double>(rng() % 360);
  const double clock_m = 1000.0 * static_cast<double>(rng() % 100);
  RangeSimulator simulator(lat_deg, lon_deg, kTrueHeight_m, kFullWeek);
  // The receiver's own position in the epoch headers, 100 m above the true one: a height
  // near the true one in the GPB file shows that the position was recomputed.
  const RangeSimulator header(lat_deg, lon_deg, kTrueHeight_m + 100.0, kFullWeek);

  ObsFile& file = set.observation;
  file.model = kModels[set.receiverType];
  file.recordSize = static_cast<int>(RecordSize(set.receiverType));
  file.layout = set.altLayout ? ObsLayout::kAlternative : ObsLayout::kStandard;
  const int epochCount = 3 + static_cast<int>(rng() % 10);
  const double interval_s = 1.0 + static_cast<double>(rng() % 30);
  size_t end = kHeaderSize;
  for (int i = 0; i < epochCount; ++i) {
    const double reception_s = kToe_s + i * interval_s;
    ObsEpoch epoch;
    epoch.site = i < epochCount / 2 ? "????" : "A101";
    epoch.time_s = reception_s + clock_m * kInvSpeedOfLight_spm;
    epoch.clock_m = clock_m;
    epoch.x_m = header.receiver()[0];
    epoch.y_m = header.receiver()[1];
    epoch.z_m = header.receiver()[2];
    for (const GpsEph& eph : ephs) {
      SimulatedRange range;
      if (epoch.channels.size() >= 12) break;
      if (!simulator.Observe(eph, reception_s, clock_m, &range)) continue;
      if (range.elevation_rad < 10.0 * kDeg) continue;
      ObsChannel channel;
      channel.prn = static_cast<uint8_t>(eph.prn);
      channel.caRange_s = range.range_m * kInvSpeedOfLight_spm;
      channel.l1Snr = 45;
      channel.l1Phase_cyc = -range.range_m / 0.19029367;
      channel.l2Range_s = channel.caRange_s + 1.0e-9;
      channel.l2Snr = 35;
      channel.l2Phase_cyc = -range.range_m / 0.24421021;
      channel.lock_ms = static_cast<uint32_t>(1000 * (i + 1));
      channel.transmit_s = range.transmission_s;
      epoch.channels.push_back(channel);
    }
    end += kEpochHeaderSize + epoch.channels.size() * RecordSize(set.receiverType);
    set.epochEnds.push_back(end);
    file.epochs.push_back(epoch);
  }

  EphemerisFileWriter writer;
  for (const GpsEph& eph : ephs) writer.AddGps(eph);
  if (set.receiverType == 4) {
    GlonassEphFields glonass;
    glonass.prn = 40;
    glonass.pos_m[0] = 1.9e7;
    writer.AddGlonass(glonass);
  }
  set.ephemeris = writer.bytes();

  SiteFileLines lines;
  lines.line3 = SiteStationLine("A101", 1, 2, static_cast<long>(kToe_s));
  lines.line6 = SiteHeightLine("BEFORE", 1.25);
  set.site = SiteFileText(lines);
  set.events = EventFileBuilder()
                   .Time(kToe_s + interval_s)
                   .Mark("A101", "PILLAR", "1.5")
                   .Time(kToe_s + 2 * interval_s)
                   .Feature("GFN", {"Tree", "f1", "f2", "f3", "P", "1.0", "f6", "oak"})
                   .Text();
  return set;
}

enum class Target { kObservation, kEphemeris, kSite, kEvents };

// Damages bytes from a random offset on; returns that first damaged offset.
size_t Damage(std::vector<uint8_t>& bytes, std::mt19937& rng) {
  const size_t at = bytes.empty() ? 0 : rng() % (bytes.size() + 1);
  switch (rng() % 4) {
    case 0:  // cut
      bytes.resize(at);
      break;
    case 1:  // bit flips at and after the offset
      if (at < bytes.size()) {
        const int flips = 1 + static_cast<int>(rng() % 8);
        bytes[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        for (int i = 1; i < flips; ++i) {
          const size_t k = at + rng() % (bytes.size() - at);
          bytes[k] ^= static_cast<uint8_t>(1u << (rng() % 8));
        }
      }
      break;
    case 2: {  // garbage inserted
      std::vector<uint8_t> garbage(1 + rng() % 300);
      for (uint8_t& b : garbage) b = static_cast<uint8_t>(rng());
      // Never the byte already standing there: the damage starts exactly at `at`.
      if (at < bytes.size() && garbage[0] == bytes[at]) garbage[0] ^= 0x5A;
      bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), garbage.begin(),
                   garbage.end());
      break;
    }
    default: {  // a run overwritten with 0xFF or zeros
      const uint8_t fill = rng() % 2 ? 0xFF : 0x00;
      const size_t n = std::min<size_t>(1 + rng() % 200, bytes.size() - at);
      for (size_t k = at; k < at + n; ++k) bytes[k] = fill;
      break;
    }
  }
  return at;
}

struct Converted {
  ConversionRun run;
  std::vector<GpbReadEpoch> epochs;
  int32_t readStatus = 0;   // last ReadEpoch result: 0 clean end
  std::string readError;
  bool gpbOpened = false;
};

Converted Convert(const GeneratedSet& set, const std::vector<uint8_t>& observation,
                  const std::vector<uint8_t>& ephemeris, const std::string& site,
                  const std::string& events) {
  TempDir dir;
  EXPECT_TRUE(WriteFileBytes(dir.File("B0001A01.001"), observation));
  EXPECT_TRUE(WriteFileBytes(dir.File("E0001A01.001"), ephemeris));
  EXPECT_TRUE(WriteFileBytes(dir.File("S0001A01.001"),
                             std::vector<uint8_t>(site.begin(), site.end())));
  EXPECT_TRUE(WriteFileBytes(dir.File("D0001A01.001"),
                             std::vector<uint8_t>(events.begin(), events.end())));
  Converted out;
  out.run = RunConversion(dir.File("B0001A01.001"), dir.File("out.gpb"),
                          [&set](ConvertOptions& o) {
                            o.ReceiverType = set.detect ? 0 : set.receiverType;
                            o.AltChannelLayout = set.altLayout ? 1 : 0;
                            o.GpbLayout = set.gpbLayout;
                          });
  GpbReader reader;
  out.gpbOpened = reader.Open(dir.File("out.gpb").c_str()) == 0;
  if (!out.gpbOpened) {
    out.readError = reader.errorText();
    return out;
  }
  GpbReadEpoch epoch;
  while ((out.readStatus = reader.ReadEpoch(&epoch)) == 1 && out.epochs.size() < 10000) {
    out.epochs.push_back(epoch);
  }
  out.readError = reader.errorText();
  return out;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Field by field, bit for bit (NaN equals NaN): an epoch written twice from the same bytes.
bool SameEpoch(const gpb_epoch_type& a, const gpb_epoch_type& b) {
  if (a.flags != b.flags || a.nsat != b.nsat || !SameBits(a.lat, b.lat) ||
      !SameBits(a.lon, b.lon) || !SameBits(a.rcvTime, b.rcvTime) ||
      !SameBits(a.gpsTime, b.gpsTime) || !SameBits(a.clock, b.clock)) {
    return false;
  }
  for (int s = 0; s < a.nsat && s < kGpbMaxSats; ++s) {
    if (a.sat[s].prn != b.sat[s].prn || a.sat[s].sflags != b.sat[s].sflags ||
        !SameBits(a.sat[s].range1, b.sat[s].range1) ||
        !SameBits(a.sat[s].phase1, b.sat[s].phase1) ||
        !SameBits(a.sat[s].range2, b.sat[s].range2)) {
      return false;
    }
  }
  return true;
}

// The promises that hold for every conversion, damaged or not.
void ExpectSound(const Converted& c, const std::string& label) {
  const int32_t result = c.run.result;
  EXPECT_TRUE(result == 0 || result == 1 || result == -1) << label << " result " << result;
  // 1 needs rejected records or an abort, and neither happens here.
  EXPECT_NE(1, result) << label << ": " << c.run.errorText;
  for (const testing_support::Message& m : c.run.messages) {
    EXPECT_LT(m.text.size(), 512u) << label;
  }
  EXPECT_LT(c.run.errorText.size(), 512u) << label;
  ASSERT_TRUE(c.gpbOpened) << label << ": " << c.readError;
  EXPECT_EQ(0, c.readStatus) << label << ": " << c.readError;
  EXPECT_EQ(c.run.request.EpochsWritten, c.epochs.size()) << label;
}

TEST(DamagedInputProperty, EveryDamagedSetConvertsSoundlyAndKeepsTheEpochsBeforeTheDamage) {
  std::mt19937 rng(kSeed);
  int damagedObservation = 0;
  int keptBeforeDamage = 0;    // epochs compared that ended before the damage
  int failedConversions = 0;   // damaged conversions that returned -1
  int positionedEpochs = 0;    // undamaged epochs with a recomputed position
  for (int index = 0; index < kSetCount; ++index) {
    const GeneratedSet set = Generate(rng);
    const std::vector<uint8_t> observation = ObservationFileBytes(set.observation);
    const std::string label = "set " + std::to_string(index) + " type " +
                              std::to_string(set.receiverType) +
                              (set.altLayout ? " alternative" : " standard");

    const Converted clean = Convert(set, observation, set.ephemeris, set.site, set.events);
    ExpectSound(clean, label + " undamaged");
    ASSERT_EQ(0, clean.run.result) << label << ": " << clean.run.errorText;
    ASSERT_EQ(set.observation.epochs.size(), clean.epochs.size()) << label;
    for (const GpbReadEpoch& e : clean.epochs) {
      if (std::fabs(e.epoch.height - kTrueHeight_m) < 10.0) ++positionedEpochs;
    }

    std::vector<uint8_t> b = observation;
    std::vector<uint8_t> e = set.ephemeris;
    std::vector<uint8_t> s(set.site.begin(), set.site.end());
    std::vector<uint8_t> d(set.events.begin(), set.events.end());
    const uint32_t pick = rng() % 8;
    const Target target = pick < 5 ? Target::kObservation
                          : pick == 5 ? Target::kEphemeris
                          : pick == 6 ? Target::kSite
                                      : Target::kEvents;
    std::vector<uint8_t>& victim = target == Target::kObservation ? b
                                   : target == Target::kEphemeris ? e
                                   : target == Target::kSite      ? s
                                                                  : d;
    const size_t at = Damage(victim, rng);
    const Converted damaged =
        Convert(set, b, e, std::string(s.begin(), s.end()), std::string(d.begin(), d.end()));
    const std::string where = label + " damaged at " + std::to_string(at);
    ExpectSound(damaged, where);
    if (damaged.run.result == -1) ++failedConversions;

    if (target == Target::kObservation) {
      ++damagedObservation;
      // Epochs that ended at or before the first damaged byte are written unchanged, in
      // order, ahead of anything the damage produced.
      size_t before = 0;
      while (before < set.epochEnds.size() && set.epochEnds[before] <= at) ++before;
      // With the type left to detection, a damaged model text may stop the conversion.
      if (set.detect && at < kHeaderSize) continue;
      ASSERT_GE(damaged.epochs.size(), before) << where;
      for (size_t i = 0; i < before; ++i) {
        EXPECT_TRUE(SameEpoch(clean.epochs[i].epoch, damaged.epochs[i].epoch))
            << where << " epoch " << i;
        ++keptBeforeDamage;
      }
    } else if (target == Target::kEphemeris) {
      // The observation file is intact: every epoch is there, at its receiver time.
      ASSERT_EQ(clean.epochs.size(), damaged.epochs.size()) << where;
      for (size_t i = 0; i < clean.epochs.size(); ++i) {
        EXPECT_EQ(clean.epochs[i].epoch.rcvTime, damaged.epochs[i].epoch.rcvTime) << where;
        EXPECT_EQ(clean.epochs[i].epoch.nsat, damaged.epochs[i].epoch.nsat) << where;
      }
    } else {
      // Site and event files touch only the station file and the epoch flags.
      ASSERT_EQ(clean.epochs.size(), damaged.epochs.size()) << where;
      for (size_t i = 0; i < clean.epochs.size(); ++i) {
        EXPECT_EQ(clean.epochs[i].epoch.rcvTime, damaged.epochs[i].epoch.rcvTime) << where;
        EXPECT_EQ(clean.epochs[i].epoch.gpsTime, damaged.epochs[i].epoch.gpsTime) << where;
        EXPECT_EQ(clean.epochs[i].epoch.nsat, damaged.epochs[i].epoch.nsat) << where;
      }
    }
  }
  // The generator exercised what it claims: most damage hit the observation file, many
  // epochs preceded the damage, some damage made the conversion fail, and positions were
  // recomputed from the simulated ranges.
  EXPECT_GT(damagedObservation, kSetCount / 2);
  EXPECT_GT(keptBeforeDamage, kSetCount);
  EXPECT_GT(failedConversions, 10);
  EXPECT_GT(positionedEpochs, kSetCount * 4);
}

}  // namespace
}  // namespace talverin
