#include "tests/support/conversion_fixtures.h"

#include <cmath>

#include "dataset/byte_builder.h"

namespace talverin {
namespace testing_support {

std::vector<double> ConvertedSet::Times() const {
  std::vector<double> times;
  for (const GpbReadEpoch& e : epochs) times.push_back(e.epoch.gpsTime);
  return times;
}

ConvertedSet ConvertDownloadSet(const TempDir& dir, const std::vector<uint8_t>& b,
                                const std::vector<uint8_t>& e,
                                const std::function<void(ConvertOptions&)>& setOptions,
                                const std::function<void(const Message&)>& onMessage) {
  ConvertedSet out;
  const std::string input = dir.File("B0001A01.001");
  if (!WriteFileBytes(input, b) || !WriteFileBytes(dir.File("E0001A01.001"), e)) return out;
  out.run = RunConversion(input, dir.File("out.gpb"), setOptions, onMessage);
  out.epp = ReadFileText(dir.File("out.epp"));
  out.sta = ReadFileText(dir.File("out.sta"));
  out.readStatus = ReadGpb(dir.File("out.gpb"), &out.epochs);
  return out;
}

int32_t ReadGpb(const std::string& path, std::vector<GpbReadEpoch>* epochs) {
  GpbReader reader;
  if (reader.Open(path.c_str()) != 0) return -2;
  GpbReadEpoch epoch;
  int32_t status = 0;
  while ((status = reader.ReadEpoch(&epoch)) == 1 && epochs->size() < 100000) {
    epochs->push_back(epoch);
  }
  return status;
}

ObsFile OneChannelEpochs(int count, double start_s, const std::string& site) {
  ObsFile file;
  for (int i = 0; i < count; ++i) {
    ObsEpoch epoch;
    epoch.site = site;
    epoch.time_s = start_s + i;
    ObsChannel channel;
    channel.prn = 7;
    channel.l1Phase_cyc = -1000.5 - i;
    epoch.channels.push_back(channel);
    file.epochs.push_back(epoch);
  }
  return file;
}

void ReceiverEcef(double lat_deg, double lon_deg, double h_m, double* x, double* y, double* z) {
  const double a = 6378137.0, e2 = 0.006694380066;
  const double phi = lat_deg * M_PI / 180.0, lam = lon_deg * M_PI / 180.0;
  const double n = a / std::sqrt(1.0 - e2 * std::sin(phi) * std::sin(phi));
  *x = (n + h_m) * std::cos(phi) * std::cos(lam);
  *y = (n + h_m) * std::cos(phi) * std::sin(lam);
  *z = (n * (1.0 - e2) + h_m) * std::sin(phi);
}

size_t CountOf(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
  return n;
}

}  // namespace testing_support
}  // namespace talverin
