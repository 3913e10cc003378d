// Fuzzes the observation file: the first byte picks the receiver type, the channel layout
// and the option flags; the rest follows a valid header for that type. Position
// recomputation is on, with a valid ephemeris file beside it.
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace talverin::fuzzing;
  if (size < 1) return 0;
  const talverin::ConvertOptions options = OptionsFromByte(data[0]);
  DownloadSetBytes set;
  set.observation = ObservationHeader(options.ReceiverType);
  set.observation.insert(set.observation.end(), data + 1, data + size);
  set.ephemeris = ValidEphemerisFile();
  ConvertInScratch(set, options);
  return 0;
}
