// GPB reader on damaged files (flipped data byte, cut records, wrong lengths,
// garbage): reading must end with a text naming the epoch and its byte offset, never a
// crash. Round trips of both variants: the writer's tests read their files back.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dataset/byte_builder.h"
#include "output/gpb_file.h"
#include "output/gpb_reader.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

using testing_support::TempDir;

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
