// What a download set holds, read once: the B file's receiver, the S file's site, the set's
// full GPS week, the E file's ephemerides and their health, the D file's events, and one pass
// over the epochs (count, first and last in GPS time, interval, gaps, site names, satellites
// seen) with every damaged stretch. `info`, `rinex`, `qc` and `convert` take these facts from
// here, so that they agree; a command that needs more of each epoch passes a visitor to the
// same pass. Times are full GPS seconds (week * 604800 + s of week) when the week is known,
// else seconds of week. Nothing here formats or prints. Not part of the module.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dataset/download_set_reader.h"
#include "dataset/epoch_window.h"
#include "dataset/session_week.h"

namespace talverin {

// A step between epochs longer than this many intervals is a gap.
constexpr double kGapFactor = 1.5;

struct SetScanOptions {
  int32_t receiverType = 0;  // 0 from the model text, 1-4 fixed
  int32_t gpsWeek = -1;      // full GPS week override; -1 resolved from the set
  // The epochs the pass counts and visits (all when inactive); with the week unknown, times
  // are seconds of week and an active window keeps none.
  EpochWindow window;
  // false: the pass counts the epochs and the damage only (what a loss line needs); the other
  // epoch facts (first, last, interval, gaps, sites, satellites) stay empty and the D file
  // is not read.
  bool epochDetails = true;
};

struct SetGap {
  double from_s = 0.0;  // time of the last epoch before the gap
  double to_s = 0.0;    // time of the first epoch after it
  int64_t missing = 0;  // epochs expected in between
};

struct SetSiteName {
  std::string name;  // the epoch headers' 4 site bytes as stored
  int64_t epochs = 0;
};

struct SetScan {
  bool opened = false;  // the B file's header was read; else error says why
  std::string error;
  std::string model;  // receiver model text
  int32_t receiverType = 0;
  int32_t recordSize = 0;  // bytes of a channel record
  SetSiteInfo site;        // the S file
  SessionWeek week;

  // The epochs, in file order. repeated: epochs not after the latest one before them (left
  // out of the steps, the interval and the gaps).
  int64_t epochs = 0, repeated = 0;
  int32_t firstWeek = -1, lastWeek = -1;  // -1 when the week is unknown
  double firstTow_s = 0.0, lastTow_s = 0.0;
  double first_s = 0.0, last_s = 0.0;  // in the time base above
  double interval_s = 0.0;             // the most common step, ms resolution; 0 when none
  int64_t expected = 0;                // epochs from first to last at the interval
  std::vector<SetGap> gaps;
  std::vector<SetSiteName> sites;  // in order of first appearance
  std::set<int32_t> satellites;    // PRN bytes seen (0 left out)

  bool ephemerisFile = false;  // the E file exists
  std::string ephemerisError;  // the E file exists but cannot be read
  std::vector<SetGpsEphemeris> gps;
  std::vector<SetGlonassEphemeris> glonass;
  int64_t unhealthyRecords = 0;
  std::set<int32_t> healthyPrns, unhealthyPrns;
  std::set<int32_t> seenWithoutHealthy;  // GPS satellites seen without a healthy ephemeris

  bool eventsLoaded = false;  // false: the D file is too large to hold
  int64_t eventRecords = 0, siteMarks = 0, featureEvents = 0;

  std::vector<SetDamage> damage;  // E file damage first, then the B file's (texts kept)
  int64_t damagedBytes = 0;
  int64_t damagedPlaces = 0;  // every damaged stretch, also those whose text was not kept
  bool lastEpochCut = false;  // the B file ends inside an epoch (in damage too)
  bool readError = false;     // a read error ended the epochs early
  std::string readErrorText;
};

// Time of an epoch in the scan's time base.
double SetTime(int32_t week, double tow_s);

// Sees each epoch of the pass with its full week (-1 when unknown) and its time in the
// scan's time base.
using SetEpochVisitor = std::function<void(const RawEpoch& epoch, int32_t week, double time_s)>;

// Scans a set in two steps, so that a command can use the set's facts (week, ephemerides)
// before the pass over the epochs, and read the epochs again afterwards through reader().
class SetScanner {
 public:
  // The B header, the S, E and D files and the week. 0, or -1 when the B file cannot be read
  // or the week given contradicts the set (scan().error says why).
  [[nodiscard]] int32_t Open(const std::string& bPath, const SetScanOptions& options);
  // The pass over the epochs from the first (what was read through reader() before is
  // forgotten); visit, when given, sees each. 0, or -1 after a read error. Once only.
  [[nodiscard]] int32_t ScanEpochs(const SetEpochVisitor& visit = nullptr);
  const SetScan& scan() const { return scan_; }
  DownloadSetReader& reader() { return reader_; }

 private:
  SetScan scan_;
  EpochWindow window_;
  bool epochDetails_ = true;
  DownloadSetReader reader_;
};

// Open and ScanEpochs in one call: scan.opened false when the B file cannot be read.
SetScan ScanDownloadSet(const std::string& bPath, const SetScanOptions& options);

}  // namespace talverin
