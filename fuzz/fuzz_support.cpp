#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fstream>
#include <iterator>

#include "base/gnss_constants.h"
#include "dataset/byte_builder.h"
#include "dataset/observation_file_writer.h"
#include "input/ephemeris_reader.h"
#include "input/event_marks.h"
#include "job/conversion_job.h"
#include "output/gpb_reader.h"
#include "plugin/talverin.h"
#include "testkit/range_simulator.h"

namespace talverin {
namespace fuzzing {
namespace {

const char* const kScratchFiles[] = {"/B0001A01.001", "/E0001A01.001", "/S0001A01.001",
                                     "/D0001A01.001", "/out.gpb",      "/out.sta",
                                     "/out.epp"};

std::string& ScratchPath() {
  static std::string dir;
  return dir;
}

// Removes the scratch files and directory when the process ends normally (a crash keeps
// them for inspection).
void RemoveScratch() {
  const std::string& dir = ScratchPath();
  for (const char* name : kScratchFiles) std::remove((dir + name).c_str());
  rmdir(dir.c_str());
}

const std::string& ScratchDir() {
  static const bool made = [] {
    char pattern[] = "/tmp/talverin-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    ScratchPath() = pattern;
    std::atexit(RemoveScratch);
    return true;
  }();
  (void)made;
  return ScratchPath();
}

void TALVERIN_CALL CheckMessage(double /*time*/, const char* text) {
  // Messages are at most 511 characters and always terminated.
  if (strnlen(text, kTextSize) >= static_cast<size_t>(kTextSize)) std::abort();
}

void TALVERIN_CALL IgnoreProgress(int32_t, int32_t) {}

// Files are removed before they are written again: truncating a file that holds data makes
// the file system flush and discard blocks on every run, which slows fuzzing a hundredfold.
void WriteOrRemove(const std::string& path, const std::vector<uint8_t>& bytes, bool write) {
  std::remove(path.c_str());
  if (write) {
    if (!WriteFileBytes(path, bytes)) std::abort();
  } else {
  }
}

}  // namespace

ConvertOptions OptionsFromByte(uint8_t selector) {
  ConvertOptions options;
  SetFactoryDefaults(kConvertOptionsSize, &options);
  options.ReceiverType = 1 + (selector & 3);
  options.AltChannelLayout = (selector >> 2) & 1;
  options.StationMarkOption = (selector >> 3) & 1;
  options.ReportQualityWarnings = (selector >> 4) & 1;
  options.DropL2PhaseWithoutRange = (selector >> 5) & 1;
  options.GpbLayout = (selector >> 6) & 1;
  options.ForceMoving = (selector >> 7) & 1;
  return options;
}

const std::vector<uint8_t>& ValidEphemerisFile() {
  static const std::vector<uint8_t> file = [] {
    ByteBuilder b;
    for (int prn = 1; prn <= 32; ++prn) {
      const size_t start = b.size();
      b.I8(static_cast<int8_t>(prn));
      b.I16(250);                               // week (ten-bit; 250 + 1024)
      b.I32(345600);                            // tow
      b.F32(-1.0e-8f);                          // tgd
      b.I32(17);                                // iodc
      b.I32(352800);                            // toc
      b.F32(0.0f);                              // af2
      b.F32(1.0e-12f);                          // af1
      b.F32(static_cast<float>(1.0e-5 * prn));  // af0
      b.I32(17);                                // iode
      b.F32(1.5e-9f);                           // deltaN, semicircles/s
      b.F64(-1.0 + prn / 16.0);                 // m0, semicircles
      b.F64(0.005 + prn * 1e-4);                // e
      b.F64(5153.6);                            // rootA
      b.I32(352800);                            // toe
      for (int i = 0; i < 6; ++i) b.F32(i % 2 == 0 ? 1.0e-7f : 100.0f);  // cic crc cis crs cuc cus
      b.F64(-1.0 + prn / 16.0);                                          // omega0, semicircles
      b.F64(0.3);                                                        // omega
      b.F64(0.3);                                                        // i0
      b.F32(-2.6e-9f);                                                   // omegaDot
      b.F32(1.0e-11f);                                                   // iDot
      b.Zeros(2);
      b.I16(0);  // health
      b.Zeros(129 - (b.size() - start));
    }
    return b.bytes();
  }();
  return file;
}

const char* ModelText(int32_t receiverType) {
  static const char* const kModels[5] = {"Z-XII3", "G-12", "Z-XII3", "LM-XII", "GG-24"};
  return kModels[receiverType >= 1 && receiverType <= 4 ? receiverType : 0];
}

std::vector<uint8_t> ObservationHeader(int32_t receiverType) {
  ByteBuilder b;
  b.Text("version:", 8);
  b.Text("   ", 3);
  b.Text(ModelText(receiverType), 9);
  b.Zeros(70);
  return b.bytes();
}

std::vector<uint8_t> SimulatedObservationFile(int32_t receiverType, bool altLayout,
                                              int epochCount) {
  constexpr int32_t kFullWeek = 250 + 1024;   // ten-bit week 250 of ValidEphemerisFile
  constexpr double kFirstEpoch_s = 352800.0;  // the ephemerides' toe, s of week
  constexpr double kReceiverClock_m = 1500.0;
  constexpr double kMinElevation_deg = 5.0;
  constexpr size_t kMaxChannels = 8;  // keeps seeds small
  constexpr double kL1Wavelength_m = 0.1902936728;
  constexpr double kL2Wavelength_m = 0.2442102134;
  static const std::vector<GpsEph> ephs = [] {
    std::vector<GpsEph> decoded;
    const std::vector<uint8_t>& file = ValidEphemerisFile();
    for (size_t at = 0; at + kEphemerisRecordSize <= file.size(); at += kEphemerisRecordSize) {
      GpsEph eph{};
      int16_t health = 0;
      DecodeGpsRecord(file.data() + at, &eph, &health);
      decoded.push_back(eph);
    }
    return decoded;
  }();
  static const int kRecordSizes[5] = {97, 35, 97, 66, 35};
  const RangeSimulator simulator(45.0, 7.0, 300.0, kFullWeek);
  ObsFile file;
  file.model = ModelText(receiverType);
  file.recordSize = kRecordSizes[receiverType >= 1 && receiverType <= 4 ? receiverType : 0];
  file.layout = altLayout ? ObsLayout::kAlternative : ObsLayout::kStandard;
  for (int i = 0; i < epochCount; ++i) {
    const double reception_s = kFirstEpoch_s + i;
    ObsEpoch epoch;
    epoch.site = i < epochCount / 2 ? "????" : "A101";
    epoch.time_s = reception_s + kReceiverClock_m * kInvSpeedOfLight_spm;
    epoch.x_m = simulator.receiver()[0];
    epoch.y_m = simulator.receiver()[1];
    epoch.z_m = simulator.receiver()[2];
    epoch.clock_m = kReceiverClock_m;
    for (const GpsEph& eph : ephs) {
      if (epoch.channels.size() >= kMaxChannels) break;
      SimulatedRange range;
      if (!simulator.Observe(eph, reception_s, kReceiverClock_m, &range)) continue;
      if (range.elevation_rad * kDegPerRad < kMinElevation_deg) continue;
      ObsChannel channel;
      channel.prn = static_cast<uint8_t>(eph.prn);
      channel.caRange_s = range.range_m * kInvSpeedOfLight_spm;
      channel.l1Snr = 40;
      channel.doppler = -12345 * (i + 1);
      channel.l1Phase_cyc = -range.range_m / kL1Wavelength_m + 0.25;
      channel.l2Range_s = channel.caRange_s + 2.0e-9;
      channel.l2Snr = 30;
      channel.l2Phase_cyc = -range.range_m / kL2Wavelength_m + 0.5;
      channel.lock_ms = 60000 + 1000 * i;
      channel.transmit_s = range.transmission_s;
      if (i == 1 && epoch.channels.empty()) channel.l1Warning = 128;  // a restart
      epoch.channels.push_back(channel);
    }
    file.epochs.push_back(epoch);
  }
  return ObservationFileBytes(file);
}

void CheckEventRecords(const ConvertOptions& options, int32_t receiverType) {
  ConversionJob job;
  job.options = options;
  job.options.UseEventFile = 1;
  job.receiverType = receiverType;
  std::snprintf(job.eventPath, sizeof job.eventPath, "%s/D0001A01.001", ScratchDir().c_str());
  if (LoadEventFile(job, job.events) != 0) return;
  if ((job.events.count > 0) != (job.events.records != nullptr)) std::abort();
  for (int32_t i = 0; i < job.events.count; ++i) {
    const EventRecord& r = job.events.records[i];
    if (strnlen(r.evName, sizeof r.evName) == sizeof r.evName ||
        strnlen(r.evDesc, sizeof r.evDesc) == sizeof r.evDesc ||
        strnlen(r.evHeight, sizeof r.evHeight) == sizeof r.evHeight ||
        strnlen(r.evKind, sizeof r.evKind) == sizeof r.evKind) {
      std::abort();
    }
  }
}

std::vector<std::vector<uint8_t>> SplitParts(const uint8_t* data, size_t size) {
  static const char kSeparator[] = "\n--8<--\n";
  const size_t n = sizeof kSeparator - 1;
  std::vector<std::vector<uint8_t>> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (parts.size() < 4 && i + n <= size && std::memcmp(data + i, kSeparator, n) == 0) {
      parts.emplace_back();
      i += n - 1;
      continue;
    }
    parts.back().push_back(data[i]);
  }
  parts.resize(4);
  return parts;
}

int32_t ConvertInScratch(const DownloadSetBytes& set, const ConvertOptions& options) {
  const std::string& dir = ScratchDir();
  WriteOrRemove(dir + "/B0001A01.001", set.observation, true);
  WriteOrRemove(dir + "/E0001A01.001", set.ephemeris, true);
  WriteOrRemove(dir + "/S0001A01.001", std::vector<uint8_t>(set.site.begin(), set.site.end()),
                !set.site.empty());
  WriteOrRemove(dir + "/D0001A01.001", std::vector<uint8_t>(set.events.begin(), set.events.end()),
                !set.events.empty());

  for (const char* output : {"/out.gpb", "/out.sta", "/out.epp"}) {
    std::remove((dir + output).c_str());
  }

  static ConvertRequest request;
  std::memset(&request, 0, sizeof request);
  request.size = kConvertRequestSize;
  request.optionsSize = kConvertOptionsSize;
  request.options = options;
  std::snprintf(request.inputPath, kPathSize, "%s/B0001A01.001", dir.c_str());
  std::snprintf(request.outputPath, kPathSize, "%s/out.gpb", dir.c_str());
  HostCallbacks callbacks;
  std::memset(&callbacks, 0, sizeof callbacks);
  callbacks.size = kHostCallbacksSize;
  callbacks.messageCallback = CheckMessage;
  callbacks.progressCallback = IgnoreProgress;
  // The host asks AutoDetect before it converts: 1 or 0 for any bytes.
  const int32_t detected = AutoDetect(request.inputPath);
  if (detected != 0 && detected != 1) std::abort();
  const int32_t result = ConvertFile(&request, &callbacks, 0);
  if (result != 0 && result != 1 && result != -1) std::abort();
  char errorText[kTextSize + 64];
  std::memset(errorText, 0x55, sizeof errorText);
  GetErrString(errorText);
  if (strnlen(errorText, sizeof errorText) >= static_cast<size_t>(kTextSize)) std::abort();

  // A completed conversion wrote every station block it counts, and no other.
  if (result == 0) {
    std::ifstream sta(dir + "/out.sta", std::ios::binary);
    if (!sta) std::abort();
    const std::string text((std::istreambuf_iterator<char>(sta)), std::istreambuf_iterator<char>());
    uint32_t blocks = 0;
    for (size_t p = text.find("Sta {\n"); p != std::string::npos; p = text.find("Sta {\n", p + 1)) {
      ++blocks;
    }
    if (blocks != request.StationsWritten) std::abort();
  }
  // Whenever a GPB file was created it is finished: it reads to a clean end and holds
  // exactly the epochs the request counts. A completed conversion always has one.
  const std::string gpbPath = dir + "/out.gpb";
  if (access(gpbPath.c_str(), F_OK) != 0) {
    if (result == 0) std::abort();
    return result;
  }
  static GpbReader reader;
  if (reader.Open(gpbPath.c_str()) != 0) std::abort();
  static GpbReadEpoch epoch;
  int32_t status = 1;
  uint32_t epochs = 0;
  // A reader never returns more epochs than the file has bytes; the bound only keeps a
  // faulty reader from hanging the harness.
  for (int guard = 0; guard < (1 << 20) && (status = reader.ReadEpoch(&epoch)) == 1; ++guard) {
    ++epochs;
  }
  reader.Close();
  if (status != 0 || epochs != request.EpochsWritten) std::abort();
  return result;
}

}  // namespace fuzzing
}  // namespace talverin
