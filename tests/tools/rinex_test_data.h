// Where the RINEX tests find real data: the bundled sample under samples/ and the public
// sets under ../shared/data/ beside the source tree. The source directory comes from the
// environment (ctest sets TALVERIN_SOURCE_DIR) or from the compile definition.
#pragma once

#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace talverin {
namespace rinex_test {

inline std::string SourceDir() {
  const char* fromEnvironment = std::getenv("TALVERIN_SOURCE_DIR");
  if (fromEnvironment != nullptr && fromEnvironment[0] != '\0') return fromEnvironment;
#ifdef TALVERIN_SOURCE_DIR
  return TALVERIN_SOURCE_DIR;
#else
  return ".";
#endif
}

inline bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The path of a file of a shared data set ("bahr-2004-162/bahr1620.04o"), or "" when absent.
inline std::string SharedDataFile(const std::string& relative) {
  const std::string path = SourceDir() + "/../shared/data/" + relative;
  return FileExists(path) ? path : "";
}

// The bundled one-hour sample (always present in the project).
inline std::string SampleFile(const std::string& name) {
  return SourceDir() + "/samples/bahr-2004-162/" + name;
}

}  // namespace rinex_test
}  // namespace talverin
