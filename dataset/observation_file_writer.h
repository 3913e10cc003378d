// Writes the bytes of an observation file (B) from a readable description, for tests and
// tools (not part of the module): the 90-byte file header with its model text, 67-byte
// epoch headers, and channel records of 35, 66 or 97 bytes in the standard layout or in
// the alternative layout. Values are given in the file's own units (ranges and times in s,
// phases in cycles, Doppler as the raw integer in units of 0.0001). Byte offsets are the
// named constants of input/observation_reader.h, so reader and writer share one table.
// The result can be cut at a byte count, and raw bytes can follow any epoch or the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talverin {

// One channel record. Standard layout: the L1 fields, plus the L2 block for 66-byte
// (range, phase) and 97-byte records (range, warning bits, SNR, phase). Alternative layout:
// lock_ms, prn, transmit_s, doppler, l1Phase_cyc and altStatus only.
struct ObsChannel {
  uint8_t prn = 1;
  double caRange_s = 0.07;  // C/A code range
  uint8_t l1Warning = 0;    // 128 restart, 4 phase, 8 code, 16 integration
  uint8_t l1Snr = 0;
  int32_t doppler = 0;  // raw field, units of 0.0001
  double l1Phase_cyc = 0.0;
  double l2Range_s = 0.0;
  uint8_t l2Warning = 0;  // 97-byte records only; 128 restart
  uint8_t l2Snr = 0;      // 97-byte records only
  double l2Phase_cyc = 0.0;
  uint32_t lock_ms = 0;     // alternative layout: L1 tracking time
  double transmit_s = 0.0;  // alternative layout: time of transmission, s of week
  uint8_t altStatus = 0;    // alternative layout, byte 49 (needs a record of 50+ bytes)
};

struct ObsEpoch {
  std::string site = "A101";  // 4 characters, NUL-padded or cut
  double time_s = 0.0;        // receiver time, s of GPS week
  double x_m = 0.0;           // ECEF position
  double y_m = 0.0;
  double z_m = 0.0;
  double clock_m = 0.0;              // receiver clock offset
  std::optional<uint8_t> countByte;  // byte 66; empty: the number of channels below
  std::vector<ObsChannel> channels;
  std::vector<uint8_t> rawAfter;  // bytes written right after this epoch's records
};

enum class ObsLayout { kStandard, kAlternative };

struct ObsFile {
  std::string versionTag = "version:";  // 8 bytes at offset 0
  std::string model = "Z-XII3";         // from byte 11, cut to the header
  int recordSize = 97;                  // bytes per channel record: 35, 66 or 97
  ObsLayout layout = ObsLayout::kStandard;
  std::vector<ObsEpoch> epochs;
  std::vector<uint8_t> rawAfter;  // appended after the last epoch
  std::optional<size_t> cutAt;    // keep only the first cutAt bytes
};

std::vector<uint8_t> ObservationHeaderBytes(const ObsFile& file);
std::vector<uint8_t> EpochHeaderBytes(const ObsEpoch& epoch);
std::vector<uint8_t> ChannelRecordBytes(const ObsChannel& channel, int recordSize,
                                        ObsLayout layout);
std::vector<uint8_t> ObservationFileBytes(const ObsFile& file);
// false when the file cannot be written.
bool WriteObservationFile(const std::string& path, const ObsFile& file);

}  // namespace talverin
