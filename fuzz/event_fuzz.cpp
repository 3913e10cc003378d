// Fuzzes the event file, with a few epochs of named and unnamed sites so that the
// station-mark step and the feature blocks run; the first byte picks the options.
#include "fuzz/fuzz_support.h"

#include "dataset/byte_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace talverin::fuzzing;
  if (size < 1) return 0;
  talverin::ConvertOptions options = OptionsFromByte(data[0]);
  options.ReceiverType = 1;
  options.AltChannelLayout = 0;
  options.RecomputePosition = 0;
  DownloadSetBytes set;
  set.observation = ObservationHeader(1);
  static const char* const kSites[] = {"????", "A101", "A101", "????", "B202", "B202", "????"};
  talverin::ByteBuilder epochs;
  for (int i = 0; i < 7; ++i) {
    epochs.Text(kSites[i], 4);
    epochs.F64(100.0 + 10.0 * i);
    epochs.Zeros(54);
    epochs.I8(0);
  }
  set.observation.insert(set.observation.end(), epochs.bytes().begin(), epochs.bytes().end());
  set.events.assign(reinterpret_cast<const char*>(data + 1), size - 1);
  if (set.events.empty()) set.events = "\n";
  ConvertInScratch(set, options);
  CheckEventRecords(options, 1 + data[0] % 4);
  return 0;
}
