// Fuzzes the ephemeris file of a GLONASS-capable receiver (GPS and GLONASS records) and a
// dual frequency receiver, beside an observation file holding only its header.
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace talverin::fuzzing;
  if (size < 1) return 0;
  talverin::ConvertOptions options = OptionsFromByte(data[0]);
  options.ReceiverType = (data[0] & 1) ? 4 : 2;
  DownloadSetBytes set;
  set.observation = ObservationHeader(options.ReceiverType);
  set.ephemeris.assign(data + 1, data + size);
  ConvertInScratch(set, options);
  return 0;
}
