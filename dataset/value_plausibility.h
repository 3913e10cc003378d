// Plausibility of the values of an epoch's channel records, for the tools' reader: values
// that the receiver cannot have measured are damage in the file (overwritten bytes), not
// observations. A value is implausible when
//   - a Doppler exceeds 10 kHz (no receiver on or near the Earth sees more on L1 or L2);
//   - an SNR exceeds 99 dB-Hz (receivers report at most about 60);
//   - a GPS range lies outside 0.05 to 0.1 s of light time (15,000 to 30,000 km, a receiver
//     clock of a few ms included), GLONASS after its whole GPS-UTC seconds;
//   - a phase exceeds 1e10 cycles (more than a day of the largest Doppler);
//   - a range changes from the epoch before (at most 120 s before) by more than 3,000 m/s
//     against the median change of the other satellites (a receiver clock jump moves all).
// Implausible values are cleared (read as none) and described; nothing else is changed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dataset/download_set_reader.h"

namespace talverin {

class ValueJudge {
 public:
  // Clears the implausible values of one epoch (times in s, any continuous scale) and adds
  // one text per value to findings ("C/A range of PRN 5: 1.2e+07 s"). glonass: the
  // receiver's PRNs above 32 are GLONASS satellites.
  void Check(RawEpoch* epoch, bool glonass, std::vector<std::string>* findings);
  // Forgets the epoch before (a second pass starts again).
  void Reset() { previousTime_s_ = -1e300; }

 private:
  void CheckJumps(RawEpoch* epoch, std::vector<std::string>* findings);

  double previousTime_s_ = -1e300;
  double previousRange_s_[256] = {};   // C/A range by PRN byte at the epoch before; 0 none
  std::vector<uint8_t> previousPrns_;  // the PRN bytes of the epoch before
  std::vector<double> steps_;          // CheckJumps' range steps, kept to reuse the storage
};

}  // namespace talverin
