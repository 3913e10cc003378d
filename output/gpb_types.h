// In-memory GPB epoch and satellite records: what the observation reader fills, the
// positioning engine corrects and the GPB writer turns into file bytes. These are working
// structures, never written as raw memory: gpb_file.cpp builds every file byte from the
// named fields, so their in-memory alignment does not matter.
#pragma once

#include <cstdint>

namespace talverin {

constexpr int kGpbMaxSats = 24;  // satellite records one epoch can hold

// sflags presence bits of gpb_sat_type.
constexpr uint32_t kSatRange1 = 0x1;                 // range1, C/A pseudorange
constexpr uint32_t kSatPhase1 = 0x2;                 // phase1
constexpr uint32_t kSatDoppler1 = 0x4;               // doppler1
constexpr uint32_t kSatLock1 = 0x8;                  // lock1
constexpr uint32_t kSatSnr1 = 0x10;                  // snr1
constexpr uint32_t kSatRangeP1 = 0x20;               // rangeP1
constexpr uint32_t kSatRange2 = 0x40;                // range2
constexpr uint32_t kSatPhase2 = 0x80;                // phase2
constexpr uint32_t kSatLock2 = 0x100;                // lock2
constexpr uint32_t kSatSnr2 = 0x200;                 // snr2
constexpr uint32_t kSatSecondFrequencyMask = 0x3E0;  // bits 5..9: extended records needed
constexpr uint32_t kSatRange1Marked = 0x10000;       // copied to the new file's flag 0x80

// flags bits of gpb_epoch_type.
constexpr uint16_t kEpochPositionValid = 0x1;
constexpr uint16_t kEpochMoving = 0x2;
constexpr uint16_t kEpochAuxValid = 0x200;

struct gpb_sat_type {
  uint32_t prn;     // GPS 1..32, GLONASS numbers above 32
  uint32_t sflags;  // presence bits above
  double range1;    // m, C/A-code pseudorange
  double phase1;    // cycles, L1 carrier phase
  double doppler1;  // Hz
  double lock1;     // s, L1 continuous tracking time
  double snr1;      // receiver signal-to-noise value
  double rangeP1;   // m, P-code pseudorange on L1
  double range2;    // m, pseudorange on L2
  double phase2;    // cycles, L2 carrier phase
  double lock2;     // s, L2 continuous tracking time
  double snr2;      // receiver signal-to-noise value
};

struct gpb_epoch_type {
  uint32_t valid;   // non-zero when the record holds an epoch
  uint16_t flags;   // kEpoch* bits
  int16_t nsat;     // satellite records in sat[]
  double lat;       // degrees, geodetic WGS84
  double lon;       // degrees
  float height;     // m, ellipsoidal
  double rcvTime;   // s of GPS week, receiver time tag
  double gpsTime;   // s of GPS week
  double corrTime;  // s of GPS week, rcvTime - clock / c
  double clock;     // m, receiver clock offset
  float extra;      // carried unchanged, 0 from this system's producers
  uint16_t aux;     // written only when flags has kEpochAuxValid
  gpb_sat_type sat[kGpbMaxSats];
};

}  // namespace talverin
