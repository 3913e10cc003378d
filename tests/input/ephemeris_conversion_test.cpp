// The ephemeris file through a whole conversion: counts in the request, the .epp file after
// its header line, the messages, and the store that decides whether epochs are recomputed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/orbit/bahr_ephemerides.h"
#include "tests/support/test_support.h"
#include "tools/download_set/byte_builder.h"
#include "tools/download_set/ephemeris_file_writer.h"
#include "tools/download_set/observation_file_writer.h"

namespace talverin {
namespace {

using testing_support::ConversionRun;
using testing_support::RunConversion;
using testing_support::TempDir;

constexpr char kEppHeader[] = "$EPHREC Ver7.0 TALVERIN Ashtech\n";
constexpr char kLessThanFour[] = "Warning, less then 4 ephemerides unable to recompute position";

// PRN 5 of the BAHR navigation file, 2004-06-10 02:00 GPS (ten-bit week 250), under the
// given PRN.
GpsEph BroadcastRecord(int32_t prn) {
  GpsEph r = test_data::kBahrEphemerides[0];
  r.prn = prn;
  return r;
}

// A dual frequency observation file of one one-channel epoch beside the given E file.
std::string WriteSet(const TempDir& dir, const EphemerisFileWriter& ephemeris, int recordSize,
                     int epochs) {
  ObsFile file;
  file.recordSize = recordSize;
  for (int i = 0; i < epochs; ++i) {
    ObsEpoch epoch;
    epoch.time_s = 352800.0 + i;
    epoch.channels.push_back(ObsChannel{});
    file.epochs.push_back(epoch);
  }
  EXPECT_TRUE(WriteObservationFile(dir.File("B0001A01.001"), file));
  EXPECT_TRUE(ephemeris.WriteTo(dir.File("E0001A01.001")));
  return dir.File("B0001A01.001");
}

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
  return n;
}

TEST(EphemerisConversion, EveryRecordIsCountedAndTheHealthyOnesWrittenAndStored) {
  // Three healthy PRNs, one of them twice, one unhealthy, a negative PRN byte, GLONASS in a
  // dual frequency file, and a cut last record: three distinct ephemerides are stored.
  EphemerisFileWriter e;
  e.AddGps(BroadcastRecord(5));
  e.AddGps(BroadcastRecord(9));
  e.AddGps(BroadcastRecord(9));
  e.AddGps(BroadcastRecord(17), 1);
  e.AddRaw(FilledEphemerisRecord(0x85, 0x44));
  GlonassEphFields glonass;
  glonass.prn = 40;
  e.AddGlonass(glonass);
  e.AddGps(BroadcastRecord(30));
  e.AddCut(GpsEphemerisRecord(BroadcastRecord(21)), 128);

  TempDir dir;
  const ConversionRun run = RunConversion(WriteSet(dir, e, 97, 1), dir.File("out.gpb"));
  ASSERT_EQ(0, run.result) << run.errorText;
  EXPECT_EQ(5u, run.request.EphemeridesRead);
  for (const char* text : {"GPS Ephemeris loaded for PRN 5, Health OK",
                           "GPS Ephemeris loaded for PRN 17, Health BAD!!!",
                           "GPS Ephemeris loaded for PRN 30, Health OK"}) {
    EXPECT_EQ(1, run.CountMessages(text)) << text;
  }
  EXPECT_EQ(2, run.CountMessages("GPS Ephemeris loaded for PRN 9, Health OK"));
  EXPECT_EQ(0, run.CountMessagesStartingWith("GLONASS"));
  // Three stored ephemerides are too few to recompute the epoch.
  EXPECT_EQ(1, run.CountMessages(kLessThanFour));

  const std::string epp = ReadFileText(dir.File("out.epp"));
  ASSERT_EQ(0u, epp.find(kEppHeader));
  EXPECT_EQ(4u, Count(epp, "GpsEph {"));
  EXPECT_EQ(0u, Count(epp, "GlnEph {"));
  const size_t prn5 = epp.find("GpsEph { Prn: 5\n"), prn9 = epp.find("GpsEph { Prn: 9\n"),
               prn30 = epp.find("GpsEph { Prn: 30\n");
  EXPECT_EQ(std::string(kEppHeader).size(), prn5);
  EXPECT_LT(prn5, prn9);
  EXPECT_LT(prn9, prn30);
  EXPECT_EQ(std::string::npos, epp.find("Prn: 17\n"));
}

TEST(EphemerisConversion, FourStoredEphemeridesLetTheEpochsBeRecomputed) {
  EphemerisFileWriter e;
  for (int32_t prn : {5, 9, 17, 30}) e.AddGps(BroadcastRecord(prn));
  TempDir dir;
  const ConversionRun on = RunConversion(WriteSet(dir, e, 97, 2), dir.File("on.gpb"));
  const ConversionRun off = RunConversion(WriteSet(dir, e, 97, 2), dir.File("off.gpb"),
                                          [](ConvertOptions& o) { o.RecomputePosition = 0; });
  ASSERT_EQ(0, on.result) << on.errorText;
  ASSERT_EQ(0, off.result) << off.errorText;
  EXPECT_EQ(0, on.CountMessages(kLessThanFour));
  EXPECT_EQ(4u, on.request.EphemeridesRead);
  EXPECT_EQ(4u, off.request.EphemeridesRead);
  // The .epp file does not depend on recomputation.
  EXPECT_EQ(ReadFileText(dir.File("on.epp")), ReadFileText(dir.File("off.epp")));
}

TEST(EphemerisConversion, GlonassReceiverWritesGlonassRecordsInFileOrder) {
  EphemerisFileWriter e;
  GlonassEphFields glonass;
  glonass.prn = 45;
  glonass.tkbSecond = 900.5;
  glonass.res[0] = -1;
  e.AddGlonass(glonass);
  e.AddGps(BroadcastRecord(5));
  TempDir dir;
  const ConversionRun run = RunConversion(WriteSet(dir, e, 35, 0), dir.File("out.gpb"),
                                          [](ConvertOptions& o) { o.ReceiverType = 4; });
  ASSERT_EQ(0, run.result) << run.errorText;
  EXPECT_EQ(2u, run.request.EphemeridesRead);
  EXPECT_EQ(1, run.CountMessages("GLONASS Ephemeris loaded for PRN 45"));
  const std::string epp = ReadFileText(dir.File("out.epp"));
  const size_t gln = epp.find("GlnEph { Prn: 45 0\n\tTkb: 0 900\n");
  EXPECT_EQ(std::string(kEppHeader).size(), gln);
  EXPECT_NE(std::string::npos, epp.find("\tRes: ffffffff 0 0\n}\nGpsEph { Prn: 5\n"));
}

}  // namespace
}  // namespace talverin
