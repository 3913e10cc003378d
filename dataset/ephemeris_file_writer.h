// Writer of ephemeris files (E) for tests and tools, not part of the module: 129-byte
// little-endian records built from in-memory values, in the layout the module's reader
// takes (input/ephemeris_reader.h). GPS values are given as the module holds them
// (GpsEph, angles in radians): the writer divides the seven angle fields by pi to give
// semicircles and narrows the single-precision fields to float, so a value read back
// equals the given one only to float (or one division and multiplication) precision.
// Raw and cut records let tests build damaged files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "orbit/gps_eph.h"

namespace talverin {

// The fields of one GLONASS record, named after the .epp line and place that prints them.
struct GlonassEphFields {
  int8_t prn = 33;  // 33..127
  int32_t ashFirst = 0;
  int32_t tkbFirst = 0;
  double tkbSecond = 0.0;  // printed cut toward zero
  float lteFirst = 0.0f;
  float lteSecond = 0.0f;
  uint8_t lteThird = 0;
  double ashSecond = 0.0;
  double pos_m[3] = {};     // printed x 0.001
  double vel_mps[3] = {};   // printed x 0.001
  double acc_mps2[3] = {};  // printed x 0.001
  int8_t ashThird = 0;
  uint16_t flgFirst = 0;
  uint16_t flgSecond = 0;
  int8_t res[3] = {};  // printed as sign-widened hexadecimal
};

// One GPS record. health: 0 healthy. week is stored as int16 (values outside wrap).
std::vector<uint8_t> GpsEphemerisRecord(const GpsEph& eph, int16_t health = 0);
// One GLONASS record; the bytes the reader skips are zero.
std::vector<uint8_t> GlonassEphemerisRecord(const GlonassEphFields& fields);
// A 129-byte record of zeros with the given PRN byte (0x85 is PRN -123).
std::vector<uint8_t> FilledEphemerisRecord(uint8_t prnByte, uint8_t fill = 0);

// Collects records in file order and writes them as one file.
class EphemerisFileWriter {
 public:
  void AddGps(const GpsEph& eph, int16_t health = 0);
  void AddGlonass(const GlonassEphFields& fields);
  // Appends the bytes as they are (normally one 129-byte record).
  void AddRaw(const std::vector<uint8_t>& bytes);
  // Appends the first keepBytes (fewer than 129) of a record: a cut last record.
  void AddCut(const std::vector<uint8_t>& record, size_t keepBytes);

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  // False when the file cannot be written.
  [[nodiscard]] bool WriteTo(const std::string& path) const;

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace talverin
