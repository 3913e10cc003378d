// Single faults in real and simulated download sets (seeded, so every run sees the same
// copies). Each clean set is converted once; then copies of its observation file, each
// with one fault: a flipped bit, an inserted or a deleted byte anywhere after the file
// header, a cut, a channel count of 13, 127 or -1, or a NaN, infinite or huge time in a
// random epoch. Whatever the fault:
//  - the result is 0 or -1, and the GPB file reads back to a clean end with exactly
//    EpochsWritten epochs; the damaged input is left as it was given;
//  - no epoch carries a time the clean set does not have (a flipped bit in an epoch's own
//    time field that still reads as a plausible time cannot be told from a real one);
//  - every epoch that ended before the first damaged byte is written as the clean set
//    wrote it;
//  - a damaged byte loses at most the epoch it belongs to and one more; a count or a time
//    its epoch and one more; a cut the epochs it cuts.
// The losses of the single-byte faults are printed and recorded (median and worst).
// TALVERIN_DAMAGE_RUNS=N damages each real set N times instead of 30 (a longer survey),
// TALVERIN_DAMAGE_SEED=S draws other faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "dataset/byte_builder.h"
#include "input/receiver_detect.h"
#include "rinex/rinex_import.h"
#include "tests/rinex/rinex_test_data.h"
#include "tests/support/conversion_fixtures.h"

namespace talverin {
namespace {

using testing_support::ConvertDownloadSet;
using testing_support::ConvertedSet;
using testing_support::TempDir;

constexpr uint32_t kSeed = 20261207;
constexpr size_t kFileHeader = 90;
constexpr size_t kEpochHeader = 67;

struct DownloadSet {
  std::string label;
  std::vector<uint8_t> b, e;
  std::string s;
  int32_t receiverType = 2;
};

// Converts the set with b as its observation file; inputKept: b is unchanged afterwards.
ConvertedSet Convert(const DownloadSet& set, const std::vector<uint8_t>& b, bool* inputKept) {
  TempDir dir;
  EXPECT_TRUE(WriteFileText(dir.File("S0001A01.001"), set.s));
  const ConvertedSet out = ConvertDownloadSet(
      dir, b, set.e, [&set](ConvertOptions& o) { o.ReceiverType = set.receiverType; });
  *inputKept = ReadFileBytes(dir.File("B0001A01.001")) == b;
  return out;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool SameEpoch(const gpb_epoch_type& a, const gpb_epoch_type& b) {
  bool same = a.flags == b.flags && a.nsat == b.nsat && SameBits(a.lat, b.lat) &&
              SameBits(a.gpsTime, b.gpsTime) && SameBits(a.corrTime, b.corrTime) &&
              SameBits(a.clock, b.clock);
  for (int s = 0; same && s < a.nsat && s < kGpbMaxSats; ++s) {
    same = a.sat[s].prn == b.sat[s].prn && a.sat[s].sflags == b.sat[s].sflags &&
           SameBits(a.sat[s].range1, b.sat[s].range1) && SameBits(a.sat[s].phase1, b.sat[s].phase1);
  }
  return same;
}

// Converts one damaged copy of set and checks every promise against its clean conversion;
// ends: the byte offset just after each epoch of the clean file.
void CheckOneFault(const DownloadSet& set, const ConvertedSet& clean,
                   const std::vector<size_t>& ends, std::mt19937& rng,
                   std::vector<int>& singleByteLosses) {
  std::vector<uint8_t> b = set.b;
  // The fault: kind, first damaged byte, the epoch it starts in, and a flipped time that
  // may stand in the output (NaN: none).
  const char* const kinds[] = {"flip", "insert", "delete", "cut", "count", "time"};
  const int kind = static_cast<int>(rng() % 6);
  size_t at = 0;
  size_t epoch = rng() % ends.size();
  double excused_s = std::nan("");
  const size_t start = epoch == 0 ? kFileHeader : ends[epoch - 1];
  if (kind == 4) {
    const int8_t counts[] = {13, 127, -1};
    at = start + 66;
    b[at] = static_cast<uint8_t>(counts[rng() % 3]);
  } else if (kind == 5) {
    const double times[] = {std::nan(""), std::numeric_limits<double>::infinity(), 1e300};
    at = start + 4;
    StoreF64(b.data() + at, times[rng() % 3]);
  } else {
    at = kFileHeader + rng() % (b.size() - kFileHeader);
    epoch = static_cast<size_t>(std::upper_bound(ends.begin(), ends.end(), at) - ends.begin());
    const size_t header = epoch == 0 ? kFileHeader : ends[epoch - 1];
    if (kind == 0) {
      b[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
      if (at >= header + 4 && at < header + 12) excused_s = LoadF64(b.data() + header + 4);
    } else if (kind == 1) {
      uint8_t byte = static_cast<uint8_t>(rng());
      if (byte == b[at]) byte ^= 0x5A;  // the damage starts exactly at `at`
      b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), byte);
    } else if (kind == 2) {
      b.erase(b.begin() + static_cast<std::ptrdiff_t>(at));
    } else {
      b.resize(at);
    }
  }
  const std::string where = set.label + " " + kinds[kind] + " at " + std::to_string(at);
  bool inputKept = false;
  const ConvertedSet damaged = Convert(set, b, &inputKept);
  EXPECT_TRUE(damaged.run.result == 0 || damaged.run.result == -1)
      << where << ": " << damaged.run.result << " " << damaged.run.errorText;
  EXPECT_TRUE(inputKept) << where;
  ASSERT_EQ(0, damaged.readStatus) << where;
  EXPECT_EQ(damaged.run.request.EpochsWritten, damaged.epochs.size()) << where;

  const std::vector<double> cleanList = clean.Times();
  const std::vector<double> times = damaged.Times();
  const std::set<double> cleanTimes(cleanList.begin(), cleanList.end());
  const std::set<double> written(times.begin(), times.end());
  for (double t : times) {
    if (cleanTimes.count(t) == 0 && !SameBits(t, excused_s)) {
      ADD_FAILURE() << where << ": epoch at " << t << " s is not in the clean set";
    }
  }
  size_t before = 0;
  while (before < ends.size() && ends[before] <= at) ++before;
  ASSERT_GE(damaged.epochs.size(), before) << where;
  for (size_t i = 0; i < before; ++i) {
    EXPECT_TRUE(SameEpoch(clean.epochs[i].epoch, damaged.epochs[i].epoch))
        << where << " epoch " << i;
  }
  int lost = 0;
  for (double t : cleanList) lost += written.count(t) == 0 ? 1 : 0;
  if (kind == 3) {
    EXPECT_LE(lost, static_cast<int>(ends.size() - before)) << where;
  } else {
    EXPECT_LE(lost, epoch < ends.size() ? 2 : 1) << where;
    if (kind < 4) singleByteLosses.push_back(lost);
  }
}

void SurveySet(const DownloadSet& set, int runs, std::mt19937& rng, std::vector<int>& losses) {
  bool inputKept = false;
  const ConvertedSet clean = Convert(set, set.b, &inputKept);
  ASSERT_EQ(0, clean.run.result) << set.label << ": " << clean.run.errorText;
  ASSERT_EQ(0, clean.readStatus) << set.label;
  std::vector<size_t> ends;
  const size_t recordSize = static_cast<size_t>(ChannelRecordSize(set.receiverType));
  for (size_t at = kFileHeader; at + kEpochHeader <= set.b.size();) {
    at += kEpochHeader + static_cast<size_t>(static_cast<int8_t>(set.b[at + 66])) * recordSize;
    ends.push_back(at);
  }
  ASSERT_EQ(ends.size(), clean.epochs.size()) << set.label;
  for (int i = 0; i < runs; ++i) CheckOneFault(set, clean, ends, rng, losses);
}

// A positive number from the environment, or fallback.
int FromEnvironment(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

// Real sets: RINEX observation and navigation files imported as a download set of each
// receiver type (C/A, dual, L2 codeless, GLONASS); the long day is damaged a third as
// often as the hour.
TEST(DamagedInputProperty, RealSetsWithOneFaultKeepEveryPromise) {
  const int runs = FromEnvironment("TALVERIN_DAMAGE_RUNS", 30);
  std::mt19937 rng(static_cast<uint32_t>(FromEnvironment("TALVERIN_DAMAGE_SEED", kSeed)));
  std::vector<int> losses;  // of the single-byte faults
  for (const rinex_test::RealRinexSet& source : rinex_test::RealRinexSets()) {
    for (const char* receiver : {"ca", "dual", "l2-codeless", "glonass"}) {
      TempDir dir;
      const RinexImportSummary summary = rinex_test::ImportSet(
          source.observation, source.navigation, dir.File(receiver), "rinex", receiver);
      ASSERT_FALSE(summary.observationFile.empty());
      DownloadSet set;
      set.b = ReadFileBytes(summary.observationFile);
      set.e = ReadFileBytes(summary.ephemerisFile);
      set.s = ReadFileText(summary.siteFile);
      set.receiverType = summary.receiverType;
      set.label = source.name + " " + receiver;
      const bool longDay = source.name != "bahr-2004-162";
      SurveySet(set, longDay ? std::max(1, runs / 3) : runs, rng, losses);
    }
  }
  ASSERT_FALSE(losses.empty());
  std::sort(losses.begin(), losses.end());
  const int median = losses[losses.size() / 2];
  const std::string line = std::to_string(losses.size()) + " single-byte faults: median loss " +
                           std::to_string(median) + ", worst " + std::to_string(losses.back()) +
                           " epochs";
  std::cout << "[ damage ] real sets: " << line << "\n";
  ::testing::Test::RecordProperty("real sets", line);
  EXPECT_LE(median, 1);
}

}  // namespace
}  // namespace talverin
