// Builds a receiver download set (observation file B, ephemeris file E, site file S; one
// name that differs only in its first letter) from a RINEX 2 observation file and its GPS
// navigation file, in the units and signs the module's readers take back: ranges as s of
// light time, phases negated, Doppler as -Hz / 0.0001 (int32), whole-number SNR, warning
// bit 128 wherever lock was lost, the receiver position of the epoch headers as chosen
// (HeaderPosition). GPS satellites only; no event file is written. Not part of the module.
#pragma once

#include <cstdint>
#include <string>

#include "base/gnss_constants.h"

namespace talverin {

// Doppler derived from the L1 phase (when the epoch has no D1) uses neighbour epochs no
// further than this from the epoch.
constexpr double kMaxDopplerSpan_s = 300.0;
// SNR from the signal strength digit n (1-9) when the file has no S1/S2: the middle of
// the 6 dB-Hz band that digit stands for, 6 n + 3 dB-Hz (12-17 dB-Hz for 2, ... 54+ for 9).
constexpr int kSnrPerSsi_dbhz = 6;
constexpr int kSnrSsiOffset_dbhz = 3;

// What the epoch headers carry as the receiver's own position: the RINEX approximate
// position (what a receiver with a fix writes), zeros (what it writes before its first fix),
// or the approximate position moved by a distance, equally east, north and up.
enum class HeaderPosition { kRinex, kZeros, kMoved };

struct RinexImportOptions {
  std::string observationPath;
  std::string navigationPath;
  std::string outputDir;
  std::string receiver;  // empty: from REC # / TYPE / VERS; else a class word or a model text
  std::string site;      // empty: the marker name cut to 4 characters
  HeaderPosition headerPosition = HeaderPosition::kRinex;
  double headerMove_m = 0.0;  // kMoved: distance from the approximate position
  bool keepExisting = false;  // refuse to write when the B, E or S file already exists
};

// The header position for a --header-position word: "rinex", "zeros", or a distance in
// metres (the approximate position moved by it). 0 found, -1 not (error text set).
[[nodiscard]] int32_t ParseHeaderPosition(const std::string& word, RinexImportOptions* options,
                                          char* errorText);

struct RinexImportSummary {
  std::string observationFile;  // paths written
  std::string ephemerisFile;
  std::string siteFile;
  char model[16] = "";           // receiver model text of the observation file header
  int32_t receiverType = 0;      // 1-4
  int32_t recordSize = 0;        // 35, 66 or 97 bytes
  char site[5] = "";             // site name of the first epoch
  int32_t epochs = 0;            // epochs written
  int32_t channels = 0;          // channel records written
  int32_t noRange = 0;           // satellites left out: C/A range blank or zero
  int32_t overLimit = 0;         // satellites left out: more than the receiver's channels
  int32_t otherSatellites = 0;   // satellites left out: not GPS 1-32, or listed twice
  int32_t dopplerFromPhase = 0;  // channels whose Doppler came from the phase rate
  int32_t noDoppler = 0;         // channels with Doppler field 0: no D1 and no usable phase
  int32_t eventRecords = 0;      // event records (flags 2-5) in the observation file
  int32_t slipRecords = 0;       // cycle-slip records (flag 6), skipped
  int32_t ephemerides = 0;       // records written to the ephemeris file
  int32_t unhealthy = 0;         // of which with a health word other than 0
  // Seconds from the first epoch to the nearest navigation record's clock time (toc), its
  // ten-bit week taken nearest the epoch's; -1 without records.
  double navigationApart_s = -1.0;
};

// The model text and receiver type for a --receiver word: "ca", "dual", "l2-codeless",
// "glonass", or a model text that the receiver detection table takes (e.g. "Z-XII3").
// 0 found, -1 not (error text set).
[[nodiscard]] int32_t ReceiverModelForWord(const std::string& word, char model[16], int32_t* type,
                                           char* errorText);
// The model text for the receiver of a REC # / TYPE / VERS line: an optional maker word
// ASHTECH, then a model the detection table takes (Z-XII3T is recorded as Z-XII3).
// 0 found, -1 not (error text set).
[[nodiscard]] int32_t ReceiverModelForRinex(const char* receiverType, char model[16], int32_t* type,
                                            char* errorText);

// Writes the download set into options.outputDir. 0 success, -1 failure with the reason in
// errorText (kTextSize bytes); on failure no file of the set is left behind.
[[nodiscard]] int32_t ImportRinex(const RinexImportOptions& options, RinexImportSummary* summary,
                                  char* errorText);

}  // namespace talverin
