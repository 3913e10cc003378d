// Fuzzes the ephemeris file of a GLONASS receiver (GPS and GLONASS records; bit 0 of the
// first byte set) or of a dual frequency receiver, beside an observation file of three
// simulated epochs, so that the GPS records that load also drive the position solution.
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace talverin::fuzzing;
  if (size < 1) return 0;
  talverin::ConvertOptions options = OptionsFromByte(data[0]);
  options.ReceiverType = (data[0] & 1) ? 4 : 2;
  static const std::vector<uint8_t> dualFile = SimulatedObservationFile(2, false, 3);
  static const std::vector<uint8_t> glonassFile = SimulatedObservationFile(4, false, 3);
  DownloadSetBytes set;
  set.observation = options.ReceiverType == 4 ? glonassFile : dualFile;
  set.ephemeris.assign(data + 1, data + size);
  ConvertInScratch(set, options);
  return 0;
}
