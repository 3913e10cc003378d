// Reader of a raw download set for the tools (RINEX export, set information, quality
// report): the observation file (B) header and its epochs with every channel value in the
// file's own units (ranges s, phases cycles with the file's sign, Doppler as the raw count
// of 0.0001 Hz, SNR and warning bytes as stored), the E file's GPS records through the
// module's decoder (GpsEph with its health word) and its GLONASS records, the S file and the
// D file through the module's readers. Epochs are streamed one at a time: a 24 h 1 Hz set
// is never held whole. The module's judge (input/epoch_scanner.h) decides which bytes are
// epochs, so the tools deliver the epochs a conversion writes; what it skips or refuses is
// reported as damage. Nothing here interprets values (no Doppler rescale, no GLONASS second
// removal, no week resolution), but a value that is not a number, or one no receiver can
// have measured (dataset/value_plausibility.h), reads as 0 (none) and is reported as damage
// with its epoch's offset. Not part of the module.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "input/ephemeris_reader.h"
#include "input/epoch_scanner.h"
#include "input/receiver_detect.h"
#include "job/event_table.h"
#include "orbit/gps_eph.h"

namespace talverin {

// One 31-byte signal block of a channel record, as stored.
struct RawSignalBlock {
  double range_s = 0.0;    // code range, s (0: none)
  uint8_t warning = 0;     // warning bits: 128 restart (C/A also 4 phase, 8 code, 16 integration)
  uint8_t snr = 0;         // signal-to-noise byte
  int32_t doppler = 0;     // Doppler, counts of 0.0001 Hz, file sign
  double phase_cyc = 0.0;  // carrier phase, cycles, file sign (0: none)
};

struct RawChannel {
  uint8_t prn = 0;     // as stored: 0 empty, 1-32 GPS, above 32 GLONASS
  RawSignalBlock ca;   // C/A code block
  bool hasP1 = false;  // dual-frequency records: the P1 block
  RawSignalBlock p1;
  bool hasL2 = false;  // L2-codeless and dual-frequency records: the L2 block
  RawSignalBlock l2;
};

struct RawEpoch {
  int64_t offset = 0;                  // byte offset of the epoch header in the B file
  char site[5] = "";                   // the 4 site bytes as stored, NUL-terminated
  double tow_s = 0.0;                  // receiver time, s of GPS week
  double ecef_m[3] = {0.0, 0.0, 0.0};  // receiver position, ECEF
  double clock_m = 0.0;                // receiver clock offset, m
  int32_t countByte = 0;               // channel records (int8 as stored, 0 to the channel limit)
  std::vector<RawChannel> channels;
};

struct SetGpsEphemeris {
  GpsEph eph{};        // angles in radians, week ten-bit as stored
  int16_t health = 0;  // 0 healthy
  int64_t offset = 0;  // byte offset of the record in the E file
};

struct SetGlonassEphemeris {
  GlonassFields fields{};
  int64_t offset = 0;
};

struct SetSiteInfo {
  bool present = false;  // a usable site block was read
  char name[32] = "";
  double tow_s = 0.0;            // s of GPS week, from the station line
  double antennaHeight_m = 0.0;  // vertical, over the marker
};

// Damage found while reading: where, how many bytes were lost, and what was seen.
struct SetDamage {
  char file = 'B';      // B or E
  int64_t offset = 0;   // first damaged byte
  int64_t skipped = 0;  // bytes skipped (0 when nothing was lost)
  std::string text;
};

class ValueJudge;

class DownloadSetReader {
 public:
  DownloadSetReader();
  ~DownloadSetReader();
  DownloadSetReader(const DownloadSetReader&) = delete;
  DownloadSetReader& operator=(const DownloadSetReader&) = delete;

  // Opens the B file and reads its 90-byte header. receiverType 0 detects the type from the
  // model text (the module's table); 1-4 fixes it. 0 opened, -1 not (errorText() says why).
  [[nodiscard]] int32_t Open(const std::string& bPath, int32_t receiverType = 0);
  // The next epoch: 1 read, 0 end of file, -1 read error. Damaged stretches before it are
  // skipped and recorded in damage(); an epoch cut by the end of the file is left out, as
  // the module leaves it out, and recorded there too (lastEpochCut()).
  [[nodiscard]] int32_t NextEpoch(RawEpoch* epoch);
  // Back to the first epoch (for a second pass). 0, or -1 on a seek failure.
  [[nodiscard]] int32_t Rewind();

  // The whole E file: GPS records (PRN 1-32) and, for GLONASS receivers, GLONASS records;
  // records with PRN <= 0 are skipped. 0 read (also when there is no E file: exists() false),
  // -1 read error. A cut last record is recorded in damage().
  [[nodiscard]] int32_t ReadEphemerides(std::vector<SetGpsEphemeris>* gps,
                                        std::vector<SetGlonassEphemeris>* glonass);
  // The S file through the module's site reader; info->present false when there is none or
  // it is not usable.
  void ReadSite(SetSiteInfo* info);
  // The D file through the module's event loader; an empty table when there is none. Event
  // times lose the receiver's 13 s lag unless stationMarks is set or this is a GLONASS
  // receiver, as in a conversion. The caller frees the table with FreeEventTable.
  // 0, or -1 when the records cannot be allocated.
  [[nodiscard]] int32_t ReadEvents(bool stationMarks, EventTable* table);

  const uint8_t* header() const { return header_; }
  const char* model() const { return model_; }  // model text, 9 characters at most
  int32_t receiverType() const { return receiverType_; }
  int32_t recordSize() const { return recordSize_; }
  int32_t channelLimit() const;
  int64_t fileSize() const { return fileSize_; }
  // Companion file paths: the B path with its file name's first letter replaced.
  const std::string& path() const { return bPath_; }
  std::string CompanionPath(char letter) const;
  const std::vector<SetDamage>& damage() const { return damage_; }
  bool lastEpochCut() const { return lastEpochCut_; }
  int64_t damagedBytes() const { return damagedBytes_; }
  // Every damaged stretch, also those beyond the texts kept in damage().
  int64_t damagedPlaces() const { return damagedPlaces_; }
  const char* errorText() const { return errorText_; }

 private:
  // From the first epoch on, damage forgotten: 0, or -1 (errorText() says why).
  int32_t StartScan();
  // Both return the count of values that are not numbers (read as 0).
  int32_t DecodeEpoch(const ScanItem& item, RawEpoch* epoch) const;
  int32_t DecodeChannel(const uint8_t* record, RawChannel* channel) const;
  // The epochs are over: 0, or -1 after a read error.
  int32_t EndOfEpochs(int64_t offset);
  // Clears the values of a delivered epoch that no receiver measures; damage when any.
  void JudgeValues(int64_t offset, RawEpoch* epoch);
  void AddDamage(char file, int64_t offset, int64_t skipped, const std::string& text);

  FILE* file_ = nullptr;
  std::unique_ptr<EpochScanner> scanner_;  // reads file_ from the first epoch header
  std::unique_ptr<ValueJudge> judge_;      // values of the epochs delivered
  std::string bPath_;
  uint8_t header_[kObservationHeaderSize] = {};
  char model_[kModelTextShown + 1] = "";
  int32_t receiverType_ = 0;
  int32_t recordSize_ = 0;
  int64_t fileSize_ = 0;
  int64_t rejectedAt_ = -1;  // offset of the header the judge refused last
  std::string rejectReason_;
  bool lastEpochCut_ = false;
  bool ended_ = false;  // the epochs are over: NextEpoch returns endResult_
  int32_t endResult_ = 0;
  std::vector<SetDamage> damage_;
  int64_t damagedBytes_ = 0;
  int64_t damagedPlaces_ = 0;
  char errorText_[512] = "";
};

}  // namespace talverin
