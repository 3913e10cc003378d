#include "rinex/rinex_import.h"

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/byte_order.h"
#include "base/native_path.h"
#include "base/text_buffer.h"
#include "dataset/byte_builder.h"
#include "dataset/ephemeris_file_writer.h"
#include "dataset/gps_calendar.h"
#include "dataset/observation_file_writer.h"
#include "dataset/site_event_writers.h"
#include "input/event_marks.h"
#include "input/observation_reader.h"
#include "input/receiver_detect.h"
#include "rinex/rinex_nav_reader.h"
#include "rinex/rinex_obs_reader.h"

namespace talverin {
namespace {

constexpr char kSitePad = '_';  // pads site names shorter than 4 characters
constexpr char kSessionLetter = 'A';

// One epoch of the read-ahead window, with the header state that was current for it
// (event records between epochs may change the site, the position or the observables).
struct WindowEpoch {
  RinexObsEpoch epoch;
  char site[kEpochHeaderSiteLength + 1] = "";
  double ecef_m[3] = {0.0, 0.0, 0.0};
  int32_t typeIndex[kObsCodeCount] = {};
  double fullTime_s = 0.0;  // GPS seconds since 1980-01-06

  const RinexObsValue* Value(const RinexSatObs& sat, RinexObsCode code) const {
    const int32_t index = typeIndex[code];
    return index < 0 ? nullptr : &sat.obs[index];
  }
  const RinexSatObs* Find(int32_t prn) const {
    for (const RinexSatObs& sat : epoch.sats) {
      if (sat.system == 'G' && sat.prn == prn) return &sat;
    }
    return nullptr;
  }
};

// The receiver position an epoch header carries for the RINEX approximate position.
void HeaderEcef(const RinexImportOptions& options, const double approx_m[3], double out_m[3]) {
  for (int i = 0; i < 3; ++i) out_m[i] = approx_m[i];
  if (options.headerPosition == HeaderPosition::kZeros) {
    for (int i = 0; i < 3; ++i) out_m[i] = 0.0;
  } else if (options.headerPosition == HeaderPosition::kMoved) {
    double lat = 0.0, lon = 0.0, h = 0.0;
    EcefToGeodetic(approx_m[0], approx_m[1], approx_m[2], &lat, &lon, &h);
    // East, north and up each d / sqrt(3), turned into ECEF at the approximate position.
    const double d = options.headerMove_m / std::sqrt(3.0);
    const double sinLat = std::sin(lat), cosLat = std::cos(lat);
    const double sinLon = std::sin(lon), cosLon = std::cos(lon);
    const double east[3] = {-sinLon, cosLon, 0.0};
    const double north[3] = {-sinLat * cosLon, -sinLat * sinLon, cosLat};
    const double up[3] = {cosLat * cosLon, cosLat * sinLon, sinLat};
    for (int i = 0; i < 3; ++i) out_m[i] += d * (east[i] + north[i] + up[i]);
  }
}

bool Usable(const RinexObsValue* value) {
  return value != nullptr && value->present && value->value != 0.0;
}

// Site name for the epoch headers: the name cut to 4 characters, padded with '_', with
// characters the station-mark step refuses (outside 33-122) replaced by '_'.
void SiteName(const char* name, char site[kEpochHeaderSiteLength + 1]) {
  size_t n = 0;
  for (; n < kEpochHeaderSiteLength && name[n] != '\0'; ++n) {
    const unsigned char c = static_cast<unsigned char>(name[n]);
    site[n] = c > ' ' && c <= 'z' ? static_cast<char>(c) : kSitePad;
  }
  for (; n < kEpochHeaderSiteLength; ++n) site[n] = kSitePad;
  site[kEpochHeaderSiteLength] = '\0';
}

// Round to the nearest int32; false when the value does not fit.
bool RoundToInt32(double value, int32_t* out) {
  if (!(value > -2147483647.5 && value < 2147483647.5)) return false;
  *out = static_cast<int32_t>(std::lround(value));
  return true;
}

// SNR byte: the S1/S2 value in whole dB-Hz when the file has that observable (0 when blank
// or beyond a byte, as the 651.310 that some receivers write while acquiring); otherwise
// from the signal strength digit of the phase, else of the code.
uint8_t SnrByte(const WindowEpoch& w, const RinexSatObs& sat, RinexObsCode snrCode,
                RinexObsCode phaseCode, RinexObsCode codeCode) {
  if (w.typeIndex[snrCode] >= 0) {
    const RinexObsValue* s = w.Value(sat, snrCode);
    if (!s->present || !(s->value > 0.0 && s->value < 255.5)) return 0;
    return static_cast<uint8_t>(std::lround(s->value));
  }
  const RinexObsValue* phase = w.Value(sat, phaseCode);
  const RinexObsValue* code = w.Value(sat, codeCode);
  const int ssi = phase != nullptr && phase->ssi != 0 ? phase->ssi
                  : code != nullptr                   ? code->ssi
                                                      : 0;
  return ssi == 0 ? 0 : static_cast<uint8_t>(kSnrPerSsi_dbhz * ssi + kSnrSsiOffset_dbhz);
}

// L1 phase of a PRN in a neighbour epoch, if it may be differenced with the epoch's own:
// present, no loss of lock between the two (checked on the later one), within the span.
bool NeighbourPhase(const WindowEpoch* w, int32_t prn, double* phase_cyc) {
  if (w == nullptr) return false;
  const RinexSatObs* sat = w->Find(prn);
  if (sat == nullptr) return false;
  const RinexObsValue* l1 = w->Value(*sat, kObsL1);
  if (!Usable(l1)) return false;
  *phase_cyc = l1->value;
  return true;
}

// Doppler (Hz, positive for an approaching satellite) from the L1 phase rate: the central
// difference over the neighbour epochs, or the one-sided one where only one neighbour
// holds an unbroken phase. RINEX phase grows with the range, so D = -dL1/dt.
bool PhaseRateDoppler(const WindowEpoch* prev, const WindowEpoch& cur, const WindowEpoch* next,
                      const RinexSatObs& sat, double* doppler_hz) {
  const RinexObsValue* l1 = cur.Value(sat, kObsL1);
  if (!Usable(l1)) return false;
  double before = 0.0, after = 0.0;
  const bool lockedSincePrev = (l1->lli & kLliLossOfLock) == 0 && cur.epoch.flag != 1;
  const bool hasPrev = lockedSincePrev && prev != nullptr &&
                       cur.fullTime_s - prev->fullTime_s > 0.0 &&
                       cur.fullTime_s - prev->fullTime_s <= kMaxDopplerSpan_s &&
                       NeighbourPhase(prev, sat.prn, &before);
  bool hasNext = next != nullptr && next->epoch.flag != 1 &&
                 next->fullTime_s - cur.fullTime_s > 0.0 &&
                 next->fullTime_s - cur.fullTime_s <= kMaxDopplerSpan_s &&
                 NeighbourPhase(next, sat.prn, &after);
  if (hasNext) {
    const RinexObsValue* nextL1 = next->Value(*next->Find(sat.prn), kObsL1);
    hasNext = (nextL1->lli & kLliLossOfLock) == 0;
  }
  if (hasPrev && hasNext) {
    *doppler_hz = -(after - before) / (next->fullTime_s - prev->fullTime_s);
  } else if (hasPrev) {
    *doppler_hz = -(l1->value - before) / (cur.fullTime_s - prev->fullTime_s);
  } else if (hasNext) {
    *doppler_hz = -(after - l1->value) / (next->fullTime_s - cur.fullTime_s);
  } else {
    return false;
  }
  return true;
}

int32_t DopplerField(double doppler_hz, RinexImportSummary* summary) {
  int32_t field = 0;
  if (!RoundToInt32(-doppler_hz / kDopplerUnit, &field)) {
    ++summary->noDoppler;
    return 0;
  }
  return field;
}

int32_t ModelFromHeaderText(const char* text, char model[16], int32_t* type) {
  uint8_t header[kObservationHeaderSize] = {};
  std::memcpy(header, "version:", kVersionTagSize);
  const size_t n = std::strlen(text);
  if (n == 0 || n > static_cast<size_t>(kModelTextShown)) return -1;
  std::memcpy(header + kModelTextOffset, text, n);
  const int32_t detected = DetectReceiver(header);
  if (detected < 1 || detected > 4) return -1;
  CopyText(model, 16, text);
  *type = detected;
  return 0;
}

int32_t RecordSizeOf(int32_t type) { return type == 2 ? 97 : type == 3 ? 66 : 35; }

// Per-PRN continuity of what was written: the written epoch that last held the PRN and
// whether its phases were present there.
struct TrackState {
  int32_t lastEpoch = -1;
  bool l1 = false;
  bool l2 = false;
};

class Importer {
 public:
  Importer(const RinexImportOptions& options, RinexImportSummary* summary, char* errorText)
      : options_(options), summary_(summary), errorText_(errorText) {}
  ~Importer() {
    if (bFile_ != nullptr) std::fclose(bFile_);
  }
  Importer(const Importer&) = delete;
  Importer& operator=(const Importer&) = delete;

  int32_t Run();

 private:
  int32_t Fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int32_t ReadInto(WindowEpoch* w, bool* got);
  int32_t WriteEpoch(const WindowEpoch* prev, const WindowEpoch& cur, const WindowEpoch* next);
  // The GPS satellites of an epoch that get a channel record, at most limit_, in file order.
  std::vector<const RinexSatObs*> ChooseSatellites(const WindowEpoch& cur, RinexObsCode caCode);
  // One satellite's channel record; its track moves on.
  std::vector<uint8_t> ChannelRecord(const WindowEpoch* prev, const WindowEpoch& cur,
                                     const WindowEpoch* next, const RinexSatObs& sat);
  void RemoveOutputs();
  // The steps of Run: the receiver and the header's fitness, the output names and the B
  // file's header, the epochs, the E file, the S file. 0, or -1 (outputs removed).
  int32_t CheckHeader();
  int32_t OpenOutputs(const WindowEpoch& first);
  int32_t WriteEpochs(std::vector<WindowEpoch>* window);
  int32_t WriteEphemerides(const RinexNavFile& nav);
  int32_t WriteSite(const RinexObsEpoch& first);

  const RinexImportOptions& options_;
  RinexImportSummary* summary_;
  char* errorText_;
  RinexObsReader reader_;
  FILE* bFile_ = nullptr;
  int32_t limit_ = kMaxChannelsGps;
  int32_t written_ = 0;  // epochs written
  TrackState tracks_[kMaxGpsPrn + 1];
  std::vector<uint8_t> bytes_;  // one epoch's bytes, reused
};

int32_t Importer::Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatTextV(errorText_, format, args);
  va_end(args);
  return -1;
}

int32_t Importer::ReadInto(WindowEpoch* w, bool* got) {
  const int32_t result = reader_.ReadEpoch(&w->epoch);
  *got = result == 1;
  if (result < 0) {
    CopyText(errorText_, kTextSize, reader_.errorText());
    return -1;
  }
  if (result == 0) return 0;
  const RinexObsHeader& h = reader_.header();
  if (options_.site.empty()) {
    SiteName(h.markerName, w->site);
  } else {
    SiteName(options_.site.c_str(), w->site);
  }
  for (int i = 0; i < 3; ++i) w->ecef_m[i] = h.approx_ecef_m[i];
  std::memcpy(w->typeIndex, h.typeIndex, sizeof w->typeIndex);
  w->fullTime_s = w->epoch.week * kSecondsPerWeek + w->epoch.tow_s;
  return 0;
}

std::vector<const RinexSatObs*> Importer::ChooseSatellites(const WindowEpoch& cur,
                                                           RinexObsCode caCode) {
  std::vector<const RinexSatObs*> chosen;
  chosen.reserve(cur.epoch.sats.size());
  bool seen[kMaxGpsPrn + 1] = {};
  for (const RinexSatObs& sat : cur.epoch.sats) {
    if (sat.system != 'G' || sat.prn < 1 || sat.prn > kMaxGpsPrn || seen[sat.prn]) {
      ++summary_->otherSatellites;
      continue;
    }
    seen[sat.prn] = true;
    // A range blank or written as zero: the satellite is being acquired (its other
    // values are not valid either), so its channel is left out.
    if (!Usable(cur.Value(sat, caCode))) {
      ++summary_->noRange;
      continue;
    }
    chosen.push_back(&sat);
  }
  if (static_cast<int32_t>(chosen.size()) > limit_) {
    // Keep the satellites of the previous epoch first, so their tracks stay unbroken.
    std::vector<const RinexSatObs*> kept;
    for (int pass = 0; pass < 2; ++pass) {
      for (const RinexSatObs* sat : chosen) {
        const bool continuing = tracks_[sat->prn].lastEpoch == written_ - 1;
        if (continuing == (pass == 0) && static_cast<int32_t>(kept.size()) < limit_) {
          kept.push_back(sat);
        }
      }
    }
    summary_->overLimit += static_cast<int32_t>(chosen.size() - kept.size());
    std::vector<const RinexSatObs*> ordered;  // back into file order
    for (const RinexSatObs* sat : chosen) {
      for (const RinexSatObs* k : kept) {
        if (k == sat) ordered.push_back(sat);
      }
    }
    chosen.swap(ordered);
  }

  return chosen;
}

std::vector<uint8_t> Importer::ChannelRecord(const WindowEpoch* prev, const WindowEpoch& cur,
                                             const WindowEpoch* next, const RinexSatObs& sat) {
  // The C/A range: C1, or P1 in a file without C1.
  const RinexObsCode caCode = cur.typeIndex[kObsC1] >= 0 ? kObsC1 : kObsP1;
  const RinexObsCode l2Code = cur.typeIndex[kObsP2] >= 0 ? kObsP2 : kObsC2;
  const int32_t recordSize = summary_->recordSize;
  TrackState& track = tracks_[sat.prn];
  const bool continuing = track.lastEpoch == written_ - 1 && cur.epoch.flag != 1;
  const RinexObsValue* l1 = cur.Value(sat, kObsL1);
  const RinexObsValue* l2 = cur.Value(sat, kObsL2);
  const bool hasL1 = Usable(l1);
  const bool hasL2 = Usable(l2);

  ObsChannel ch;
  ch.prn = static_cast<uint8_t>(sat.prn);
  ch.caRange_s = cur.Value(sat, caCode)->value / kSpeedOfLight_mps;
  ch.l1Phase_cyc = hasL1 ? -l1->value : 0.0;
  const bool l1Broken = !hasL1 || !continuing || !track.l1 || (l1->lli & kLliLossOfLock);
  ch.l1Warning = l1Broken ? kWarnRestart : 0;
  ch.l1Snr = SnrByte(cur, sat, kObsS1, kObsL1, kObsC1);

  double doppler_hz = 0.0;
  const RinexObsValue* d1 = cur.Value(sat, kObsD1);
  if (Usable(d1)) {
    doppler_hz = d1->value;
  } else if (PhaseRateDoppler(prev, cur, next, sat, &doppler_hz)) {
    ++summary_->dopplerFromPhase;
  } else {
    ++summary_->noDoppler;
  }
  ch.doppler = DopplerField(doppler_hz, summary_);

  const RinexObsValue* range2 = cur.Value(sat, l2Code);
  ch.l2Range_s = Usable(range2) ? range2->value / kSpeedOfLight_mps : 0.0;
  ch.l2Phase_cyc = hasL2 ? -l2->value : 0.0;
  const bool l2Broken = !hasL2 || !continuing || !track.l2 || (l2->lli & kLliLossOfLock);
  ch.l2Warning = l2Broken ? kWarnRestart : 0;
  ch.l2Snr = SnrByte(cur, sat, kObsS2, kObsL2, l2Code);
  if (recordSize == 35) {
    ch.l2Range_s = 0.0;
    ch.l2Phase_cyc = 0.0;
  }
  std::vector<uint8_t> record = ChannelRecordBytes(ch, recordSize, ObsLayout::kStandard);
  if (recordSize == 97) {
    const RinexObsValue* p1 = cur.Value(sat, kObsP1);
    if (Usable(p1)) {
      uint8_t* block = record.data() + kChanDualP1BlockOffset;
      StoreF64(block, p1->value / kSpeedOfLight_mps);
      block[kBlockWarningOffset] = ch.l1Warning;
      block[kBlockSnrOffset] = ch.l1Snr;
      StoreI32(block + kBlockDopplerOffset, ch.doppler);
      StoreF64(block + kBlockPhaseOffset, ch.l1Phase_cyc);
    }
    const RinexObsValue* d2 = cur.Value(sat, kObsD2);
    if (Usable(d2)) {
      int32_t field = 0;
      if (RoundToInt32(-d2->value / kDopplerUnit, &field)) {
        StoreI32(record.data() + kChanDualL2BlockOffset + kBlockDopplerOffset, field);
      }
    }
  }
  track.lastEpoch = written_;
  track.l1 = hasL1;
  track.l2 = hasL2;
  return record;
}

int32_t Importer::WriteEpoch(const WindowEpoch* prev, const WindowEpoch& cur,
                             const WindowEpoch* next) {
  const RinexObsCode caCode = cur.typeIndex[kObsC1] >= 0 ? kObsC1 : kObsP1;
  const std::vector<const RinexSatObs*> chosen = ChooseSatellites(cur, caCode);
  ObsEpoch header;
  header.site = cur.site;
  header.time_s = cur.epoch.tow_s;
  double position_m[3];
  HeaderEcef(options_, cur.ecef_m, position_m);
  header.x_m = position_m[0];
  header.y_m = position_m[1];
  header.z_m = position_m[2];
  header.clock_m = 0.0;
  header.countByte = static_cast<uint8_t>(chosen.size());
  bytes_ = EpochHeaderBytes(header);

  for (const RinexSatObs* sat : chosen) {
    const std::vector<uint8_t> record = ChannelRecord(prev, cur, next, *sat);
    bytes_.insert(bytes_.end(), record.begin(), record.end());
  }
  if (std::fwrite(bytes_.data(), 1, bytes_.size(), bFile_) != bytes_.size()) {
    return Fail("%s: cannot be written", summary_->observationFile.c_str());
  }
  if (written_ == 0) CopyText(summary_->site, sizeof summary_->site, cur.site);
  ++written_;
  summary_->channels += static_cast<int32_t>(chosen.size());
  return 0;
}

void Importer::RemoveOutputs() {
  if (bFile_ != nullptr) std::fclose(bFile_);
  bFile_ = nullptr;
  for (const std::string* path :
       {&summary_->observationFile, &summary_->ephemerisFile, &summary_->siteFile}) {
    if (!path->empty()) std::remove(path->c_str());
  }
}

int32_t Importer::CheckHeader() {
  const char* obsPath = options_.observationPath.c_str();
  const RinexObsHeader& header = reader_.header();
  if (options_.receiver.empty()) {
    if (ReceiverModelForRinex(header.receiverType, summary_->model, &summary_->receiverType,
                              errorText_) != 0) {
      return -1;
    }
  } else if (ReceiverModelForWord(options_.receiver, summary_->model, &summary_->receiverType,
                                  errorText_) != 0) {
    return -1;
  }
  summary_->recordSize = RecordSizeOf(summary_->receiverType);
  limit_ = summary_->receiverType == 4 ? kMaxChannelsGlonass : kMaxChannelsGps;
  if (header.typeIndex[kObsC1] < 0 && header.typeIndex[kObsP1] < 0) {
    return Fail("%s:%ld: # / TYPES OF OBSERV lists neither C1 nor P1", obsPath,
                header.endOfHeaderLine);
  }
  if (options_.headerPosition == HeaderPosition::kMoved && header.approx_ecef_m[0] == 0.0 &&
      header.approx_ecef_m[1] == 0.0 && header.approx_ecef_m[2] == 0.0) {
    return Fail("%s:%ld: header has no APPROX POSITION XYZ to move", obsPath,
                header.endOfHeaderLine);
  }
  if (options_.site.empty() && (!header.hasMarkerName || header.markerName[0] == '\0')) {
    return Fail("%s:%ld: header has no MARKER NAME; give the site with --site", obsPath,
                header.endOfHeaderLine);
  }
  if (!options_.site.empty()) {
    for (char c : options_.site) {
      if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) > 'z') {
        return Fail("site name '%s' may hold only characters from '!' to 'z'",
                    options_.site.c_str());
      }
    }
    if (options_.site.size() > kEpochHeaderSiteLength) {
      return Fail("site name '%s' is longer than 4 characters", options_.site.c_str());
    }
  }

  return 0;
}

int32_t Importer::OpenOutputs(const WindowEpoch& window) {
  const RinexObsEpoch& first = window.epoch;
  // Names: B + site + session letter + two-digit year + "." + day of year.
  char name[32];
  char fileSite[kEpochHeaderSiteLength + 1];
  for (int i = 0; i <= kEpochHeaderSiteLength; ++i) {
    const char c = window.site[i];
    fileSite[i] = c == '\0' || std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  }
  std::snprintf(name, sizeof name, "%s%c%02d.%03d", fileSite, kSessionLetter,
                static_cast<int>(first.year % 100),
                static_cast<int>(DayOfYear(first.year, first.month, first.day)));
  std::error_code ignored;
  std::filesystem::create_directories(NativePath(options_.outputDir), ignored);
  const std::string base = options_.outputDir + "/";
  summary_->observationFile = base + "B" + name;
  summary_->ephemerisFile = base + "E" + name;
  summary_->siteFile = base + "S" + name;
  for (const std::string* path :
       {&summary_->observationFile, &summary_->ephemerisFile, &summary_->siteFile}) {
    if (options_.keepExisting && std::filesystem::exists(NativePath(*path), ignored)) {
      const int32_t result = Fail("%s exists; not replaced (--force replaces it)", path->c_str());
      summary_->observationFile.clear();
      summary_->ephemerisFile.clear();
      summary_->siteFile.clear();
      return result;
    }
  }

  bFile_ = std::fopen(summary_->observationFile.c_str(), "wb");
  if (bFile_ == nullptr) {
    const int32_t result = Fail("%s: cannot be written", summary_->observationFile.c_str());
    summary_->observationFile.clear();
    summary_->ephemerisFile.clear();
    summary_->siteFile.clear();
    return result;
  }
  ObsFile fileHeader;
  fileHeader.model = summary_->model;
  const std::vector<uint8_t> headerBytes = ObservationHeaderBytes(fileHeader);
  if (std::fwrite(headerBytes.data(), 1, headerBytes.size(), bFile_) != headerBytes.size()) {
    Fail("%s: cannot be written", summary_->observationFile.c_str());
    RemoveOutputs();
    return -1;
  }

  return 0;
}

int32_t Importer::WriteEpochs(std::vector<WindowEpoch>* windowPointer) {
  std::vector<WindowEpoch>& window = *windowPointer;
  bool havePrev = false;
  bool haveCur = true;
  while (haveCur) {
    bool haveNext = false;
    if (ReadInto(&window[2], &haveNext) != 0 ||
        WriteEpoch(havePrev ? &window[0] : nullptr, window[1], haveNext ? &window[2] : nullptr) !=
            0) {
      RemoveOutputs();
      return -1;
    }
    std::swap(window[0], window[1]);
    std::swap(window[1], window[2]);
    havePrev = true;
    haveCur = haveNext;
  }
  summary_->epochs = written_;
  summary_->eventRecords = reader_.eventRecords();
  summary_->slipRecords = reader_.slipRecords();
  const int closed = std::fclose(bFile_);
  bFile_ = nullptr;
  if (closed != 0) {
    Fail("%s: cannot be written", summary_->observationFile.c_str());
    RemoveOutputs();
    return -1;
  }

  return 0;
}

// The nearest record's toc from the epoch; the record's ten-bit week is read as the week
// within 512 of the epoch's full week.
double NavigationApart(const RinexNavFile& nav, const RinexObsEpoch& epoch) {
  constexpr int32_t kWeekRollover = 1024;  // ten-bit week numbers
  double nearest_s = -1.0;
  for (const RinexNavRecord& record : nav.records) {
    int32_t weeks = (record.eph.week - epoch.week) % kWeekRollover;
    if (weeks < -kWeekRollover / 2) weeks += kWeekRollover;
    if (weeks >= kWeekRollover / 2) weeks -= kWeekRollover;
    const double apart_s = std::fabs(weeks * kSecondsPerWeek + record.eph.toc - epoch.tow_s);
    if (nearest_s < 0.0 || apart_s < nearest_s) nearest_s = apart_s;
  }
  return nearest_s;
}

int32_t Importer::WriteEphemerides(const RinexNavFile& nav) {
  EphemerisFileWriter eph;
  for (const RinexNavRecord& record : nav.records) {
    const int16_t health = static_cast<int16_t>(record.health < 0       ? -1
                                                : record.health > 32767 ? 32767
                                                                        : record.health);
    eph.AddGps(record.eph, health);
    ++summary_->ephemerides;
    summary_->unhealthy += record.health != 0;
  }
  if (!eph.WriteTo(summary_->ephemerisFile)) {
    Fail("%s: cannot be written", summary_->ephemerisFile.c_str());
    RemoveOutputs();
    return -1;
  }

  return 0;
}

int32_t Importer::WriteSite(const RinexObsEpoch& first) {
  const RinexObsHeader& header = reader_.header();
  // Site file: the station line holds the week, the day of week and the first epoch's
  // second of week; the BEFORE line the vertical antenna height over the marker.
  SiteFileLines site;
  site.line3 = SiteStationLine(summary_->site, static_cast<long>(first.week),
                               static_cast<long>(first.tow_s / kSecondsPerDay),
                               static_cast<long>(first.tow_s));
  site.line6 = SiteHeightLine("BEFORE", header.antennaDeltaH_m);
  if (!WriteFileText(summary_->siteFile, SiteFileText(site))) {
    Fail("%s: cannot be written", summary_->siteFile.c_str());
    RemoveOutputs();
    return -1;
  }
  return 0;
}

int32_t Importer::Run() {
  const char* obsPath = options_.observationPath.c_str();
  if (reader_.Open(obsPath) != 0) {
    CopyText(errorText_, kTextSize, reader_.errorText());
    return -1;
  }
  RinexNavFile nav;
  if (ReadRinexNav(options_.navigationPath.c_str(), &nav, errorText_) != 0) return -1;
  if (CheckHeader() != 0) return -1;
  std::vector<WindowEpoch> window(3);  // previous, current, next
  bool got = false;
  if (ReadInto(&window[1], &got) != 0) return -1;
  if (!got) return Fail("%s: no observation epochs", obsPath);
  const RinexObsEpoch first = window[1].epoch;  // kept: the window moves on
  summary_->navigationApart_s = NavigationApart(nav, first);
  if (OpenOutputs(window[1]) != 0 || WriteEpochs(&window) != 0 || WriteEphemerides(nav) != 0) {
    return -1;
  }
  return WriteSite(first);
}

}  // namespace

int32_t ReceiverModelForWord(const std::string& word, char model[16], int32_t* type,
                             char* errorText) {
  static const struct {
    const char* word;
    const char* model;
  } kClasses[] = {
      {"ca", "G-12"}, {"dual", "Z-XII3"}, {"l2-codeless", "L-XII"}, {"glonass", "GG-24"}};
  for (const auto& c : kClasses) {
    if (word == c.word) return ModelFromHeaderText(c.model, model, type);
  }
  if (ModelFromHeaderText(word.c_str(), model, type) == 0) return 0;
  FormatText(errorText,
             "receiver '%s' is neither ca, dual, l2-codeless, glonass nor a known "
             "model text (such as Z-XII3, G-12, L-XII, GG-24)",
             word.c_str());
  return -1;
}

int32_t ReceiverModelForRinex(const char* receiverType, char model[16], int32_t* type,
                              char* errorText) {
  char words[2][32] = {"", ""};
  const int n = std::sscanf(receiverType, "%31s %31s", words[0], words[1]);
  int w = 0;
  char maker[32];
  CopyText(maker, sizeof maker, words[0]);
  for (char* p = maker; *p != '\0'; ++p) *p = static_cast<char>(std::toupper(*p));
  if (n >= 1 && std::strcmp(maker, "ASHTECH") == 0) w = 1;
  const char* word = n > w ? words[w] : "";
  // The timing variant records the same observables as the survey receiver.
  if (std::strcmp(word, "Z-XII3T") == 0) word = "Z-XII3";
  if (word[0] != '\0' && ModelFromHeaderText(word, model, type) == 0) return 0;
  FormatText(errorText,
             "receiver '%s' of REC # / TYPE / VERS is not a model the receiver "
             "detection knows: give --receiver (ca, dual, l2-codeless, glonass or a model text)",
             receiverType);
  return -1;
}

int32_t ParseHeaderPosition(const std::string& word, RinexImportOptions* options, char* errorText) {
  if (word == "rinex") {
    options->headerPosition = HeaderPosition::kRinex;
    return 0;
  }
  if (word == "zeros") {
    options->headerPosition = HeaderPosition::kZeros;
    return 0;
  }
  char* end = nullptr;
  const double distance_m = std::strtod(word.c_str(), &end);
  if (!word.empty() && end == word.c_str() + word.size() && std::isfinite(distance_m)) {
    options->headerPosition = HeaderPosition::kMoved;
    options->headerMove_m = distance_m;
    return 0;
  }
  FormatText(errorText, "header position '%s' is neither rinex, zeros nor a distance in metres",
             word.c_str());
  return -1;
}

int32_t ImportRinex(const RinexImportOptions& options, RinexImportSummary* summary,
                    char* errorText) {
  *summary = RinexImportSummary();
  errorText[0] = '\0';
  Importer importer(options, summary, errorText);
  return importer.Run();
}

}  // namespace talverin
