#include "qc/qc_positions.h"

#include <GeographicLib/Geocentric.hpp>
#include <GeographicLib/LocalCartesian.hpp>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "base/message_texts.h"
#include "input/ephemeris_reader.h"
#include "output/gpb_reader.h"
#include "plugin/conversion_job.h"
#include "plugin/talverin.h"
#include "position/single_point.h"

namespace talverin {
namespace {

// A replayed solution further than this from the converted one is counted as a mismatch.
// The engine evaluates the troposphere at its a-priori position, which the replay takes
// from the converted solution instead of the receiver's header: that moves weak-geometry
// epochs by up to about 2 cm (measured on a real day), a dropped satellite by metres.
constexpr double kReplayTolerance_m = 0.05;

// Module texts of the conversion, counted by catalog format (the formatted text when no
// catalog row produced it), in the order first seen: the text itself while it is alone. Callbacks are plain functions, so the
// tally in use is module-wide like the conversion itself.
std::vector<std::pair<std::string, int64_t>>* gTally = nullptr;
std::map<std::string, size_t>* gTallyIndex = nullptr;

void TALVERIN_CALL CountMessage(double, const char* text) {
  if (gTally == nullptr || text == nullptr) return;
  const MessageText* row = FindMessageText(text);
  const std::string key = row != nullptr ? row->format : text;
  const auto found = gTallyIndex->find(key);
  if (found == gTallyIndex->end()) {
    // Shown as received while it is the only one of its kind.
    (*gTallyIndex)[key] = gTally->size();
    gTally->emplace_back(text, 1);
    return;
  }
  auto& [shown, count] = (*gTally)[found->second];
  if (++count == 2) {
    // Several: the catalog text with each printf conversion shown as "n".
    shown.clear();
    for (size_t i = 0; i < key.size(); ++i) {
      if (key[i] != '%' || row == nullptr) {
        shown += key[i];
        continue;
      }
      while (i + 1 < key.size() && std::strchr("diouxXeEfgGsclh.0123456789-+ #", key[i + 1]) != nullptr &&
             std::strchr("diouxXeEfgGsc", key[i + 1]) == nullptr) {
        ++i;
      }
      ++i;
      shown += "n";
    }
  }
}

// A folder of our own for the conversion's GPB, .sta and .epp files, removed at the end.
class ScratchDir {
 public:
  ScratchDir() {
    std::error_code ec;
    std::string pattern = (std::filesystem::temp_directory_path(ec) / "talverin-qc-XXXXXX").string();
    if (ec) pattern = "/tmp/talverin-qc-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

ModuleEphemerides::ModuleEphemerides() = default;
ModuleEphemerides::~ModuleEphemerides() = default;

bool ModuleEphemerides::Load(const std::string& ephemerisPath, int32_t receiverType) {
  job_ = std::make_unique<ConversionJob>();
  if (!job_->constructed()) return false;
  SetFactoryDefaults(kConvertOptionsSize, &job_->options);
  job_->options.RecomputePosition = 1;
  job_->receiverType = receiverType;
  // The reader writes the .epp records as it loads; a scratch stream takes them.
  job_->eppFile = std::tmpfile();
  job_->ephemerisFile = std::fopen(ephemerisPath.c_str(), "rb");
  if (job_->eppFile == nullptr || job_->ephemerisFile == nullptr) return false;
  ReadEphemerisFile(*job_);
  return true;
}

int32_t ModuleEphemerides::gpsCount() const {
  return job_ && job_->engine != nullptr ? job_->engine->store().gpsCount : 0;
}
SinglePoint& ModuleEphemerides::engine() { return *job_->engine; }
EphemerisStore& ModuleEphemerides::store() { return job_->engine->store(); }

void EcefToLatLonHeight(const double ecef_m[3], double* lat_deg, double* lon_deg, double* h_m) {
  GeographicLib::Geocentric::WGS84().Reverse(ecef_m[0], ecef_m[1], ecef_m[2], *lat_deg,
                                             *lon_deg, *h_m);
}

void LatLonHeightToEcef(double lat_deg, double lon_deg, double h_m, double ecef_m[3]) {
  GeographicLib::Geocentric::WGS84().Forward(lat_deg, lon_deg, h_m, ecef_m[0], ecef_m[1],
                                             ecef_m[2]);
}

double ReportTime(WeekTracker& tracker, bool weekKnown, double tow_s) {
  if (!weekKnown) return tow_s;
  const int32_t week = tracker.WeekOf(tow_s);
  return week < 0 ? tow_s : week * 604800.0 + tow_s;
}

void ComputePositions(const std::string& bPath, const QcOptions& options,
                      const SessionWeek& session, ModuleEphemerides& eph, QcReport* report) {
  QcPositions& p = report->positions;
  ScratchDir scratch;
  if (scratch.path().empty()) {
    p.error = "no temporary folder for the conversion";
    return;
  }
  const std::string gpbPath = scratch.path() + "/qc.gpb";
  static ConvertRequest request;  // 2.7 kB: not on the stack
  std::memset(&request, 0, sizeof request);
  request.size = kConvertRequestSize;
  request.optionsSize = kConvertOptionsSize;
  if (bPath.size() >= sizeof request.inputPath || gpbPath.size() >= sizeof request.outputPath) {
    p.error = "path of 256 characters or more";
    return;
  }
  std::memcpy(request.inputPath, bPath.c_str(), bPath.size() + 1);
  std::memcpy(request.outputPath, gpbPath.c_str(), gpbPath.size() + 1);
  SetFactoryDefaults(kConvertOptionsSize, &request.options);
  request.options.ReceiverType = options.receiverType;
  request.options.RecomputePosition = 1;
  HostCallbacks callbacks;
  std::memset(&callbacks, 0, sizeof callbacks);
  callbacks.size = kHostCallbacksSize;
  callbacks.messageCallback = CountMessage;
  std::map<std::string, size_t> index;
  gTally = &p.messages;
  gTallyIndex = &index;
  p.attempted = true;
  p.result = ConvertFile(&request, &callbacks, 0);
  gTally = nullptr;
  gTallyIndex = nullptr;
  if (p.result != 0) {
    char text[kTextSize];
    GetErrString(text);
    p.error = text;
  }

  GpbReader reader;
  if (reader.Open(gpbPath.c_str()) != 0) {
    if (p.error.empty()) p.error = reader.errorText();
    return;
  }
  WeekTracker tracker(session);
  const bool replay = eph.gpsCount() > 0;
  std::vector<double> ecef;  // 3 per solved epoch
  static GpbReadEpoch read;
  while (reader.ReadEpoch(&read) == 1) {
    gpb_epoch_type& e = read.epoch;
    QcEpochPosition out;
    out.time_s = ReportTime(tracker, report->weekKnown, e.rcvTime);
    out.solved = (e.flags & kEpochPositionValid) != 0 && std::isfinite(e.lat) &&
                 std::isfinite(e.lon) && std::isfinite(e.height);
    double xyz[3] = {0.0, 0.0, 0.0};
    if (out.solved) {
      LatLonHeightToEcef(e.lat, e.lon, e.height, xyz);
      ecef.insert(ecef.end(), xyz, xyz + 3);
      ++p.solved;
    }
    if (replay && out.solved) {
      gpb_epoch_type copy = e;
      if (eph.engine().ProcessEpoch(&copy, 0) == 0) {
        out.used = eph.engine().usedCount();
        out.residualRms_m = eph.engine().residualRms();
        const GeodeticPos& g = eph.engine().geodetic();
        double again[3];
        LatLonHeightToEcef(g.lat, g.lon, g.height, again);
        const double d = std::hypot(again[0] - xyz[0], again[1] - xyz[1], again[2] - xyz[2]);
        // The GPB height is a float: compare at its resolution as well.
        if (d > kReplayTolerance_m + std::fabs(e.height) * 1e-7) ++p.replayMismatches;
      } else {
        ++p.replayMismatches;
      }
    }
    report->epochSeries.push_back(out);
    ++p.epochs;
  }
  if (p.error.empty() && reader.errorText()[0] != '\0' && reader.epochsRead() == 0) {
    p.error = reader.errorText();
  }
  if (p.solved == 0) return;

  const double n = static_cast<double>(p.solved);
  for (size_t i = 0; i < ecef.size(); i += 3) {
    for (int k = 0; k < 3; ++k) p.mean_m[k] += ecef[i + k] / n;
  }
  EcefToLatLonHeight(p.mean_m, &p.meanLat_deg, &p.meanLon_deg, &p.meanHeight_m);
  p.againstReference = options.hasReference;
  const double* centre = options.hasReference ? options.reference_m : p.mean_m;
  std::memcpy(p.centre_m, centre, sizeof p.centre_m);
  EcefToLatLonHeight(p.centre_m, &p.centreLat_deg, &p.centreLon_deg, &p.centreHeight_m);
  const GeographicLib::LocalCartesian local(p.centreLat_deg, p.centreLon_deg, p.centreHeight_m,
                                            GeographicLib::Geocentric::WGS84());
  double sum[3] = {0, 0, 0}, sum2[3] = {0, 0, 0};
  double usedSum = 0.0, rmsSum = 0.0;
  size_t k = 0;
  for (QcEpochPosition& out : report->epochSeries) {
    if (!out.solved) continue;
    double lat, lon, h;
    EcefToLatLonHeight(&ecef[k], &lat, &lon, &h);
    local.Forward(lat, lon, h, out.enu_m[0], out.enu_m[1], out.enu_m[2]);
    k += 3;
    for (int i = 0; i < 3; ++i) {
      sum[i] += out.enu_m[i];
      sum2[i] += out.enu_m[i] * out.enu_m[i];
    }
    usedSum += out.used;
    rmsSum += out.residualRms_m;
  }
  for (int i = 0; i < 3; ++i) {
    p.meanEnu_m[i] = sum[i] / n;
    p.rmsEnu_m[i] = std::sqrt(sum2[i] / n);
    p.sigmaEnu_m[i] = std::sqrt(std::max(0.0, sum2[i] / n - p.meanEnu_m[i] * p.meanEnu_m[i]));
  }
  p.rmsHorizontal_m = std::hypot(p.rmsEnu_m[0], p.rmsEnu_m[1]);
  p.rms3d_m = std::sqrt(p.rmsHorizontal_m * p.rmsHorizontal_m + p.rmsEnu_m[2] * p.rmsEnu_m[2]);
  p.meanUsed = usedSum / n;
  p.meanResidualRms_m = rmsSum / n;
}

}  // namespace talverin
