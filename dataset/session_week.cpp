#include "dataset/session_week.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

#include "base/gnss_constants.h"
#include "base/native_path.h"
#include "dataset/gps_calendar.h"
#include "input/ephemeris_reader.h"
#include "input/input_source.h"
#include "job/host_records.h"

namespace talverin {
namespace {

constexpr int32_t kTenBitWeeks = 1024;
constexpr int32_t kMaxRecordsRead = 100000;  // far beyond any real E file (12.9 MB)

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

using ToesByWeek = std::map<int32_t, std::vector<double>>;

// The most frequent stored week of the GPS records and its median toe.
void MostFrequentWeek(ToesByWeek& toesByWeek, WeekEvidence* evidence) {
  size_t best = 0;
  for (auto& [week, toes] : toesByWeek) {
    if (toes.size() <= best) continue;
    best = toes.size();
    evidence->storedWeek = week;
    std::nth_element(toes.begin(), toes.begin() + toes.size() / 2, toes.end());
    evidence->medianToe_s = toes[toes.size() / 2];
  }
}

// The GPS weeks of an E file's records, through the module's decoder.
void ReadEphemerisWeeks(const std::string& path, WeekEvidence* evidence) {
  evidence->ephemerisPath = path;
  InputSource source;
  if (!source.Open(path.c_str(), "rb")) return;
  EphemerisDecoder decoder(source, kReceiverDetect);
  ToesByWeek toesByWeek;
  EphemerisRecord record;
  for (int32_t n = 0; n < kMaxRecordsRead && decoder.Next(&record) == 1; ++n) {
    const int32_t week = record.gps.week;
    if (record.glonass || week < 0 || week > kMaxEphWeek) continue;
    toesByWeek[week].push_back(record.gps.toe);
  }
  MostFrequentWeek(toesByWeek, evidence);
}

// The GPS weeks of the GpsEph records of an .epp file, as the E file stored them.
void ReadEppWeeks(const std::string& path, WeekEvidence* evidence) {
  evidence->ephemerisPath = path;
  InputSource source;
  if (!source.Open(path.c_str(), "r")) return;
  ToesByWeek toesByWeek;
  char line[512];
  int32_t week = -1;
  for (int32_t n = 0; n < 20 * kMaxRecordsRead && source.ReadLine(line, sizeof line); ++n) {
    long toe = 0;
    if (std::strncmp(line, "GpsEph {", 8) == 0) {
      week = -1;
    } else if (std::sscanf(line, "\tEl1: %d", &week) == 1) {
      if (week < 0 || week > kMaxEphWeek) week = -1;
    } else if (week >= 0 && std::sscanf(line, "\tEl5: %ld", &toe) == 1) {
      toesByWeek[week].push_back(static_cast<double>(toe));
      week = -1;
    }
  }
  MostFrequentWeek(toesByWeek, evidence);
}

// The year of a GPB file named after its set: letter, 4 site, 1-2 session characters, yy.
bool YearFromGpbStem(const std::string& stem, int32_t* year) {
  const size_t n = stem.size();
  if (n < 8 || n > 9 || !std::isalpha(static_cast<unsigned char>(stem[0])) ||
      !IsDigit(stem[n - 2]) || !IsDigit(stem[n - 1])) {
    return false;
  }
  *year = FullYearOfTwoDigits((stem[n - 2] - '0') * 10 + (stem[n - 1] - '0'));
  return true;
}

std::string WeekText(int32_t week, double tow_s) {
  return "week " + std::to_string(week) + " (" + FormatGpsDate(week, tow_s) + ")";
}

// The stored week's candidates (the same ten bits) not after e.notAfterWeek, latest first.
std::vector<int32_t> Candidates(const WeekEvidence& e) {
  std::vector<int32_t> out;
  for (int32_t w = e.storedWeek % kTenBitWeeks; w <= e.notAfterWeek; w += kTenBitWeeks) {
    out.insert(out.begin(), w);
  }
  return out;
}

// From the ephemerides alone (with, perhaps, the year of the name).
SessionWeek FromEphemerides(const WeekEvidence& e) {
  SessionWeek s;
  // A week stored past the ten bits is a full week: no rollover can move it.
  if (e.storedWeek >= kTenBitWeeks && e.storedWeek <= e.notAfterWeek &&
      (e.nameYear < 0 ||
       GpsCalendar(NormalisedInstant(e.storedWeek, e.medianToe_s)).year == e.nameYear)) {
    s.week = e.storedWeek;
    s.referenceTow_s = e.medianToe_s;
    s.source = e.nameYear >= 0 ? WeekSource::kAgreed : WeekSource::kEphemeris;
    return s;
  }
  const std::vector<int32_t> candidates = Candidates(e);
  if (candidates.empty()) {
    s.note = "the ephemerides' GPS week " + std::to_string(e.storedWeek) +
             " fits no date up to week " + std::to_string(e.notAfterWeek) +
             ": times stay in seconds of week (give --gps-week)";
    return s;
  }
  s.referenceTow_s = e.medianToe_s;
  for (const int32_t w : candidates) {
    CalendarTime c = GpsCalendar(NormalisedInstant(w, e.medianToe_s));
    if (e.nameYear >= 0 && c.year == e.nameYear) {
      s.week = w;
      s.source = WeekSource::kAgreed;
      return s;
    }
  }
  s.week = candidates.front();
  s.source = WeekSource::kEphemeris;
  if (candidates.size() > 1) {
    s.note = "GPS " + WeekText(s.week, s.referenceTow_s) + " from the ephemerides in " +
             e.ephemerisPath + " (" + std::to_string(e.storedWeek) + " as stored), the latest " +
             "that is not in the future; " + WeekText(candidates[1], s.referenceTow_s) +
             " has the same ten bits: give --gps-week if the data are from then";
  }
  return s;
}

// The name's date decides; the ephemerides confirm it, or the disagreement is noted.
SessionWeek FromNameDate(const WeekEvidence& e, int32_t nameWeek, double nameTow_s) {
  SessionWeek s;
  s.week = nameWeek;
  s.referenceTow_s = nameTow_s;
  s.source = WeekSource::kFileName;
  if (e.storedWeek < 0) return s;
  // Ephemerides of the neighbouring week are normal for a session near a week's end.
  const int32_t offset = ((e.storedWeek - nameWeek) % kTenBitWeeks + kTenBitWeeks) % kTenBitWeeks;
  if (offset <= 1 || offset == kTenBitWeeks - 1) {
    s.source = WeekSource::kAgreed;
    return s;
  }
  s.note = "the ephemerides in " + e.ephemerisPath + " give GPS week " +
           std::to_string(e.storedWeek) + " (ten bits " +
           std::to_string(e.storedWeek % kTenBitWeeks) + "), which does not fit the file " +
           "name's date " + FormatGpsDate(nameWeek, nameTow_s) + ": " +
           WeekText(nameWeek, nameTow_s) + " from the file name";
  return s;
}

// Why an explicit week contradicts the week own was resolved to without it; empty when it
// does not (a week apart at most, or another week with the ephemerides' ten bits where they
// are not confirmed by the name's date).
std::string Contradiction(const SessionWeek& own, int32_t overrideWeek) {
  if (own.week < 0 || std::abs(overrideWeek - own.week) <= 1) return "";
  if (own.source != WeekSource::kAgreed && own.ephemerisWeek >= 0) {
    const int32_t bits =
        ((overrideWeek - own.ephemerisWeek) % kTenBitWeeks + kTenBitWeeks) % kTenBitWeeks;
    if (bits <= 1 || bits == kTenBitWeeks - 1) return "";
  }
  return "--gps-week " + std::to_string(overrideWeek) + " (" +
         FormatGpsDate(overrideWeek, own.referenceTow_s) + ")" + " contradicts GPS " +
         WeekText(own.week, own.referenceTow_s) + " from the " + WeekSourceName(own.source) +
         " by more than a week";
}

// The week of the evidence without its override.
SessionWeek OwnWeek(const WeekEvidence& e) {
  SessionWeek s;
  int32_t nameWeek = -1;
  double nameTow_s = 0.0;
  // Day doy of January runs on into the later months: the day count is linear in the day.
  if (e.nameYear >= 0 && e.nameDayOfYear >= 1) {
    CalendarToFullWeek(e.nameYear, 1, e.nameDayOfYear, &nameWeek, &nameTow_s);
  }
  if (nameWeek >= 0 && nameWeek <= e.notAfterWeek) return FromNameDate(e, nameWeek, nameTow_s);
  if (e.storedWeek >= 0) s = FromEphemerides(e);
  if (nameWeek > e.notAfterWeek) {
    const std::string future = "the file name's date " + FormatGpsDate(nameWeek, nameTow_s) +
                               " is in the future and was not used";
    s.note = s.note.empty() ? future : future + "; " + s.note;
  }
  if (s.week < 0 && s.note.empty()) {
    s.note =
        "no GPS ephemeris and no date in the file name: times stay in seconds of week "
        "(give --gps-week)";
  }
  return s;
}

}  // namespace

SessionWeek ResolveWeek(const WeekEvidence& e) {
  SessionWeek own = OwnWeek(e);
  own.ephemerisWeek = e.storedWeek;
  if (e.overrideWeek < 0) return own;
  SessionWeek s;
  s.week = e.overrideWeek;
  // The name's day when the week is the name's, else the ephemerides' median toe.
  const bool nameDay = own.week == e.overrideWeek && own.source != WeekSource::kEphemeris &&
                       own.source != WeekSource::kUnknown;
  s.referenceTow_s = nameDay ? own.referenceTow_s : e.medianToe_s;
  s.source = WeekSource::kOverride;
  s.ephemerisWeek = e.storedWeek;
  s.refusal = Contradiction(own, e.overrideWeek);
  if (!s.refusal.empty()) s.week = -1;
  return s;
}

bool SessionDateFromName(const std::string& path, int32_t* year, int32_t* dayOfYear) {
  const std::string name = NativeFileName(path);
  // letter + 4 site + 1..2 session + yy + '.' + ddd
  if (name.size() < 12 || name.size() > 13) return false;
  const size_t dot = name.size() - 4;
  if (name[dot] != '.' || !IsDigit(name[dot - 2]) || !IsDigit(name[dot - 1])) return false;
  for (size_t i = dot + 1; i < name.size(); ++i) {
    if (!IsDigit(name[i])) return false;
  }
  const int32_t y = FullYearOfTwoDigits((name[dot - 2] - '0') * 10 + (name[dot - 1] - '0'));
  const int32_t doy = std::stoi(name.substr(dot + 1));
  if (doy < 1 || doy > (IsLeapYear(y) ? 366 : 365)) return false;
  *year = y;
  *dayOfYear = doy;
  return true;
}

SessionWeek ResolveSessionWeek(const std::string& setFilePath, const std::string& ephemerisPath,
                               int32_t overrideWeek) {
  WeekEvidence e;
  e.overrideWeek = overrideWeek;
  if (!SessionDateFromName(setFilePath, &e.nameYear, &e.nameDayOfYear)) {
    e.nameYear = e.nameDayOfYear = -1;
  }
  ReadEphemerisWeeks(ephemerisPath, &e);
  e.notAfterWeek = CurrentGpsWeek();
  return ResolveWeek(e);
}

SessionWeek ResolveGpbWeek(const std::string& gpbPath, const std::string& eppPath,
                           int32_t writtenWeek, int32_t overrideWeek) {
  namespace fs = std::filesystem;
  // The set the GPB file was converted from, when it sits beside it under the same name.
  const fs::path gpb = NativePath(gpbPath);
  const fs::path directory = gpb.has_parent_path() ? gpb.parent_path() : ".";
  std::string stem = NativeText(gpb.stem());
  // NAME_DDD.gpb is the default name of DIR/NAME.DDD's output: the set's name is NAME.DDD.
  std::string day;
  const size_t underscore = stem.rfind('_');
  if (underscore != std::string::npos && underscore + 1 < stem.size() &&
      stem.find_first_not_of("0123456789", underscore + 1) == std::string::npos) {
    day = stem.substr(underscore + 1);
    stem.resize(underscore);
  }
  std::vector<std::string> sets;
  std::error_code ec;
  for (fs::directory_iterator it(directory, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    const std::string name = NativeText(it->path().filename());
    int32_t year = 0;
    int32_t doy = 0;
    if (name.size() == stem.size() + 4 && name.compare(0, stem.size(), stem) == 0 &&
        (day.empty() || name.compare(stem.size() + 1, std::string::npos, day) == 0) &&
        SessionDateFromName(name, &year, &doy)) {
      sets.push_back(NativeText(it->path()));
    }
  }
  std::string refusal;  // of an explicit week by the set beside
  if (sets.size() == 1) {
    const fs::path set = NativePath(sets[0]);
    const std::string e =
        NativeText(set.parent_path() / NativePath("E" + NativeText(set.filename()).substr(1)));
    const SessionWeek s = ResolveSessionWeek(sets[0], e, overrideWeek);
    if (overrideWeek < 0 && s.week >= 0) return s;
    refusal = s.refusal;
  }
  WeekEvidence e;
  e.overrideWeek = overrideWeek;
  if (!YearFromGpbStem(stem, &e.nameYear)) e.nameYear = -1;
  ReadEppWeeks(eppPath, &e);
  e.notAfterWeek = writtenWeek >= 0 ? std::min(writtenWeek, CurrentGpsWeek()) : CurrentGpsWeek();
  SessionWeek s = ResolveWeek(e);
  if (s.week < 0 && e.storedWeek < 0 && overrideWeek < 0) {
    s.note = "no GPS ephemeris in " + eppPath +
             " and no download set beside the GPB file: times stay in seconds of week (give "
             "--gps-week)";
  }
  if (!refusal.empty()) {
    s.week = -1;
    s.refusal = refusal;
  }
  return s;
}

const char* WeekSourceName(WeekSource source) {
  switch (source) {
    case WeekSource::kOverride:
      return "override";
    case WeekSource::kAgreed:
      return "ephemeris and file name";
    case WeekSource::kFileName:
      return "file name";
    case WeekSource::kEphemeris:
      return "ephemeris";
    case WeekSource::kUnknown:
      break;
  }
  return "unknown";
}

WeekTracker::WeekTracker(const SessionWeek& session)
    : week_(session.week), lastTow_s_(session.referenceTow_s) {}

int32_t WeekTracker::WeekOf(double tow_s) {
  // Outside a week the time is damaged: it neither gets a week nor moves the tracker.
  if (week_ < 0 || !(tow_s >= 0.0 && tow_s <= kSecondsPerWeek)) return -1;
  const double step_s = tow_s - lastTow_s_;
  if (step_s < -kHalfWeek_s) ++week_;
  if (step_s > kHalfWeek_s) --week_;
  lastTow_s_ = tow_s;
  return week_;
}

}  // namespace talverin
