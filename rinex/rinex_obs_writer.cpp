#include "rinex/rinex_obs_writer.h"

namespace talverin {
namespace {

constexpr size_t kSatsPerEpochLine2 = 12;  // satellites on a version 2 epoch line
constexpr size_t kValuesPerLine2 = 5;      // observations per version 2 data line
constexpr size_t kTypesPerLine2 = 9;       // # / TYPES OF OBSERV
constexpr size_t kTypesPerLine3 = 13;      // SYS / # / OBS TYPES
constexpr size_t kEpochSatColumn2 = 32;    // first satellite column of a version 2 epoch line
constexpr size_t kClockColumn2 = 68;       // receiver clock offset of a version 2 epoch line

// " yy mm dd hh mm ss.sssssss" (version 2) or "> yyyy mm dd hh mm ss.sssssss" (version 3).
void AppendTimeFields(std::string* out, int32_t version, const GpsInstant& t) {
  const CalendarTime c = GpsCalendar(t);
  const bool long3 = version >= 3;
  *out += long3 ? "> " : " ";
  AppendInt(out, long3 ? c.year : c.year % 100, long3 ? 4 : 2, '0');
  *out += ' ';
  AppendInt(out, c.month, 2, long3 ? '0' : ' ');
  *out += ' ';
  AppendInt(out, c.day, 2, long3 ? '0' : ' ');
  *out += ' ';
  AppendInt(out, c.hour, 2, long3 ? '0' : ' ');
  *out += ' ';
  AppendInt(out, c.minute, 2, long3 ? '0' : ' ');
  AppendFixed(out, c.second, 11, 7);
}

// The epoch line's start: time, "  flag" and the count of satellites or records.
void AppendEpochStart(std::string* out, int32_t version, const GpsInstant& t, int32_t flag,
                      size_t count) {
  AppendTimeFields(out, version, t);
  *out += "  ";
  AppendInt(out, flag, 1);
  AppendInt(out, static_cast<int64_t>(count), 3);
}

std::string TimeOfObs(const GpsInstant& t) {
  const CalendarTime c = GpsCalendar(t);
  return Format("%6d%6d%6d%6d%6d%13.7f     GPS", c.year, c.month, c.day, c.hour, c.minute,
                c.second);
}

void AppendTypes2(std::string* out, const std::vector<std::string>& types) {
  for (size_t i = 0; i < types.size() || i == 0; i += kTypesPerLine2) {
    std::string line = i == 0 ? Format("%6zu", types.size()) : std::string(6, ' ');
    for (size_t k = i; k < types.size() && k < i + kTypesPerLine2; ++k) {
      line += Format("    %2.2s", types[k].c_str());
    }
    AppendHeaderLine(out, line, "# / TYPES OF OBSERV");
  }
}

void AppendTypes3(std::string* out, char system, const std::vector<std::string>& types) {
  for (size_t i = 0; i < types.size(); i += kTypesPerLine3) {
    std::string line = i == 0 ? Format("%c  %3zu", system, types.size()) : std::string(6, ' ');
    for (size_t k = i; k < types.size() && k < i + kTypesPerLine3; ++k) {
      line += Format(" %3.3s", types[k].c_str());
    }
    AppendHeaderLine(out, line, "SYS / # / OBS TYPES");
  }
}

}  // namespace

void AppendObsHeader(std::string* out, const ObsHeaderInfo& h) {
  const char* systemText = h.system == 'M' ? "M (MIXED)" : "G (GPS)";
  if (h.version >= 3) {
    AppendHeaderLine(
        out, Format("     3.04           OBSERVATION DATA    %-20s", h.system == 'M' ? "M" : "G"),
        "RINEX VERSION / TYPE");
  } else {
    AppendHeaderLine(out, Format("     2.11           OBSERVATION DATA    %-20s", systemText),
                     "RINEX VERSION / TYPE");
  }
  AppendHeaderLine(
      out, Format("%-20.20s%-20.20s%-20.20s", h.program.c_str(), "", h.creationDate.c_str()),
      "PGM / RUN BY / DATE");
  for (const std::string& comment : h.comments) AppendHeaderLine(out, comment, "COMMENT");
  AppendHeaderLine(out, h.markerName, "MARKER NAME");
  if (!h.markerNumber.empty()) AppendHeaderLine(out, h.markerNumber, "MARKER NUMBER");
  AppendHeaderLine(out, Format("%-20.20s%-40.40s", h.observer.c_str(), h.agency.c_str()),
                   "OBSERVER / AGENCY");
  AppendHeaderLine(
      out, Format("%-20.20s%-20.20s%-20s", h.receiverNumber.c_str(), h.receiverType.c_str(), ""),
      "REC # / TYPE / VERS");
  AppendHeaderLine(out, Format("%-20.20s%-20.20s", h.antennaNumber.c_str(), h.antennaType.c_str()),
                   "ANT # / TYPE");
  AppendHeaderLine(
      out, Format("%14.4f%14.4f%14.4f", h.approx_ecef_m[0], h.approx_ecef_m[1], h.approx_ecef_m[2]),
      "APPROX POSITION XYZ");
  AppendHeaderLine(
      out,
      Format("%14.4f%14.4f%14.4f", h.antennaDelta_m[0], h.antennaDelta_m[1], h.antennaDelta_m[2]),
      "ANTENNA: DELTA H/E/N");
  if (h.version >= 3) {
    AppendTypes3(out, 'G', h.gpsTypes);
    if (h.system == 'M') AppendTypes3(out, 'R', h.glonassTypes);
  } else {
    AppendHeaderLine(out, Format("%6d%6d", 1, h.dualFrequency ? 1 : 0), "WAVELENGTH FACT L1/2");
    AppendTypes2(out, h.gpsTypes);
  }
  if (h.interval_s > 0.0) AppendHeaderLine(out, Format("%10.3f", h.interval_s), "INTERVAL");
  AppendHeaderLine(out, TimeOfObs(h.first), "TIME OF FIRST OBS");
  AppendHeaderLine(out, TimeOfObs(h.last), "TIME OF LAST OBS");
  if (h.version >= 3) {
    AppendHeaderLine(out, "G", "SYS / PHASE SHIFT");
    if (h.system == 'M') AppendHeaderLine(out, "R", "SYS / PHASE SHIFT");
  }
  if (h.leapSeconds >= 0) AppendHeaderLine(out, Format("%6d", h.leapSeconds), "LEAP SECONDS");
  AppendHeaderLine(out, "", "END OF HEADER");
}

int32_t AppendObsEpoch(std::string* out, int32_t version, const ObsEpochOut& e) {
  int32_t unwritable = 0;
  if (version >= 3) {
    AppendEpochStart(out, version, e.time, e.flag, e.sats.size());
    if (e.hasClock) {
      *out += "      ";
      AppendFixed(out, e.clock_s, 15, 12);
    }
    EndLine(out);
    for (const ObsSatellite& s : e.sats) {
      *out += s.system;
      AppendInt(out, s.number, 2, '0');
      for (const ObsValue& v : s.values) {
        if (!AppendObservation(out, v.present, v.value, v.lli, v.ssi)) ++unwritable;
      }
      EndLine(out);
    }
    return unwritable;
  }
  size_t lineStart = out->size();
  AppendEpochStart(out, version, e.time, e.flag, e.sats.size());
  for (size_t i = 0; i < e.sats.size(); ++i) {
    if (i > 0 && i % kSatsPerEpochLine2 == 0) {
      if (i == kSatsPerEpochLine2 && e.hasClock) {
        out->resize(lineStart + kClockColumn2, ' ');
        AppendFixed(out, e.clock_s, 12, 9);
      }
      EndLine(out);
      lineStart = out->size();
      out->append(kEpochSatColumn2, ' ');
    }
    *out += e.sats[i].system;
    AppendInt(out, e.sats[i].number, 2);
  }
  if (e.hasClock && e.sats.size() <= kSatsPerEpochLine2) {
    out->resize(lineStart + kClockColumn2, ' ');
    AppendFixed(out, e.clock_s, 12, 9);
  }
  EndLine(out);
  for (const ObsSatellite& s : e.sats) {
    for (size_t k = 0; k < s.values.size(); ++k) {
      if (k > 0 && k % kValuesPerLine2 == 0) EndLine(out);
      const ObsValue& v = s.values[k];
      if (!AppendObservation(out, v.present, v.value, v.lli, v.ssi)) ++unwritable;
    }
    EndLine(out);
  }
  return unwritable;
}

void AppendObsEvent(std::string* out, int32_t version, const ObsEvent& event) {
  AppendEpochStart(out, version, event.time, event.flag, event.records.size());
  EndLine(out);
  for (const ObsHeaderRecord& r : event.records) AppendHeaderLine(out, r.content, r.label.c_str());
}

}  // namespace talverin
