#include "input/site_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "dataset/byte_builder.h"
#include "dataset/site_event_writers.h"
#include "input/input_source.h"
#include "job/conversion_job.h"
#include "tests/support/station_file.h"

namespace talverin {
namespace {

const std::string kAbcdBlock = Block("ABCD", "Site file", "Before", "345600.000000", "1.5430");

struct SiteRun {
  std::string staText;  // after the header line
  double antennaHeight_m;
  int32_t stationsWritten;
};

// Runs the reader on the given site file text (none when siteText is null); without a
// station file open when noStation.
SiteRun ReadSite(const std::string* siteText, bool noStation = false) {
  StaJob sta;
  const std::string site = sta.dir.File("SAAAAA03.123");
  if (siteText != nullptr) {
    EXPECT_TRUE(WriteFileText(site, *siteText));
  }
  std::snprintf(sta.job.sitePath, sizeof sta.job.sitePath, "%s", site.c_str());
  if (noStation) {
    std::fclose(sta.job.staFile);
    sta.job.staFile = nullptr;
  }
  ReadSiteFile(sta.job);
  if (siteText != nullptr && !noStation) {
    // The decode-only entry on the same bytes finds the same block, or none.
    InputSource bytes;
    bytes.AttachBytes(reinterpret_cast<const uint8_t*>(siteText->data()), siteText->size());
    SiteBlock block;
    EXPECT_EQ(sta.job.stationsWritten == 1, DecodeSite(bytes, &block));
    EXPECT_EQ(sta.job.antennaHeight, block.height_m);
  }
  return {noStation ? "" : sta.Blocks(), sta.job.antennaHeight, sta.job.stationsWritten};
}

std::string WithLines(int lineCount, const std::string& banner, const std::string& line3,
                      const std::string& line6) {
  SiteFileLines lines;
  if (!banner.empty()) lines.banner = banner;
  lines.line3 = line3;
  lines.line6 = line6;
  return SiteFileText(lines, lineCount);
}

// Usable blocks become one station record and their height; anything missing or malformed,
// and a usable block without a station file open, give no record and no height.
TEST(SiteReader, OnlyAUsableBlockBecomesAStationRecordAndItsHeight) {
  const std::string banner = kSiteFileBanner;
  const std::string good3 = "ABCD 1 2 345600";
  const std::string good6 = "BEFORE 1.5430";
  struct Case {
    const char* what;
    std::string text;
    std::string block = "";  // empty: no record and no height
    double height_m = 0.0;
    bool noFile = false, noStation = false;
  };
  const Case cases[] = {
      {"the ABCD example", WithLines(6, "", SiteStationLine("ABCD", 1, 2, 345600), "BEFORE 1.5430"),
       kAbcdBlock, 1.543},
      {"trailing text after the banner",
       WithLines(6, banner + "**** extra", "ABCD 1 2 345600", "BEFORE 1.5430"), kAbcdBlock, 1.543},
      {"blanks and tabs between the words",
       WithLines(6, "", "  ABCD\t1   2 345600 x", "BEFORE\t1.543 m"), kAbcdBlock, 1.543},
      {"a 63-character name", WithLines(6, "", std::string(63, 'S') + " 0 0 7", "BEFORE -0.25"),
       Block(std::string(63, 'S'), "Site file", "Before", "7.000000", "-0.2500"), -0.25},
      {"the end of the week and the highest antenna",
       WithLines(6, "", "ABCD 1 2 604800", "BEFORE -100"),
       Block("ABCD", "Site file", "Before", "604800.000000", "-100.0000"), -100.0},
      {"no site file", "", "", 0.0, true},
      {"no station file", WithLines(6, "", good3, good6), "", 0.0, false, true},
      {"one asterisk fewer at the end", WithLines(6, banner.substr(0, 62), good3, good6)},
      {"lower-case before", WithLines(6, "", good3, "before 1.5430")},
      {"five lines", WithLines(5, "", good3, good6)},
      {"empty file", ""},
      {"two integers on line 3", WithLines(6, "", "ABCD 1 2", good6)},
      {"no height after BEFORE", WithLines(6, "", good3, "BEFORE")},
      {"a height that is not a number", WithLines(6, "", good3, "BEFORE nan")},
      {"an empty line 3", WithLines(6, "", " ", good6)},
      {"a 64-character name", WithLines(6, "", std::string(64, 'S') + " 1 2 345600", good6)},
      {"a 64-character word on line 6", WithLines(6, "", good3, std::string(64, 'B') + " 1.5")},
      // Values no site file can hold.
      {"a height of 100.01 m", WithLines(6, "", good3, "BEFORE 100.01")},
      {"a height of -100.5 m", WithLines(6, "", good3, "BEFORE -100.5")},
      {"a time after the week", WithLines(6, "", "ABCD 1 2 604801", good6)},
      {"a negative time", WithLines(6, "", "ABCD 1 2 -1", good6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const SiteRun run = ReadSite(c.noFile ? nullptr : &c.text, c.noStation);
    EXPECT_EQ(c.block, run.staText);
    EXPECT_DOUBLE_EQ(c.height_m, run.antennaHeight_m);
    EXPECT_EQ(c.block.empty() ? 0 : 1, run.stationsWritten);
  }
}

}  // namespace
}  // namespace talverin
