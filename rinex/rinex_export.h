// RINEX export of one download set: an observation file (2.11, or 3.04) with every
// observable the B file holds, in RINEX units and signs, loss-of-lock digits and signal
// strength, site occupations and moving stretches as event records; and a GPS navigation
// file with every GPS record of the E file. Two passes over the B file (the first finds
// the time span, interval, approximate position and site changes; the second writes), one
// epoch in memory at a time. Output paths are the caller's (temporary names, renaming);
// this unit only names the files and writes what it is given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dataset/epoch_window.h"
#include "rinex/rinex_format.h"
#include "rinex/rinex_metadata.h"

namespace talverin {

struct RinexExportOptions {
  std::string bPath;
  int32_t rinexVersion = 2;          // 2 (2.11) or 3 (3.04)
  int32_t gpsWeek = -1;              // full GPS week of the first epoch; -1: resolve
  int32_t receiverType = 0;          // 0 detect from the model text, 1-4 fixed
  std::string program = "TALVERIN";  // PGM / RUN BY / DATE
  std::string creationDate;          // "yyyymmdd hhmmss UTC"; empty: now
  // Version 3 long names: monument and receiver digits (0-9); the country is the metadata's
  // ("XXX" when not given).
  int32_t monument = 0;
  int32_t receiverIndex = 0;
  // Header values given by the user; the set's own where empty (checked by the caller).
  RinexMetadata metadata;
  // Editing: only the epochs the window keeps.
  EpochWindow window;
};

struct RinexExportSummary {
  int32_t receiverType = 0;
  GpsInstant first;
  GpsInstant last;
  double interval_s = 0.0;
  int32_t epochs = 0;            // observation epochs written
  int32_t observations = 0;      // satellite records written
  int32_t droppedChannels = 0;   // channel records left out (no satellite number, repeated)
  int32_t unwritableValues = 0;  // values a RINEX field cannot hold, left blank
  int32_t events = 0;            // event records written
  int32_t navRecords = 0;        // GPS navigation records written
  int32_t navSkipped = 0;        // GPS records left out (values that are not numbers)
  int32_t solvedPositions = 0;   // epochs solved for the approximate position
  bool positionFromSolutions = false;
  // Something of the set is not in the files: damaged bytes skipped, a read error, satellite
  // numbers or records RINEX cannot hold, values too large for their field (each in messages).
  bool incomplete = false;
  std::vector<std::string> messages;  // what was resolved, damaged or left out
};

class RinexExporter {
 public:
  RinexExporter();
  ~RinexExporter();
  RinexExporter(const RinexExporter&) = delete;
  RinexExporter& operator=(const RinexExporter&) = delete;

  // Reads the set and makes the first pass. 0, or -1 with errorText().
  [[nodiscard]] int32_t Prepare(const RinexExportOptions& options);
  // File names (no directory): version 2 "ssssdddf.yyo" / ".yyn", version 3 the long names.
  const std::string& observationName() const;
  const std::string& navigationName() const;
  // Writes both files to the given paths. 0, or -1 with errorText().
  [[nodiscard]] int32_t Write(const std::string& observationPath,
                              const std::string& navigationPath);

  const RinexExportSummary& summary() const;
  const char* errorText() const;

 private:
  struct State;
  State* state_;
};

}  // namespace talverin
