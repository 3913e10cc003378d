#include "bench/bench_sets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "dataset/byte_builder.h"
#include "dataset/ephemeris_file_writer.h"
#include "dataset/observation_file_writer.h"
#include "output/gpb_reader.h"
#include "rinex/rinex_import.h"
#include "rinex/rinex_nav_reader.h"
#include "testkit/range_simulator.h"

namespace talverin {
namespace bench {
namespace {

constexpr double kC_mps = 299792458.0;
constexpr double kPi = 3.141592653589793;
constexpr double kL1Wavelength_m = kC_mps / 1575.42e6;
constexpr double kL2Wavelength_m = kC_mps / 1227.60e6;

// The BAHR antenna reference point (ITRF2014 propagated to 2004-06-10, WGS84 degrees and
// ellipsoidal height) and the GPS week of the recording.
constexpr double kBahrLat_deg = 26.20914118;
constexpr double kBahrLon_deg = 50.60814563;
constexpr double kBahrHeight_m = -13.957;
constexpr int32_t kBahrFullWeek = 1274;

// The receiver clock: the BAHR offset (+0.373 ms) with a slow drift.
constexpr double kClockStart_m = 111822.0;
constexpr double kClockDrift_mps = 0.02;
// The receiver's own navigation solution in the epoch headers is off by this much, so that
// a recomputed position can be told from a copied one.
constexpr double kHeaderOffset_m[3] = {4.0, -6.0, 9.0};
constexpr double kHeaderClockOffset_m = 15.0;

constexpr double kSolutionMask_deg = 10.0;
constexpr int32_t kMaxGpsPrnCount = 32;
constexpr int kChannelRecordSize = 97;        // dual frequency receiver
constexpr double kL2CodeBias_m = 0.35;        // L2 range minus C/A range, a fixed value
constexpr double kDopplerFieldUnit = 0.0001;  // Hz per unit of the file's Doppler field
// Broadcast records are selected within 4 h of their key, one hour before toe.
constexpr double kKeyBeforeToe_s = 3600.0;
constexpr double kSelectionReach_s = 14400.0;

// BAHR antenna reference point, ITRF2014 propagated to 2004-06-10 (samples/bahr-2004-162).
constexpr double kBahrArp_m[3] = {3633910.5918, 4425277.7039, 2799862.8556};
// A recomputed position farther than this from the known antenna is a fault, not noise.
constexpr double kRealGrossError_m = 100.0;

// WGS84 for the independent conversion of GPB positions back to ECEF.
constexpr double kWgs84A_m = 6378137.0;
constexpr double kWgs84F = 1.0 / 298.257223563;

// The E record keeps some fields as float (angles in semicircles): the simulation uses the
// values the reader will hold, so that the truth is exact to the file's precision.
double AsFloat(double v) { return static_cast<double>(static_cast<float>(v)); }
double AsFloatSemicircles(double rad) { return AsFloat(rad / kPi) * kPi; }

GpsEph AsStored(const GpsEph& x) {
  GpsEph r = x;
  r.tgd = AsFloat(x.tgd);
  r.af2 = AsFloat(x.af2);
  r.af1 = AsFloat(x.af1);
  r.af0 = AsFloat(x.af0);
  r.deltaN = AsFloatSemicircles(x.deltaN);
  r.m0 = x.m0 / kPi * kPi;
  r.omega0 = x.omega0 / kPi * kPi;
  r.omega = x.omega / kPi * kPi;
  r.i0 = x.i0 / kPi * kPi;
  r.cic = AsFloat(x.cic);
  r.crc = AsFloat(x.crc);
  r.cis = AsFloat(x.cis);
  r.crs = AsFloat(x.crs);
  r.cuc = AsFloat(x.cuc);
  r.cus = AsFloat(x.cus);
  r.omegaDot = AsFloatSemicircles(x.omegaDot);
  r.iDot = AsFloatSemicircles(x.iDot);
  return r;
}

// The record a receiver at time t (s of week) would use for prn: the nearest key.
const GpsEph* SelectRecord(const std::vector<GpsEph>& records, int32_t prn, double t_s) {
  const GpsEph* best = nullptr;
  double bestDistance_s = kSelectionReach_s;
  for (const GpsEph& r : records) {
    if (r.prn != prn) continue;
    const double d_s = std::fabs(t_s - (r.toe - kKeyBeforeToe_s));
    if (d_s < bestDistance_s) {
      bestDistance_s = d_s;
      best = &r;
    }
  }
  return best;
}

void GeodeticToEcef(double lat_deg, double lon_deg, double h_m, double out_m[3]) {
  const double e2 = kWgs84F * (2.0 - kWgs84F);
  const double phi = lat_deg * kPi / 180.0;
  const double lambda = lon_deg * kPi / 180.0;
  const double n = kWgs84A_m / std::sqrt(1.0 - e2 * std::sin(phi) * std::sin(phi));
  out_m[0] = (n + h_m) * std::cos(phi) * std::cos(lambda);
  out_m[1] = (n + h_m) * std::cos(phi) * std::sin(lambda);
  out_m[2] = (n * (1.0 - e2) + h_m) * std::sin(phi);
}

double Distance(const double a[3], const double b[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

struct Seen {
  SimulatedRange range;
  const GpsEph* record;
};

bool WriteBytes(FILE* file, const std::vector<uint8_t>& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  const size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<long>(mid), values.end());
  return values[mid];
}

}  // namespace

std::vector<GpsEph> DayConstellation(const std::vector<GpsEph>& real, double dayStart_s) {
  constexpr double kDay_s = 86400.0;
  constexpr double kReissue_s = 7200.0;
  constexpr double kGm_m3ps2 = 3.986005e14;  // IS-GPS-200
  const double middle_s = dayStart_s + kDay_s / 2.0;
  std::vector<const GpsEph*> base(kMaxGpsPrnCount + 1, nullptr);
  std::vector<int32_t> present;
  for (int32_t prn = 1; prn <= kMaxGpsPrnCount; ++prn) {
    for (const GpsEph& r : real) {
      if (r.prn != prn) continue;
      if (base[prn] == nullptr ||
          std::fabs(r.toe - middle_s) < std::fabs(base[prn]->toe - middle_s)) {
        base[prn] = &r;
      }
    }
    if (base[prn] != nullptr) present.push_back(prn);
  }
  std::vector<GpsEph> out;
  if (present.empty()) return out;
  int32_t borrowed = 0;
  for (int32_t prn = 1; prn <= kMaxGpsPrnCount; ++prn) {
    GpsEph orbit;
    if (base[prn] != nullptr) {
      orbit = *base[prn];
    } else {
      // One more satellite in each of four planes (2004's constellation had 28 in six
      // planes): an eighth of a revolution ahead of a plane member.
      static constexpr int32_t kDonors[] = {8, 5, 10, 1};
      const int32_t donor = kDonors[borrowed % 4];
      orbit = *base[base[donor] != nullptr ? donor : present[0]];
      ++borrowed;
      orbit.prn = prn;
      orbit.m0 += kPi / 4.0;
      orbit.af0 = 1.0e-5 * (prn % 7) - 2.0e-5;
    }
    const double a_m = orbit.rootA * orbit.rootA;
    const double n_radps = std::sqrt(kGm_m3ps2 / (a_m * a_m * a_m)) + orbit.deltaN;
    for (double toe_s = dayStart_s; toe_s <= dayStart_s + kDay_s; toe_s += kReissue_s) {
      GpsEph r = orbit;
      const double dt_s = toe_s - orbit.toe;
      const double dc_s = toe_s - orbit.toc;
      r.toe = static_cast<int32_t>(toe_s);
      r.toc = static_cast<int32_t>(toe_s);
      r.tow = static_cast<int32_t>(toe_s) - 7200;
      r.m0 = std::remainder(orbit.m0 + n_radps * dt_s, 2.0 * kPi);
      r.omega0 = std::remainder(orbit.omega0 + orbit.omegaDot * dt_s, 2.0 * kPi);
      r.i0 = orbit.i0 + orbit.iDot * dt_s;
      r.af0 = orbit.af0 + orbit.af1 * dc_s + orbit.af2 * dc_s * dc_s;
      r.af1 = orbit.af1 + 2.0 * orbit.af2 * dc_s;
      r.iode = static_cast<int32_t>((orbit.iode + static_cast<int32_t>(toe_s / kReissue_s)) % 256);
      r.iodc = r.iode;
      out.push_back(r);
    }
  }
  return out;
}

std::vector<GpsEph> LoadNavigation(const std::string& path, std::string* why) {
  std::vector<GpsEph> records;
  RinexNavFile file;
  char error[kTextSize] = "";
  if (ReadRinexNav(path.c_str(), &file, error) != 0) {
    *why = "cannot read navigation file " + std::string(error);
    return records;
  }
  for (const RinexNavRecord& record : file.records) {
    records.push_back(record.eph);
    records.back().week %= 1024;  // a receiver download keeps the week modulo 1024
  }
  if (records.empty()) *why = "no GPS records in navigation file " + path;
  return records;
}

std::string FindBahrNavigation() {
  const char* env = std::getenv("TALVERIN_BENCH_NAV");
  if (env != nullptr && env[0] != '\0') return env;
  const std::string source = TALVERIN_SOURCE_DIR;
  const std::string candidates[] = {source + "/samples/bahr-2004-162/bahr1620.04n",
                                    source + "/../shared/data/bahr-2004-162/bahr1620.04n",
                                    "/work/shared/data/bahr-2004-162/bahr1620.04n"};
  for (const std::string& path : candidates) {
    std::error_code ignored;
    if (std::filesystem::exists(path, ignored)) return path;
  }
  return candidates[1];
}

bool MakeDownloadSet(const std::string& dir, const SetShape& shape,
                     const std::vector<GpsEph>& ephemerides, DownloadSet* out, std::string* why) {
  DownloadSet set;
  set.shape = shape;
  const std::string stem = "BNCHA04.162";
  set.observationPath = dir + "/B" + stem;
  const std::string ephemerisPath = dir + "/E" + stem;

  const std::vector<GpsEph> records =
      shape.constellation ? DayConstellation(ephemerides, shape.start_s) : ephemerides;
  std::vector<GpsEph> stored;
  stored.reserve(records.size());
  EphemerisFileWriter ephWriter;
  for (const GpsEph& eph : records) {
    ephWriter.AddGps(eph);
    stored.push_back(AsStored(eph));
  }
  if (!ephWriter.WriteTo(ephemerisPath)) {
    *why = "cannot write " + ephemerisPath;
    return false;
  }

  RangeSimulator sim(kBahrLat_deg, kBahrLon_deg, kBahrHeight_m, kBahrFullWeek);
  for (int k = 0; k < 3; ++k) {
    set.truth_m[k] = sim.receiver()[k];
    set.headerOffset_m[k] = kHeaderOffset_m[k];
  }

  FILE* file = std::fopen(set.observationPath.c_str(), "wb");
  if (file == nullptr) {
    *why = "cannot create " + set.observationPath;
    return false;
  }
  ObsFile header;
  header.model = "Z-XII3";
  header.recordSize = kChannelRecordSize;
  bool ok = WriteBytes(file, ObservationHeaderBytes(header));
  set.expectedGpbBytes = 512;
  set.minSeen = 1 << 30;

  double previousRange_m[kMaxGpsPrnCount + 1] = {};
  bool previousSeen[kMaxGpsPrnCount + 1] = {};
  int64_t satellites = 0;
  int64_t aboveMask = 0;
  std::vector<Seen> seen;
  seen.reserve(kMaxGpsPrnCount);
  for (int32_t k = 0; k < shape.epochs && ok; ++k) {
    const double t_s = shape.start_s + k * shape.interval_s;
    const double clock_m = kClockStart_m + kClockDrift_mps * (k * shape.interval_s);
    seen.clear();
    for (int32_t prn = 1; prn <= kMaxGpsPrnCount; ++prn) {
      const GpsEph* record = SelectRecord(stored, prn, t_s);
      SimulatedRange range;
      if (record == nullptr || !sim.Observe(*record, t_s, clock_m, &range)) continue;
      if (range.elevation_rad < 0.0) continue;
      seen.push_back({range, record});
    }
    std::sort(seen.begin(), seen.end(), [](const Seen& a, const Seen& b) {
      return a.range.elevation_rad > b.range.elevation_rad;
    });
    size_t keep = 0;
    while (keep < seen.size() && static_cast<int32_t>(keep) < shape.maxSatellites &&
           (seen[keep].range.elevation_rad * 180.0 / kPi >= shape.trackFrom_deg ||
            static_cast<int32_t>(keep) < shape.minSatellites)) {
      ++keep;
    }
    seen.resize(keep);
    std::sort(seen.begin(), seen.end(),
              [](const Seen& a, const Seen& b) { return a.range.prn < b.range.prn; });

    ObsEpoch epoch;
    epoch.site = "BNCH";
    epoch.time_s = t_s + clock_m / kC_mps;
    epoch.x_m = set.truth_m[0] + kHeaderOffset_m[0];
    epoch.y_m = set.truth_m[1] + kHeaderOffset_m[1];
    epoch.z_m = set.truth_m[2] + kHeaderOffset_m[2];
    epoch.clock_m = clock_m + kHeaderClockOffset_m;
    epoch.countByte = static_cast<uint8_t>(seen.size());
    ok = WriteBytes(file, EpochHeaderBytes(epoch));

    bool nowSeen[kMaxGpsPrnCount + 1] = {};
    for (const Seen& s : seen) {
      const int32_t prn = s.range.prn;
      double rate_mps = 0.0;
      if (previousSeen[prn]) {
        rate_mps = (s.range.range_m - previousRange_m[prn]) / shape.interval_s;
      } else {
        SimulatedRange before;
        const double back_s = t_s - shape.interval_s;
        if (sim.Observe(*s.record, back_s, clock_m - kClockDrift_mps * shape.interval_s, &before)) {
          rate_mps = (s.range.range_m - before.range_m) / shape.interval_s;
        }
      }
      previousRange_m[prn] = s.range.range_m;
      nowSeen[prn] = true;

      ObsChannel channel;
      channel.prn = static_cast<uint8_t>(prn);
      channel.caRange_s = s.range.range_m / kC_mps;
      const double elevation_deg = s.range.elevation_rad * 180.0 / kPi;
      channel.l1Snr = static_cast<uint8_t>(30.0 + elevation_deg / 4.5);
      channel.l2Snr = static_cast<uint8_t>(20.0 + elevation_deg / 4.5);
      // Doppler is minus the range rate in wavelengths; the reader negates the field.
      channel.doppler =
          static_cast<int32_t>(std::lround(rate_mps / kL1Wavelength_m / kDopplerFieldUnit));
      channel.l1Phase_cyc = -s.range.range_m / kL1Wavelength_m;
      channel.l2Range_s = (s.range.range_m + kL2CodeBias_m) / kC_mps;
      channel.l2Phase_cyc = -s.range.range_m / kL2Wavelength_m;
      ok = ok &&
           WriteBytes(file, ChannelRecordBytes(channel, kChannelRecordSize, ObsLayout::kStandard));
      if (elevation_deg >= kSolutionMask_deg) ++aboveMask;
    }
    for (int32_t prn = 1; prn <= kMaxGpsPrnCount; ++prn) previousSeen[prn] = nowSeen[prn];

    const int32_t n = static_cast<int32_t>(seen.size());
    satellites += n;
    set.minSeen = std::min(set.minSeen, n);
    set.maxSeen = std::max(set.maxSeen, n);
    // New GPB epoch: 84-byte record, then a 28-byte primary and a 28-byte extended record
    // per satellite (every satellite has L2 data).
    set.expectedGpbBytes += 84 + 56 * n;
    set.rcvTime_s.push_back(epoch.time_s);
    set.trueClock_m.push_back(clock_m);
    set.headerClock_m.push_back(epoch.clock_m);
  }
  if (std::fclose(file) != 0) ok = false;
  if (!ok) {
    *why = "cannot write " + set.observationPath;
    return false;
  }
  std::error_code error;
  set.observationBytes =
      static_cast<int64_t>(std::filesystem::file_size(set.observationPath, error));
  if (shape.epochs > 0) {
    set.meanSatellites = static_cast<double>(satellites) / shape.epochs;
    set.meanAboveMask = static_cast<double>(aboveMask) / shape.epochs;
  } else {
    set.minSeen = 0;
  }
  *out = std::move(set);
  return true;
}

bool ImportRealSet(const std::string& dir, const std::string& name, DownloadSet* out,
                   std::string* why) {
  const std::string sample = std::string(TALVERIN_SOURCE_DIR) + "/samples/bahr-2004-162";
  RinexImportOptions options;
  options.observationPath = sample + "/bahr1620.04o";
  options.navigationPath = sample + "/bahr1620.04n";
  options.outputDir = dir;
  RinexImportSummary summary;
  char errorText[kTextSize] = "";
  if (ImportRinex(options, &summary, errorText) != 0) {
    *why = errorText;
    return false;
  }
  DownloadSet set;
  set.simulated = false;
  set.shape.name = name;
  set.shape.epochs = summary.epochs;
  set.shape.interval_s = 30.0;
  set.observationPath = summary.observationFile;
  std::error_code error;
  set.observationBytes =
      static_cast<int64_t>(std::filesystem::file_size(set.observationPath, error));
  for (int k = 0; k < 3; ++k) set.truth_m[k] = kBahrArp_m[k];
  set.meanSatellites =
      summary.epochs > 0 ? static_cast<double>(summary.channels) / summary.epochs : 0.0;
  *out = std::move(set);
  return true;
}

namespace {

bool CheckRealGpb(const std::string& gpbPath, const DownloadSet& set, bool recomputed,
                  GpbCheck* out, std::string* why) {
  GpbCheck check;
  GpbReader reader;
  if (reader.Open(gpbPath.c_str()) != 0) {
    *why = reader.errorText();
    return false;
  }
  GpbReadEpoch read;
  int32_t status = 0;
  double sum_m2 = 0.0;
  while ((status = reader.ReadEpoch(&read)) == 1) {
    ++check.epochs;
    const gpb_epoch_type& e = read.epoch;
    if (!recomputed || (e.flags & kEpochPositionValid) == 0) continue;
    ++check.positioned;
    double xyz_m[3];
    GeodeticToEcef(e.lat, e.lon, e.height, xyz_m);
    const double d_m = Distance(xyz_m, set.truth_m);
    sum_m2 += d_m * d_m;
    check.maxPositionError_m = std::max(check.maxPositionError_m, d_m);
  }
  if (check.positioned > 0) check.rmsPositionError_m = std::sqrt(sum_m2 / check.positioned);
  *out = check;
  if (status < 0) {
    *why = reader.errorText();
    return false;
  }
  char text[256];
  if (check.epochs != set.shape.epochs) {
    std::snprintf(text, sizeof text, "%d epochs in the GPB file, %d imported", check.epochs,
                  set.shape.epochs);
    *why = text;
    return false;
  }
  if (check.maxPositionError_m > kRealGrossError_m) {
    std::snprintf(text, sizeof text, "a recomputed position is %.1f m from the known antenna",
                  check.maxPositionError_m);
    *why = text;
    return false;
  }
  return true;
}

}  // namespace

bool CheckGpb(const std::string& gpbPath, const DownloadSet& set, bool recomputed, GpbCheck* out,
              std::string* why) {
  if (!set.simulated) return CheckRealGpb(gpbPath, set, recomputed, out, why);
  GpbCheck check;
  std::error_code error;
  check.fileBytes = static_cast<int64_t>(std::filesystem::file_size(gpbPath, error));
  GpbReader reader;
  if (reader.Open(gpbPath.c_str()) != 0) {
    *why = reader.errorText();
    return false;
  }
  double header_m[3];
  for (int k = 0; k < 3; ++k) header_m[k] = set.truth_m[k] + set.headerOffset_m[k];
  const double* reference_m = recomputed ? set.truth_m : header_m;
  std::vector<double> positionErrors;
  std::vector<double> clockErrors;
  GpbReadEpoch read;
  int32_t status = 0;
  while ((status = reader.ReadEpoch(&read)) == 1) {
    const gpb_epoch_type& e = read.epoch;
    const size_t i = static_cast<size_t>(check.epochs);
    ++check.epochs;
    if (i >= set.rcvTime_s.size()) continue;
    if ((e.flags & kEpochPositionValid) == 0) continue;
    ++check.positioned;
    double xyz_m[3];
    GeodeticToEcef(e.lat, e.lon, e.height, xyz_m);
    positionErrors.push_back(Distance(xyz_m, reference_m));
    const double clock_m = recomputed ? set.trueClock_m[i] : set.headerClock_m[i];
    clockErrors.push_back(std::fabs(e.clock - clock_m));
    if (e.rcvTime != set.rcvTime_s[i]) {
      *why = "epoch " + std::to_string(i) + ": receiver time differs from the B file";
      return false;
    }
  }
  if (status < 0) {
    *why = reader.errorText();
    return false;
  }
  for (double d : positionErrors) check.maxPositionError_m = std::max(check.maxPositionError_m, d);
  for (double d : clockErrors) check.maxClockError_m = std::max(check.maxClockError_m, d);
  *out = check;

  char text[256];
  if (check.epochs != set.shape.epochs || check.positioned != set.shape.epochs) {
    std::snprintf(text, sizeof text, "%d epochs in the GPB file, %d positioned, %d expected",
                  check.epochs, check.positioned, set.shape.epochs);
    *why = text;
    return false;
  }
  if (check.fileBytes != set.expectedGpbBytes) {
    std::snprintf(text, sizeof text, "GPB file of %lld bytes, %lld expected",
                  static_cast<long long>(check.fileBytes),
                  static_cast<long long>(set.expectedGpbBytes));
    *why = text;
    return false;
  }
  // Recomputed from noise-free ranges: millimetres (the E file's float fields and the
  // 1 mm convergence step). Copied: the header position, to the float height's precision.
  const double medianLimit_m = recomputed ? 0.01 : 0.001;
  const double maxLimit_m = recomputed ? 0.05 : 0.001;
  const double clockMedianLimit_m = recomputed ? 0.01 : 0.0;
  const double clockMaxLimit_m = recomputed ? 0.05 : 0.0;
  const double medianPosition_m = Median(positionErrors);
  const double medianClock_m = Median(clockErrors);
  if (medianPosition_m > medianLimit_m || check.maxPositionError_m > maxLimit_m ||
      medianClock_m > clockMedianLimit_m || check.maxClockError_m > clockMaxLimit_m) {
    std::snprintf(text, sizeof text,
                  "%s positions off by %.3f m (median) and %.3f m (max), clocks by %.3f m "
                  "(median) and %.3f m (max)",
                  recomputed ? "recomputed" : "copied", medianPosition_m, check.maxPositionError_m,
                  medianClock_m, check.maxClockError_m);
    *why = text;
    return false;
  }
  return true;
}

}  // namespace bench
}  // namespace talverin
