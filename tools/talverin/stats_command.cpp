// `talverin stats`: accuracy of the positions in a GPB file against a known antenna position.
#include <cstdio>

#include "tools/download_set/position_stats.h"
#include "tools/talverin/commands.h"

namespace talverin_cli {

int RunStats(const std::string& path, const std::vector<double>& reference) {
  if (reference.size() != 3) {
    std::fprintf(stderr, "talverin: --reference needs X,Y,Z in metres (ECEF)\n");
    return 2;
  }
  const double xyz[3] = {reference[0], reference[1], reference[2]};
  talverin::PositionStats stats;
  std::string error;
  if (!talverin::ComputePositionStats(path, xyz, &stats, &error)) {
    std::fprintf(stderr, "talverin: %s\n", error.c_str());
    return 2;
  }
  std::printf("%s", talverin::FormatPositionStats(stats).c_str());
  return 0;
}

}  // namespace talverin_cli
