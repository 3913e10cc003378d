// Where the RINEX tests find real data: the bundled sample under samples/ and the public
// sets under ../shared/data/ beside the source tree. The source directory comes from the
// environment (ctest sets TALVERIN_SOURCE_DIR) or else from the test build's compile
// definition. Also the import of a real RINEX pair as a download set, its export back to
// RINEX through the library, and header lines as the writers lay them out.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "dataset/byte_builder.h"
#include "rinex/rinex_export.h"
#include "rinex/rinex_import.h"

namespace talverin {
namespace rinex_test {

inline std::string SourceDir() {
  const char* fromEnvironment = std::getenv("TALVERIN_SOURCE_DIR");
  return fromEnvironment != nullptr && fromEnvironment[0] != '\0' ? fromEnvironment
                                                                  : TALVERIN_SOURCE_DIR;
}

// The path of a file of a shared data set ("bahr-2004-162/bahr1620.04o"), or "" when absent.
inline std::string SharedDataFile(const std::string& relative) {
  const std::string path = SourceDir() + "/../shared/data/" + relative;
  std::error_code absent;
  return std::filesystem::is_regular_file(path, absent) ? path : "";
}

// The bundled one-hour sample (always present in the project).
inline std::string SampleFile(const std::string& name) {
  return SourceDir() + "/samples/bahr-2004-162/" + name;
}

// The real RINEX pairs: the bundled BAHR hour always (the shared copy of BAHR is the same
// pair of files), the shared USNO day when it is present. name: the shared data directory.
struct RealRinexSet {
  std::string name, observation, navigation;
};
inline std::vector<RealRinexSet> RealRinexSets() {
  std::vector<RealRinexSet> sets{
      {"bahr-2004-162", SampleFile("bahr1620.04o"), SampleFile("bahr1620.04n")}};
  const std::string o = SharedDataFile("usno-2005-020/usno0200.05o");
  const std::string n = SharedDataFile("usno-2005-020/brdc0200.05n");
  if (!o.empty() && !n.empty()) sets.push_back({"usno-2005-020", o, n});
  return sets;
}

// Imports a RINEX pair as a download set into outDir, the epoch headers holding the position
// that headerPosition names (import-rinex --header-position), as the receiver class or model
// text given (empty: from the RINEX header). The summary; on failure a test failure and an
// empty observationFile.
inline RinexImportSummary ImportSet(const std::string& observation, const std::string& navigation,
                                    const std::string& outDir, const char* headerPosition = "rinex",
                                    const std::string& receiver = "") {
  RinexImportOptions options;
  options.observationPath = observation;
  options.navigationPath = navigation;
  options.outputDir = outDir;
  options.receiver = receiver;
  RinexImportSummary summary;
  char error[kTextSize] = "";
  if (ParseHeaderPosition(headerPosition, &options, error) != 0 ||
      ImportRinex(options, &summary, error) != 0) {
    ADD_FAILURE() << error;
    summary.observationFile.clear();
  }
  return summary;
}

// The bundled hour imported into outDir: its B file ("" and a test failure when it fails).
inline std::string ImportBahr(const std::string& outDir) {
  return ImportSet(SampleFile("bahr1620.04o"), SampleFile("bahr1620.04n"), outDir).observationFile;
}

// A header line: the label starts in column 61.
inline std::string HeaderLine(std::string line, const std::string& label) {
  line.resize(60, ' ');
  return line + label + "\n";
}

struct Exported {
  std::string obs, nav, obsName;  // the texts written and the name the export gives
  RinexExportSummary summary;
};

// The set of the B file exported to RINEX (version 2 or 3) as outStem.o and outStem.n, with
// a fixed creation date; on failure a test failure and empty texts.
inline Exported ExportSet(const std::string& b, const std::string& outStem, int32_t version = 2,
                          RinexExportOptions options = {}) {
  options.bPath = b;
  options.rinexVersion = version;
  options.creationDate = "20240102 030405 UTC";
  RinexExporter exporter;
  Exported out;
  if (exporter.Prepare(options) != 0 || exporter.Write(outStem + ".o", outStem + ".n") != 0) {
    ADD_FAILURE() << exporter.errorText();
    return out;
  }
  out.obs = ReadFileText(outStem + ".o");
  out.nav = ReadFileText(outStem + ".n");
  out.summary = exporter.summary();
  out.obsName = exporter.observationName();
  return out;
}

}  // namespace rinex_test
}  // namespace talverin
