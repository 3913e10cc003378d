#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "input/event_marks.h"
#include "input/site_reader.h"
#include "plugin/conversion_job.h"
#include "tests/input/event_station_blocks.h"
#include "tests/support/test_support.h"
#include "tools/download_set/byte_builder.h"

namespace talverin {
namespace {

using testing_support::TempDir;

// Deterministic pseudo-random bytes (64-bit LCG, Knuth's MMIX constants).
class Lcg {
 public:
  explicit Lcg(uint64_t seed) : state_(seed) {}
  uint32_t Next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(state_ >> 33);
  }
  uint32_t Below(uint32_t n) { return Next() % n; }

 private:
  uint64_t state_;
};

// Lines that look like event and site lines, cut, mixed and sprinkled with garbage.
std::string CorruptText(Lcg& rng) {
  static const char* const kPieces[] = {
      "C 100.5", "C", "Cx 1e308", "C nan", "MIA101xxxxxxxxxxxxxxxxDESCRIPT1.2345",
      "MIA101", "MI", "GFN,a,b,c,d,L,1.5,f,g", "GFN,,,,,,,", "GAS,,,,", "GAS,a,b,c,d,e",
      "GEF", "GEF,", "GRP,", "GRP,x,y", "G", "????", "BEFORE 1.5", "BEFORE 1e400",
      "************ SITE INFORMATION *********************************",
      "ABCD 1 2 99999999999999999999999", ",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,"};
  std::string text;
  const uint32_t lines = rng.Below(40);
  for (uint32_t i = 0; i < lines; ++i) {
    if (rng.Below(2) == 0) text += "C 100.5\n";  // most entries then start with a time line
    const uint32_t choice = rng.Below(30);
    if (choice < sizeof kPieces / sizeof kPieces[0]) {
      std::string piece = kPieces[choice];
      if (rng.Below(4) == 0) piece.resize(rng.Below(static_cast<uint32_t>(piece.size()) + 1));
      text += piece;
    } else {
      const uint32_t length = rng.Below(400);
      for (uint32_t k = 0; k < length; ++k) text += static_cast<char>(rng.Below(256));
    }
    if (rng.Below(8) != 0) text += rng.Below(5) == 0 ? "\r\n" : "\n";
  }
  return text;
}

// Every text field of a loaded record ends inside its field.
bool Terminated(const EventRecord& r) {
  return strnlen(r.evName, sizeof r.evName) < sizeof r.evName &&
         strnlen(r.evDesc, sizeof r.evDesc) < sizeof r.evDesc &&
         strnlen(r.evHeight, sizeof r.evHeight) < sizeof r.evHeight &&
         strnlen(r.evKind, sizeof r.evKind) < sizeof r.evKind;
}

// Corrupt site and event files and corrupt epoch headers load and run without a fault
// (the sanitizer build checks the memory), and every block counted is in the file.
TEST(EventCorrupt, CorruptFilesLoadAndEveryCountedBlockIsWritten) {
  TempDir dir;
  Lcg rng(20261206);
  int64_t recordsLoaded = 0;
  int64_t blocksWritten = 0;
  for (int round = 0; round < 300; ++round) {
    ConversionJob job;
    const std::string sta = dir.File("out.sta");
    job.staFile = std::fopen(sta.c_str(), "w");
    ASSERT_NE(nullptr, job.staFile);
    job.options.StationMarkOption = static_cast<int32_t>(rng.Below(2));
    job.options.UseEventFile = 1;
    job.receiverType = static_cast<int32_t>(1 + rng.Below(4));
    const std::string site = dir.File("SAAAAA03.123");
    const std::string events = dir.File("DAAAAA03.123");
    ASSERT_TRUE(WriteFileText(site, CorruptText(rng)));
    ASSERT_TRUE(WriteFileText(events, CorruptText(rng)));
    std::snprintf(job.sitePath, sizeof job.sitePath, "%s", site.c_str());
    std::snprintf(job.eventPath, sizeof job.eventPath, "%s", events.c_str());

    ReadSiteFile(job);
    ASSERT_EQ(0, LoadEventFile(job, job.events)) << round;
    ASSERT_GE(job.events.count, 0);
    recordsLoaded += job.events.count;
    ASSERT_EQ(job.events.count > 0, job.events.records != nullptr) << round;
    for (int32_t i = 0; i < job.events.count; ++i) ASSERT_TRUE(Terminated(job.events.records[i]));

    static const char* const kSites[] = {"????", "A101", "MIA1", "a   ", "\x7f\x7f\x7f\x7f"};
    for (int epoch = 0; epoch < 30; ++epoch) {
      ByteBuilder header;
      header.Text(kSites[rng.Below(5)], 4);
      const uint32_t shape = rng.Below(6);
      header.F64(shape == 0 ? -1.0 : shape == 1 ? 1e300 : 100.0 * rng.Below(8000));
      header.Zeros(kEpochHeaderSize - 12);
      (void)StationMarkStep(job, header.bytes().data(), job.events);
      ASSERT_TRUE(job.epochFlagBits == 0 || job.epochFlagBits == 2);
    }
    if (job.events.hasFeatures != 0) WriteEventStations(job, job.events);
    FreeEventTable(job.events);
    std::fflush(job.staFile);
    EXPECT_EQ(static_cast<size_t>(job.stationsWritten), CountBlocks(ReadFileText(sta))) << round;
    blocksWritten += job.stationsWritten;
  }
  // The mix reaches the loader and the writer, not only the early exits.
  EXPECT_GT(recordsLoaded, 300) << recordsLoaded;
  EXPECT_GT(blocksWritten, 1000) << blocksWritten;
}

}  // namespace
}  // namespace talverin
