// Splicing: several download sets of one site and day (sessions A, B, C...) exported to one
// RINEX observation file and one navigation file. Each set is exported as on its own; then
// the epochs of all are merged in time order, an epoch whose time an earlier one already
// has is left out, and navigation records repeated word for word are written once. Where the
// next set's marker, receiver, antenna or antenna delta differs from the one before, an event
// record says so (flag 3 with the new MARKER NAME, else flag 4 with the lines that changed).
// Sets must hold the same observables (one receiver class). Files are the caller's to write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rinex/rinex_export.h"

namespace talverin {

struct RinexSpliceResult {
  std::string observation, navigation;  // file texts
  std::string observationName, navigationName;
  RinexExportSummary summary;    // epochs, observations, events and records as written
  int32_t duplicateEpochs = 0;   // epochs left out because an earlier set has their time
  int32_t duplicateRecords = 0;  // navigation records left out as repeats
};

// Exports every set (options with each bPath in turn) through temporary files in tempDir,
// then splices them in the order of their first epochs. 0, or -1 with the reason in error.
[[nodiscard]] int32_t SpliceRinex(const std::vector<std::string>& bPaths,
                                  const RinexExportOptions& options, const std::string& tempDir,
                                  RinexSpliceResult* result, std::string* error);

// The spliced sets as one download set, for the tools that read sets (qc): the version 2
// splice written into tempDir and imported there (rinex_import.h) as B, E and S files of the
// receiver class given (1-4; 0 from the RINEX header). 0 with the B file's path in bPath and
// what the splice wrote, skipped or left out in summary, or -1 with the reason in error.
[[nodiscard]] int32_t SpliceToDownloadSet(const std::vector<std::string>& bPaths,
                                          const RinexExportOptions& options,
                                          const std::string& tempDir, std::string* bPath,
                                          RinexExportSummary* summary, std::string* error);

}  // namespace talverin
