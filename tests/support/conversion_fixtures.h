// Fixtures of the conversion tests: a download set written into a scratch directory and
// converted through the exported ConvertFile, with the GPB file read back and the .epp and
// .sta texts; small observation files; an epoch header position from geodetic
// coordinates on the receivers' ellipsoid (a = 6378137 m, e^2 = 0.006694380066).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dataset/observation_file_writer.h"
#include "output/gpb_reader.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace testing_support {

struct ConvertedSet {
  ConversionRun run;
  std::vector<GpbReadEpoch> epochs;
  int32_t readStatus = -2;  // last GpbReader result: 0 clean end, -1 damaged, -2 not opened
  std::string epp, sta;     // the whole texts

  std::vector<double> Times() const;  // gpsTime of every epoch read back
};

// Writes the B and E bytes as B0001A01.001 and E0001A01.001 into dir (S and D files the
// caller wrote stay), converts to dir/out.gpb and reads the outputs back.
ConvertedSet ConvertDownloadSet(const TempDir& dir, const std::vector<uint8_t>& b,
                                const std::vector<uint8_t>& e = {},
                                const std::function<void(ConvertOptions&)>& setOptions = {},
                                const std::function<void(const Message&)>& onMessage = {});

// Every epoch of a GPB file read back (at most 100 000); the reader's last result: 0 clean
// end, -1 damaged, -2 not opened.
int32_t ReadGpb(const std::string& path, std::vector<GpbReadEpoch>* epochs);

// count epochs of one channel (PRN 7) one second apart from start_s: dual frequency records.
ObsFile OneChannelEpochs(int count, double start_s, const std::string& site = "A101");

// ECEF (m) of a geodetic point (degrees, m above the ellipsoid), closed form.
void ReceiverEcef(double lat_deg, double lon_deg, double h_m, double* x, double* y, double* z);

// Occurrences of needle in text.
size_t CountOf(const std::string& text, const std::string& needle);

}  // namespace testing_support
}  // namespace talverin
