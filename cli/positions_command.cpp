// `talverin positions`: one row per epoch of a GPB file as CSV (every epoch; the position
// columns empty where the epoch holds no position, so nothing is invented), or the epochs
// that hold a position as a KML or GPX track. CSV times are GPS time, KML and GPX times
// UTC as those formats define them; heights are ellipsoidal (WGS84). Written to stdout, or
// safely to the file named with -o.
#include <cstdio>
#include <filesystem>
#include <string>

#include "base/native_path.h"
#include "cli/batch.h"
#include "cli/commands.h"
#include "cli/safe_output.h"
#include "dataset/gps_calendar.h"
#include "dataset/markup_text.h"
#include "dataset/position_stats.h"
#include "dataset/session_week.h"
#include "job/path_names.h"
#include "output/gpb_reader.h"

namespace talverin_cli {
namespace {

int32_t WrittenWeek(const talverin::GpbHeaderInfo& h) {
  if (h.stamp[0] < 1 || h.stamp[0] > 12 || h.stamp[1] < 1 || h.stamp[1] > 31) return -1;
  int32_t week = -1;
  double tow_s = 0.0;
  talverin::CalendarToFullWeek(1900 + h.stamp[2], h.stamp[0], h.stamp[1], &week, &tow_s);
  return week;
}

// The opening lines: the CSV header row, or the KML or GPX preamble.
void AddHead(const std::string& format, const std::string& title, bool haveReference,
             std::vector<std::string>* lines) {
  if (format == "csv") {
    lines->push_back(std::string("gps_week,tow_s,gps_time,lat_deg,lon_deg,height_m") +
                     (haveReference ? ",east_m,north_m,up_m" : "") + ",satellites,position_valid");
  } else if (format == "kml") {
    lines->push_back("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    lines->push_back("<kml xmlns=\"http://www.opengis.net/kml/2.2\">");
    lines->push_back("<Document><name>" + title + "</name>");
    lines->push_back(
        "<description>Epoch positions, heights above the WGS84 ellipsoid, times UTC"
        "</description>");
  } else {
    lines->push_back("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    lines->push_back(
        "<gpx version=\"1.1\" creator=\"talverin\" "
        "xmlns=\"http://www.topografix.com/GPX/1/1\">");
    lines->push_back("<trk><name>" + title + "</name><trkseg>");
  }
}

// One epoch's CSV row; the east/north/up columns with a reference; the position columns
// empty without a position.
std::string CsvRow(const PositionRow& e, bool haveReference) {
  char text[512];
  const int32_t w = e.week;
  std::string row = (w >= 0 ? std::to_string(w) : std::string()) + ",";
  std::snprintf(text, sizeof text, "%.3f,%s,", e.tow_s,
                w >= 0 ? talverin::FormatGpsTime(w, e.tow_s).c_str() : "");
  row += text;
  if (e.valid) {
    std::snprintf(text, sizeof text, "%.9f,%.9f,%.4f", e.lat_deg, e.lon_deg, e.height_m);
    row += text;
    if (haveReference) {
      std::snprintf(text, sizeof text, ",%.4f,%.4f,%.4f", e.enu_m[0], e.enu_m[1], e.enu_m[2]);
      row += text;
    }
  } else {
    row += haveReference ? ",,,,," : ",,";
  }
  return row + "," + std::to_string(e.satellites) + "," + (e.valid ? "1" : "0");
}

// One positioned epoch's KML placemark (its coordinates also appended to track) or GPX
// track point.
std::string TrackPoint(const PositionRow& e, bool kml, std::string* track) {
  char text[512];
  const std::string when = e.week >= 0 ? talverin::FormatUtcIso(e.week, e.tow_s) : "";
  if (kml) {
    std::snprintf(text, sizeof text, "%.9f,%.9f,%.4f", e.lon_deg, e.lat_deg, e.height_m);
    *track += std::string(track->empty() ? "" : " ") + text;
    return "<Placemark>" +
           (when.empty() ? "" : "<TimeStamp><when>" + when + "</when></TimeStamp>") +
           "<Point><coordinates>" + text + "</coordinates></Point></Placemark>";
  }
  std::snprintf(text, sizeof text, "<trkpt lat=\"%.9f\" lon=\"%.9f\"><ele>%.4f</ele>", e.lat_deg,
                e.lon_deg, e.height_m);
  return text + (when.empty() ? "" : "<time>" + when + "</time>") + "<sat>" +
         std::to_string(e.satellites) + "</sat></trkpt>";
}

// The lines written to the file of -o, then the result's error; the file is put in place
// unless the run failed (what was written is kept apart then). The exit status, the
// result's unless writing failed.
int WriteOutput(const std::vector<std::string>& lines, const PositionsArgs& args,
                const PositionsResult& result) {
  int status = result.status;
  char epp[talverin::kPathSize * 2];
  std::snprintf(epp, sizeof epp, "%s", args.gpb.c_str());
  if (talverin::ChangeExtension(epp, sizeof epp, ".epp") != 0) epp[0] = '\0';
  SafeOutputs output;
  std::string error;
  FILE* file = nullptr;
  if (!output.Prepare({args.output}, {args.gpb, epp}, &error) ||
      (file = std::fopen(output.TemporaryPath(0).c_str(), "wb")) == nullptr) {
    std::fprintf(stderr, "talverin positions: %s\n",
                 error.empty() ? ("cannot write " + args.output).c_str() : error.c_str());
    return kExitFailed;
  }
  bool written = true;
  for (const std::string& line : lines) {
    written = written && std::fputs((line + "\n").c_str(), file) >= 0;
  }
  if (!result.error.empty()) std::fprintf(stderr, "talverin positions: %s\n", result.error.c_str());
  if (!(std::fclose(file) == 0 && written)) {
    std::fprintf(stderr, "talverin positions: cannot write %s\n", args.output.c_str());
    status = kExitFailed;
  }
  if (status == kExitFailed) {
    for (const std::string& kept : output.KeepPartial()) {
      std::fprintf(stderr, "talverin positions: what was written is kept as %s\n", kept.c_str());
    }
  } else if (!output.Commit(&error)) {
    std::fprintf(stderr, "talverin positions: %s\n", error.c_str());
    status = kExitFailed;
  }
  return status;
}

// The epochs of an opened GPB file as rows; false with the reader's text at a damaged record.
bool ReadRows(talverin::GpbReader* reader, const talverin::SessionWeek& week,
              const talverin::EnuFrame* frame, std::vector<PositionRow>* rows) {
  talverin::WeekTracker weeks(week);
  static talverin::GpbReadEpoch read;
  int32_t status;
  while ((status = reader->ReadEpoch(&read)) == 1) {
    const talverin::gpb_epoch_type& e = read.epoch;
    PositionRow row;
    row.week = weeks.WeekOf(e.gpsTime);
    row.tow_s = e.gpsTime;
    row.valid = (e.flags & talverin::kEpochPositionValid) != 0;
    row.lat_deg = e.lat;
    row.lon_deg = e.lon;
    row.height_m = static_cast<double>(e.height);
    if (row.valid && frame != nullptr) frame->Enu(e.lat, e.lon, e.height, row.enu_m);
    row.satellites = e.nsat;
    rows->push_back(row);
  }
  return status == 0;
}

}  // namespace

PositionsResult Positions(const PositionsArgs& args) {
  PositionsResult result;
  result.status = kExitFailed;
  talverin::ReferencePoint reference;
  if (!ResolveReference(args.reference, &reference, &result.haveReference, &result.error)) {
    return result;
  }
  talverin::GpbReader reader;
  if (reader.Open(args.gpb.c_str()) != 0) {
    result.error = reader.errorText();
    return result;
  }
  result.opened = true;
  char epp[talverin::kPathSize * 2];
  std::snprintf(epp, sizeof epp, "%s", args.gpb.c_str());
  if (talverin::ChangeExtension(epp, sizeof epp, ".epp") != 0) epp[0] = '\0';
  const talverin::SessionWeek week =
      talverin::ResolveGpbWeek(args.gpb, epp, WrittenWeek(reader.header()), args.gpsWeek);
  result.weekNote = week.note;
  if (!week.refusal.empty()) {
    result.opened = false;
    result.error = args.gpb + ": " + week.refusal;
    return result;
  }
  const talverin::EnuFrame frame(reference);
  long positions = 0;
  if (!ReadRows(&reader, week, result.haveReference ? &frame : nullptr, &result.rows)) {
    result.error = std::string(reader.errorText()) + " (the " + std::to_string(result.rows.size()) +
                   " epochs before it are given)";
    return result;
  }
  for (const PositionRow& row : result.rows) positions += row.valid ? 1 : 0;
  result.status = positions > 0 ? kExitOk : kExitIncomplete;
  if (positions == 0) {
    result.error = "no epoch of " + args.gpb + " holds a position (" +
                   std::to_string(result.rows.size()) + " epochs)";
  }
  return result;
}

std::vector<std::string> PositionsLines(const PositionsResult& result, const PositionsArgs& args) {
  std::vector<std::string> lines;
  AddHead(args.format, talverin::EscapeMarkup(talverin::NativeFileName(args.gpb)),
          result.haveReference, &lines);
  std::string track;  // KML line string coordinates
  for (const PositionRow& row : result.rows) {
    if (args.format == "csv") {
      lines.push_back(CsvRow(row, result.haveReference));
    } else if (row.valid) {
      lines.push_back(TrackPoint(row, args.format == "kml", &track));
    }
  }
  if (args.format == "kml") {
    lines.push_back("<Placemark><name>track</name><LineString><coordinates>" + track +
                    "</coordinates></LineString></Placemark>");
    lines.push_back("</Document></kml>");
  } else if (args.format == "gpx") {
    lines.push_back("</trkseg></trk></gpx>");
  }
  return lines;
}

int RunPositions(const PositionsArgs& args) {
  IgnoreBrokenPipes();
  const PositionsResult result = Positions(args);
  if (!result.opened) {
    std::fprintf(stderr, "talverin positions: %s\n", result.error.c_str());
    return kExitFailed;
  }
  if (!result.weekNote.empty()) {
    std::fprintf(stderr, "talverin positions: %s\n", result.weekNote.c_str());
  }
  const std::vector<std::string> lines = PositionsLines(result, args);
  if (!args.output.empty()) return WriteOutput(lines, args, result);
  for (const std::string& line : lines) PrintLine(line);
  if (!result.error.empty()) std::fprintf(stderr, "talverin positions: %s\n", result.error.c_str());
  return result.status;
}

}  // namespace talverin_cli
