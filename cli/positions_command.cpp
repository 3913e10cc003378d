// `talverin positions`: one row per epoch of a GPB file as CSV (every epoch; the position
// columns empty where the epoch holds no position, so nothing is invented), or the epochs
// that hold a position as a KML or GPX track. CSV times are GPS time, KML and GPX times
// UTC as those formats define them; heights are ellipsoidal (WGS84). Written to stdout, or
// safely to the file named with -o.
#include <cstdio>
#include <filesystem>
#include <string>

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

// Where the rows go: stdout (PrintLine, which stops at a closed pipe) or a file.
class Sink {
 public:
  explicit Sink(FILE* file) : file_(file) {}
  void Line(const std::string& line) {
    if (file_ == nullptr) {
      PrintLine(line);
    } else if (std::fputs((line + "\n").c_str(), file_) < 0) {
      failed_ = true;
    }
  }
  bool failed() const { return failed_; }

 private:
  FILE* file_;
  bool failed_ = false;
};

int32_t WrittenWeek(const talverin::GpbHeaderInfo& h) {
  if (h.stamp[0] < 1 || h.stamp[0] > 12 || h.stamp[1] < 1 || h.stamp[1] > 31) return -1;
  int32_t week = -1;
  double tow_s = 0.0;
  talverin::CalendarToFullWeek(1900 + h.stamp[2], h.stamp[0], h.stamp[1], &week, &tow_s);
  return week;
}

// The opening lines: the CSV header row, or the KML or GPX preamble.
void WriteHead(Sink& sink, const std::string& format, const std::string& title,
               bool haveReference) {
  if (format == "csv") {
    sink.Line(std::string("gps_week,tow_s,gps_time,lat_deg,lon_deg,height_m") +
              (haveReference ? ",east_m,north_m,up_m" : "") + ",satellites,position_valid");
  } else if (format == "kml") {
    sink.Line("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    sink.Line("<kml xmlns=\"http://www.opengis.net/kml/2.2\">");
    sink.Line("<Document><name>" + title + "</name>");
    sink.Line(
        "<description>Epoch positions, heights above the WGS84 ellipsoid, times UTC"
        "</description>");
  } else {
    sink.Line("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    sink.Line(
        "<gpx version=\"1.1\" creator=\"talverin\" "
        "xmlns=\"http://www.topografix.com/GPX/1/1\">");
    sink.Line("<trk><name>" + title + "</name><trkseg>");
  }
}

// One epoch's CSV row (week w, -1 when unknown); the east/north/up columns when frame is
// given; the position columns empty without a position.
std::string CsvRow(const talverin::gpb_epoch_type& e, int32_t w, bool valid,
                   const talverin::EnuFrame* frame) {
  char text[512];
  std::string row = (w >= 0 ? std::to_string(w) : std::string()) + ",";
  std::snprintf(text, sizeof text, "%.3f,%s,", e.gpsTime,
                w >= 0 ? talverin::FormatGpsTime(w, e.gpsTime).c_str() : "");
  row += text;
  if (valid) {
    std::snprintf(text, sizeof text, "%.9f,%.9f,%.4f", e.lat, e.lon, static_cast<double>(e.height));
    row += text;
    if (frame != nullptr) {
      double enu[3];
      frame->Enu(e.lat, e.lon, e.height, enu);
      std::snprintf(text, sizeof text, ",%.4f,%.4f,%.4f", enu[0], enu[1], enu[2]);
      row += text;
    }
  } else {
    row += frame != nullptr ? ",,,,," : ",,";
  }
  return row + "," + std::to_string(e.nsat) + "," + (valid ? "1" : "0");
}

// One positioned epoch's KML placemark (its coordinates also appended to track) or GPX
// track point.
std::string TrackPoint(const talverin::gpb_epoch_type& e, int32_t w, bool kml, std::string* track) {
  char text[512];
  const std::string when = w >= 0 ? talverin::FormatUtcIso(w, e.gpsTime) : "";
  if (kml) {
    std::snprintf(text, sizeof text, "%.9f,%.9f,%.4f", e.lon, e.lat, static_cast<double>(e.height));
    *track += std::string(track->empty() ? "" : " ") + text;
    return "<Placemark>" +
           (when.empty() ? "" : "<TimeStamp><when>" + when + "</when></TimeStamp>") +
           "<Point><coordinates>" + text + "</coordinates></Point></Placemark>";
  }
  std::snprintf(text, sizeof text, "<trkpt lat=\"%.9f\" lon=\"%.9f\"><ele>%.4f</ele>", e.lat, e.lon,
                static_cast<double>(e.height));
  return text + (when.empty() ? "" : "<time>" + when + "</time>") + "<sat>" +
         std::to_string(e.nsat) + "</sat></trkpt>";
}

// Closes the output file of -o and puts it in place, or keeps what was written when the
// run failed. The exit status, result unless writing failed.
int FinishOutput(FILE* file, const Sink& sink, SafeOutputs* output, const std::string& path,
                 int result) {
  const bool closed = std::fclose(file) == 0;
  std::string error;
  if (sink.failed() || !closed) {
    std::fprintf(stderr, "talverin positions: cannot write %s\n", path.c_str());
    result = kExitFailed;
  }
  if (result == kExitFailed) {
    for (const std::string& kept : output->KeepPartial()) {
      std::fprintf(stderr, "talverin positions: what was written is kept as %s\n", kept.c_str());
    }
  } else if (!output->Commit(&error)) {
    std::fprintf(stderr, "talverin positions: %s\n", error.c_str());
    result = kExitFailed;
  }
  return result;
}

}  // namespace

int RunPositions(const PositionsArgs& args) {
  IgnoreBrokenPipes();
  talverin::ReferencePoint reference;
  bool haveReference = false;
  std::string error;
  if (!ResolveReference(args.reference, &reference, &haveReference, &error)) {
    std::fprintf(stderr, "talverin positions: %s\n", error.c_str());
    return kExitFailed;
  }
  talverin::GpbReader reader;
  if (reader.Open(args.gpb.c_str()) != 0) {
    std::fprintf(stderr, "talverin positions: %s\n", reader.errorText());
    return kExitFailed;
  }
  char epp[talverin::kPathSize * 2];
  std::snprintf(epp, sizeof epp, "%s", args.gpb.c_str());
  if (talverin::ChangeExtension(epp, sizeof epp, ".epp") != 0) epp[0] = '\0';
  const talverin::SessionWeek week =
      talverin::ResolveGpbWeek(args.gpb, epp, WrittenWeek(reader.header()), args.gpsWeek);
  if (!week.note.empty()) std::fprintf(stderr, "talverin positions: %s\n", week.note.c_str());

  SafeOutputs output;
  FILE* file = nullptr;
  if (!args.output.empty()) {
    if (!output.Prepare({args.output}, {args.gpb, epp}, &error) ||
        (file = std::fopen(output.TemporaryPath(0).c_str(), "w")) == nullptr) {
      std::fprintf(stderr, "talverin positions: %s\n",
                   error.empty() ? ("cannot write " + args.output).c_str() : error.c_str());
      return kExitFailed;
    }
  }
  Sink sink(file);
  const talverin::EnuFrame frame(reference);
  WriteHead(sink, args.format,
            talverin::EscapeMarkup(std::filesystem::path(args.gpb).filename().string()),
            haveReference);
  talverin::WeekTracker weeks(week);
  static talverin::GpbReadEpoch read;
  int32_t status;
  long epochs = 0;
  long positions = 0;
  std::string track;  // KML line string coordinates
  while ((status = reader.ReadEpoch(&read)) == 1) {
    const talverin::gpb_epoch_type& e = read.epoch;
    ++epochs;
    const bool valid = (e.flags & talverin::kEpochPositionValid) != 0;
    positions += valid ? 1 : 0;
    const int32_t w = weeks.WeekOf(e.gpsTime);
    if (args.format == "csv") {
      sink.Line(CsvRow(e, w, valid, haveReference ? &frame : nullptr));
    } else if (valid) {
      sink.Line(TrackPoint(e, w, args.format == "kml", &track));
    }
  }
  if (args.format == "kml") {
    sink.Line("<Placemark><name>track</name><LineString><coordinates>" + track +
              "</coordinates></LineString></Placemark>");
    sink.Line("</Document></kml>");
  } else if (args.format == "gpx") {
    sink.Line("</trkseg></trk></gpx>");
  }

  int result = kExitOk;
  if (status < 0) {
    std::fprintf(stderr, "talverin positions: %s (the %ld epochs before it are given)\n",
                 reader.errorText(), epochs);
    result = kExitFailed;
  } else if (positions == 0) {
    std::fprintf(stderr, "talverin positions: no epoch of %s holds a position (%ld epochs)\n",
                 args.gpb.c_str(), epochs);
    result = kExitIncomplete;
  }
  return file != nullptr ? FinishOutput(file, sink, &output, args.output, result) : result;
}

}  // namespace talverin_cli
