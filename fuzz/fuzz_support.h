// Shared pieces of the fuzz harnesses: a scratch directory per process and a whole
// conversion of a download set written there, through the exported ConvertFile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/host_records.h"

namespace talverin {
namespace fuzzing {

struct DownloadSetBytes {
  std::vector<uint8_t> observation;  // B file
  std::vector<uint8_t> ephemeris;    // E file
  std::string site;                  // S file; not written when empty
  std::string events;                // D file; not written when empty
};

// Writes the set into the scratch directory and converts it; returns ConvertFile's result.
// Aborts the process (a finding) when a result or a message breaks the module's promises.
int32_t ConvertInScratch(const DownloadSetBytes& set, const ConvertOptions& options);

// Options from SetFactoryDefaults, then receiver type, layout and flags from one byte.
ConvertOptions OptionsFromByte(uint8_t selector);

// A valid ephemeris file: healthy GPS records for PRNs 1..32 around one week.
const std::vector<uint8_t>& ValidEphemerisFile();
// A minimal valid observation file header for a receiver type 1..4.
std::vector<uint8_t> ObservationHeader(int32_t receiverType);

// Splits data at the separators "\n--8<--\n" into up to four parts.
std::vector<std::vector<uint8_t>> SplitParts(const uint8_t* data, size_t size);

}  // namespace fuzzing
}  // namespace talverin
