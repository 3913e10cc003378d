#include "input/ephemeris_reader.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "base/text_buffer.h"
#include "orbit/ephemeris_store.h"
#include "plugin/conversion_job.h"
#include "position/single_point.h"
#include "tests/support/test_support.h"
#include "tools/download_set/byte_builder.h"
#include "tools/download_set/ephemeris_file_writer.h"

namespace talverin {
namespace {

using testing_support::TempDir;

constexpr double kPiRef = 3.141592653589793;  // semicircles to radians
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Little-endian bytes written by shifts at the offsets of the record layout table, so
// that the fixtures do not lean on the module's own byte helpers or offset constants.
void PutLE(std::vector<uint8_t>& r, size_t offset, uint64_t bits, int width) {
  for (int i = 0; i < width; ++i) r.at(offset + i) = static_cast<uint8_t>(bits >> (8 * i));
}
void PutF32At(std::vector<uint8_t>& r, size_t offset, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  PutLE(r, offset, bits, 4);
}
void PutF64At(std::vector<uint8_t>& r, size_t offset, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  PutLE(r, offset, bits, 8);
}

// A GPS record with a distinct value in every field; the unread bytes hold 0xEE.
std::vector<uint8_t> HandBuiltGpsRecord(uint16_t healthWord = 0) {
  std::vector<uint8_t> r(129, 0xEE);
  r[0] = 7;
  PutLE(r, 1, 1234, 2);
  PutLE(r, 3, 345600, 4);
  PutF32At(r, 7, -4.5e-9f);
  PutLE(r, 11, 101, 4);
  PutLE(r, 15, 352800, 4);
  PutF32At(r, 19, 1.5e-19f);
  PutF32At(r, 23, -2.5e-12f);
  PutF32At(r, 27, 3.75e-5f);
  PutLE(r, 31, 77, 4);
  PutF32At(r, 35, 1.5e-9f);
  PutF64At(r, 39, 0.25);
  PutF64At(r, 47, 0.0125);
  PutF64At(r, 55, 5153.75);
  PutLE(r, 63, 356400, 4);
  PutF32At(r, 67, 1.1e-7f);
  PutF32At(r, 71, 250.5f);
  PutF32At(r, 75, -2.2e-7f);
  PutF32At(r, 79, -44.25f);
  PutF32At(r, 83, 3.3e-6f);
  PutF32At(r, 87, 4.4e-6f);
  PutF64At(r, 91, -0.75);
  PutF64At(r, 99, 0.375);
  PutF64At(r, 107, 0.3125);
  PutF32At(r, 115, -2.5e-9f);
  PutF32At(r, 119, 1.25e-10f);
  PutLE(r, 125, healthWord, 2);
  return r;
}

// The GpsEph the hand-built record stands for: floats widened, semicircles times pi.
GpsEph HandBuiltGpsEph() {
  GpsEph x{};
  x.prn = 7;
  x.week = 1234;
  x.tow = 345600;
  x.tgd = static_cast<double>(-4.5e-9f);
  x.iodc = 101;
  x.toc = 352800;
  x.af2 = static_cast<double>(1.5e-19f);
  x.af1 = static_cast<double>(-2.5e-12f);
  x.af0 = static_cast<double>(3.75e-5f);
  x.iode = 77;
  x.deltaN = static_cast<double>(1.5e-9f) * kPiRef;
  x.m0 = 0.25 * kPiRef;
  x.e = 0.0125;
  x.rootA = 5153.75;
  x.toe = 356400;
  x.cic = static_cast<double>(1.1e-7f);
  x.crc = static_cast<double>(250.5f);
  x.cis = static_cast<double>(-2.2e-7f);
  x.crs = static_cast<double>(-44.25f);
  x.cuc = static_cast<double>(3.3e-6f);
  x.cus = static_cast<double>(4.4e-6f);
  x.omega0 = -0.75 * kPiRef;
  x.omega = 0.375 * kPiRef;
  x.i0 = 0.3125 * kPiRef;
  x.omegaDot = static_cast<double>(-2.5e-9f) * kPiRef;
  x.iDot = static_cast<double>(1.25e-10f) * kPiRef;
  return x;
}

// A GLONASS record (PRN 40) with a distinct value in every field; unread bytes 0xEE.
std::vector<uint8_t> HandBuiltGlonassRecord(double tkbSecond = 45000.9) {
  std::vector<uint8_t> r(129, 0xEE);
  r[0] = 40;
  PutLE(r, 7, 123456, 4);
  PutLE(r, 11, 654321, 4);
  PutF64At(r, 15, tkbSecond);
  PutF32At(r, 23, -0.25f);
  PutF32At(r, 27, 1.5f);
  PutF64At(r, 31, 0.125);
  const double pos[3] = {1000.0, -2000.5, 12345678.9};
  const double vel[3] = {2500.0, -1250.0, 3.0};
  const double acc[3] = {0.000125, -0.0005, 0.0};
  for (int i = 0; i < 3; ++i) {
    PutF64At(r, 39 + 8 * i, pos[i]);
    PutF64At(r, 63 + 8 * i, vel[i]);
    PutF64At(r, 87 + 8 * i, acc[i]);
  }
  r[119] = 0xFE;  // -2
  r[120] = 0xC8;  // 200
  PutLE(r, 121, 0x1234, 2);
  PutLE(r, 123, 0xABCD, 2);
  r[126] = 0x01;
  r[127] = 0x80;
  r[128] = 0xFF;
  return r;
}

GlonassEphFields HandBuiltGlonassFields() {
  GlonassEphFields f;
  f.prn = 40;
  f.ashFirst = 123456;
  f.tkbFirst = 654321;
  f.tkbSecond = 45000.9;
  f.lteFirst = 1.5f;
  f.lteSecond = -0.25f;
  f.lteThird = 200;
  f.ashSecond = 0.125;
  const double pos[3] = {1000.0, -2000.5, 12345678.9};
  const double vel[3] = {2500.0, -1250.0, 3.0};
  const double acc[3] = {0.000125, -0.0005, 0.0};
  for (int i = 0; i < 3; ++i) {
    f.pos_m[i] = pos[i];
    f.vel_mps[i] = vel[i];
    f.acc_mps2[i] = acc[i];
  }
  f.ashThird = -2;
  f.flgFirst = 0xABCD;
  f.flgSecond = 0x1234;
  f.res[0] = 1;
  f.res[1] = static_cast<int8_t>(-128);
  f.res[2] = -1;
  return f;
}

std::string GlonassText(const std::string& tkbSecondText) {
  return "GlnEph { Prn: 40 0\n\tTkb: 654321 " + tkbSecondText +
         "\n\tLte: 1.500000000e+00 -2.500000000e-01 200\n"
         "\tPos: 1.0000 -2.0005 12345.6789\n"
         "\tVel: 2.50000000e+00 -1.25000000e+00 3.00000000e-03\n"
         "\tAcc: 1.25000000e-07 -5.00000000e-07 0.00000000e+00\n"
         "\tFlg: 43981 4660\n"
         "\tAsh: 123456 1.250000000000000e-01 -2 0\n"
         "\tRes: 1 ffffff80 ffffffff\n}\n";
}

std::vector<std::string>* gMessages = nullptr;
void TALVERIN_CALL Collect(double time, const char* text) {
  EXPECT_EQ(-1.0, time) << text;
  if (gMessages != nullptr) gMessages->push_back(text);
}

struct EphemerisRun {
  std::vector<std::string> messages;
  std::string epp;
  int32_t read = -1;
  double lastEphTime = 0.0;
  int32_t lastEphWeek = 0;
  int32_t stored = -1;
  std::string ephemerisPath;
};

// Reads an ephemeris file of these bytes into a job whose .epp file is opened here.
EphemerisRun ReadEphemerisBytes(const std::vector<uint8_t>& bytes, int32_t receiverType,
                                int32_t recompute = 1) {
  EphemerisRun run;
  TempDir dir;
  run.ephemerisPath = dir.File("EAAAAA03.123");
  const std::string eppPath = dir.File("out.epp");
  EXPECT_TRUE(WriteFileBytes(run.ephemerisPath, bytes));

  ConversionJob job;
  EXPECT_TRUE(job.constructed());
  job.receiverType = receiverType;
  job.options.RecomputePosition = recompute;
  CopyText(job.ephemerisPath, kPathSize, run.ephemerisPath.c_str());
  job.ephemerisFile = std::fopen(run.ephemerisPath.c_str(), "rb");
  job.eppFile = std::fopen(eppPath.c_str(), "w");
  EXPECT_NE(nullptr, job.ephemerisFile);
  EXPECT_NE(nullptr, job.eppFile);
  job.messageCallback = Collect;
  gMessages = &run.messages;
  ReadEphemerisFile(job);
  gMessages = nullptr;
  std::fclose(job.eppFile);
  job.eppFile = nullptr;

  run.epp = ReadFileText(eppPath);
  run.read = job.ephemeridesRead;
  run.lastEphTime = job.lastEphTime;
  run.lastEphWeek = job.lastEphWeek;
  run.stored = job.engine->store().gpsCount;
  return run;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(EphemerisGpsRecord, EveryFieldComesFromItsOwnOffset) {
  GpsEph got;
  int16_t health = -1;
  DecodeGpsRecord(HandBuiltGpsRecord().data(), &got, &health);
  const GpsEph want = HandBuiltGpsEph();
  EXPECT_EQ(0, health);
  EXPECT_EQ(want.prn, got.prn);
  EXPECT_EQ(want.week, got.week);
  EXPECT_EQ(want.tow, got.tow);
  EXPECT_EQ(want.iodc, got.iodc);
  EXPECT_EQ(want.toc, got.toc);
  EXPECT_EQ(want.iode, got.iode);
  EXPECT_EQ(want.toe, got.toe);
  const struct {
    const char* name;
    double want, got;
  } doubles[] = {{"tgd", want.tgd, got.tgd},         {"af2", want.af2, got.af2},
                 {"af1", want.af1, got.af1},         {"af0", want.af0, got.af0},
                 {"deltaN", want.deltaN, got.deltaN}, {"m0", want.m0, got.m0},
                 {"e", want.e, got.e},               {"rootA", want.rootA, got.rootA},
                 {"cic", want.cic, got.cic},         {"crc", want.crc, got.crc},
                 {"cis", want.cis, got.cis},         {"crs", want.crs, got.crs},
                 {"cuc", want.cuc, got.cuc},         {"cus", want.cus, got.cus},
                 {"omega0", want.omega0, got.omega0}, {"omega", want.omega, got.omega},
                 {"i0", want.i0, got.i0},            {"omegaDot", want.omegaDot, got.omegaDot},
                 {"iDot", want.iDot, got.iDot}};
  for (const auto& d : doubles) EXPECT_EQ(d.want, d.got) << d.name;
}

TEST(EphemerisGpsRecord, HealthIsTheWholeSixteenBitWord) {
  const struct {
    uint16_t word;
    int16_t health;
  } cases[] = {{0x0000, 0}, {0x0001, 1}, {0x0100, 256}, {0xFFFF, -1}};
  for (const auto& c : cases) {
    GpsEph eph;
    int16_t health = 0;
    DecodeGpsRecord(HandBuiltGpsRecord(c.word).data(), &eph, &health);
    EXPECT_EQ(c.health, health) << c.word;
  }
}

TEST(EphemerisEppText, GpsRecordPrintsTheSevenLineFormat) {
  GpsEph x{};
  x.prn = 12;
  x.week = 1987;
  x.tow = 432000;
  x.tgd = -1.0e-8;
  x.iodc = 43;
  x.toc = 439200;
  x.af2 = 0.0;
  x.af1 = -5.6843418860808e-14;  // rounds up in the eighth decimal
  x.af0 = 1.2345678912e-4;       // rounds down
  x.iode = 44;
  x.crs = -97.125;
  x.deltaN = 4.5e-9;
  x.m0 = -2.5;
  x.cuc = -5.0e-6;
  x.e = 0.005;
  x.cus = 8.25e-6;
  x.rootA = 5153.625;
  x.toe = 439201;
  x.cic = 1.5e-7;
  x.omega0 = 3.0;
  x.cis = -3.0e-8;
  x.i0 = 0.96;
  x.crc = 200.5;
  x.omega = -1.75;
  x.omegaDot = -8.0e-9;
  x.iDot = 2.0e-10;
  const std::string want =
      "GpsEph { Prn: 12\n"
      "\tEl1: 1987 432000 -1.00000000e-08 43 439200\n"
      "\tEl2: 0.00000000e+00 -5.68434189e-14 1.23456789e-04\n"
      "\tEl3: 44 -9.71250000e+01 4.50000000e-09 -2.50000000000000e+00\n"
      "\tEl4: -5.00000000e-06 5.00000000000000e-03 8.25000000e-06 5.15362500000000e+03\n"
      "\tEl5: 439201 1.50000000e-07 3.00000000000000e+00 -3.00000000e-08\n"
      "\tEl6: 9.60000000000000e-01 2.00500000e+02 -1.75000000000000e+00 -8.00000000e-09 "
      "2.00000000e-10\n}\n";

  TempDir dir;
  const std::string path = dir.File("one.epp");
  FILE* file = std::fopen(path.c_str(), "w");
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(0, WriteGpsEph(file, x));
  std::fclose(file);
  EXPECT_EQ(want, ReadFileText(path));
  EXPECT_EQ(1, WriteGpsEph(nullptr, x));
}

TEST(EphemerisEppText, GlonassRecordPrintsEveryFieldInItsPlace) {
  // Tkb second value cut toward zero; Res bytes 0x01 0x80 0xFF widened with their sign.
  const EphemerisRun run = ReadEphemerisBytes(HandBuiltGlonassRecord(), 4);
  EXPECT_EQ(GlonassText("45000"), run.epp);
  EXPECT_EQ(1, run.read);
  EXPECT_EQ(0, run.stored);
  ASSERT_EQ(1u, run.messages.size());
  EXPECT_EQ("GLONASS Ephemeris loaded for PRN 40", run.messages[0]);
}

TEST(EphemerisEppText, GlonassTkbSecondValueIsCutTowardZeroOrRefused) {
  const struct {
    double tkb;
    const char* printed;  // null: the record is refused
    const char* shown;    // the value as the refusal message gives it
  } cases[] = {
      {45000.9, "45000", nullptr},
      {-7.9, "-7", nullptr},
      {0.99, "0", nullptr},
      {2147483647.0, "2147483647", nullptr},
      {-2147483648.9, "-2147483648", nullptr},
      {2147483648.0, nullptr, "2.14748e+09"},
      {-2147483649.0, nullptr, "-2.14748e+09"},
      {1e300, nullptr, "1e+300"},
      {kNaN, nullptr, "nan"},
      {std::numeric_limits<double>::infinity(), nullptr, "inf"},
  };
  for (const auto& c : cases) {
    const EphemerisRun run = ReadEphemerisBytes(HandBuiltGlonassRecord(c.tkb), 4);
    EXPECT_EQ(1, run.read) << c.tkb;
    if (c.printed != nullptr) {
      EXPECT_EQ(GlonassText(c.printed), run.epp) << c.tkb;
      EXPECT_EQ(1u, run.messages.size()) << c.tkb;
    } else {
      EXPECT_EQ("", run.epp) << c.tkb;
      ASSERT_EQ(2u, run.messages.size()) << c.tkb;
      EXPECT_EQ("ERROR - GLONASS Eph PRN 40 in " + run.ephemerisPath + ": Tkb is " + c.shown +
                    ", record not written",
                run.messages[0]);
      EXPECT_EQ("GLONASS Ephemeris loaded for PRN 40", run.messages[1]);
    }
  }
}

TEST(EphemerisFile, GpsRecordIsReportedWrittenAndRemembered) {
  const EphemerisRun run = ReadEphemerisBytes(HandBuiltGpsRecord(), 2);
  ASSERT_EQ(1u, run.messages.size());
  EXPECT_EQ("GPS Ephemeris loaded for PRN 7, Health OK", run.messages[0]);
  EXPECT_EQ(1, run.read);
  EXPECT_EQ(356400.0, run.lastEphTime);
  EXPECT_EQ(1234, run.lastEphWeek);
  // The .epp record is the one WriteGpsEph gives for the decoded values (format pinned above).
  EXPECT_EQ(0u, run.epp.find("GpsEph { Prn: 7\n\tEl1: 1234 345600 "));
  EXPECT_NE(std::string::npos, run.epp.find("\tEl5: 356400 "));
  EXPECT_EQ("}\n", run.epp.substr(run.epp.size() - 2));
}

TEST(EphemerisFile, UnhealthyRecordIsReportedAndRememberedButNotWritten) {
  const EphemerisRun run = ReadEphemerisBytes(HandBuiltGpsRecord(0x0100), 2);
  ASSERT_EQ(1u, run.messages.size());
  EXPECT_EQ("GPS Ephemeris loaded for PRN 7, Health BAD!!!", run.messages[0]);
  EXPECT_EQ("", run.epp);
  EXPECT_EQ(1, run.read);
  EXPECT_EQ(0, run.stored);
  EXPECT_EQ(356400.0, run.lastEphTime);
  EXPECT_EQ(1234, run.lastEphWeek);
}

TEST(EphemerisFile, WeekOutsideZeroTo2048IsReportedAndTheRecordStillWritten) {
  const struct {
    uint16_t weekWord;
    int32_t week;
    bool reported;
  } cases[] = {{0, 0, false}, {2048, 2048, false}, {2049, 2049, true}, {0xFFFF, -1, true},
               {0x8000, -32768, true}};
  for (const auto& c : cases) {
    std::vector<uint8_t> record = HandBuiltGpsRecord();
    PutLE(record, 1, c.weekWord, 2);
    const EphemerisRun run = ReadEphemerisBytes(record, 2);
    EXPECT_EQ(c.week, run.lastEphWeek);
    ASSERT_EQ(c.reported ? 2u : 1u, run.messages.size()) << c.week;
    if (c.reported) {
      EXPECT_EQ("ERROR - Eph Week Number : " + std::to_string(c.week), run.messages[1]);
    }
    EXPECT_EQ(0u, run.epp.find("GpsEph { Prn: 7\n\tEl1: " + std::to_string(c.week) + " "))
        << c.week;
  }
}

TEST(EphemerisFile, RecordsAreDispatchedOnTheSignedPrnByte) {
  const std::vector<uint8_t> gps = HandBuiltGpsRecord();
  const std::vector<uint8_t> glonass = HandBuiltGlonassRecord();
  std::vector<uint8_t> prn32 = gps;
  prn32[0] = 32;
  std::vector<uint8_t> prn33 = glonass;
  prn33[0] = 33;
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    int32_t receiverType;
    int32_t read;
    size_t gpsRecords;
    size_t glonassRecords;
  } cases[] = {
      {"empty file", {}, 2, 0, 0, 0},
      {"PRN 0x85 is negative", FilledEphemerisRecord(0x85, 0x11), 4, 0, 0, 0},
      {"PRN 0", FilledEphemerisRecord(0x00, 0x22), 4, 0, 0, 0},
      {"PRN 40 in a type 2 file", glonass, 2, 0, 0, 0},
      {"PRN 40 in a type 1 file", glonass, 1, 0, 0, 0},
      {"PRN 40 in a type 4 file", glonass, 4, 1, 0, 1},
      {"PRN 33 in a type 4 file", prn33, 4, 1, 0, 1},
      {"PRN 32 is GPS in a type 4 file", prn32, 4, 1, 1, 0},
      {"mixed", Concat({gps, FilledEphemerisRecord(0x85), glonass, gps}), 4, 3, 2, 1},
      {"cut last record", Concat({gps, std::vector<uint8_t>(gps.begin(), gps.begin() + 128)}),
       2, 1, 1, 0},
      {"shorter than one record", std::vector<uint8_t>(gps.begin(), gps.begin() + 100), 2, 0,
       0, 0},
  };
  for (const auto& c : cases) {
    const EphemerisRun run = ReadEphemerisBytes(c.bytes, c.receiverType);
    EXPECT_EQ(c.read, run.read) << c.name;
    EXPECT_EQ(static_cast<size_t>(c.read), run.messages.size()) << c.name;
    size_t gpsCount = 0, glonassCount = 0;
    for (size_t p = run.epp.find("GpsEph {"); p != std::string::npos;
         p = run.epp.find("GpsEph {", p + 1))
      ++gpsCount;
    for (size_t p = run.epp.find("GlnEph {"); p != std::string::npos;
         p = run.epp.find("GlnEph {", p + 1))
      ++glonassCount;
    EXPECT_EQ(c.gpsRecords, gpsCount) << c.name;
    EXPECT_EQ(c.glonassRecords, glonassCount) << c.name;
  }
}

TEST(EphemerisFile, SameHealthyRecordTwiceIsWrittenTwiceAndCountedTwice) {
  const std::vector<uint8_t> gps = HandBuiltGpsRecord();
  const EphemerisRun once = ReadEphemerisBytes(gps, 2);
  const EphemerisRun twice = ReadEphemerisBytes(Concat({gps, gps}), 2);
  EXPECT_EQ(2, twice.read);
  EXPECT_EQ(once.epp + once.epp, twice.epp);
  EXPECT_EQ(2u, twice.messages.size());
}

TEST(EphemerisFile, NonFiniteGpsValueKeepsTheRecordOutOfTheEppFile) {
  const struct {
    size_t offset;
    int width;
    double value;
    const char* message;  // after the file name
  } cases[] = {
      {55, 8, kNaN, "rootA is nan"},
      {39, 8, 1e308, "m0 is inf"},  // finite in the file, beyond range after x pi
      {7, 4, kNaN, "tgd is nan"},
      {119, 4, std::numeric_limits<double>::infinity(), "iDot is inf"},
      {91, 8, -1e308, "omega0 is -inf"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> record = HandBuiltGpsRecord();
    if (c.width == 8) {
      PutF64At(record, c.offset, c.value);
    } else {
      PutF32At(record, c.offset, static_cast<float>(c.value));
    }
    const EphemerisRun run = ReadEphemerisBytes(record, 2);
    EXPECT_EQ("", run.epp) << c.message;
    EXPECT_EQ(1, run.read);
    EXPECT_EQ(0, run.stored);
    EXPECT_EQ(356400.0, run.lastEphTime);
    ASSERT_EQ(2u, run.messages.size()) << c.message;
    EXPECT_EQ("GPS Ephemeris loaded for PRN 7, Health OK", run.messages[0]);
    EXPECT_EQ("ERROR - Eph PRN 7 toe 356400 in " + run.ephemerisPath + ": " + c.message +
                  ", record not used",
              run.messages[1]);
  }
}

TEST(EphemerisFile, HugeGlonassValuesArePrintedInFull) {
  std::vector<uint8_t> record = HandBuiltGlonassRecord();
  PutF64At(record, 39, 5e307);  // Pos: printed %.4lf as about 5e304, 305 digits
  const EphemerisRun run = ReadEphemerisBytes(record, 4);
  EXPECT_EQ(0u, run.epp.find("GlnEph { Prn: 40 0\n"));
  const size_t pos = run.epp.find("\tPos: ");
  ASSERT_NE(std::string::npos, pos);
  const size_t end = run.epp.find(" -2.0005 12345.6789\n", pos);
  ASSERT_NE(std::string::npos, end);
  EXPECT_EQ(6u + 305u + 5u, end - pos);  // "\tPos: ", 305 digits, ".dddd"
  for (size_t i = pos + 6; i < end - 5; ++i) ASSERT_TRUE(std::isdigit(run.epp[i])) << i;
  EXPECT_EQ(".0000", run.epp.substr(end - 5, 5));
}

TEST(EphemerisFile, ArbitraryBytesNeverCrashAndEveryPositivePrnIsCounted) {
  // A deterministic stream of arbitrary records (NaNs, huge values, any PRN byte).
  uint64_t state = 0x9E3779B97F4A7C15ull;
  std::vector<uint8_t> bytes(129 * 200 + 57);
  int32_t positive = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    bytes[i] = static_cast<uint8_t>(state >> 56);
    if (i % 129 == 0 && i + 129 <= bytes.size() && static_cast<int8_t>(bytes[i]) > 0) ++positive;
  }
  const EphemerisRun run = ReadEphemerisBytes(bytes, 4);
  EXPECT_EQ(positive, run.read);
  EXPECT_GE(run.messages.size(), static_cast<size_t>(positive));
}

TEST(EphemerisFileWriter, GpsRecordMatchesTheHandBuiltBytes) {
  const std::vector<uint8_t> want = HandBuiltGpsRecord();
  const std::vector<uint8_t> got = GpsEphemerisRecord(HandBuiltGpsEph());
  ASSERT_EQ(129u, got.size());
  // The angles in double are divided by pi again: equal to within a few ulps.
  const size_t angleOffsets[] = {39, 91, 99, 107};
  for (size_t i = 0; i < got.size(); ++i) {
    bool inAngle = false;
    for (size_t a : angleOffsets) inAngle = inAngle || (i >= a && i < a + 8);
    const bool unread = (i >= 123 && i < 125) || i >= 127;
    if (unread) {
      EXPECT_EQ(0, got[i]) << "byte " << i;
    } else if (!inAngle) {
      EXPECT_EQ(want[i], got[i]) << "byte " << i;
    }
  }
  const double semicircles[] = {0.25, -0.75, 0.375, 0.3125};
  for (int k = 0; k < 4; ++k) {
    double v;
    std::memcpy(&v, &got[angleOffsets[k]], 8);  // little-endian host
    EXPECT_DOUBLE_EQ(semicircles[k], v) << angleOffsets[k];
  }
  EXPECT_EQ(0x01, GpsEphemerisRecord(HandBuiltGpsEph(), 0x0201)[125]);
  EXPECT_EQ(0x02, GpsEphemerisRecord(HandBuiltGpsEph(), 0x0201)[126]);
}

TEST(EphemerisFileWriter, GlonassRecordMatchesTheHandBuiltBytes) {
  std::vector<uint8_t> want = HandBuiltGlonassRecord();
  for (size_t i : {1, 2, 3, 4, 5, 6, 111, 112, 113, 114, 115, 116, 117, 118, 125}) want[i] = 0;
  EXPECT_EQ(want, GlonassEphemerisRecord(HandBuiltGlonassFields()));
}

TEST(EphemerisFileWriter, RawAndCutRecordsAreAppendedAsGiven) {
  EphemerisFileWriter writer;
  writer.AddRaw(FilledEphemerisRecord(0x85, 0x33));
  writer.AddGps(HandBuiltGpsEph());
  writer.AddCut(HandBuiltGlonassRecord(), 60);
  const std::vector<uint8_t>& b = writer.bytes();
  ASSERT_EQ(129u + 129u + 60u, b.size());
  EXPECT_EQ(0x85, b[0]);
  EXPECT_EQ(0x33, b[128]);
  EXPECT_EQ(7, b[129]);
  EXPECT_EQ(40, b[258]);
  const std::vector<uint8_t> glonass = HandBuiltGlonassRecord();
  EXPECT_EQ(std::vector<uint8_t>(glonass.begin(), glonass.begin() + 60),
            std::vector<uint8_t>(b.begin() + 258, b.end()));

  TempDir dir;
  ASSERT_TRUE(writer.WriteTo(dir.File("E.bin")));
  EXPECT_EQ(b, ReadFileBytes(dir.File("E.bin")));
}

}  // namespace
}  // namespace talverin
