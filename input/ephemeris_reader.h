// The ephemeris file (E): 129-byte binary records, GPS (PRN 1..32) and GLONASS (PRN 33 on,
// GLONASS receivers only). Reports every record, writes the healthy GPS records and the
// GLONASS records to the .epp text file, and hands the healthy GPS records to the
// positioning engine's store when position recomputation is on. GPS angles arrive in
// semicircles (per second) and leave in radians (x pi, in double after widening). A healthy
// GPS record with a non-finite value, or with a value the navigation message cannot hold
// (orbit/broadcast_range.h), is reported and kept out of the .epp file and the store.
// The decoding (EphemerisDecoder, CheckGpsRecord) is also the tools' decode-only entry:
// it needs no job, writes no file and sends no message.
#pragma once

#include <cstdint>
#include <cstdio>

#include "input/input_source.h"
#include "orbit/broadcast_range.h"
#include "orbit/gps_eph.h"

namespace talverin {

class ConversionJob;
class EphemerisStore;

constexpr int kEphemerisRecordSize = 129;  // bytes, every record, no file header
constexpr int32_t kMaxEphWeek = 2048;      // weeks above this are reported as out of range

// GPS record, little-endian, packed. Semicircle fields are marked (sc).
//   off size type    field      unit
//     0    1 int8    prn        (<= 0: skipped; 1..32 GPS; >= 33 GLONASS)
//     1    2 int16   week       ten-bit GPS week
//     3    4 int32   tow        s of week
//     7    4 float   tgd        s
//    11    4 int32   iodc
//    15    4 int32   toc        s of week
//    19    4 float   af2        s/s^2
//    23    4 float   af1        s/s
//    27    4 float   af0        s
//    31    4 int32   iode
//    35    4 float   deltaN     sc/s
//    39    8 double  m0         sc
//    47    8 double  e
//    55    8 double  rootA      m^1/2
//    63    4 int32   toe        s of week
//    67    4 float   cic        rad
//    71    4 float   crc        m
//    75    4 float   cis        rad
//    79    4 float   crs        m
//    83    4 float   cuc        rad
//    87    4 float   cus        rad
//    91    8 double  omega0     sc
//    99    8 double  omega      sc
//   107    8 double  i0         sc
//   115    4 float   omegaDot   sc/s
//   119    4 float   iDot       sc/s
//   123    2         (not read)
//   125    2 int16   health     0 = healthy
//   127    2         (not read)
namespace gps_record {
constexpr int kPrn = 0;
constexpr int kWeek = 1;
constexpr int kTow = 3;
constexpr int kTgd = 7;
constexpr int kIodc = 11;
constexpr int kToc = 15;
constexpr int kAf2 = 19;
constexpr int kAf1 = 23;
constexpr int kAf0 = 27;
constexpr int kIode = 31;
constexpr int kDeltaN = 35;
constexpr int kM0 = 39;
constexpr int kE = 47;
constexpr int kRootA = 55;
constexpr int kToe = 63;
constexpr int kCic = 67;
constexpr int kCrc = 71;
constexpr int kCis = 75;
constexpr int kCrs = 79;
constexpr int kCuc = 83;
constexpr int kCus = 87;
constexpr int kOmega0 = 91;
constexpr int kOmega = 99;
constexpr int kI0 = 107;
constexpr int kOmegaDot = 115;
constexpr int kIDot = 119;
constexpr int kHealth = 125;
static_assert(kHealth + 2 + 2 == kEphemerisRecordSize, "GPS record is 129 bytes");
}  // namespace gps_record

// GLONASS record, little-endian, packed. Fields are named after the .epp line and the
// place on it that prints them; this system does not interpret them.
//   off size type    printed as
//     0    1 int8    Prn, first value
//     1    6         (not read)
//     7    4 int32   Ash, first value
//    11    4 int32   Tkb, first value
//    15    8 double  Tkb, second value, cut toward zero to an integer
//    23    4 float   Lte, second value
//    27    4 float   Lte, first value
//    31    8 double  Ash, second value
//    39   24 3xdouble Pos (m, printed x 0.001)
//    63   24 3xdouble Vel (m/s, printed x 0.001)
//    87   24 3xdouble Acc (m/s^2, printed x 0.001)
//   111    8         (not read)
//   119    1 int8    Ash, third value
//   120    1 uint8   Lte, third value
//   121    2 uint16  Flg, second value
//   123    2 uint16  Flg, first value
//   125    1         (not read)
//   126    3 3xint8  Res, first to third value (printed as sign-widened hexadecimal)
namespace glonass_record {
constexpr int kPrn = 0;
constexpr int kAshFirst = 7;
constexpr int kTkbFirst = 11;
constexpr int kTkbSecond = 15;
constexpr int kLteSecond = 23;
constexpr int kLteFirst = 27;
constexpr int kAshSecond = 31;
constexpr int kPos = 39;
constexpr int kVel = 63;
constexpr int kAcc = 87;
constexpr int kAshThird = 119;
constexpr int kLteThird = 120;
constexpr int kFlgSecond = 121;
constexpr int kFlgFirst = 123;
constexpr int kRes = 126;
constexpr int kResCount = 3;
static_assert(kRes + kResCount == kEphemerisRecordSize, "GLONASS record is 129 bytes");
}  // namespace glonass_record

// The fields of one GLONASS record as they stand in the file (widened, not interpreted).
struct GlonassFields {
  int32_t prn;
  int32_t ashFirst;
  int32_t tkbFirst;
  double tkbSecond;
  double lteSecond;
  double lteFirst;
  double ashSecond;
  double pos[3];  // m
  double vel[3];  // m/s
  double acc[3];  // m/s^2
  int32_t ashThird;
  int32_t lteThird;
  int32_t flgSecond;
  int32_t flgFirst;
  int32_t res[glonass_record::kResCount];
};

// One record of an ephemeris file that a reader for the receiver type takes.
struct EphemerisRecord {
  bool glonass = false;  // false: a GPS record (PRN 1..32)
  int64_t offset = 0;    // bytes from the start of the file
  GpsEph gps{};          // GPS records
  int16_t health = 0;    // GPS records: 0 healthy
  GlonassFields glonassFields{};
};

// The records of an ephemeris file in file order, without the ones no reader takes (PRN
// byte <= 0, and PRN 33 on unless the receiver type is 4).
class EphemerisDecoder {
 public:
  // source must outlive the decoder.
  EphemerisDecoder(InputSource& source, int32_t receiverType)
      : source_(source), receiverType_(receiverType) {}
  // 1: a record in *out; 0: the end, also after a short last record (cutBytes());
  // -1: a read error of the stream.
  [[nodiscard]] int32_t Next(EphemerisRecord* out);
  int64_t offset() const { return offset_; }      // bytes consumed in whole records
  int64_t cutBytes() const { return cutBytes_; }  // bytes of a short last record

 private:
  InputSource& source_;
  int32_t receiverType_;
  int64_t offset_ = 0;
  int64_t cutBytes_ = 0;
};

// What a conversion makes of a GPS record: writes it to the .epp file and stores it, or
// refuses it, and why.
enum class GpsRecordUse { kKept, kUnhealthy, kNotFinite, kBeyondRange };
struct GpsRecordCheck {
  GpsRecordUse use = GpsRecordUse::kKept;
  const char* field = "";       // kNotFinite: the first field that is not finite
  double value = 0.0;           // kNotFinite: its value
  BroadcastRangeFault range{};  // kBeyondRange
};
[[nodiscard]] GpsRecordCheck CheckGpsRecord(const GpsEph& eph, int16_t health);

// Adds the GPS records of the ephemeris file at path that a conversion keeps to store,
// in file order, as a conversion that recomputes positions fills its engine's store (a
// refused or duplicate record is left out by the store; a read error ends the reading as
// in a conversion). 0, or -1 when the file cannot be opened.
[[nodiscard]] int32_t LoadEphemerisStore(const char* path, EphemerisStore& store);

// Reads the job's ephemeris file to its end (a short last record ends it silently), or
// until the host aborts.
void ReadEphemerisFile(ConversionJob& job);
void LoadGpsRecord(ConversionJob& job, const GpsEph& eph, int16_t health);
void LoadGlonassRecord(ConversionJob& job, const GlonassFields& fields);
// Builds the GpsEph of one GPS record (angles to radians) and gives its health word.
// Null arguments leave the outputs untouched.
void DecodeGpsRecord(const uint8_t* record, GpsEph* eph, int16_t* health);
// The fields of one GLONASS record. record: kEphemerisRecordSize bytes.
GlonassFields DecodeGlonassRecord(const uint8_t* record);
// Writes the seven-line "GpsEph {" record. 0 success, 1 when a write failed.
[[nodiscard]] int32_t WriteGpsEph(FILE* file, const GpsEph& eph);

}  // namespace talverin
