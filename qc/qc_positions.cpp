#include "qc/qc_positions.h"

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>

#include "base/message_texts.h"
#include "base/native_path.h"
#include "dataset/file_system.h"
#include "dataset/wgs84_frame.h"
#include "input/ephemeris_reader.h"
#include "job/host_records.h"
#include "output/gpb_reader.h"
#include "plugin/talverin.h"
#include "position/single_point.h"

namespace talverin {
namespace {

// Satellites used and residuals exist only while the engine solves: with fewer GPS
// ephemerides than this in its store a conversion recomputes no position (it says so for
// each epoch) and the epochs keep the receiver's own (input/observation_reader.cpp).
constexpr int32_t kEphemeridesToSolve = 4;

// A module text as sent, with where in the conversion it came.
struct SentText {
  double time_s;  // the epoch's GPS time (s of week), -1 outside the epochs
  int32_t phase;  // kBeforeEpochs, kAmongEpochs or kAfterEpochs (reader texts only)
  std::string text;
};
constexpr int32_t kBeforeEpochs = 0, kAmongEpochs = 1, kAfterEpochs = 2;

// Callbacks are plain functions, so the lists in use are module-wide like the conversion.
std::vector<SentText>* gSent = nullptr;
int32_t gPhase = kBeforeEpochs;

void TALVERIN_CALL KeepMessage(double time_s, const char* text) {
  if (gSent != nullptr && text != nullptr) gSent->push_back({time_s, gPhase, text});
}

// The epoch loop reports progress from its first epoch on and once more, with the whole
// file, when it ends: that places the texts sent without an epoch time.
void TALVERIN_CALL KeepPhase(int32_t position, int32_t total) {
  gPhase = position >= total ? kAfterEpochs : kAmongEpochs;
}

// Module texts counted by catalog format (the formatted text when no catalog row produced
// it), in the order first seen: the text itself while it is alone, the catalog text with
// each printf conversion shown as "n" once there are several.
class MessageTally {
 public:
  explicit MessageTally(std::vector<std::pair<std::string, int64_t>>* out) : out_(out) {}

  void Add(const std::string& text) {
    const MessageText* row = FindMessageText(text.c_str());
    const std::string key = row != nullptr ? row->format : text;
    const auto found = index_.find(key);
    if (found == index_.end()) {
      index_[key] = out_->size();
      out_->emplace_back(text, 1);
      return;
    }
    auto& [shown, count] = (*out_)[found->second];
    if (++count != 2) return;
    shown.clear();
    for (size_t i = 0; i < key.size(); ++i) {
      if (key[i] != '%' || row == nullptr) {
        shown += key[i];
        continue;
      }
      while (i + 1 < key.size() &&
             std::strchr("diouxXeEfgGsclh.0123456789-+ #", key[i + 1]) != nullptr &&
             std::strchr("diouxXeEfgGsc", key[i + 1]) == nullptr) {
        ++i;
      }
      ++i;
      shown += "n";
    }
  }

 private:
  std::vector<std::pair<std::string, int64_t>>* out_;
  std::map<std::string, size_t> index_;
};

// The texts in the order a recomputing conversion sends them: its engine speaks while an
// epoch is solved, after the reader's texts of that epoch (which carry its time) and before
// those of later epochs and those sent after the epochs. Times that go backwards place the
// engine's texts by time.
void TallyInConversionOrder(const std::vector<SentText>& reader,
                            const std::vector<SentText>& engine,
                            std::vector<std::pair<std::string, int64_t>>* out) {
  MessageTally tally(out);
  size_t next = 0;
  for (const SentText& m : reader) {
    while (next < engine.size() &&
           (m.phase == kAfterEpochs ||
            (m.phase == kAmongEpochs && m.time_s >= 0.0 && engine[next].time_s < m.time_s))) {
      tally.Add(engine[next++].text);
    }
    tally.Add(m.text);
  }
  for (; next < engine.size(); ++next) tally.Add(engine[next].text);
}

// A folder of our own for the conversion's GPB, .sta and .epp files, removed at the end.
class ScratchDir {
 public:
  ScratchDir() {
    std::error_code ec;
    std::string parent = NativeText(std::filesystem::temp_directory_path(ec));
    if (ec) parent = "/tmp";
    std::string error;  // no folder: the conversion reports the unwritable path
    path_ = MakeUniqueFolder(parent, "talverin-qc-", &error);
  }
  ~ScratchDir() {
    if (!path_.empty()) RemoveFolder(path_);
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

bool ModuleEphemerides::Load(const std::string& ephemerisPath) {
  engine_.reset(new (std::nothrow) SinglePoint());
  return engine_ != nullptr && LoadEphemerisStore(ephemerisPath.c_str(), engine_->store()) == 0;
}

int32_t ModuleEphemerides::gpsCount() const { return engine_ ? engine_->store().gpsCount : 0; }
SinglePoint& ModuleEphemerides::engine() { return *engine_; }
EphemerisStore& ModuleEphemerides::store() { return engine_->store(); }

void EcefToLatLonHeight(const double ecef_m[3], double* lat_deg, double* lon_deg, double* h_m) {
  Wgs84Reverse(ecef_m, lat_deg, lon_deg, h_m);
}

void LatLonHeightToEcef(double lat_deg, double lon_deg, double h_m, double ecef_m[3]) {
  Wgs84Forward(lat_deg, lon_deg, h_m, ecef_m);
}

double ReportTime(WeekTracker& tracker, bool weekKnown, double tow_s) {
  if (!weekKnown) return tow_s;
  const int32_t week = tracker.WeekOf(tow_s);
  return week < 0 ? tow_s : week * 604800.0 + tow_s;
}

namespace {

// One ConvertFile run of the set into gpbPath without recomputation when the engine below
// solves (else with it, which then solves nothing); its texts go to readerTexts.
void ConvertForPositions(const std::string& bPath, const std::string& gpbPath,
                         const QcOptions& options, bool solve, std::vector<SentText>* readerTexts,
                         QcPositions* p) {
  static ConvertRequest request;  // 2.7 kB: not on the stack
  std::memset(&request, 0, sizeof request);
  request.size = kConvertRequestSize;
  request.optionsSize = kConvertOptionsSize;
  std::memcpy(request.inputPath, bPath.c_str(), bPath.size() + 1);
  std::memcpy(request.outputPath, gpbPath.c_str(), gpbPath.size() + 1);
  SetFactoryDefaults(kConvertOptionsSize, &request.options);
  request.options.ReceiverType = options.receiverType;
  request.options.RecomputePosition = solve ? 0 : 1;
  HostCallbacks callbacks;
  std::memset(&callbacks, 0, sizeof callbacks);
  callbacks.size = kHostCallbacksSize;
  callbacks.messageCallback = KeepMessage;
  callbacks.progressCallback = KeepPhase;
  gSent = readerTexts;
  gPhase = kBeforeEpochs;
  p->attempted = true;
  p->result = ConvertFile(&request, &callbacks, 0);
  gSent = nullptr;
  if (p->result != 0) {
    char text[kTextSize];
    GetErrString(text);
    p->error = text;
  }
}

// Every epoch of the GPB file, in order, through the engine (none: nothing solved); the
// solved positions as WGS84 latitude, longitude (deg) and height (m).
std::vector<GeodeticPos> SolveEpochs(GpbReader& reader, const SessionWeek& session,
                                     const EpochWindow& window, SinglePoint* engine,
                                     QcReport* report) {
  QcPositions& p = report->positions;
  WeekTracker tracker(session);
  std::vector<GeodeticPos> solved;
  static GpbReadEpoch read;
  while (reader.ReadEpoch(&read) == 1) {
    gpb_epoch_type& e = read.epoch;
    QcEpochPosition out;
    out.time_s = ReportTime(tracker, report->weekKnown, e.rcvTime);
    // The epochs the set scan keeps, as an export of the window would hold them.
    if (window.active() && (!report->weekKnown || !window.Keeps(out.time_s))) continue;
    // What a recomputing conversion does with each epoch before writing it.
    if (engine != nullptr) (void)engine->ProcessEpoch(&e, kWritePosition | kWriteClock);
    if (engine != nullptr && (e.flags & kEpochPositionValid) != 0 && std::isfinite(e.lat) &&
        std::isfinite(e.lon) && std::isfinite(e.height)) {
      out.solved = true;
      out.used = engine->usedCount();
      out.residualRms_m = engine->residualRms();
      solved.push_back(GeodeticPos{e.lat, e.lon, e.height});
      ++p.solved;
    }
    report->epochSeries.push_back(out);
    ++p.epochs;
  }
  return solved;
}

// Mean, centre and east/north/up figures of the solved positions.
void PositionFigures(const std::vector<GeodeticPos>& solved, const QcOptions& options,
                     QcReport* report) {
  QcPositions& p = report->positions;
  const double n = static_cast<double>(p.solved);
  std::vector<double> ecef(3 * solved.size());
  for (size_t i = 0; i < solved.size(); ++i) {
    LatLonHeightToEcef(solved[i].lat, solved[i].lon, solved[i].height, &ecef[3 * i]);
    for (int k = 0; k < 3; ++k) p.mean_m[k] += ecef[3 * i + k] / n;
  }
  EcefToLatLonHeight(p.mean_m, &p.meanLat_deg, &p.meanLon_deg, &p.meanHeight_m);
  p.againstReference = options.hasReference;
  const double* centre = options.hasReference ? options.reference_m : p.mean_m;
  std::memcpy(p.centre_m, centre, sizeof p.centre_m);
  EcefToLatLonHeight(p.centre_m, &p.centreLat_deg, &p.centreLon_deg, &p.centreHeight_m);
  const LocalEnu local(p.centreLat_deg, p.centreLon_deg, p.centreHeight_m);
  double sum[3] = {0, 0, 0}, sum2[3] = {0, 0, 0};
  double usedSum = 0.0, rmsSum = 0.0;
  size_t k = 0;
  for (QcEpochPosition& out : report->epochSeries) {
    if (!out.solved) continue;
    double lat, lon, h;
    EcefToLatLonHeight(&ecef[k], &lat, &lon, &h);
    local.Forward(lat, lon, h, out.enu_m);
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

}  // namespace

void ComputePositions(const std::string& bPath, const QcOptions& options,
                      const SessionWeek& session, ModuleEphemerides& eph, QcReport* report) {
  QcPositions& p = report->positions;
  ScratchDir scratch;
  if (scratch.path().empty()) {
    p.error = "no temporary folder for the conversion";
    return;
  }
  const std::string gpbPath = scratch.path() + "/qc.gpb";
  if (bPath.size() >= static_cast<size_t>(kPathSize) ||
      gpbPath.size() >= static_cast<size_t>(kPathSize)) {
    p.error = "path of 256 characters or more";
    return;
  }
  // The positions are solved once, below, by an engine that the set's ephemerides fill as
  // a conversion fills its own: the conversion writes each epoch as its engine would
  // receive it. Without enough ephemerides nothing is solved, and the recomputing
  // conversion costs nothing more and says so itself.
  const bool solve = eph.gpsCount() >= kEphemeridesToSolve;
  std::vector<SentText> readerTexts, engineTexts;
  ConvertForPositions(bPath, gpbPath, options, solve, &readerTexts, &p);
  GpbReader reader;
  if (reader.Open(gpbPath.c_str()) != 0) {
    if (p.error.empty()) p.error = reader.errorText();
    TallyInConversionOrder(readerTexts, engineTexts, &p.messages);
    return;
  }
  SinglePoint* engine = solve ? &eph.engine() : nullptr;  // none without ephemerides
  if (engine != nullptr) engine->SetMessageFunction(KeepMessage);
  gSent = &engineTexts;
  const std::vector<GeodeticPos> solved =
      SolveEpochs(reader, session, options.window, engine, report);
  gSent = nullptr;
  if (engine != nullptr) engine->SetMessageFunction(nullptr);
  TallyInConversionOrder(readerTexts, engineTexts, &p.messages);
  if (p.error.empty() && reader.errorText()[0] != '\0' && reader.epochsRead() == 0) {
    p.error = reader.errorText();
  }
  if (p.solved > 0) PositionFigures(solved, options, report);
}

}  // namespace talverin
