#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "plugin/talverin.h"
#include "tools/download_set/byte_builder.h"

namespace talverin {
namespace fuzzing {
namespace {

const std::string& ScratchDir() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/talverin-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    return std::string(made);
  }();
  return dir;
}

void TALVERIN_CALL CheckMessage(double /*time*/, const char* text) {
  // Messages are at most 511 characters and always terminated.
  if (strnlen(text, kTextSize) >= static_cast<size_t>(kTextSize)) std::abort();
}

void TALVERIN_CALL IgnoreProgress(int32_t, int32_t) {}

void WriteOrRemove(const std::string& path, const std::vector<uint8_t>& bytes, bool write) {
  if (write) {
    if (!WriteFileBytes(path, bytes)) std::abort();
  } else {
    std::remove(path.c_str());
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
      b.I16(250);                       // week (ten-bit; 250 + 1024)
      b.I32(345600);                    // tow
      b.F32(-1.0e-8f);                  // tgd
      b.I32(17);                        // iodc
      b.I32(352800);                    // toc
      b.F32(0.0f);                      // af2
      b.F32(1.0e-12f);                  // af1
      b.F32(static_cast<float>(1.0e-5 * prn));  // af0
      b.I32(17);                        // iode
      b.F32(1.5e-9f);                   // deltaN, semicircles/s
      b.F64(-1.0 + prn / 16.0);         // m0, semicircles
      b.F64(0.005 + prn * 1e-4);        // e
      b.F64(5153.6);                    // rootA
      b.I32(352800);                    // toe
      for (int i = 0; i < 6; ++i) b.F32(i % 2 == 0 ? 1.0e-7f : 100.0f);  // cic crc cis crs cuc cus
      b.F64(-1.0 + prn / 16.0);         // omega0, semicircles
      b.F64(0.3);                       // omega
      b.F64(0.3);                       // i0
      b.F32(-2.6e-9f);                  // omegaDot
      b.F32(1.0e-11f);                  // iDot
      b.Zeros(2);
      b.I16(0);                         // health
      b.Zeros(129 - (b.size() - start));
    }
    return b.bytes();
  }();
  return file;
}

std::vector<uint8_t> ObservationHeader(int32_t receiverType) {
  static const char* const kModels[5] = {"Z-XII3", "G-12", "Z-XII3", "LM-XII", "GG-24"};
  ByteBuilder b;
  b.Text("version:", 8);
  b.Text("   ", 3);
  b.Text(kModels[receiverType >= 1 && receiverType <= 4 ? receiverType : 0], 9);
  b.Zeros(70);
  return b.bytes();
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
  WriteOrRemove(dir + "/D0001A01.001",
                std::vector<uint8_t>(set.events.begin(), set.events.end()), !set.events.empty());

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
  const int32_t result = ConvertFile(&request, &callbacks, 0);
  if (result != 0 && result != 1 && result != -1) std::abort();
  return result;
}

}  // namespace fuzzing
}  // namespace talverin
