// The ephemeris file: every field of a GPS and a GLONASS record from its own offset, the
// .epp text of both, health, weeks, dispatch on the PRN byte and values no navigation
// message can hold; then through a whole conversion: the store that decides on
// recomputation.
#include "input/ephemeris_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/text_buffer.h"
#include "dataset/byte_builder.h"
#include "dataset/ephemeris_file_writer.h"
#include "job/conversion_job.h"
#include "orbit/ephemeris_store.h"
#include "position/single_point.h"
#include "tests/support/bahr_navigation.h"
#include "tests/support/conversion_fixtures.h"

namespace talverin {
namespace {

using testing_support::ConvertDownloadSet;
using testing_support::ConvertedSet;
using testing_support::CountOf;
using testing_support::OneChannelEpochs;
using testing_support::TempDir;

enum Width { kI8 = 1, kI16 = 2, kI32 = 4, kF32 = -4, kF64 = -8 };

// Writes one field little-endian by shifts at its offset in the record layout table, so
// that the fixtures do not lean on the module's own byte helpers or offset constants.
void Put(std::vector<uint8_t>& r, size_t offset, Width width, double value) {
  uint64_t bits = 0;
  if (width == kF32) {
    const float f = static_cast<float>(value);
    uint32_t b32;
    std::memcpy(&b32, &f, 4);
    bits = b32;
  } else if (width == kF64) {
    std::memcpy(&bits, &value, 8);
  } else {
    bits = static_cast<uint64_t>(static_cast<int64_t>(value));
  }
  const int bytes = width < 0 ? -width : width;
  for (int i = 0; i < bytes; ++i) r.at(offset + i) = static_cast<uint8_t>(bits >> (8 * i));
}

// The GPS fields in file order: offset, width and a distinct file value (prn, week, tow,
// tgd, iodc, toc, af2, af1, af0, iode, deltaN, m0, e, rootA, toe, cic, crc, cis, crs, cuc,
// cus, omega0, omega, i0, omegaDot, iDot).
const struct {
  size_t offset;
  Width width;
  double fileValue;
} kGpsRows[] = {
    {0, kI8, 7},          {1, kI16, 1234},       {3, kI32, 345600},   {7, kF32, -4.5e-9},
    {11, kI32, 101},      {15, kI32, 352800},    {19, kF32, 1.5e-19}, {23, kF32, -2.5e-12},
    {27, kF32, 3.75e-5},  {31, kI32, 77},        {35, kF32, 1.5e-9},  {39, kF64, 0.25},
    {47, kF64, 0.0125},   {55, kF64, 5153.75},   {63, kI32, 356400},  {67, kF32, 1.1e-7},
    {71, kF32, 250.5},    {75, kF32, -2.2e-7},   {79, kF32, -44.25},  {83, kF32, 3.3e-6},
    {87, kF32, 4.4e-6},   {91, kF64, -0.75},     {99, kF64, 0.375},   {107, kF64, 0.3125},
    {115, kF32, -2.5e-9}, {119, kF32, 1.25e-10},
};

// A GPS record (PRN 7, week 1234, toe 356400 s) with a distinct value in every field; the
// unread bytes hold 0xEE.
std::vector<uint8_t> GpsRecord(uint16_t healthWord = 0, size_t offset = 0, Width width = kI8,
                               double value = 7) {
  std::vector<uint8_t> r(129, 0xEE);
  for (const auto& row : kGpsRows) Put(r, row.offset, row.width, row.fileValue);
  Put(r, 125, kI16, healthWord);
  Put(r, offset, width, value);
  return r;
}

// A GLONASS record (PRN 40) with a distinct value in every field; unread bytes 0xEE.
std::vector<uint8_t> GlonassRecord(double tkbSecond = 45000.9) {
  std::vector<uint8_t> r(129, 0xEE);
  const struct {
    size_t offset;
    Width width;
    double value;
  } rows[] = {
      {0, kI8, 40},        {7, kI32, 123456},      {11, kI32, 654321},  {15, kF64, tkbSecond},
      {23, kF32, -0.25},   {27, kF32, 1.5},        {31, kF64, 0.125},   {39, kF64, 1000.0},
      {47, kF64, -2000.5}, {55, kF64, 12345678.9}, {63, kF64, 2500.0},  {71, kF64, -1250.0},
      {79, kF64, 3.0},     {87, kF64, 0.000125},   {95, kF64, -0.0005}, {103, kF64, 0.0},
      {119, kI8, -2},      {120, kI8, 200},        {121, kI16, 0x1234}, {123, kI16, 0xABCD},
      {126, kI8, 0x01},    {127, kI8, 0x80},       {128, kI8, 0xFF}};
  for (const auto& row : rows) Put(r, row.offset, row.width, row.value);
  return r;
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
  EXPECT_TRUE(WriteFileBytes(run.ephemerisPath, bytes));
  ConversionJob job;
  job.receiverType = receiverType;
  job.options.RecomputePosition = recompute;
  CopyText(job.ephemerisPath, kPathSize, run.ephemerisPath.c_str());
  job.ephemerisFile = std::fopen(run.ephemerisPath.c_str(), "rb");
  job.eppFile = std::fopen(dir.File("out.epp").c_str(), "w");
  job.messageCallback = Collect;
  gMessages = &run.messages;
  ReadEphemerisFile(job);
  gMessages = nullptr;
  std::fclose(job.eppFile);
  job.eppFile = nullptr;
  run.epp = ReadFileText(dir.File("out.epp"));
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

// Every field from its own offset, floats widened, angles from semicircles to radians
// (x pi), printed as the seven-line text; the health word is both bytes at 125, signed.
TEST(EphemerisGpsRecord, EveryFieldComesFromItsOwnOffsetIntoTheSevenLineText) {
  const EphemerisRun run = ReadEphemerisBytes(GpsRecord(), 2);
  EXPECT_EQ(
      "GpsEph { Prn: 7\n"
      "\tEl1: 1234 345600 -4.49999993e-09 101 352800\n"
      "\tEl2: 1.50000002e-19 -2.49999999e-12 3.75000018e-05\n"
      "\tEl3: 77 -4.42500000e+01 4.71238902e-09 7.85398163397448e-01\n"
      "\tEl4: 3.29999989e-06 1.25000000000000e-02 4.39999985e-06 5.15375000000000e+03\n"
      "\tEl5: 356400 1.10000002e-07 -2.35619449019234e+00 -2.20000004e-07\n"
      "\tEl6: 9.81747704246810e-01 2.50500000e+02 1.17809724509617e+00 -7.85398159e-09 "
      "3.92699071e-10\n}\n",
      run.epp);
  const struct {
    uint16_t word;
    int16_t health;
  } words[] = {{0, 0}, {1, 1}, {0x100, 256}, {0xFFFF, -1}};
  for (const auto& w : words) {
    GpsEph got{};
    int16_t health = 7;
    DecodeGpsRecord(GpsRecord(w.word).data(), &got, &health);
    EXPECT_EQ(w.health, health) << w.word;
  }
}

// Every field in its place; the Tkb second value is cut toward zero, or the record refused
// when it does not fit 32 bits; Res bytes 0x01 0x80 0xFF are widened with their sign.
TEST(EphemerisEppText, GlonassRecordPrintsEveryFieldAndCutsTkbTowardZero) {
  const struct {
    double tkb;
    const char* printed;  // null: the record is refused
    const char* shown;    // the value as the refusal message gives it
  } cases[] = {
      {-7.9, "-7", nullptr},
      {2147483647.0, "2147483647", nullptr},
      {-2147483648.9, "-2147483648", nullptr},
      {2147483648.0, nullptr, "2.14748e+09"},
      {kNaN, nullptr, "nan"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tkb);
    const EphemerisRun run = ReadEphemerisBytes(GlonassRecord(c.tkb), 4);
    EXPECT_EQ(1, run.read);
    EXPECT_EQ(0, run.stored);
    std::vector<std::string> messages = {"GLONASS Ephemeris loaded for PRN 40"};
    std::string epp;
    if (c.printed == nullptr) {
      messages.insert(messages.begin(), "ERROR - GLONASS Eph PRN 40 in " + run.ephemerisPath +
                                            ": Tkb is " + c.shown + ", record not written");
    } else {
      epp = "GlnEph { Prn: 40 0\n\tTkb: 654321 " + std::string(c.printed) +
            "\n\tLte: 1.500000000e+00 -2.500000000e-01 200\n"
            "\tPos: 1.0000 -2.0005 12345.6789\n"
            "\tVel: 2.50000000e+00 -1.25000000e+00 3.00000000e-03\n"
            "\tAcc: 1.25000000e-07 -5.00000000e-07 0.00000000e+00\n"
            "\tFlg: 43981 4660\n"
            "\tAsh: 123456 1.250000000000000e-01 -2 0\n"
            "\tRes: 1 ffffff80 ffffffff\n}\n";
    }
    EXPECT_EQ(epp, run.epp);
    EXPECT_EQ(messages, run.messages);
  }
}

// Every record with a positive PRN byte is counted and reported; GPS records (PRN 1..32)
// are remembered (toe and week of the last one), and written and stored only when healthy
// and sound: nothing non-finite (angles in semicircles as the file stores them), nothing
// the navigation message cannot hold (the width of every field is checked in
// broadcast_range_test). GLONASS records are read by GLONASS receivers only.
TEST(EphemerisFile, RecordsAreCountedReportedWrittenAndStoredByPrnHealthAndValue) {
  const std::string ok = "GPS Ephemeris loaded for PRN 7, Health OK";
  const std::string bad = "GPS Ephemeris loaded for PRN 7, Health BAD!!!";
  const std::string week2049 = "ERROR - Eph Week Number : 2049";
  const std::string weekMinus1 = "ERROR - Eph Week Number : -1";
  const std::string ok32 = "GPS Ephemeris loaded for PRN 32, Health OK";
  const std::string glonass33 = "GLONASS Ephemeris loaded for PRN 33";
  const std::string glonass40 = "GLONASS Ephemeris loaded for PRN 40";
  // A record refused for a value; {toe} and {path} are the case's.
  const auto unused = [](const std::string& why) {
    return "ERROR - Eph PRN 7 toe {toe} in {path}: " + why + ", record not used";
  };
  const std::string tgd = unused("tgd is nan");
  const std::string m0 = unused("m0 is inf");
  // af0: 22 bits of 2^-31 s hold +-2^-10 s = 0.98 ms; 10 ms is ten times that.
  const std::string af0 =
      unused("af0 is 0.0099999998 s, outside the broadcast range -0.000976562 to 0.000976562 s");
  const std::string e = unused("e is 0.6, outside the broadcast range 0 to 0.5");
  const std::string toe = unused("toe is -16 s, outside the broadcast range 0 to 604784 s");
  std::vector<uint8_t> prn33 = GlonassRecord();
  prn33[0] = 33;
  const std::vector<uint8_t> five =
      Concat({GpsRecord(), GpsRecord(0, 63, kI32, 363600), GpsRecord(0, 1, kI16, 2049),
              GpsRecord(1), GlonassRecord()});
  const std::vector<uint8_t> twice = Concat({GpsRecord(), GpsRecord()});
  const std::vector<uint8_t> cut = Concat({GpsRecord(), std::vector<uint8_t>(128, 7)});
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    std::vector<std::string> messages;
    int32_t read, stored;  // stored -1: not checked
    size_t gpsWritten, glonassWritten;
    int32_t lastToe, lastWeek;  // of the last GPS record read
    int32_t type = 2, recompute = 1;
  } cases[] = {
      {"healthy", GpsRecord(), {ok}, 1, 1, 1, 0, 356400, 1234},
      {"healthy, not recomputing", GpsRecord(), {ok}, 1, 0, 1, 0, 356400, 1234, 2, 0},
      {"unhealthy", GpsRecord(0x100), {bad}, 1, 0, 0, 0, 356400, 1234},
      {"week 0", GpsRecord(0, 1, kI16, 0), {ok}, 1, -1, 1, 0, 356400, 0},
      {"week 2048", GpsRecord(0, 1, kI16, 2048), {ok}, 1, -1, 1, 0, 356400, 2048},
      {"week 2049", GpsRecord(0, 1, kI16, 2049), {ok, week2049}, 1, -1, 1, 0, 356400, 2049},
      {"week -1", GpsRecord(0, 1, kI16, -1), {ok, weekMinus1}, 1, -1, 1, 0, 356400, -1},
      {"tgd NaN", GpsRecord(0, 7, kF32, kNaN), {ok, tgd}, 1, 0, 0, 0, 356400, 1234},
      // Finite in the file, beyond range after x pi.
      {"m0 of 1e308", GpsRecord(0, 39, kF64, 1e308), {ok, m0}, 1, 0, 0, 0, 356400, 1234},
      {"af0 of 10 ms", GpsRecord(0, 27, kF32, 0.01), {ok, af0}, 1, 0, 0, 0, 356400, 1234},
      {"e of 0.6", GpsRecord(0, 47, kF64, 0.6), {ok, e}, 1, 0, 0, 0, 356400, 1234},
      {"toe of -16 s", GpsRecord(0, 63, kI32, -16), {ok, toe}, 1, 0, 0, 0, -16, 1234},
      {"empty file", {}, {}, 0, 0, 0, 0, -1, -1},
      {"PRN byte 0x85 is negative", FilledEphemerisRecord(0x85, 0x11), {}, 0, 0, 0, 0, -1, -1, 4},
      {"PRN 0", FilledEphemerisRecord(0x00, 0x22), {}, 0, 0, 0, 0, -1, -1, 4},
      {"PRN 40 in a type 2 file", GlonassRecord(), {}, 0, 0, 0, 0, -1, -1},
      {"PRN 33 in a type 4 file", prn33, {glonass33}, 1, 0, 0, 1, -1, -1, 4},
      {"PRN 32 (GPS), type 4", GpsRecord(0, 0, kI8, 32), {ok32}, 1, 1, 1, 0, 356400, 1234, 4},
      {"the same record twice", twice, {ok, ok}, 2, 1, 2, 0, 356400, 1234},
      {"a cut last record", cut, {ok}, 1, 1, 1, 0, 356400, 1234},
      // The unhealthy record, read fourth, is the last GPS ephemeris remembered.
      {"five records", five, {ok, ok, ok, week2049, bad, glonass40}, 5, 3, 3, 1, 356400, 1234, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const EphemerisRun run = ReadEphemerisBytes(c.bytes, c.type, c.recompute);
    std::vector<std::string> messages = c.messages;
    for (std::string& m : messages) {
      if (m.find("{toe}") == std::string::npos) continue;
      m.replace(m.find("{toe}"), 5, std::to_string(c.lastToe));
      m.replace(m.find("{path}"), 6, run.ephemerisPath);
    }
    EXPECT_EQ(messages, run.messages);
    if (c.stored >= 0) {
      EXPECT_EQ(c.stored, run.stored);
    }
    EXPECT_FIELDS(FIELD_IS(run.read, c.read), FIELD_IS(run.lastEphTime, c.lastToe),
                  FIELD_IS(run.lastEphWeek, c.lastWeek),
                  FIELD_IS(CountOf(run.epp, "GpsEph { Prn: "), c.gpsWritten),
                  FIELD_IS(CountOf(run.epp, "GlnEph {"), c.glonassWritten));
  }
}

// --- Through a whole conversion ----------------------------------------------------

// An epoch is recomputed with more than three stored ephemerides; with fewer each epoch
// warns, unless recomputation is off.
TEST(EphemerisConversion, RecomputationNeedsFourStoredEphemeridesAndTheOption) {
  const int32_t cases[][3] = {{3, 1, 2}, {4, 1, 0}, {3, 0, 0}};  // records, option, warnings
  const std::vector<GpsEph> bahr = test_data::BahrEphemerides();
  for (const auto& c : cases) {
    EphemerisFileWriter e;
    for (int i = 0; i < c[0]; ++i) e.AddGps(bahr[i]);
    TempDir dir;
    const ConvertedSet run =
        ConvertDownloadSet(dir, ObservationFileBytes(OneChannelEpochs(2, 352800.0)), e.bytes(),
                           [&c](ConvertOptions& o) { o.RecomputePosition = c[1]; });
    EXPECT_EQ(c[2], run.run.CountMessages(
                        "Warning, less then 4 ephemerides unable to recompute position"))
        << c[0] << " records, option " << c[1];
  }
}

}  // namespace
}  // namespace talverin
