// Fuzzes a whole download set: the input is split at "\n--8<--\n" into the observation,
// ephemeris, site and event files; the first byte of the observation part picks the options,
// and with its top bit set the receiver type is left to detection from the model text.
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace talverin::fuzzing;
  std::vector<std::vector<uint8_t>> parts = SplitParts(data, size);
  if (parts[0].empty()) return 0;
  talverin::ConvertOptions options = OptionsFromByte(parts[0][0]);
  if (parts[0][0] & 0x80) options.ReceiverType = 0;
  DownloadSetBytes set;
  set.observation.assign(parts[0].begin() + 1, parts[0].end());
  set.ephemeris = parts[1];
  set.site.assign(parts[2].begin(), parts[2].end());
  set.events.assign(parts[3].begin(), parts[3].end());
  ConvertInScratch(set, options);
  return 0;
}
