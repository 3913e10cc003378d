// Fuzzes the site information file.
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace talverin::fuzzing;
  talverin::ConvertOptions options = OptionsFromByte(1);
  DownloadSetBytes set;
  set.observation = ObservationHeader(options.ReceiverType);
  set.ephemeris = {};
  set.site.assign(reinterpret_cast<const char*>(data), size);
  if (set.site.empty()) set.site = "\n";
  ConvertInScratch(set, options);
  return 0;
}
