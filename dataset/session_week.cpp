#include "dataset/session_week.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

#include "base/byte_order.h"
#include "base/gnss_constants.h"
#include "input/ephemeris_reader.h"
#include "time/gps_time.h"

namespace talverin {
namespace {

constexpr int32_t kTenBitWeeks = 1024;
constexpr int32_t kMaxRecordsRead = 100000;  // far beyond any real E file (12.9 MB)
constexpr int64_t kMillisecondsPerDay = 86400000;
constexpr int64_t kMillisecondsPerWeek = 7 * kMillisecondsPerDay;

// Days from 1970-01-01 to a proleptic Gregorian date (month 1..12), after the well-known
// era-based civil calendar algorithm.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, int64_t* m, int64_t* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

const int64_t kGpsEpochDays = DaysFromCivil(1980, 1, 6);

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

struct EphemerisWeek {
  int32_t week = -1;    // most frequent full week of the GPS records, -1 none
  int32_t tenBit = -1;  // as stored
  double medianToe_s = 0.0;
};

EphemerisWeek ReadEphemerisWeek(const std::string& path) {
  EphemerisWeek result;
  std::error_code ec;
  // A FIFO or device would block or never end: only regular files are read.
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return result;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return result;
  std::map<int32_t, std::vector<double>> toesByWeek;
  uint8_t record[kEphemerisRecordSize];
  for (int32_t n = 0;
       n < kMaxRecordsRead && std::fread(record, 1, sizeof record, file) == sizeof record; ++n) {
    ByteCursor in(record, sizeof record);
    const int32_t prn = in.I8(gps_record::kPrn);
    const int32_t week = in.I16(gps_record::kWeek);
    if (prn < 1 || prn > kMaxGpsPrn || week < 0 || week > kMaxEphWeek) continue;
    toesByWeek[week].push_back(in.I32(gps_record::kToe));
  }
  std::fclose(file);
  size_t best = 0;
  for (auto& [week, toes] : toesByWeek) {
    if (toes.size() <= best) continue;
    best = toes.size();
    result.tenBit = week;
    result.week = static_cast<int32_t>(FullGpsWeek(week));
    std::nth_element(toes.begin(), toes.begin() + toes.size() / 2, toes.end());
    result.medianToe_s = toes[toes.size() / 2];
  }
  return result;
}

std::string DateText(int32_t week, double tow_s) {
  return FormatGpsTime(week, tow_s).substr(0, 10);
}

}  // namespace

bool SessionDateFromName(const std::string& path, int32_t* year, int32_t* dayOfYear) {
  const std::string name = std::filesystem::path(path).filename().string();
  // letter + 4 site + 1..2 session + yy + '.' + ddd
  if (name.size() < 12 || name.size() > 13) return false;
  const size_t dot = name.size() - 4;
  if (name[dot] != '.' || !IsDigit(name[dot - 2]) || !IsDigit(name[dot - 1])) return false;
  for (size_t i = dot + 1; i < name.size(); ++i) {
    if (!IsDigit(name[i])) return false;
  }
  const int32_t yy = (name[dot - 2] - '0') * 10 + (name[dot - 1] - '0');
  const int32_t doy = std::stoi(name.substr(dot + 1));
  const int32_t y = yy >= 80 ? 1900 + yy : 2000 + yy;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (doy < 1 || doy > (leap ? 366 : 365)) return false;
  *year = y;
  *dayOfYear = doy;
  return true;
}

void CalendarToFullWeek(int32_t year, int32_t month, int32_t day, int32_t* week, double* tow_s) {
  const int64_t days = DaysFromCivil(year, month, day) - kGpsEpochDays;
  *week = static_cast<int32_t>(FloorDiv(days, 7));
  *tow_s = static_cast<double>(days - 7 * FloorDiv(days, 7)) * kSecondsPerDay;
}

SessionWeek ResolveSessionWeek(const std::string& setFilePath, const std::string& ephemerisPath,
                               int32_t overrideWeek) {
  SessionWeek s;
  int32_t year = 0;
  int32_t doy = 0;
  const bool named = SessionDateFromName(setFilePath, &year, &doy);
  int32_t nameWeek = -1;
  double nameTow_s = 0.0;
  // Day doy of January runs on into the later months: the day count is linear in the day.
  if (named) CalendarToFullWeek(year, 1, doy, &nameWeek, &nameTow_s);
  const EphemerisWeek eph = ReadEphemerisWeek(ephemerisPath);
  char text[512];

  if (overrideWeek >= 0) {
    s.week = overrideWeek;
    s.referenceTow_s = named && nameWeek == overrideWeek ? nameTow_s : eph.medianToe_s;
    s.source = WeekSource::kOverride;
    return s;
  }
  if (named && eph.week >= 0) {
    s.week = nameWeek;
    s.referenceTow_s = nameTow_s;
    // Ephemerides of the neighbouring week are normal for a session near a week's end.
    if (std::abs(eph.week - nameWeek) <= 1) {
      s.source = WeekSource::kAgreed;
      return s;
    }
    s.source = WeekSource::kFileName;
    const bool rollover = (eph.week - nameWeek) % kTenBitWeeks == 0;
    std::snprintf(text, sizeof text,
                  "the ephemerides give GPS week %d (%d as stored), the file name's date %s "
                  "gives week %d%s: week %d from the file name",
                  static_cast<int>(eph.week), static_cast<int>(eph.tenBit),
                  DateText(nameWeek, nameTow_s).c_str(), static_cast<int>(nameWeek),
                  rollover ? " (ten-bit weeks repeat every 1024 weeks; rollover 2019-04-07)" : "",
                  static_cast<int>(nameWeek));
    s.note = text;
    return s;
  }
  if (named) {
    s.week = nameWeek;
    s.referenceTow_s = nameTow_s;
    s.source = WeekSource::kFileName;
    std::snprintf(
        text, sizeof text, "no GPS ephemeris in %s: GPS week %d from the file name's date %s",
        ephemerisPath.c_str(), static_cast<int>(nameWeek), DateText(nameWeek, nameTow_s).c_str());
    s.note = text;
    return s;
  }
  if (eph.week >= 0) {
    s.week = eph.week;
    s.referenceTow_s = eph.medianToe_s;
    s.source = WeekSource::kEphemeris;
    std::snprintf(text, sizeof text,
                  "no date in the file name: GPS week %d from the ephemerides (%d as stored; "
                  "not checked against the 2019-04-07 rollover)",
                  static_cast<int>(eph.week), static_cast<int>(eph.tenBit));
    s.note = text;
    return s;
  }
  s.note =
      "no GPS ephemeris and no date in the file name: times stay in seconds of week "
      "(give --gps-week)";
  return s;
}

SessionWeek ResolveGpbWeek(const std::string& gpbPath, const std::string& eppPath,
                           int32_t writtenWeek, int32_t overrideWeek) {
  SessionWeek s;
  if (overrideWeek >= 0) {
    s.week = overrideWeek;
    s.source = WeekSource::kOverride;
    return s;
  }
  // The set the GPB file was converted from, when it sits beside it under the same name.
  const std::filesystem::path gpb(gpbPath);
  const std::filesystem::path directory = gpb.has_parent_path() ? gpb.parent_path() : ".";
  const std::string stem = gpb.stem().string();
  std::vector<std::string> sets;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(directory, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    int32_t year = 0;
    int32_t doy = 0;
    if (name.size() == stem.size() + 4 && name.compare(0, stem.size(), stem) == 0 &&
        SessionDateFromName(name, &year, &doy)) {
      sets.push_back(it->path().string());
    }
  }
  if (sets.size() == 1) {
    const std::filesystem::path set(sets[0]);
    const std::string e = (set.parent_path() / ("E" + set.filename().string().substr(1))).string();
    s = ResolveSessionWeek(sets[0], e, -1);
    if (s.week >= 0) return s;
  }

  FILE* file =
      std::filesystem::is_regular_file(eppPath, ec) ? std::fopen(eppPath.c_str(), "r") : nullptr;
  std::map<int32_t, std::vector<double>> toesByWeek;
  if (file != nullptr) {
    char line[512];
    int32_t week = -1;
    for (int32_t n = 0; n < 20 * kMaxRecordsRead && std::fgets(line, sizeof line, file); ++n) {
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
    std::fclose(file);
  }
  s = SessionWeek();
  size_t best = 0;
  int32_t stored = -1;
  for (auto& [week, toes] : toesByWeek) {
    if (toes.size() <= best) continue;
    best = toes.size();
    stored = week;
    std::nth_element(toes.begin(), toes.begin() + toes.size() / 2, toes.end());
    s.referenceTow_s = toes[toes.size() / 2];
  }
  char text[512];
  if (stored < 0) {
    std::snprintf(text, sizeof text,
                  "no GPS ephemeris in %s and no download set beside the GPB file: times stay "
                  "in seconds of week (give --gps-week)",
                  eppPath.c_str());
    s.note = text;
    return s;
  }
  s.source = WeekSource::kEphemeris;
  s.week = static_cast<int32_t>(FullGpsWeek(stored));
  const int32_t later = s.week + kTenBitWeeks * ((writtenWeek - s.week) / kTenBitWeeks);
  std::snprintf(text, sizeof text, "GPS week %d from the ephemerides in %s (%d as stored)%s",
                static_cast<int>(s.week), eppPath.c_str(), static_cast<int>(stored),
                writtenWeek >= 0 && later > s.week
                    ? ("; week " + std::to_string(later) +
                       " has the same ten bits: give --gps-week if the data are that recent")
                          .c_str()
                    : "");
  s.note = text;
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

namespace {

// Calendar fields of a GPS time, milliseconds rounded; false when unknown or not finite.
bool BreakDown(int32_t week, double tow_s, int64_t f[7]) {
  if (week < 0 || !std::isfinite(tow_s) || std::fabs(tow_s) > 1e12) return false;
  const int64_t ms =
      static_cast<int64_t>(week) * kMillisecondsPerWeek + std::llround(tow_s * 1000.0);
  const int64_t days = FloorDiv(ms, kMillisecondsPerDay);
  const int64_t msOfDay = ms - days * kMillisecondsPerDay;
  CivilFromDays(days + kGpsEpochDays, &f[0], &f[1], &f[2]);
  f[3] = msOfDay / 3600000;
  f[4] = msOfDay / 60000 % 60;
  f[5] = msOfDay / 1000 % 60;
  f[6] = msOfDay % 1000;
  return true;
}

}  // namespace

std::string FormatGpsTime(int32_t week, double tow_s) {
  int64_t f[7];
  if (!BreakDown(week, tow_s, f)) return "-";
  char text[128];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld.%03lld",
                static_cast<long long>(f[0]), static_cast<long long>(f[1]),
                static_cast<long long>(f[2]), static_cast<long long>(f[3]),
                static_cast<long long>(f[4]), static_cast<long long>(f[5]),
                static_cast<long long>(f[6]));
  return text;
}

int32_t GpsMinusUtc_s(int32_t week, double tow_s) {
  // UTC dates from which GPS-UTC took each value (IERS bulletins C).
  static const struct {
    int32_t year, month, offset_s;
  } kLeaps[] = {{1981, 7, 1},  {1982, 7, 2},  {1983, 7, 3},  {1985, 7, 4},  {1988, 1, 5},
                {1990, 1, 6},  {1991, 1, 7},  {1992, 7, 8},  {1993, 7, 9},  {1994, 7, 10},
                {1996, 1, 11}, {1997, 7, 12}, {1999, 1, 13}, {2006, 1, 14}, {2009, 1, 15},
                {2012, 7, 16}, {2015, 7, 17}, {2017, 1, 18}};
  const double gps_s = static_cast<double>(week) * kSecondsPerWeek + tow_s;
  int32_t offset_s = 0;
  for (const auto& leap : kLeaps) {
    const double utcStart_s =
        static_cast<double>(DaysFromCivil(leap.year, leap.month, 1) - kGpsEpochDays) *
        kSecondsPerDay;
    if (gps_s >= utcStart_s + leap.offset_s) offset_s = leap.offset_s;
  }
  return offset_s;
}

std::string FormatUtcIso(int32_t week, double tow_s) {
  if (week < 0 || !std::isfinite(tow_s)) return "";
  std::string text = FormatGpsTime(week, tow_s - GpsMinusUtc_s(week, tow_s));
  if (text == "-") return "";
  text[10] = 'T';
  return text + "Z";
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
