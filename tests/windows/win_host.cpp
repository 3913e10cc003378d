// Windows test host: loads talverin.dll the way a host application does (LoadLibrary,
// GetProcAddress by export name), writes a small download set, converts it and checks the
// results. Prints "N passed, N failed" and exits non-zero on any failure.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "plugin/talverin.h"

using talverin::ConvertOptions;
using talverin::ConvertRequest;
using talverin::HostCallbacks;

namespace {

int gPassed = 0, gFailed = 0, gMessages = 0, gProgress = 0;

void Check(bool condition, const char* what) {
  ++(condition ? gPassed : gFailed);
  if (!condition) std::printf("FAILED: %s\n", what);
}

int Report() {
  std::printf("%d passed, %d failed\n", gPassed, gFailed);
  return gFailed == 0 ? 0 : 1;
}

void TALVERIN_CALL OnMessage(double /*time*/, const char* /*text*/) { ++gMessages; }
void TALVERIN_CALL OnProgress(int32_t /*position*/, int32_t /*total*/) { ++gProgress; }

void PutF64(std::string* bytes, size_t at, double v) { std::memcpy(&(*bytes)[at], &v, 8); }

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  return static_cast<bool>(out.write(bytes.data(), bytes.size()).flush());
}

// A dual-frequency observation file (90-byte header, two epochs of a 67-byte header and one
// 97-byte channel: C/A range 0.07 s, L1 phase 1234567.25 cycles) and an empty E file.
bool WriteDownloadSet(const std::string& dir) {
  std::string b(90, '\0');
  b.replace(0, 8, "version:");
  b.replace(11, 6, "Z-XII3");
  for (int epoch = 0; epoch < 2; ++epoch) {
    std::string e(67 + 97, '\0');  // x86 is little-endian
    e.replace(0, 4, "A101");
    PutF64(&e, 4, 345600.0 + epoch);
    e[66] = 1;
    e[67] = 5;
    PutF64(&e, 67 + 4, 0.07);
    PutF64(&e, 67 + 27, 1234567.25);
    b += e;
  }
  return WriteFile(dir + "\\BWINE001.123", b) && WriteFile(dir + "\\EWINE001.123", "");
}

std::string ReadStart(const std::string& path, size_t n) {
  std::ifstream in(path, std::ios::binary);
  std::string s(n, '\0');
  in.read(&s[0], n);
  return s.substr(0, static_cast<size_t>(in.gcount()));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 2 ? argv[2] : ".";
  HMODULE module = LoadLibraryA(argc > 1 ? argv[1] : "talverin.dll");
  Check(module != nullptr, "LoadLibrary talverin.dll");
  if (module == nullptr) return Report();
#if defined(_WIN64)
  const char* names[5] = {"SetFactoryDefaults", "AutoDetect", "Abort", "GetErrString",
                          "ConvertFile"};
#else
  const char* names[5] = {"_SetFactoryDefaults@8", "_AutoDetect@4", "_Abort@0", "_GetErrString@4",
                          "_ConvertFile@12"};
#endif
  void* procs[5];
  for (int i = 0; i < 5; ++i) {
    procs[i] = reinterpret_cast<void*>(GetProcAddress(module, names[i]));
    Check(procs[i] != nullptr, names[i]);
  }
  if (gFailed != 0) return Report();
  auto setDefaults = reinterpret_cast<SetFactoryDefaultsFn>(procs[0]);
  auto autoDetect = reinterpret_cast<AutoDetectFn>(procs[1]);
  auto getErr = reinterpret_cast<GetErrStringFn>(procs[3]);
  auto convert = reinterpret_cast<ConvertFileFn>(procs[4]);
  Check(WriteDownloadSet(dir), "write the download set");

  static ConvertRequest request;  // zeroed
  request.size = sizeof request;
  request.optionsSize = sizeof(ConvertOptions);
  setDefaults(sizeof(ConvertOptions), &request.options);
  Check(request.options.RecomputePosition == 1 && request.options.StationTimeLimit == 180 &&
            request.options.GpbLayout == 1,
        "factory defaults");
  std::snprintf(request.inputPath, sizeof request.inputPath, "%s\\BWINE001.123", dir.c_str());
  std::snprintf(request.outputPath, sizeof request.outputPath, "%s\\wine.gpb", dir.c_str());
  Check(autoDetect(request.inputPath) == 1, "AutoDetect accepts the B file");

  HostCallbacks callbacks{};
  callbacks.size = sizeof callbacks;
  callbacks.messageCallback = OnMessage;
  callbacks.progressCallback = OnProgress;
  Check(convert(&request, &callbacks, 0) == 0, "ConvertFile returns 0");
  Check(request.EpochsWritten == 2, "two epochs written");
  Check(gMessages > 0 && gProgress >= 2, "messages and progress reached the host");
  Check(ReadStart(dir + "\\wine.gpb", 8) == std::string("$NEWGPB\0", 8), "GPB header");
  // Text files: Windows writes its line ends as CR LF.
  Check(ReadStart(dir + "\\wine.sta", 27) == "$STAINFO Ver7.00 TALVERIN\r\n", ".sta header");
  Check(ReadStart(dir + "\\wine.epp", 33) == "$EPHREC Ver7.0 TALVERIN Ashtech\r\n", ".epp header");

  request.size = 2671;
  Check(convert(&request, &callbacks, 0) == 1, "a wrong record size is refused");
  char text[512];
  getErr(text);
  Check(std::strcmp(text, "Incorrect version of Sample Conversion DLL") == 0, "its error text");
  FreeLibrary(module);
  return Report();
}
