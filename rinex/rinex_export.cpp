#include "rinex/rinex_export.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <map>
#include <set>

#include "base/gnss_constants.h"
#include "dataset/gps_calendar.h"
#include "dataset/satellite_names.h"
#include "dataset/session_week.h"
#include "dataset/set_scan.h"
#include "geodesy/geodetic.h"
#include "input/event_marks.h"
#include "input/observation_reader.h"
#include "input/site_reader.h"
#include "job/host_records.h"
#include "position/single_point.h"
#include "rinex/rinex_names.h"
#include "rinex/rinex_nav_writer.h"
#include "rinex/rinex_obs_writer.h"

namespace talverin {
namespace {

constexpr int32_t kWeekCycle = 1024;
constexpr uint8_t kLossOfLock = 1;  // LLI bit 0: lock lost since the previous epoch
// RINEX signal strength: 1 below 12 dB-Hz, then one step per 6 dB-Hz, 9 from 54 dB-Hz.
constexpr int32_t kSsiStep_dbhz = 6;
constexpr int32_t kSsiMax = 9;
constexpr double kPositionSpacing_s = 30.0;  // epochs solved for the approximate position
constexpr char kUnknownSite[] = "????";

// The observables a channel record gives, in the order of the type lists below.
enum Observable { kC1, kL1, kD1, kS1, kP1, kP2, kL2, kD2, kS2 };

struct TypeList {
  std::vector<Observable> observables;
  std::vector<std::string> rinex2;
  std::vector<std::string> rinex3;
};

// Every observable the records of a receiver class hold. Dual-frequency receivers track
// the encrypted P code on L1 and L2 by Z-tracking: RINEX 3 attribute W. L2-codeless
// receivers track L1 C/A and give L2 from the P2-P1 difference: semi-codeless, attribute D.
TypeList TypesFor(int32_t receiverType) {
  TypeList t;
  t.observables = {kC1, kL1, kD1, kS1};
  t.rinex2 = {"C1", "L1", "D1", "S1"};
  t.rinex3 = {"C1C", "L1C", "D1C", "S1C"};
  if (receiverType == kReceiverDual) {
    t.observables.push_back(kP1);
    t.rinex2.push_back("P1");
    t.rinex3.push_back("C1W");
  }
  if (receiverType == kReceiverDual || receiverType == kReceiverL2Codeless) {
    const Observable l2[] = {kP2, kL2, kD2, kS2};
    const char* const r2[] = {"P2", "L2", "D2", "S2"};
    const char* const z3[] = {"C2W", "L2W", "D2W", "S2W"};
    const char* const d3[] = {"C2D", "L2D", "D2D", "S2D"};
    const char* const* r3 = receiverType == kReceiverDual ? z3 : d3;
    for (int i = 0; i < 4; ++i) {
      t.observables.push_back(l2[i]);
      t.rinex2.push_back(r2[i]);
      t.rinex3.push_back(r3[i]);
    }
  }
  return t;
}

int32_t SignalStrength(uint8_t snr) {
  if (snr == 0) return 0;
  return std::max(1, std::min(kSsiMax, snr / kSsiStep_dbhz));
}

// The site name as text: unprintable bytes become '?', trailing NULs and blanks go.
std::string SiteText(const char* site) {
  std::string s;
  for (int i = 0; i < kEpochHeaderSiteLength && site[i] != '\0'; ++i) {
    const unsigned char c = static_cast<unsigned char>(site[i]);
    s += c >= 32 && c < 127 ? static_cast<char>(c) : '?';
  }
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

double MedianOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

std::string NowUtc() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d %H%M%S UTC", &utc);
  return text;
}

double EventHeight_m(const char* text) {
  const char* cursor = text;
  double height_m = 0.0;
  return ScanFiniteDouble(cursor, &height_m) ? height_m : 0.0;
}

// One record of the event file as the exporter places it.
struct PlannedMark {
  GpsInstant time;
  std::string name, desc, kind;
  double height_m = 0.0;
  bool moving = false;
  bool used = false;  // merged into a site change of the observation file
};

struct SiteChange {
  int64_t epoch = 0;  // index of the first epoch with the new name
  GpsInstant time;
  std::string from, to;
};

// Flag 3: a new site occupation with its marker name, antenna height and description.
ObsEvent OccupationEvent(const GpsInstant& t, const std::string& name, double height_m,
                         const std::string& desc) {
  ObsEvent e;
  e.time = t;
  e.flag = 3;
  e.records.push_back({name, "MARKER NAME"});
  e.records.push_back({Format("%14.4f%14.4f%14.4f", height_m, 0.0, 0.0), "ANTENNA: DELTA H/E/N"});
  if (!desc.empty()) e.records.push_back({desc, "COMMENT"});
  return e;
}

// Flag 2: the antenna starts moving; a moving feature of the event file is named.
ObsEvent MovingEvent(const GpsInstant& t, const PlannedMark* feature) {
  ObsEvent e;
  e.time = t;
  e.flag = 2;
  if (feature != nullptr) {
    e.records.push_back(
        {feature->kind + " " + feature->name + (feature->desc.empty() ? "" : " " + feature->desc),
         "COMMENT"});
  }
  return e;
}

// A satellite's phase tracking up to the epoch before. Lock can be lost only on a
// frequency whose phase the file has already given for the satellite.
struct Track {
  int64_t lastEpoch = std::numeric_limits<int64_t>::min();
  bool l1Phase = false;
  bool l2Phase = false;
  bool l1Seen = false;
  bool l2Seen = false;
  bool l1Pending = false;  // lock lost in epochs left out since the last one written
  bool l2Pending = false;
};

// The approximate position of the observation header: an epoch every kPositionSpacing_s
// solved with the healthy ephemerides (when there are four), else the receivers' header
// positions; the median of each coordinate.
class ApproxPosition {
 public:
  explicit ApproxPosition(const std::vector<SetGpsEphemeris>& gps) {
    for (const SetGpsEphemeris& e : gps) {
      if (e.health == 0) (void)engine_.store().AddGpsEph(e.eph);
    }
    solve_ = engine_.store().gpsCount > 3;
    BuildWgs84Datum(&wgs84_);
  }
  // epoch: the GPS C/A ranges of the epoch, solved in place.
  void Add(const RawEpoch& raw, double fullSeconds, gpb_epoch_type* epoch) {
    if (fullSeconds - lastSample_ < kPositionSpacing_s) return;
    lastSample_ = fullSeconds;
    if (raw.ecef_m[0] != 0.0 || raw.ecef_m[1] != 0.0 || raw.ecef_m[2] != 0.0) {
      for (int i = 0; i < 3; ++i) header_[i].push_back(raw.ecef_m[i]);
    }
    if (!solve_ || epoch->nsat < 4) return;
    double lat = 0.0, lon = 0.0, h = 0.0;
    EcefToGeodetic(raw.ecef_m[0], raw.ecef_m[1], raw.ecef_m[2], &lat, &lon, &h);
    epoch->flags = kEpochPositionValid;
    epoch->lat = lat * kDegPerRad;
    epoch->lon = lon * kDegPerRad;
    epoch->height = static_cast<float>(h);
    if (engine_.ProcessEpoch(epoch, kWritePosition) == 0 && std::isfinite(epoch->lat)) {
      const GeodeticPos pos{epoch->lat, epoch->lon, epoch->height};
      double xyz[3];
      DatumGeodeticToCartesian(pos, wgs84_.datum, xyz);
      for (int i = 0; i < 3; ++i) solved_[i].push_back(xyz[i]);
    }
  }
  int32_t solved() const { return static_cast<int32_t>(solved_[0].size()); }
  // Leaves approx_m as it is when there is no position at all.
  void Median(double approx_m[3]) const {
    const std::vector<double>* use = solved_[0].empty() ? header_ : solved_;
    if (use[0].empty()) return;
    for (int i = 0; i < 3; ++i) approx_m[i] = MedianOf(use[i]);
  }

 private:
  SinglePoint engine_;
  bool solve_ = false;
  Wgs84Datum wgs84_;
  std::vector<double> solved_[3], header_[3];
  double lastSample_ = -1e300;
};

// The marker under an antenna: the antenna less its delta (H up, E east, N north, m) in the
// local frame of the WGS84 ellipsoid there. A zero position (none known) stays zero.
void MarkerBelow(const double antenna_m[3], const double delta_m[3], double marker_m[3]) {
  for (int i = 0; i < 3; ++i) marker_m[i] = antenna_m[i];
  if (antenna_m[0] == 0.0 && antenna_m[1] == 0.0 && antenna_m[2] == 0.0) return;
  Wgs84Datum wgs84;
  BuildWgs84Datum(&wgs84);
  double lat = 0.0, lon = 0.0, h_m = 0.0;
  CartesianToGeodetic(antenna_m, wgs84.ellipse.a, wgs84.ellipse.b, &lat, &lon, &h_m);
  const double up[3] = {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon),
                        std::sin(lat)};
  const double east[3] = {-std::sin(lon), std::cos(lon), 0.0};
  const double north[3] = {-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon),
                           std::cos(lat)};
  if (!std::isfinite(up[0] + up[1] + up[2])) return;
  for (int i = 0; i < 3; ++i) {
    marker_m[i] -= delta_m[0] * up[i] + delta_m[1] * east[i] + delta_m[2] * north[i];
  }
}

}  // namespace

struct RinexExporter::State {
  RinexExportOptions options;
  RinexExportSummary summary;
  SetScanner scanner;
  DownloadSetReader& reader = scanner.reader();
  std::vector<SetGpsEphemeris> gps;
  std::vector<SetGlonassEphemeris> glonass;
  SetSiteInfo site;
  TypeList types;
  SessionWeek session;
  double approx_m[3] = {0.0, 0.0, 0.0};
  double firstHeight_m = 0.0;
  std::string markerName;
  std::vector<SiteChange> changes;
  std::vector<PlannedMark> marks;
  std::map<int64_t, ObsEvent> changeEvents;  // by epoch index
  ObsEvent startEvent;                       // before the first epoch (flag 2), if any
  bool hasStartEvent = false;
  bool hasGlonass = false;
  int32_t leapSeconds = -1;
  std::string obsName, navName;
  char errorText[kTextSize] = "";

  int32_t Fail(const std::string& text) {
    std::snprintf(errorText, sizeof errorText, "%s", text.c_str());
    return -1;
  }
  // GLONASS range: whole GPS-UTC seconds removed (the receiver adds them).
  double GlonassSeconds(double range_s) const {
    if (range_s > kGlonassOffsetMin_s && range_s < 2147483647.0) {
      return static_cast<int32_t>(range_s + kGlonassOffsetRound_s);
    }
    return 0.0;
  }
  bool SatelliteOf(uint8_t prn, char* system, int32_t* number) const {
    const SatelliteId id = talverin::SatelliteOf(prn, reader.receiverType() == kReceiverGlonass);
    *system = id.system;
    *number = id.number;
    return id.system != '\0';
  }
  // Whether t lies in the time window; whether the window and the decimation keep it.
  bool InWindow(const GpsInstant& t) const;
  bool Keeps(const GpsInstant& t) const;
  int32_t FirstPass();
  void FirstPassEpoch(const RawEpoch& raw, const GpsInstant& t, int64_t index,
                      ApproxPosition* approx);
  void PlanEvents();
  void MakeNames();

  // The second pass: the observation file, then the navigation file. 0, or -1 (Fail).
  void AppendHeader(std::string* text) const;
  // Events up to fullSeconds, then (index >= 0) those of the epoch of that index. Their count.
  int32_t AppendEvents(double fullSeconds, int64_t index, std::string* text);
  // The epoch as written, into out (refilled for each epoch: its vectors keep their room, so
  // no epoch allocates); index counts every epoch of the file (the tracks' continuity).
  // An epoch left out (not kept) only carries its losses of lock on to the next one.
  void EpochOut(const RawEpoch& raw, const GpsInstant& t, int64_t index, bool forward, bool kept,
                ObsEpochOut* out);
  void NoteObservationLosses(int32_t got, int64_t index);
  int32_t WriteObservations(const std::string& path);
  int32_t WriteNavigation(const std::string& path);
  std::vector<Track> tracks;               // by PRN byte
  std::map<int32_t, int32_t> unknownPrns;  // PRN byte -> channel records left out
  size_t nextMark = 0;                     // first event-file record not yet written
};

// The site changes and the GLONASS seconds of one epoch of the first pass; its GPS ranges
// go to the approximate position.
void RinexExporter::State::FirstPassEpoch(const RawEpoch& raw, const GpsInstant& t, int64_t index,
                                          ApproxPosition* approx) {
  const std::string siteName = SiteText(raw.site);
  if (index == 0) {
    markerName = siteName;
    changes.push_back({0, t, "", siteName});
  } else if (siteName != changes.back().to) {
    changes.push_back({index, t, changes.back().to, siteName});
  }
  gpb_epoch_type epoch{};
  epoch.valid = 1;
  epoch.gpsTime = epoch.rcvTime = epoch.corrTime = raw.tow_s;
  for (const RawChannel& ch : raw.channels) {
    char system = 0;
    int32_t number = 0;
    if (!SatelliteOf(ch.prn, &system, &number)) continue;
    if (system == 'R') {
      hasGlonass = true;
      if (leapSeconds < 0 && GlonassSeconds(ch.ca.range_s) > 0.0) {
        leapSeconds = static_cast<int32_t>(GlonassSeconds(ch.ca.range_s));
      }
      continue;
    }
    if (ch.ca.range_s == 0.0 || epoch.nsat >= kGpbMaxSats) continue;
    gpb_sat_type& sat = epoch.sat[epoch.nsat++];
    sat.prn = ch.prn;
    sat.sflags = kSatRange1;
    sat.range1 = ch.ca.range_s * kSpeedOfLight_mps;
  }
  approx->Add(raw, t.FullSeconds(), &epoch);
}

bool RinexExporter::State::InWindow(const GpsInstant& t) const {
  return options.window.Inside(t.FullSeconds());
}

bool RinexExporter::State::Keeps(const GpsInstant& t) const {
  return options.window.Keeps(t.FullSeconds());
}

// One pass over the epochs through the set scan: time span, interval, site changes and the
// approximate position.
int32_t RinexExporter::State::FirstPass() {
  ApproxPosition approx(gps);
  int64_t index = 0;
  (void)scanner.ScanEpochs([&](const RawEpoch& raw, int32_t week, double) {
    const GpsInstant t{week, raw.tow_s};
    if (!Keeps(t)) return;
    if (index == 0) summary.first = t;
    summary.last = t;
    FirstPassEpoch(raw, t, index++, &approx);
  });
  const SetScan& scan = scanner.scan();
  if (scan.epochs == 0) return Fail(reader.path() + ": no epochs");
  if (index == 0) return Fail(reader.path() + ": no epochs in the time window and interval given");
  summary.interval_s = std::max(scan.interval_s, options.window.interval_s);
  summary.solvedPositions = approx.solved();
  summary.positionFromSolutions = approx.solved() > 0;
  approx.Median(approx_m);
  return 0;
}

void RinexExporter::State::PlanEvents() {
  EventTable table;
  if (reader.ReadEvents(false, &table) != 0) {
    summary.messages.push_back(reader.CompanionPath('D') + ": too large to load; events left out");
  }
  std::set<std::string> movingNames;
  for (int32_t i = 0; i < table.count; ++i) {
    const EventRecord& r = table.records[i];
    // An end record closes its feature; the begin record carries its event.
    if (r.evEnd != 0 || r.evName[0] == '\0' || !std::isfinite(r.evTime)) continue;
    PlannedMark m;
    m.time = NearestInstant(
        std::fmod(std::fmod(r.evTime, kSecondsPerWeek) + kSecondsPerWeek, kSecondsPerWeek),
        summary.first);
    m.name = r.evName;
    m.desc = r.evDesc;
    m.kind = r.evKind;
    m.height_m = EventHeight_m(r.evHeight);
    m.moving = r.evMoving != 0;
    if (m.moving) movingNames.insert(m.name);
    marks.push_back(m);
  }
  FreeEventTable(table);
  const auto isMoving = [&movingNames](const std::string& name) {
    return name == kUnknownSite || movingNames.count(name) != 0;
  };
  // Each site change takes the first unused event-file record of its name at or after the
  // last one taken, as the conversion's station marks do.
  double lastMatch = -std::numeric_limits<double>::infinity();
  for (const SiteChange& c : changes) {
    PlannedMark* match = nullptr;
    for (PlannedMark& m : marks) {
      if (!m.used && m.name == c.to && m.time.FullSeconds() >= lastMatch) {
        match = &m;
        break;
      }
    }
    if (match != nullptr) {
      match->used = true;
      lastMatch = match->time.FullSeconds();
    }
    const double height_m = match != nullptr ? match->height_m : site.antennaHeight_m;
    if (c.epoch == 0) {
      if (isMoving(c.to)) {
        markerName = site.present ? site.name : c.to;
        firstHeight_m = site.antennaHeight_m;
        startEvent = MovingEvent(c.time, match);
        hasStartEvent = true;
      } else {
        firstHeight_m = height_m;
      }
      continue;
    }
    if (isMoving(c.to)) {
      if (!isMoving(c.from) || match != nullptr) changeEvents[c.epoch] = MovingEvent(c.time, match);
    } else {
      changeEvents[c.epoch] =
          OccupationEvent(c.time, c.to, height_m, match != nullptr ? match->desc : "");
    }
  }
  // The records no site change took stand as events of their own, at their own time.
  std::vector<PlannedMark> own;
  for (const PlannedMark& m : marks) {
    if (!m.used && InWindow(m.time)) own.push_back(m);
  }
  std::stable_sort(own.begin(), own.end(), [](const PlannedMark& a, const PlannedMark& b) {
    return a.time.FullSeconds() < b.time.FullSeconds();
  });
  marks.swap(own);
}

void RinexExporter::State::MakeNames() {
  // A set's file name: "B" + 4-character site + session character(s) + "yy.ddd".
  std::string site = SiteText(markerName.c_str());
  char session = '0';
  int32_t year = 0, dayOfYear = 0;
  if (SessionDateFromName(options.bPath, &year, &dayOfYear)) {
    const size_t slash = options.bPath.find_last_of("/\\");
    const std::string file = options.bPath.substr(slash == std::string::npos ? 0 : slash + 1);
    site = file.substr(1, 4);
    if (std::isalnum(static_cast<unsigned char>(file[5]))) {
      session = static_cast<char>(std::tolower(static_cast<unsigned char>(file[5])));
    }
  }
  for (char& c : site) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  site.resize(4, '_');
  const CalendarTime c = GpsCalendar(summary.first);
  if (options.rinexVersion >= 3) {
    std::string upper = site;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    Rinex3Name name;
    name.site = upper;
    name.monument = options.monument;
    name.receiver = options.receiverIndex;
    name.country = options.metadata.country.empty() ? "XXX" : options.metadata.country;
    name.start = c;
    name.span_s =
        NominalSpan_s(summary.first.FullSeconds(), summary.last.FullSeconds(), summary.interval_s);
    const std::string stem = Rinex3Stem(name);
    const std::string interval = Rinex3Frequency(summary.interval_s);
    obsName = stem + "_" + interval + (hasGlonass ? "_MO.rnx" : "_GO.rnx");
    navName = stem + "_GN.rnx";
  } else {
    std::string lower = site;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const std::string stem =
        Format("%s%03d%c.%02d", lower.c_str(), c.dayOfYear, session, c.year % 100);
    obsName = stem + "o";
    navName = stem + "n";
  }
}

namespace {

// One observable of a channel record in RINEX units and signs. lost1, lost2: lock lost on
// L1 or L2 since the epoch before.
ObsValue ValueOf(Observable o, const RawChannel& ch, double caRange_s, double dopplerScale,
                 bool lost1, bool lost2) {
  ObsValue v;
  switch (o) {
    case kC1:
      v.present = ch.ca.range_s != 0.0;
      v.value = caRange_s * kSpeedOfLight_mps;
      break;
    case kL1:
      v.present = ch.ca.phase_cyc != 0.0;
      v.value = -ch.ca.phase_cyc;
      v.lli = lost1 ? kLossOfLock : 0;
      v.ssi = SignalStrength(ch.ca.snr);
      break;
    case kD1:
      v.present = ch.ca.doppler != 0;
      v.value = -(ch.ca.doppler * kDopplerUnit) * dopplerScale;
      break;
    case kS1:
      v.present = ch.ca.snr != 0;
      v.value = ch.ca.snr;
      break;
    case kP1:
      v.present = ch.p1.range_s != 0.0;
      v.value = ch.p1.range_s * kSpeedOfLight_mps;
      break;
    case kP2:
      v.present = ch.l2.range_s != 0.0;
      v.value = ch.l2.range_s * kSpeedOfLight_mps;
      break;
    case kL2:
      v.present = ch.l2.phase_cyc != 0.0;
      v.value = -ch.l2.phase_cyc;
      v.lli = lost2 ? kLossOfLock : 0;
      v.ssi = SignalStrength(ch.l2.snr);
      break;
    case kD2:
      v.present = ch.l2.doppler != 0;
      v.value = -(ch.l2.doppler * kDopplerUnit) * dopplerScale;
      break;
    case kS2:
      v.present = ch.l2.snr != 0;
      v.value = ch.l2.snr;
      break;
  }
  if (!v.present) v.lli = v.ssi = 0;
  return v;
}

// Doppler units: an epoch whose every Doppler is below 5 Hz once scaled was stored in Hz.
double DopplerScale(const RawEpoch& raw) {
  for (const RawChannel& ch : raw.channels) {
    if (!(std::fabs(ch.ca.doppler * kDopplerUnit) < kDopplerSmall)) return 1.0;
  }
  return kDopplerRescale;
}

// The full week of a stored ten-bit week: the cycle nearest the session's week.
int32_t FullWeekNear(int32_t storedWeek, int32_t sessionWeek) {
  const int32_t tenBit = storedWeek % kWeekCycle;
  int32_t full = sessionWeek - sessionWeek % kWeekCycle + tenBit;
  if (full - sessionWeek > kWeekCycle / 2) full -= kWeekCycle;
  if (sessionWeek - full > kWeekCycle / 2) full += kWeekCycle;
  return full;
}

// Writes text to file (and empties it); false after a failed write.
bool Flush(std::string* text, FILE* file) {
  const bool written = std::fwrite(text->data(), 1, text->size(), file) == text->size();
  text->clear();
  return written;
}

}  // namespace

void RinexExporter::State::AppendHeader(std::string* text) const {
  const int32_t type = reader.receiverType();
  ObsHeaderInfo h;
  h.version = options.rinexVersion;
  h.system = hasGlonass ? 'M' : 'G';
  h.program = options.program;
  h.creationDate = options.creationDate;
  const RinexMetadata& m = options.metadata;
  h.markerName = m.markerName.empty() ? markerName : m.markerName;
  h.markerNumber = m.markerNumber;
  h.observer = m.observer;
  h.agency = m.agency;
  h.receiverNumber = m.receiverNumber;
  h.receiverType = reader.model();
  h.antennaNumber = m.antennaNumber;
  h.antennaType = m.antennaType;
  h.antennaDelta_m[0] = firstHeight_m;
  if (m.hasAntennaDelta) {
    for (int i = 0; i < 3; ++i) h.antennaDelta_m[i] = m.antennaDelta_m[i];
  }
  MarkerBelow(approx_m, h.antennaDelta_m, h.approx_ecef_m);
  h.dualFrequency = type == kReceiverDual || type == kReceiverL2Codeless;
  h.gpsTypes = options.rinexVersion >= 3 ? types.rinex3 : types.rinex2;
  h.glonassTypes = types.rinex3;
  h.first = summary.first;
  h.last = summary.last;
  h.interval_s = summary.interval_s;
  h.leapSeconds = leapSeconds;
  if (type == kReceiverDual) {
    h.comments.push_back("L2 TRACKING: P CODE TRACKED WITHOUT THE ENCRYPTED CODE (W)");
    h.comments.push_back("P1 AND P2 FROM THE P-CODE BLOCKS, C1 FROM THE C/A CODE");
  } else if (type == kReceiverL2Codeless) {
    h.comments.push_back("L2 TRACKING: L1(C/A)+(P2-P1) SEMI-CODELESS (D)");
    h.comments.push_back("P2 AND L2 FROM THE L2 BLOCK");
  }
  AppendObsHeader(text, h);
}

int32_t RinexExporter::State::AppendEvents(double fullSeconds, int64_t index, std::string* text) {
  int32_t events = 0;
  for (; nextMark < marks.size() && marks[nextMark].time.FullSeconds() <= fullSeconds; ++nextMark) {
    const PlannedMark& m = marks[nextMark];
    AppendObsEvent(
        text, options.rinexVersion,
        m.moving ? MovingEvent(m.time, &m) : OccupationEvent(m.time, m.name, m.height_m, m.desc));
    ++events;
  }
  if (index == 0 && hasStartEvent) {
    AppendObsEvent(text, options.rinexVersion, startEvent);
    ++events;
  }
  const auto change = changeEvents.find(index);
  if (index >= 0 && change != changeEvents.end()) {
    AppendObsEvent(text, options.rinexVersion, change->second);
    ++events;
  }
  return events;
}

void RinexExporter::State::EpochOut(const RawEpoch& raw, const GpsInstant& t, int64_t index,
                                    bool forward, bool kept, ObsEpochOut* out) {
  const double dopplerScale = DopplerScale(raw);
  out->time = t;
  out->hasClock = raw.clock_m != 0.0;
  out->clock_s = raw.clock_m * kInvSpeedOfLight_spm;
  bool seen[256] = {};  // by stored satellite number
  size_t count = 0;
  for (const RawChannel& ch : raw.channels) {
    char system = 0;
    int32_t number = 0;
    const bool known = SatelliteOf(ch.prn, &system, &number);
    if (!known && ch.prn != 0 && kept) ++unknownPrns[ch.prn];
    if (!known || seen[ch.prn]) {
      if (kept) ++summary.droppedChannels;
      continue;
    }
    seen[ch.prn] = true;
    Track& track = tracks[ch.prn];
    const bool continuous = forward && track.lastEpoch == index - 1;
    const bool lost1 = (ch.ca.warning & (kWarnRestart | kWarnL1Phase)) != 0 ||
                       (track.l1Seen && (!continuous || !track.l1Phase)) || track.l1Pending;
    const bool lost2 = (ch.l2.warning & kWarnRestart) != 0 || (ch.ca.warning & kWarnL1Phase) != 0 ||
                       (track.l2Seen && (!continuous || !track.l2Phase)) || track.l2Pending;
    track.l1Pending = !kept && lost1;
    track.l2Pending = !kept && lost2;
    const double caRange_s = ch.ca.range_s - (system == 'R' ? GlonassSeconds(ch.ca.range_s) : 0.0);
    if (out->sats.size() <= count) out->sats.emplace_back();
    ObsSatellite& sat = out->sats[count++];
    sat.system = system;
    sat.number = number;
    sat.values.clear();
    for (Observable o : types.observables) {
      sat.values.push_back(ValueOf(o, ch, caRange_s, dopplerScale, lost1, lost2));
    }
    track.lastEpoch = index;
    track.l1Phase = ch.ca.phase_cyc != 0.0;
    track.l2Phase = ch.hasL2 && ch.l2.phase_cyc != 0.0;
    track.l1Seen = track.l1Seen || track.l1Phase;
    track.l2Seen = track.l2Seen || track.l2Phase;
  }
  out->sats.resize(count);
}

void RinexExporter::State::NoteObservationLosses(int32_t got, int64_t index) {
  if (got < 0) {
    summary.messages.push_back("a read error ended the observation file after " +
                               std::to_string(index) + " epochs: " + reader.errorText());
  }
  summary.incomplete |= got < 0 || !unknownPrns.empty() || summary.unwritableValues > 0;
  for (const auto& u : unknownPrns) {
    summary.messages.push_back(
        Format("%d channel records with satellite number %d left out: "
               "not a GPS or GLONASS number of this receiver",
               u.second, u.first));
  }
  if (summary.unwritableValues > 0) {
    summary.messages.push_back(
        Format("%d values too large for their RINEX field left blank", summary.unwritableValues));
  }
}

int32_t RinexExporter::State::WriteObservations(const std::string& path) {
  FILE* obs = std::fopen(path.c_str(), "wb");
  if (obs == nullptr) return Fail(path + ": cannot be written");
  if (reader.Rewind() != 0) {
    std::fclose(obs);
    return Fail(options.bPath + ": cannot be read again");
  }
  std::string text;
  AppendHeader(&text);
  tracks.assign(256, Track());
  unknownPrns.clear();
  nextMark = 0;
  RawEpoch raw;
  ObsEpochOut out;
  WeekTracker weeks(session);
  GpsInstant previous = summary.first;
  int64_t index = 0;  // every epoch of the file
  int64_t kept = 0;   // the epochs written
  bool written = true;
  int32_t got;
  for (; (got = reader.NextEpoch(&raw)) == 1; ++index) {
    const GpsInstant t{weeks.WeekOf(raw.tow_s), raw.tow_s};
    const bool forward = index == 0 || t.FullSeconds() > previous.FullSeconds();
    previous = t;
    if (!InWindow(t)) continue;
    if (!Keeps(t)) {
      EpochOut(raw, t, index, forward, false, &out);
      continue;
    }
    summary.events += AppendEvents(t.FullSeconds(), kept++, &text);
    EpochOut(raw, t, index, forward, true, &out);
    summary.unwritableValues += AppendObsEpoch(&text, options.rinexVersion, out);
    summary.observations += static_cast<int32_t>(out.sats.size());
    ++summary.epochs;
    if (text.size() > (1u << 16)) written &= Flush(&text, obs);
  }
  summary.events += AppendEvents(std::numeric_limits<double>::infinity(), -1, &text);
  written &= Flush(&text, obs);
  written &= std::fclose(obs) == 0;
  if (!written) return Fail(path + ": cannot be written");
  NoteObservationLosses(got, index);
  return 0;
}

// Navigation: every GPS record, healthy or not, in file order.
int32_t RinexExporter::State::WriteNavigation(const std::string& path) {
  std::string text;
  NavHeaderInfo nh;
  nh.version = options.rinexVersion;
  nh.program = options.program;
  nh.creationDate = options.creationDate;
  nh.leapSeconds = leapSeconds;
  AppendNavHeader(&text, nh);
  for (const SetGpsEphemeris& e : gps) {
    const GpsEph& x = e.eph;
    const double values[] = {x.tgd,    x.af2,   x.af1, x.af0,      x.deltaN, x.m0,  x.e,
                             x.rootA,  x.cic,   x.crc, x.cis,      x.crs,    x.cuc, x.cus,
                             x.omega0, x.omega, x.i0,  x.omegaDot, x.iDot};
    bool finite = x.week >= 0;
    for (double v : values) finite = finite && std::isfinite(v);
    if (!finite) {
      ++summary.navSkipped;
      summary.incomplete = true;
      summary.messages.push_back(
          Format("E file offset %lld: GPS record of PRN %d holds a week "
                 "or values that are not numbers; left out",
                 static_cast<long long>(e.offset), static_cast<int>(x.prn)));
      continue;
    }
    NavRecordInput r;
    r.eph = x;
    r.health = e.health;
    r.transmitWeek = FullWeekNear(x.week, summary.first.week);
    AppendNavRecord(&text, options.rinexVersion, r);
    ++summary.navRecords;
  }
  FILE* nav = std::fopen(path.c_str(), "wb");
  if (nav == nullptr) return Fail(path + ": cannot be written");
  bool written = Flush(&text, nav);
  written &= std::fclose(nav) == 0;
  if (!written) return Fail(path + ": cannot be written");
  return 0;
}

RinexExporter::RinexExporter() : state_(new State()) {}
RinexExporter::~RinexExporter() { delete state_; }
const std::string& RinexExporter::observationName() const { return state_->obsName; }
const std::string& RinexExporter::navigationName() const { return state_->navName; }
const RinexExportSummary& RinexExporter::summary() const { return state_->summary; }
const char* RinexExporter::errorText() const { return state_->errorText; }

int32_t RinexExporter::Prepare(const RinexExportOptions& options) {
  State& s = *state_;
  s.options = options;
  if (s.options.rinexVersion != 2 && s.options.rinexVersion != 3) {
    return s.Fail("RINEX version " + std::to_string(options.rinexVersion) + " is not 2 or 3");
  }
  if (s.options.creationDate.empty()) s.options.creationDate = NowUtc();
  if (s.scanner.Open(options.bPath, {options.receiverType, options.gpsWeek, EpochWindow()}) != 0) {
    return s.Fail(s.scanner.scan().error);
  }
  const SetScan& scan = s.scanner.scan();
  s.summary.receiverType = scan.receiverType;
  s.types = TypesFor(scan.receiverType);
  if (!scan.ephemerisError.empty()) return s.Fail(scan.ephemerisError);
  s.gps = scan.gps;
  s.glonass = scan.glonass;
  s.site = scan.site;
  s.session = scan.week;
  if (s.session.week < 0) {
    return s.Fail(options.bPath + ": " + s.session.note + "; give the GPS week (--gps-week)");
  }
  if (!s.session.note.empty()) s.summary.messages.push_back(s.session.note);
  if (s.FirstPass() != 0) return -1;
  for (const SetDamage& d : scan.damage) {
    s.summary.messages.push_back(Format("%c file: ", d.file) + d.text);
    s.summary.incomplete = true;
  }
  if (s.leapSeconds < 0) {
    // From the announced leap seconds; unknown past their end, and then not written.
    s.leapSeconds = GpsMinusUtc_s(s.summary.first.week, s.summary.first.tow_s);
  }
  s.PlanEvents();
  s.MakeNames();
  return 0;
}

int32_t RinexExporter::Write(const std::string& observationPath,
                             const std::string& navigationPath) {
  if (state_->WriteObservations(observationPath) != 0) return -1;
  return state_->WriteNavigation(navigationPath);
}

}  // namespace talverin
