#include "dataset/ephemeris_file_writer.h"

#include <cfloat>
#include <cmath>
#include <limits>

#include "base/byte_order.h"
#include "base/gnss_constants.h"
#include "dataset/byte_builder.h"
#include "input/ephemeris_reader.h"

namespace talverin {
namespace {

// Narrows to float as IEEE rounding does, without the undefined out-of-range conversion:
// a finite value beyond the float range becomes an infinity, NaN stays NaN.
float NarrowToFloat(double value) {
  if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
  if (value > static_cast<double>(FLT_MAX)) return std::numeric_limits<float>::infinity();
  if (value < -static_cast<double>(FLT_MAX)) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

void PutF32(std::vector<uint8_t>& r, int offset, double value) {
  StoreF32(&r[offset], NarrowToFloat(value));
}

}  // namespace

std::vector<uint8_t> GpsEphemerisRecord(const GpsEph& x, int16_t health) {
  namespace o = gps_record;
  std::vector<uint8_t> r(kEphemerisRecordSize, 0);
  r[o::kPrn] = static_cast<uint8_t>(x.prn);
  StoreI16(&r[o::kWeek], static_cast<int16_t>(x.week));
  StoreI32(&r[o::kTow], x.tow);
  PutF32(r, o::kTgd, x.tgd);
  StoreI32(&r[o::kIodc], x.iodc);
  StoreI32(&r[o::kToc], x.toc);
  PutF32(r, o::kAf2, x.af2);
  PutF32(r, o::kAf1, x.af1);
  PutF32(r, o::kAf0, x.af0);
  StoreI32(&r[o::kIode], x.iode);
  PutF32(r, o::kDeltaN, x.deltaN / kPi);
  StoreF64(&r[o::kM0], x.m0 / kPi);
  StoreF64(&r[o::kE], x.e);
  StoreF64(&r[o::kRootA], x.rootA);
  StoreI32(&r[o::kToe], x.toe);
  PutF32(r, o::kCic, x.cic);
  PutF32(r, o::kCrc, x.crc);
  PutF32(r, o::kCis, x.cis);
  PutF32(r, o::kCrs, x.crs);
  PutF32(r, o::kCuc, x.cuc);
  PutF32(r, o::kCus, x.cus);
  StoreF64(&r[o::kOmega0], x.omega0 / kPi);
  StoreF64(&r[o::kOmega], x.omega / kPi);
  StoreF64(&r[o::kI0], x.i0 / kPi);
  PutF32(r, o::kOmegaDot, x.omegaDot / kPi);
  PutF32(r, o::kIDot, x.iDot / kPi);
  StoreI16(&r[o::kHealth], health);
  return r;
}

std::vector<uint8_t> GlonassEphemerisRecord(const GlonassEphFields& f) {
  namespace o = glonass_record;
  std::vector<uint8_t> r(kEphemerisRecordSize, 0);
  r[o::kPrn] = static_cast<uint8_t>(f.prn);
  StoreI32(&r[o::kAshFirst], f.ashFirst);
  StoreI32(&r[o::kTkbFirst], f.tkbFirst);
  StoreF64(&r[o::kTkbSecond], f.tkbSecond);
  StoreF32(&r[o::kLteSecond], f.lteSecond);
  StoreF32(&r[o::kLteFirst], f.lteFirst);
  StoreF64(&r[o::kAshSecond], f.ashSecond);
  for (int i = 0; i < 3; ++i) {
    StoreF64(&r[o::kPos + 8 * i], f.pos_m[i]);
    StoreF64(&r[o::kVel + 8 * i], f.vel_mps[i]);
    StoreF64(&r[o::kAcc + 8 * i], f.acc_mps2[i]);
  }
  r[o::kAshThird] = static_cast<uint8_t>(f.ashThird);
  r[o::kLteThird] = f.lteThird;
  StoreU16(&r[o::kFlgSecond], f.flgSecond);
  StoreU16(&r[o::kFlgFirst], f.flgFirst);
  for (int i = 0; i < o::kResCount; ++i) r[o::kRes + i] = static_cast<uint8_t>(f.res[i]);
  return r;
}

std::vector<uint8_t> FilledEphemerisRecord(uint8_t prnByte, uint8_t fill) {
  std::vector<uint8_t> r(kEphemerisRecordSize, fill);
  r[0] = prnByte;
  return r;
}

void EphemerisFileWriter::AddGps(const GpsEph& eph, int16_t health) {
  AddRaw(GpsEphemerisRecord(eph, health));
}

void EphemerisFileWriter::AddGlonass(const GlonassEphFields& fields) {
  AddRaw(GlonassEphemerisRecord(fields));
}

void EphemerisFileWriter::AddRaw(const std::vector<uint8_t>& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

void EphemerisFileWriter::AddCut(const std::vector<uint8_t>& record, size_t keepBytes) {
  const size_t keep = keepBytes < record.size() ? keepBytes : record.size();
  bytes_.insert(bytes_.end(), record.begin(), record.begin() + static_cast<std::ptrdiff_t>(keep));
}

bool EphemerisFileWriter::WriteTo(const std::string& path) const {
  return WriteFileBytes(path, bytes_);
}

}  // namespace talverin
