#include "dataset/set_scan.h"

#include <cmath>
#include <filesystem>
#include <map>

#include "base/gnss_constants.h"
#include "base/native_path.h"

namespace talverin {
namespace {

constexpr double kSecondsOfWeek = 604800.0;

// The E file: its records, their health, and which satellites have a healthy one.
void ReadEphemerides(DownloadSetReader* reader, SetScan* s) {
  std::error_code ec;
  s->ephemerisFile = std::filesystem::is_regular_file(NativePath(reader->CompanionPath('E')), ec);
  if (reader->ReadEphemerides(&s->gps, &s->glonass) != 0) s->ephemerisError = reader->errorText();
  for (const SetGpsEphemeris& e : s->gps) {
    (e.health == 0 ? s->healthyPrns : s->unhealthyPrns).insert(e.eph.prn);
    s->unhealthyRecords += e.health != 0 ? 1 : 0;
  }
}

// The D file's records: site marks have no feature kind.
void ReadEvents(DownloadSetReader* reader, SetScan* s) {
  EventTable events;
  s->eventsLoaded = reader->ReadEvents(false, &events) == 0;
  if (s->eventsLoaded) {
    s->eventRecords = events.count;
    for (int32_t i = 0; i < events.count; ++i) {
      (events.records[i].evKind[0] == '\0' ? s->siteMarks : s->featureEvents) += 1;
    }
  }
  FreeEventTable(events);
}

// The steps between epochs, then the interval (the most common step, in whole ms) and the
// gaps against it.
class StepCounter {
 public:
  // False for an epoch that is not after the latest one (a repeated epoch).
  bool Add(double time_s) {
    if (!times_.empty()) {
      const double step_s = time_s - times_.back();
      if (!(step_s > 0.0)) return false;
      ++steps_[std::llround(step_s * 1000.0)];
    }
    times_.push_back(time_s);
    return true;
  }
  void Finish(SetScan* s) const {
    int64_t best = 0;
    for (const auto& [ms, count] : steps_) {
      if (count > best) {
        best = count;
        s->interval_s = ms / 1000.0;
      }
    }
    const int64_t counted = static_cast<int64_t>(times_.size());
    if (s->interval_s <= 0.0) {
      s->expected = counted;
      return;
    }
    s->expected = std::llround((times_.back() - times_.front()) / s->interval_s) + 1;
    for (size_t i = 1; i < times_.size(); ++i) {
      const double step_s = times_[i] - times_[i - 1];
      if (step_s > kGapFactor * s->interval_s) {
        s->gaps.push_back({times_[i - 1], times_[i], std::llround(step_s / s->interval_s) - 1});
      }
    }
  }

 private:
  std::map<long long, int64_t> steps_;  // ms -> count
  std::vector<double> times_;           // of the epochs counted
};

void CountEpoch(const RawEpoch& epoch, int32_t week, double time_s, SetScan* s,
                std::map<std::string, size_t>* siteIndex) {
  if (s->epochs == 0) {
    s->firstWeek = week;
    s->firstTow_s = epoch.tow_s;
    s->first_s = time_s;
  }
  s->lastWeek = week;
  s->lastTow_s = epoch.tow_s;
  s->last_s = time_s;
  ++s->epochs;
  const auto site = siteIndex->emplace(epoch.site, s->sites.size());
  if (site.second) s->sites.push_back({epoch.site, 0});
  ++s->sites[site.first->second].epochs;
  for (const RawChannel& c : epoch.channels) {
    if (c.prn != 0) s->satellites.insert(c.prn);
  }
}

}  // namespace

double SetTime(int32_t week, double tow_s) {
  return week < 0 ? tow_s : week * kSecondsOfWeek + tow_s;
}

int32_t SetScanner::Open(const std::string& bPath, const SetScanOptions& options) {
  scan_ = SetScan();
  window_ = options.window;
  epochDetails_ = options.epochDetails;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(NativePath(bPath), ec)) {
    scan_.error = bPath + ": no such file (or not a file)";
    return -1;
  }
  if (reader_.Open(bPath, options.receiverType) != 0) {
    scan_.error = reader_.errorText();
    return -1;
  }
  scan_.opened = true;
  scan_.model = reader_.model();
  scan_.receiverType = reader_.receiverType();
  scan_.recordSize = reader_.recordSize();
  reader_.ReadSite(&scan_.site);
  scan_.week = ResolveSessionWeek(bPath, reader_.CompanionPath('E'), options.gpsWeek);
  if (!scan_.week.refusal.empty()) {
    scan_.opened = false;
    scan_.error = bPath + ": " + scan_.week.refusal;
    return -1;
  }
  ReadEphemerides(&reader_, &scan_);
  if (epochDetails_) ReadEvents(&reader_, &scan_);
  // The E file's damage: the pass over the epochs starts afresh, without it.
  scan_.damage = reader_.damage();
  scan_.damagedBytes = reader_.damagedBytes();
  scan_.damagedPlaces = reader_.damagedPlaces();
  return 0;
}

int32_t SetScanner::ScanEpochs(const SetEpochVisitor& visit) {
  SetScan& s = scan_;
  WeekTracker weeks(s.week);
  StepCounter steps;
  std::map<std::string, size_t> siteIndex;
  RawEpoch epoch;
  int32_t got = reader_.Rewind() == 0 ? 1 : -1;
  while (got == 1 && (got = reader_.NextEpoch(&epoch)) == 1) {
    const int32_t week = s.week.week >= 0 ? weeks.WeekOf(epoch.tow_s) : -1;
    const double time_s = SetTime(week, epoch.tow_s);
    if (window_.active() && (week < 0 || !window_.Keeps(time_s))) continue;
    if (!epochDetails_) {
      ++s.epochs;
      if (visit) visit(epoch, week, time_s);
      continue;
    }
    if (!steps.Add(time_s)) ++s.repeated;
    CountEpoch(epoch, week, time_s, &s, &siteIndex);
    if (visit) visit(epoch, week, time_s);
  }
  if (epochDetails_) steps.Finish(&s);
  for (const int32_t prn : s.satellites) {
    if (prn <= kMaxGpsPrn && s.healthyPrns.count(prn) == 0) s.seenWithoutHealthy.insert(prn);
  }
  s.damage.insert(s.damage.end(), reader_.damage().begin(), reader_.damage().end());
  s.damagedBytes += reader_.damagedBytes();
  s.damagedPlaces += reader_.damagedPlaces();
  s.lastEpochCut = reader_.lastEpochCut();
  s.readError = got < 0;
  if (s.readError) s.readErrorText = reader_.errorText();
  return got < 0 ? -1 : 0;
}

SetScan ScanDownloadSet(const std::string& bPath, const SetScanOptions& options) {
  SetScanner scanner;
  if (scanner.Open(bPath, options) == 0) (void)scanner.ScanEpochs();
  return scanner.scan();
}

}  // namespace talverin
