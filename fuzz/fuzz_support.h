// Shared pieces of the fuzz harnesses: a scratch directory per process, a whole conversion
// of a download set written there through the exported AutoDetect and ConvertFile, and the
// checks that turn a broken promise into a finding (abort): a result other than 0, 1 or -1
// (0 or 1 from AutoDetect), a message or error text of 512 characters or more, a GPB file
// that does not read back to a clean end or whose epoch count differs from EpochsWritten,
// no GPB file after a result of 0, a completed conversion whose .sta file holds another
// number of station blocks than StationsWritten.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "job/host_records.h"

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
// A whole observation file (header included) of epochCount epochs one second apart from
// 352800 s of week, with the C/A ranges (s) of the satellites of ValidEphemerisFile above
// 5 degrees seen from 45 N 7 E, at most 8 per epoch, in the record size of the receiver
// type and the standard or alternative layout. Positions can be recomputed from it.
std::vector<uint8_t> SimulatedObservationFile(int32_t receiverType, bool altLayout, int epochCount);

// Loads the event file of the last ConvertInScratch into a job of these options and
// receiver type; aborts when a loaded record's text field does not end inside its field.
void CheckEventRecords(const ConvertOptions& options, int32_t receiverType);

// Splits data at the separators "\n--8<--\n" into up to four parts.
std::vector<std::vector<uint8_t>> SplitParts(const uint8_t* data, size_t size);

}  // namespace fuzzing
}  // namespace talverin
