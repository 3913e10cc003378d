#include "input/ephemeris_reader.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "base/byte_order.h"
#include "base/gnss_constants.h"
#include "base/message_texts.h"
#include "input/input_source.h"
#include "job/abort_counter.h"
#include "job/conversion_job.h"
#include "orbit/broadcast_range.h"
#include "orbit/ephemeris_store.h"
#include "position/single_point.h"

namespace talverin {
namespace {

constexpr int kGlonassReceiverType = 4;
constexpr double kGlonassPrintScale = 0.001;  // m to km (and per second, per second^2)

// A field of a decoded record, named for the corruption message.
struct NamedValue {
  const char* name;
  double value;
};

// The first non-finite value among count, or null when all are finite.
const NamedValue* FirstNonFinite(const NamedValue* values, int count) {
  for (int i = 0; i < count; ++i) {
    if (!std::isfinite(values[i].value)) return &values[i];
  }
  return nullptr;
}

// The Tkb second value cut toward zero, when it is finite and fits an int32.
bool TruncateToInt32(double value, int32_t* out) {
  // The bounds are exact doubles; the comparison rejects NaN as well.
  if (!(value > -2147483649.0 && value < 2147483648.0)) return false;
  *out = static_cast<int32_t>(value);
  return true;
}

}  // namespace

GlonassFields DecodeGlonassRecord(const uint8_t* record) {
  namespace g = glonass_record;
  ByteCursor in(record, kEphemerisRecordSize);
  GlonassFields f;
  f.prn = in.I8(g::kPrn);
  f.ashFirst = in.I32(g::kAshFirst);
  f.tkbFirst = in.I32(g::kTkbFirst);
  f.tkbSecond = in.F64(g::kTkbSecond);
  f.lteSecond = static_cast<double>(in.F32(g::kLteSecond));
  f.lteFirst = static_cast<double>(in.F32(g::kLteFirst));
  f.ashSecond = in.F64(g::kAshSecond);
  for (int i = 0; i < 3; ++i) {
    f.pos[i] = in.F64(g::kPos + 8 * i);
    f.vel[i] = in.F64(g::kVel + 8 * i);
    f.acc[i] = in.F64(g::kAcc + 8 * i);
  }
  f.ashThird = in.I8(g::kAshThird);
  f.lteThird = in.U8(g::kLteThird);
  f.flgSecond = in.U16(g::kFlgSecond);
  f.flgFirst = in.U16(g::kFlgFirst);
  for (int i = 0; i < g::kResCount; ++i) f.res[i] = in.I8(g::kRes + i);
  // Every offset lies inside the fixed-size record: the cursor cannot fail here.
  return f;
}

void DecodeGpsRecord(const uint8_t* record, GpsEph* eph, int16_t* health) {
  namespace r = gps_record;
  if (record == nullptr || eph == nullptr || health == nullptr) return;
  ByteCursor in(record, kEphemerisRecordSize);
  GpsEph& x = *eph;
  x.prn = in.I8(r::kPrn);
  x.week = in.I16(r::kWeek);
  x.tow = in.I32(r::kTow);
  x.tgd = static_cast<double>(in.F32(r::kTgd));
  x.iodc = in.I32(r::kIodc);
  x.toc = in.I32(r::kToc);
  x.af2 = static_cast<double>(in.F32(r::kAf2));
  x.af1 = static_cast<double>(in.F32(r::kAf1));
  x.af0 = static_cast<double>(in.F32(r::kAf0));
  x.iode = in.I32(r::kIode);
  x.deltaN = static_cast<double>(in.F32(r::kDeltaN)) * kPi;
  x.m0 = in.F64(r::kM0) * kPi;
  x.e = in.F64(r::kE);
  x.rootA = in.F64(r::kRootA);
  x.toe = in.I32(r::kToe);
  x.cic = static_cast<double>(in.F32(r::kCic));
  x.crc = static_cast<double>(in.F32(r::kCrc));
  x.cis = static_cast<double>(in.F32(r::kCis));
  x.crs = static_cast<double>(in.F32(r::kCrs));
  x.cuc = static_cast<double>(in.F32(r::kCuc));
  x.cus = static_cast<double>(in.F32(r::kCus));
  x.omega0 = in.F64(r::kOmega0) * kPi;
  x.omega = in.F64(r::kOmega) * kPi;
  x.i0 = in.F64(r::kI0) * kPi;
  x.omegaDot = static_cast<double>(in.F32(r::kOmegaDot)) * kPi;
  x.iDot = static_cast<double>(in.F32(r::kIDot)) * kPi;
  *health = in.I16(r::kHealth);
}

namespace {

// The text of one .epp record, built without printf: a day's ephemeris file holds hundreds
// of records of 25 numbers each. to_chars gives the digits printf's %ld and %.*e give.
class EppText {
 public:
  EppText& Put(const char* text) {
    const size_t n = std::strlen(text);
    std::memcpy(text_ + length_, text, n);
    length_ += n;
    return *this;
  }
  EppText& Int(long value) {
    length_ = static_cast<size_t>(std::to_chars(text_ + length_, text_ + sizeof text_, value).ptr -
                                  text_);
    return *this;
  }
  // " %.*e", or without the blank when first.
  EppText& Sci(double value, int precision, bool first = false) {
    if (!first) text_[length_++] = ' ';
    length_ = static_cast<size_t>(std::to_chars(text_ + length_, text_ + sizeof text_, value,
                                                std::chars_format::scientific, precision)
                                      .ptr -
                                  text_);
    return *this;
  }
  const char* data() const { return text_; }
  size_t size() const { return length_; }

 private:
  char text_[1024];  // a record is below 600 characters
  size_t length_ = 0;
};

constexpr int kShort = 8;  // %.8e
constexpr int kLong = 14;  // %.14le

int32_t WriteGpsEphPrintf(FILE* file, const GpsEph& x) {
  const int written = std::fprintf(
      file,
      "GpsEph { Prn: %d\n"
      "\tEl1: %d %ld %.8e %ld %ld\n"
      "\tEl2: %.8e %.8e %.8e\n"
      "\tEl3: %ld %.8e %.8e %.14le\n"
      "\tEl4: %.8e %.14le %.8e %.14le\n"
      "\tEl5: %ld %.8e %.14le %.8e\n"
      "\tEl6: %.14le %.8e %.14le %.8e %.8e\n}\n",
      static_cast<int>(x.prn), static_cast<int>(x.week), static_cast<long>(x.tow), x.tgd,
      static_cast<long>(x.iodc), static_cast<long>(x.toc), x.af2, x.af1, x.af0,
      static_cast<long>(x.iode), x.crs, x.deltaN, x.m0, x.cuc, x.e, x.cus, x.rootA,
      static_cast<long>(x.toe), x.cic, x.omega0, x.cis, x.i0, x.crc, x.omega, x.omegaDot, x.iDot);
  return written < 0 ? 1 : 0;
}

}  // namespace

int32_t WriteGpsEph(FILE* file, const GpsEph& x) {
  if (file == nullptr) return 1;
  // printf's own words for values that are not numbers (the reader never writes them).
  if (!GpsEphFinite(x)) return WriteGpsEphPrintf(file, x);
  EppText t;
  t.Put("GpsEph { Prn: ").Int(x.prn).Put("\n\tEl1: ").Int(x.week).Put(" ").Int(x.tow);
  t.Sci(x.tgd, kShort).Put(" ").Int(x.iodc).Put(" ").Int(x.toc);
  t.Put("\n\tEl2: ").Sci(x.af2, kShort, true).Sci(x.af1, kShort).Sci(x.af0, kShort);
  t.Put("\n\tEl3: ").Int(x.iode).Sci(x.crs, kShort).Sci(x.deltaN, kShort).Sci(x.m0, kLong);
  t.Put("\n\tEl4: ").Sci(x.cuc, kShort, true).Sci(x.e, kLong).Sci(x.cus, kShort);
  t.Sci(x.rootA, kLong);
  t.Put("\n\tEl5: ").Int(x.toe).Sci(x.cic, kShort).Sci(x.omega0, kLong).Sci(x.cis, kShort);
  t.Put("\n\tEl6: ").Sci(x.i0, kLong, true).Sci(x.crc, kShort).Sci(x.omega, kLong);
  t.Sci(x.omegaDot, kShort).Sci(x.iDot, kShort).Put("\n}\n");
  return std::fwrite(t.data(), 1, t.size(), file) == t.size() ? 0 : 1;
}

GpsRecordCheck CheckGpsRecord(const GpsEph& eph, int16_t health) {
  GpsRecordCheck check;
  if (health != 0) {
    check.use = GpsRecordUse::kUnhealthy;
    return check;
  }
  // A damaged record must not reach the .epp file or give NaN orbits for hours.
  const NamedValue values[] = {
      {"tgd", eph.tgd},     {"af2", eph.af2},       {"af1", eph.af1},
      {"af0", eph.af0},     {"deltaN", eph.deltaN}, {"m0", eph.m0},
      {"e", eph.e},         {"rootA", eph.rootA},   {"cic", eph.cic},
      {"crc", eph.crc},     {"cis", eph.cis},       {"crs", eph.crs},
      {"cuc", eph.cuc},     {"cus", eph.cus},       {"omega0", eph.omega0},
      {"omega", eph.omega}, {"i0", eph.i0},         {"omegaDot", eph.omegaDot},
      {"iDot", eph.iDot}};
  const NamedValue* bad = FirstNonFinite(values, sizeof values / sizeof values[0]);
  if (bad != nullptr) {
    check.use = GpsRecordUse::kNotFinite;
    check.field = bad->name;
    check.value = bad->value;
    return check;
  }
  // Finite but beyond what the satellite can send (an af0 of 10 ms, an m0 of 3
  // semicircles): the record was damaged after decoding and would put the satellite
  // hundreds of kilometres off.
  if (!WithinBroadcastRange(eph, &check.range)) check.use = GpsRecordUse::kBeyondRange;
  return check;
}

int32_t EphemerisDecoder::Next(EphemerisRecord* out) {
  uint8_t record[kEphemerisRecordSize];
  for (;;) {
    const size_t got = source_.Read(record, sizeof record);
    if (got != sizeof record) {
      cutBytes_ = static_cast<int64_t>(got);
      return source_.failed() ? -1 : 0;
    }
    const int64_t offset = offset_;
    offset_ += kEphemerisRecordSize;
    const int32_t prn = static_cast<int8_t>(record[gps_record::kPrn]);
    if (prn <= 0 || (prn > kMaxGpsPrn && receiverType_ != kGlonassReceiverType)) continue;
    *out = EphemerisRecord();
    out->offset = offset;
    out->glonass = prn > kMaxGpsPrn;
    if (out->glonass) {
      out->glonassFields = DecodeGlonassRecord(record);
    } else {
      DecodeGpsRecord(record, &out->gps, &out->health);
    }
    return 1;
  }
}

int32_t LoadEphemerisStore(const char* path, EphemerisStore& store) {
  InputSource source;
  if (!source.Open(path, "rb")) return -1;
  EphemerisDecoder decoder(source, 0);
  EphemerisRecord record;
  // A read error ends the reading, as it ends a conversion's.
  while (decoder.Next(&record) == 1) {
    if (CheckGpsRecord(record.gps, record.health).use != GpsRecordUse::kKept) continue;
    (void)store.AddGpsEph(record.gps);  // a refused or duplicate record is not reported
  }
  return 0;
}

void LoadGpsRecord(ConversionJob& job, const GpsEph& eph, int16_t health) {
  job.ephemeridesRead += 1;
  job.Report(-1.0, health != 0 ? msg::kGpsEphemerisUnhealthy : msg::kGpsEphemerisHealthy,
             static_cast<int>(eph.prn));
  job.lastEphTime = static_cast<double>(eph.toe);
  job.lastEphWeek = eph.week;
  if (eph.week < 0 || eph.week > kMaxEphWeek) {
    job.Report(-1.0, msg::kEphemerisWeek, static_cast<int>(eph.week));
  }
  const GpsRecordCheck check = CheckGpsRecord(eph, health);
  switch (check.use) {
    case GpsRecordUse::kUnhealthy:
      return;
    case GpsRecordUse::kNotFinite:
      job.Report(-1.0, msg::kEphemerisNotFinite, static_cast<int>(eph.prn),
                 static_cast<long>(eph.toe), job.ephemerisPath, check.field, check.value);
      return;
    case GpsRecordUse::kBeyondRange:
      job.Report(-1.0, msg::kEphemerisBeyondBroadcastRange, static_cast<int>(eph.prn),
                 static_cast<long>(eph.toe), job.ephemerisPath, check.range.field,
                 check.range.value, check.range.unit, check.range.min, check.range.max,
                 check.range.unit);
      return;
    case GpsRecordUse::kKept:
      break;
  }
  // A failed write leaves the stream's error flag set; closing the .epp file reports it.
  (void)WriteGpsEph(job.eppFile, eph);
  if (job.options.RecomputePosition != 0 && job.engine != nullptr) {
    (void)job.engine->store().AddGpsEph(eph);  // a refused or duplicate record is not reported
  }
}

void LoadGlonassRecord(ConversionJob& job, const GlonassFields& f) {
  job.ephemeridesRead += 1;

  const NamedValue values[] = {{"Tkb", f.tkbSecond}, {"Lte", f.lteSecond}, {"Lte", f.lteFirst},
                               {"Ash", f.ashSecond}, {"Pos", f.pos[0]},    {"Pos", f.pos[1]},
                               {"Pos", f.pos[2]},    {"Vel", f.vel[0]},    {"Vel", f.vel[1]},
                               {"Vel", f.vel[2]},    {"Acc", f.acc[0]},    {"Acc", f.acc[1]},
                               {"Acc", f.acc[2]}};
  const NamedValue* bad = FirstNonFinite(values, sizeof values / sizeof values[0]);
  int32_t tkbSecond = 0;
  if (bad == nullptr && !TruncateToInt32(f.tkbSecond, &tkbSecond)) bad = &values[0];

  if (bad != nullptr) {
    job.Report(-1.0, msg::kGlonassEphemerisNotFinite, static_cast<int>(f.prn), job.ephemerisPath,
               bad->name, bad->value);
  } else if (job.eppFile != nullptr) {
    // A failed write leaves the stream's error flag set; closing the .epp file reports it.
    std::fprintf(
        job.eppFile,
        "GlnEph { Prn: %d %d\n\tTkb: %ld %ld\n\tLte: %.9le %.9le %d\n"
        "\tPos: %.4lf %.4lf %.4lf\n\tVel: %.8le %.8le %.8le\n"
        "\tAcc: %.8le %.8le %.8le\n\tFlg: %d %d\n\tAsh: %ld %.15le %d %d\n"
        "\tRes: %x %x %x\n}\n",
        static_cast<int>(f.prn), 0, static_cast<long>(f.tkbFirst), static_cast<long>(tkbSecond),
        f.lteFirst, f.lteSecond, static_cast<int>(f.lteThird), f.pos[0] * kGlonassPrintScale,
        f.pos[1] * kGlonassPrintScale, f.pos[2] * kGlonassPrintScale, f.vel[0] * kGlonassPrintScale,
        f.vel[1] * kGlonassPrintScale, f.vel[2] * kGlonassPrintScale, f.acc[0] * kGlonassPrintScale,
        f.acc[1] * kGlonassPrintScale, f.acc[2] * kGlonassPrintScale, static_cast<int>(f.flgFirst),
        static_cast<int>(f.flgSecond), static_cast<long>(f.ashFirst), f.ashSecond,
        static_cast<int>(f.ashThird), 0, static_cast<unsigned>(f.res[0]),
        static_cast<unsigned>(f.res[1]), static_cast<unsigned>(f.res[2]));
  }
  job.Report(-1.0, msg::kGlonassEphemerisLoaded, static_cast<int>(f.prn));
}

void ReadEphemerisFile(ConversionJob& job) {
  if (job.ephemerisFile == nullptr) return;
  InputSource source;
  source.Attach(job.ephemerisFile);
  EphemerisDecoder decoder(source, job.receiverType);
  EphemerisRecord record;
  // The end of the file or a short read stops the reading; the host's abort stops it as
  // it stops the epoch loop.
  while (AbortCounter() == 0 && decoder.Next(&record) == 1) {
    if (record.glonass) {
      LoadGlonassRecord(job, record.glonassFields);
    } else {
      LoadGpsRecord(job, record.gps, record.health);
    }
  }
}

}  // namespace talverin
