// GPB writer and reader: epochs and headers of both variants against bytes assembled by
// hand and read back, the integer limits of lock, signal-to-noise and milliseconds, header
// updates (also after epochs reached the file, and failed), refused calls, and files that
// cannot be created. The reader on damaged files (flipped data byte, cut records, wrong
// lengths, garbage): reading must end with a text naming the epoch and its byte offset,
// never a crash.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "dataset/byte_builder.h"
#include "output/gpb_file.h"
#include "output/gpb_reader.h"
#include "tests/support/conversion_fixtures.h"

namespace talverin {
namespace {

using testing_support::TempDir;
using Bytes = std::vector<uint8_t>;

// Epoch fields in order: valid, flags, nsat, lat, lon, height, rcvTime, gpsTime, corrTime,
// clock, extra, aux, sat.
gpb_epoch_type ValidEpoch(double gpsTime = 0.0) {
  return gpb_epoch_type{1, 0, 0, 0, 0, 0, 0, gpsTime, 0, 0, 0, 0, {}};
}

// Satellite record header of a 1.02 file: record length 44, PRN byte, lock byte.
void AppendSat102(ByteBuilder& b, uint8_t prn, uint8_t lock) {
  b.U16(44);
  b.U8(prn);
  b.U8(lock);
}

Bytes Slice(const Bytes& bytes, size_t from, size_t to) {
  if (to > bytes.size() || from > to) return {};
  return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to));
}

// Writes the epochs to a new file of the variant and returns the bytes after the header;
// the reader must give every epoch back (into *read) and then end cleanly.
Bytes WriteEpochs(int32_t newVariant, const std::vector<gpb_epoch_type>& epochs,
                  std::vector<GpbReadEpoch>* read) {
  TempDir dir;
  const std::string path = dir.File("out.gpb");
  GpbFile gpb;
  EXPECT_EQ(0, gpb.Create(newVariant, path.c_str(), 2, 1.0, 24, 2048)) << gpb.errorText();
  for (const gpb_epoch_type& epoch : epochs) EXPECT_EQ(0, gpb.WriteEpoch(epoch)) << gpb.errorText();
  EXPECT_EQ(0, gpb.Close()) << gpb.errorText();
  EXPECT_EQ(0, testing_support::ReadGpb(path, read));  // a clean end
  EXPECT_EQ(epochs.size(), read->size());
  const Bytes bytes = ReadFileBytes(path);
  return Slice(bytes, newVariant != 0 ? 512 : 202, bytes.size());
}

// Epoch record of the new file, assembled in file order; checksum left 0.
void AppendNewEpochRecord(ByteBuilder& b, uint16_t length, uint16_t bytesPerSat, uint16_t flags,
                          uint16_t nsat, const gpb_epoch_type& e, int32_t ms, uint16_t aux) {
  for (const int word : {0xC33C, 1, int{length}, 0, 68, int{bytesPerSat}}) b.U16(word);
  b.Zeros(4);
  b.U16(flags);
  b.U16(nsat);
  b.F64(e.lat);
  b.F64(e.lon);
  b.F32(e.height);
  for (const double time_s : {e.rcvTime, e.gpsTime, e.corrTime}) b.F64(time_s);
  b.I32(ms);
  b.F64(e.clock);
  b.F32(e.extra);
  b.Zeros(2);
  b.U16(aux);
}

// Primary satellite record of the new file: PRN byte, GLONASS byte, two spare bytes, flag
// byte, snr byte, lock units, range, phase, doppler.
void AppendPrimarySat(ByteBuilder& b, uint8_t prn, uint8_t glonass, uint8_t flags, uint8_t snr,
                      uint16_t lock, double range, double phase, float doppler) {
  b.U8(prn);
  b.U8(glonass);
  b.Zeros(2);
  b.U8(flags);
  b.U8(snr);
  b.U16(lock);
  for (const double value : {range, phase}) b.F64(value);
  b.F32(doppler);
}

// The checksum is the byte sum of everything from epoch offset 8 to the end of the epoch.
void PatchChecksum(Bytes& epochBytes) {
  uint32_t sum = 0;
  for (size_t i = 8; i < epochBytes.size(); ++i) sum += epochBytes[i];
  epochBytes[6] = static_cast<uint8_t>(sum & 0xFF);
  epochBytes[7] = static_cast<uint8_t>((sum >> 8) & 0xFF);
}

// An empty epoch written out byte by byte and checksummed by hand, then an epoch whose one
// satellite with L2 gives every satellite an extended record.
TEST(GpbFileNewEpoch, EpochRecordsMatchHandAssembledBytes) {
  // Flags: bit 8 must not reach the file, bit 9 clear: aux not written. Latitude 1
  // (3FF0000000000000), longitude 2 (4000...), height 0.5f (3F000000), receiver time 4
  // (4010...), GPS time 8 (4020..., 8000 ms = 0x1F40), corrected time 16 (4030...), clock -2
  // (C000...), extra 0.25f (3E800000).
  const gpb_epoch_type e{1, 0x0103, 0, 1.0, 2.0, 0.5f, 4.0, 8.0, 16.0, -2.0, 0.25f, 0x1234, {}};
  // Checksum over bytes 8..83: 68 + 28 + 3 + 0x12F (lat) + 0x40 + 0x3F + 0x50 + 0x60 + 0x70
  // + 0x5F (ms) + 0xC0 + 0xBE (extra) + 0x1FE (aux FFFF) = 1804 = 0x070C.
  const Bytes empty = {0x3C, 0xC3, 0x01, 0x00, 0x54, 0x00, 0x0C, 0x07, 0x44, 0x00, 0x1C, 0x00,
                       0,    0,    0,    0,    0x03, 0x00, 0x00, 0x00, 0,    0,    0,    0,
                       0,    0,    0xF0, 0x3F, 0,    0,    0,    0,    0,    0,    0x00, 0x40,
                       0,    0,    0x00, 0x3F, 0,    0,    0,    0,    0,    0,    0x10, 0x40,
                       0,    0,    0,    0,    0,    0,    0x20, 0x40, 0,    0,    0,    0,
                       0,    0,    0x30, 0x40, 0x40, 0x1F, 0x00, 0x00, 0,    0,    0,    0,
                       0,    0,    0x00, 0xC0, 0x00, 0x00, 0x80, 0x3E, 0,    0,    0xFF, 0xFF};
  // Flag bit 9: aux written.
  gpb_epoch_type l2{1,      0x0201,      2,      47.123456789, -122.5, 123.25f, 345600.5,
                    1.2346, 345600.4999, 29.979, 0.0f,         0xBEEF, {}};
  l2.sat[0] = {3, 0x03, 21000000.5, 1.5e6, 0, 0, 0, 0, 0, 0, 0, 0};
  // 600.5 s of L2 lock are 12010 units, an L2 snr of 45.3 is 181.2 quarter units: 181.
  l2.sat[1] = {17, 0x3E1,       22000000.75, 0,          0,     0,
               0,  22000001.25, 22000002.5,  -987654.25, 600.5, 45.3};
  ByteBuilder b;
  AppendNewEpochRecord(b, 84 + 4 * 28, 56, 0x01, 2, l2, 1235, 0xBEEF);
  // Satellite 3: primary, then an all-zero extended record.
  AppendPrimarySat(b, 3, 0, 0x03, 0, 0, 21000000.5, 1.5e6, 0.0f);
  b.Zeros(28);
  // Satellite 17: primary with the range only, extended with P1, L2 range, phase, lock, snr.
  AppendPrimarySat(b, 17, 0, 0x01, 0, 0, 22000000.75, 0.0, 0.0f);
  b.U8(0x3B);
  b.U8(181);
  b.U16(12010);
  for (const double value : {22000001.25, 22000002.5, -987654.25}) b.F64(value);
  PatchChecksum(b.bytes());
  Bytes expected = empty;
  expected.insert(expected.end(), b.bytes().begin(), b.bytes().end());
  std::vector<GpbReadEpoch> read;
  EXPECT_EQ(expected, WriteEpochs(1, {e, l2}, &read));
  // Read back (position, times, clock, L2 range and phase: the observation end-to-end test).
  ASSERT_EQ(2u, read.size());
  const gpb_epoch_type &r = read[0].epoch, &s = read[1].epoch;
  EXPECT_FIELDS(FIELD_IS(r.valid, 1), FIELD_IS(r.flags, 3), FIELD_IS(r.nsat, 0),
                FIELD_IS(r.extra, 0.25), FIELD_IS(r.aux, 0xFFFF));
  EXPECT_FIELDS(FIELD_IS(read[0].fileOffset, 512), FIELD_IS(read[0].storedLength, 84),
                FIELD_IS(read[0].bytesPerSat, 28), FIELD_IS(read[0].milliseconds, 8000),
                FIELD_IS(read[0].storedChecksum, 0x070C),
                FIELD_IS(read[0].computedChecksum, 0x070C));
  EXPECT_FIELDS(FIELD_IS(s.aux, 0xBEEF), FIELD_IS(read[1].extFlags[0], 0),
                FIELD_IS(read[1].extFlags[1], 0x3B), FIELD_IS(s.sat[0].sflags, 0x03),
                FIELD_IS(s.sat[1].sflags, 0x3E1), FIELD_IS(s.sat[1].lock2, 600.5),
                FIELD_IS(s.sat[1].rangeP1, 22000001.25), FIELD_IS(s.sat[1].snr2, 45.25));
}

// Each row also pins the millisecond field of its epoch time: the nearest millisecond, 0
// for a time that is no number or infinite, the int32 limits beyond them.
TEST(GpbFileNewEpoch, PrimaryRecordAppliesRangeLockSnrAndFlagRules) {
  const double kRange = 20000000.25, kPhase = -1234567.5;
  const struct {
    const char* name;
    uint32_t prn, sflags;
    double range1, phase1, doppler1, lock1, snr1, gpsTime_s;
    // Expected record fields.
    uint8_t prnByte, glonass, flags, snrByte;
    uint16_t lockUnits;
    double range, phase;
    float doppler;
    int32_t ms;
  } cases[] = {
      {"all L1, marked, lock and snr limited", 5, 0x1001F, kRange, kPhase, -1500.25, 1500, 70,
       1.2346, 5, 0, 0x9F, 255, 24000, kRange, kPhase, -1500.25f, 1235},
      {"negative range above 10 m in size, marked", 12, 0x10001, -10.5, 0, 0, 0, 0, 604799.9996, 12,
       0, 0x81, 0, 0, -10.5, 0, 0, 604800000},
      {"range of exactly 10 m dropped with its mark, lock -3, snr 12.6, PRN 38", 38, 0x1001F, 10.0,
       kPhase, 0.5, -3, 12.6, 1.2344, 38, 1, 0x1E, 50, 0, 0.0, kPhase, 0.5f, 1234},
      {"infinite lock and snr, PRN 33", 33, 0x18, 0, 0, 0, kInf, kInf, kInf, 33, 1, 0x18, 255,
       24000, 0, 0, 0, 0},
      {"NaN lock and snr, PRN 32", 32, 0x18, 0, 0, 0, kNaN, kNaN, -1e10, 32, 0, 0x18, 0, 0, 0, 0, 0,
       INT32_MIN},
      {"lock 12.34 s, negative snr, doppler beyond float range", 9, 0x1C, 0, 0, 1e300, 12.34, -5.0,
       1e10, 9, 0, 0x1C, 0, 246, 0, 0, std::numeric_limits<float>::infinity(), INT32_MAX},
      {"PRN low byte only, clear bits ignored", 0x126, 0x0, kRange, kPhase, 7.0, 100, 40, kNaN,
       0x26, 1, 0x00, 0, 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    gpb_epoch_type e = ValidEpoch(c.gpsTime_s);
    e.nsat = 1;
    e.sat[0] = {c.prn, c.sflags, c.range1, c.phase1, c.doppler1, c.lock1, c.snr1, 0, 0, 0, 0, 0};
    ByteBuilder whole;
    AppendNewEpochRecord(whole, 84 + 28, 28, 0, 1, e, c.ms, 0xFFFF);
    AppendPrimarySat(whole, c.prnByte, c.glonass, c.flags, c.snrByte, c.lockUnits, c.range, c.phase,
                     c.doppler);
    PatchChecksum(whole.bytes());
    std::vector<GpbReadEpoch> read;
    EXPECT_EQ(whole.bytes(), WriteEpochs(1, {e}, &read)) << c.name;
    // Read back: the presence bits rebuilt from the flag byte, lock and snr in their units
    // (range, phase and doppler: the observation end-to-end test).
    ASSERT_EQ(1u, read.size());
    const gpb_sat_type& r = read[0].epoch.sat[0];
    const uint32_t sflags = (c.flags & 0x1Fu) | ((c.flags & 0x80) != 0 ? kSatRange1Marked : 0u);
    SCOPED_TRACE(c.name);
    EXPECT_FIELDS(FIELD_IS(r.prn, c.prnByte), FIELD_IS(r.sflags, sflags),
                  FIELD_IS(read[0].glonass[0], c.glonass), FIELD_IS(read[0].satFlags[0], c.flags),
                  FIELD_IS(r.lock1, c.lockUnits / 20.0), FIELD_IS(r.snr1, c.snrByte / 4.0),
                  FIELD_IS(read[0].milliseconds, c.ms));
  }
}

TEST(GpbFile102Epoch, EpochAndSatelliteRecordsMatchHandAssembledBytes) {
  // The receiver time 99 is not carried by this variant.
  gpb_epoch_type e{1,       0x0203,     4,        -33.5, 151.25, 58.5f, 99.0,
                   86400.5, 86400.4999, -150.125, 0.75f, 0x5A5A, {}};
  // Every field, no 10 m rule in this variant; lock absent; lock of 300 s; negative lock,
  // values with clear bits ignored.
  e.sat[0] = {38, 0x3FF, 5.0, 123456.5, -1234.125, 254.9, 9, 1.0, 20000003.5, 98765.25, 0, 0};
  e.sat[1] = {4, 0x01, 21000000.5, 0, 0, 10, 0, 0, 0, 0, 0, 0};
  e.sat[2] = {6, 0x08, 0, 0, 0, 300, 0, 0, 0, 0, 0, 0};
  e.sat[3] = {7, 0x08, 0, 5.5, 0, -3, 0, 0, 6.5, 0, 0, 0};
  ByteBuilder x;
  x.U16(68);
  x.U8(4);
  x.U8(0x03);
  x.Zeros(4);
  x.F64(-33.5);
  x.F64(151.25);
  x.F32(58.5f);
  for (const double value : {86400.5, 86400.4999, -150.125, 0.75}) x.F64(value);
  x.U16(0x5A5A);
  x.Zeros(6);
  AppendSat102(x, 38, 254);
  for (const double value : {5.0, 123456.5, -1234.125, 20000003.5, 98765.25}) x.F64(value);
  AppendSat102(x, 4, 255);
  x.F64(21000000.5);
  x.Zeros(32);
  AppendSat102(x, 6, 255);
  x.Zeros(40);
  AppendSat102(x, 7, 0);
  x.Zeros(40);
  // A second epoch without flag bit 9, its one satellite with the range only: nothing of the
  // first epoch's records remains in it.
  const gpb_epoch_type second{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x1111, {e.sat[1]}};
  x.U16(68);
  x.U8(1);
  x.U8(0);
  x.Zeros(56);
  x.U16(0xFFFF);
  x.Zeros(6);
  AppendSat102(x, 4, 255);
  x.F64(21000000.5);
  x.Zeros(32);
  std::vector<GpbReadEpoch> read;
  EXPECT_EQ(x.bytes(), WriteEpochs(0, {e, second}, &read));
  // Read back: a value other than zero is present, a lock byte other than 255 is a lock
  // (times and observables: the observation end-to-end test).
  ASSERT_EQ(2u, read.size());
  const gpb_epoch_type& r = read[0].epoch;
  EXPECT_FIELDS(FIELD_IS(r.flags, 3), FIELD_IS(r.nsat, 4), FIELD_IS(r.extra, 0.75),
                FIELD_IS(r.aux, 0x5A5A), FIELD_IS(r.lat, -33.5), FIELD_IS(r.lon, 151.25),
                FIELD_IS(r.sat[0].prn, 38), FIELD_IS(r.sat[0].sflags, 0xCF),
                FIELD_IS(r.sat[0].lock1, 254.0), FIELD_IS(r.sat[1].sflags, 0x01),
                FIELD_IS(r.sat[2].sflags, 0), FIELD_IS(r.sat[3].sflags, kSatLock1));
  EXPECT_FIELDS(FIELD_IS(read[1].fileOffset, 202 + 68 + 4 * 44),
                FIELD_IS(read[1].epoch.aux, 0xFFFF),
                FIELD_IS(read[1].epoch.sat[0].range1, 21000000.5));
}

// The stamp: local time as six 16-bit words (month, day, years since 1900, hour, minute,
// second).
Bytes StampNow() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  ByteBuilder b;
  for (int word : {t.tm_mon + 1, t.tm_mday, t.tm_year, t.tm_hour, t.tm_min, t.tm_sec}) b.U16(word);
  return b.bytes();
}

// Before Create there is no file to update; after it, an update with nothing leaves the file
// as Create wrote it, and one with every item counts the items each variant keeps (the 1.02
// header has no description, the new one no value).
TEST(GpbFileHeader, BothHeaderImagesMatchHandAssembledBytes) {
  const uint32_t dataType = 0x01020304;
  const double value = 2.5;  // 40200000 as f32
  TempDir dir;
  GpbFile gpb;
  EXPECT_EQ(-1, gpb.UpdateHeaderInfo("x", nullptr, 0, nullptr));
  EXPECT_STREQ("GPB File not Opened", gpb.errorText());
  for (int32_t variant : {1, 0}) {
    const std::string path = dir.File(variant ? "new.gpb" : "old.gpb");
    ASSERT_EQ(0, gpb.Create(variant, path.c_str(), variant ? 2 : 0x102, 1.0, 24, 2048));
    const Bytes created = ReadFileBytes(path);
    EXPECT_EQ((variant ? Bytes{2, 0, 0, 0} : Bytes{0, 0, 0x80, 0x3F}), Slice(created, 20, 24));
    EXPECT_EQ(0, gpb.UpdateHeaderInfo(nullptr, nullptr, 0, nullptr));
    EXPECT_EQ(created, ReadFileBytes(path));
    const Bytes before = StampNow();
    EXPECT_EQ(
        3, gpb.UpdateHeaderInfo("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789wxyz", &dataType, 1, &value));
    ASSERT_EQ(0, gpb.Close());
    const Bytes bytes = ReadFileBytes(path);
    GpbReader reader;
    ASSERT_EQ(0, reader.Open(path.c_str()));
    const GpbHeaderInfo& header = reader.header();
    const Bytes stamp = Slice(bytes, variant ? 24 : 8, variant ? 36 : 20);
    EXPECT_FIELDS(FIELD_IS(header.variant, variant), FIELD_IS(header.headerLength, bytes.size()),
                  FIELD_IS(header.dataType, variant ? dataType : 4));
    EXPECT_EQ(stamp, Bytes(reinterpret_cast<const uint8_t*>(header.stamp),
                           reinterpret_cast<const uint8_t*>(header.stamp) + 12));
    EXPECT_STREQ(variant ? "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234" : "", header.description);
    if (!variant) {
      EXPECT_FIELDS(FIELD_IS(header.version, 1.02f), FIELD_IS(header.count, 24),
                    FIELD_IS(header.value, 2.5));
    }
    // Taken at the update; a second may tick during the test.
    EXPECT_TRUE(stamp == before || stamp == StampNow());
    ByteBuilder h;
    if (variant) {
      h.Text("$NEWGPB", 8);
      h.Zeros(8);
      h.U32(512);
      h.U32(dataType);
      h.Append(stamp);
      h.Text("ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", 32);
      h.Zeros(444);
    } else {
      h.Append({0xCA, 0x00, 0x5C, 0x8F, 0x82, 0x3F, 0x04, 0x18});
      h.Append(stamp);
      h.Append({0x00, 0x00, 0x20, 0x40});
      h.Zeros(178);  // 2.5f
    }
    EXPECT_EQ(h.bytes(), bytes);
  }
}

// Forty 84-byte epochs do not fit the writer's own buffer, so some reach the file before the
// header is updated. After a successful update the next epochs follow them; after a failed
// one (no byte may go beyond 100 while it writes the header) nothing more is written, and the
// closed file holds the header and the epochs that had reached it, every one in its place.
TEST(GpbFileHeader, EpochsAfterAHeaderUpdateFollowTheOnesAlreadyWritten) {
  TempDir dir;
  const std::string path = dir.File("u.gpb");
  std::vector<gpb_epoch_type> all;
  for (int k = 0; k < 41; ++k) all.push_back(ValidEpoch(k));
  std::vector<GpbReadEpoch> read;
  const Bytes epochs = WriteEpochs(1, all, &read);
  GpbFile gpb;
  for (bool fails : {false, true}) {
    SCOPED_TRACE(fails ? "failed update" : "update");
    ASSERT_EQ(0, gpb.Create(1, path.c_str(), 2, 1.0, 24, 1));
    for (int k = 0; k < 40; ++k) ASSERT_EQ(0, gpb.WriteEpoch(all[k]));
    const size_t reached = ReadFileBytes(path).size() - 512;
    ASSERT_TRUE(reached > 0 && reached % 84 == 0 && reached < 40 * 84) << reached;
    testing_support::FileSizeLimit limit(100);
    ASSERT_TRUE(!fails || limit.active());
    if (!fails) limit.Lift();
    EXPECT_EQ(fails ? -1 : 1, gpb.UpdateHeaderInfo("Model", nullptr, 0, nullptr));
    limit.Lift();
    EXPECT_EQ(fails ? 1 : 0, gpb.WriteEpoch(all[40]));
    EXPECT_EQ(fails ? "Unable to write to '" + path + "' (disk full)" : "", gpb.errorText());
    EXPECT_EQ(fails ? 1 : 0, gpb.Close());
    const Bytes bytes = ReadFileBytes(path);
    const size_t kept = fails ? reached : epochs.size();
    EXPECT_EQ(static_cast<int32_t>(kept / 84), gpb.epochsWritten());
    EXPECT_EQ(Slice(epochs, 0, kept), Slice(bytes, 512, bytes.size()));
    EXPECT_TRUE(fails || bytes[36] == 'M');
  }
}

// A second Create, also from the failed state -1, leaves the open file alone; refused calls
// write nothing. Files that cannot be created carry their texts and take no epoch (epochs on
// a device that fills up: the full-device test in tests/plugin/).
TEST(GpbFileCreate, RefusedCallsAndFailedCreatesCarryTheirTextsAndWriteNothing) {
  TempDir dir;
  const std::string first = dir.File("a.gpb"), second = dir.File("b.gpb"), good = dir.File("c.gpb");
  GpbFile gpb;
  ASSERT_EQ(0, gpb.Create(1, first.c_str(), 2, 1.0, 24, 2048));
  gpb_epoch_type e{1, 0, 24, 0, 0, 0, 0, 12.5, 0, 0, 0, 0, {}};  // a full epoch is accepted
  ASSERT_EQ(0, gpb.WriteEpoch(e));
  const std::string counts = "Unable to write epoch at 12.500 s to '" + first + "': ";
  const struct {
    int32_t valid;
    int16_t nsat;
    std::string text;
  } refused[] = {
      {0, 0, "Valid variable not set in gpb_epoch_type structure"},
      {1, 25, counts + "25 satellite records, 0 to 24 allowed"},
      {1, -1, counts + "-1 satellite records, 0 to 24 allowed"},
  };
  for (const auto& c : refused) {
    e.valid = c.valid;
    e.nsat = c.nsat;
    EXPECT_EQ(1, gpb.WriteEpoch(e));
    EXPECT_EQ(c.text, gpb.errorText());
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(1, gpb.Create(0, second.c_str(), 2, 1.0, 24, 2048));
    EXPECT_EQ("Cannot create file--class already using a file " + second, gpb.errorText());
    EXPECT_EQ(-1, gpb.state());
  }
  EXPECT_EQ(1, gpb.WriteEpoch(ValidEpoch()));
  EXPECT_STREQ("Invalid GPB class setup", gpb.errorText());
  EXPECT_EQ(0, gpb.Close());
  EXPECT_EQ(512u + 84u + 24u * 28u, ReadFileBytes(first).size());
  EXPECT_TRUE(ReadFileBytes(second).empty());

  const std::string missing = dir.File("no/x.gpb"), longName = dir.File(std::string(300, 'n'));
  const struct {
    int32_t variant;
    std::string path;
    int32_t buffer;
    std::string text;
  } cases[] = {
      {1, missing, 2048, "Unable to create GPB file " + missing + "--access denied"},
      {0, missing, 2048, "Unable to create GPB file '" + missing + "'--access denied"},
      {1, good, 0, "Unable to create file buffer for '" + good + "'"},
      {1, longName, 2048,
       "Unable to create GPB file " + longName.substr(0, 255) +
           "--name longer than 255 characters"},
      {0, "/dev/full", 2048, "Failure to write to '/dev/full' (disk full)"},
  };
  for (const auto& c : cases) {
    GpbFile failed;
    EXPECT_EQ(1, failed.Create(c.variant, c.path.c_str(), 2, 1.0, 24, c.buffer)) << c.text;
    EXPECT_EQ(c.text, failed.errorText());
    EXPECT_EQ(failed.state(), -1);
    EXPECT_EQ(failed.WriteEpoch(ValidEpoch()), 1);
  }
}

// The sample: an epoch without satellites, then one with two L1 satellites, the first at
// 21000000.5 m; damage to the second stops the reading there.
TEST(GpbReaderDamage, DamagedEpochsStopReadingWithEpochAndOffset) {
  TempDir dir;
  gpb_epoch_type epochs[2] = {};
  epochs[0].valid = epochs[1].valid = 1;
  epochs[1].nsat = 2;
  epochs[1].sat[0] = {2, kSatRange1, 21000000.5, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  epochs[1].sat[1] = {40, kSatRange1, 19000000.25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  GpbFile gpb;
  ASSERT_EQ(0, gpb.Create(1, dir.File("s.gpb").c_str(), 2, 1.0, 24, 2048));
  for (const gpb_epoch_type& e : epochs) ASSERT_EQ(0, gpb.WriteEpoch(e));
  ASSERT_EQ(0, gpb.Close());
  const std::vector<uint8_t> good = ReadFileBytes(dir.File("s.gpb"));
  ASSERT_EQ(512u + 84 + 140, good.size());
  const std::string name = dir.File("d.gpb");
  const std::string at1 = "GPB file '" + name + "': epoch 1 at byte 596";
  // Epoch 1's checksum, stored at 596 + 6.
  const unsigned stored = good[596 + 6] | (good[596 + 7] << 8);
  char hexData[64];
  std::snprintf(hexData, sizeof hexData, ": checksum 0x%04x stored, 0x%04x computed", stored,
                (stored + 0x10) & 0xFFFF);
  const struct {
    const char* what;
    size_t offset;  // byte changed (ignored when cutTo is set)
    uint8_t xorMask;
    size_t cutTo;  // 0: keep the length
    std::string text;
  } cases[] = {
      // Byte 596 + 84 + 9 is byte 1 of the first satellite's range1 (21000000.5 needs only
      // 26 mantissa bits, so that byte is 0): 0x00 -> 0x10 raises the sum by 0x10.
      {"flipped satellite byte", 596 + 84 + 9, 0x10, 0, at1 + hexData},
      {"cut inside satellite records", 0, 0, 596 + 84 + 30,
       at1 + " cut: satellite records has 30 of 56 bytes"},
      {"cut before the satellite records", 0, 0, 596 + 84,
       at1 + " cut: satellite records has 0 of 56 bytes"},
      {"cut inside the epoch record", 0, 0, 596 + 40,
       at1 + " cut: epoch record has 40 of 84 bytes"},
      {"bad sync word", 596, 0xFF, 0,
       at1 + ": sync 0xc3c3, kind 1, record length 68 (expected 0xC33C, 1, 68)"},
      {"bytes per satellite 30", 596 + 10, 0x02, 0,
       at1 + ": 30 bytes per satellite (expected 28 or 56)"},
      {"nsat 34", 596 + 18, 0x20, 0, at1 + ": 34 satellites, more than 24"},
      {"nsat 3 against length 140", 596 + 18, 0x01, 0,
       at1 + ": length word 140, but 3 satellites of 28 bytes make 168"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = good;
    if (c.cutTo != 0) {
      bytes.resize(c.cutTo);
    } else {
      bytes[c.offset] ^= c.xorMask;
    }
    ASSERT_TRUE(WriteFileBytes(name, bytes));
    GpbReader reader;
    ASSERT_EQ(0, reader.Open(name.c_str()));
    GpbReadEpoch epoch;
    int32_t result = 1;
    for (int guard = 0; guard < 100000 && result == 1; ++guard) result = reader.ReadEpoch(&epoch);
    EXPECT_EQ(-1, result) << c.what;
    EXPECT_EQ(1, reader.epochsRead()) << c.what;
    EXPECT_EQ(c.text, reader.errorText()) << c.what;
  }
}

TEST(GpbReaderDamage, FilesThatAreNoGpbFileAreRefusedAtOpen) {
  TempDir dir;
  const std::string name = dir.File("x.gpb");
  ByteBuilder old;  // a version 1.02 header with version 1.03
  old.U16(202);
  old.F32(1.03f);
  old.Zeros(196);
  ByteBuilder newShort;
  newShort.Text("$NEWGPB", 8);
  newShort.Zeros(100);
  const std::string missing = dir.File("missing.gpb");
  const struct {
    std::string path;
    std::vector<uint8_t> bytes;  // empty: not written
    std::string text;
  } cases[] = {
      {name, old.bytes(),
       "'" + name +
           "' is not a GPB file: no \"$NEWGPB\" header and no "
           "202-byte version 1.02 header (202 bytes read)"},
      {name, newShort.bytes(),
       "GPB file '" + name + "' ends inside its 512-byte header after 108 bytes"},
      {missing, {}, "Unable to open GPB file '" + missing + "'"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(c.bytes.empty() || WriteFileBytes(c.path, c.bytes));
    GpbReader reader;
    EXPECT_EQ(1, reader.Open(c.path.c_str()));
    EXPECT_EQ(c.text, reader.errorText());
    GpbReadEpoch epoch;
    EXPECT_EQ(-1, reader.ReadEpoch(&epoch));
  }
}

}  // namespace
}  // namespace talverin
