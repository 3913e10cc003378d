#include "input/receiver_detect.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/text_buffer.h"
#include "plugin/conversion_job.h"

namespace talverin {
namespace {

std::vector<std::string> gMessages;
void TALVERIN_CALL Record(double time, const char* text) {
  EXPECT_EQ(-1.0, time);
  gMessages.push_back(text);
}

void MakeHeader(uint8_t header[kObservationHeaderSize], const char* tag, const char* model) {
  std::memset(header, 0, kObservationHeaderSize);
  std::memcpy(header, tag, 8);
  std::memcpy(header + 11, model, std::strlen(model));
}

TEST(DetectReceiver, ModelTablePrefixesInOrder) {
  struct Case {
    const char* model;
    int32_t type;
  };
  const Case cases[] = {
      {"MS-XII", 1},  {"M-XII", 1},       {"RANGER", 1},   {"SCA-XII", 1}, {"G-XII", 1},
      {"G-12", 1},    {"LOCUS", 1},       {"SUPER-CA", 1}, {"P-XII", 2},   {"Z-XII3", 2},
      {"UZ-12", 2},   {"Z-12 SURVEY", 2}, {"L-XII", 3},    {"LM-XII", 3},  {"G-XXIV", 4},
      {"GG-XXIV", 4}, {"GG-24", 4},       {"G2-XII", 4},   {"GG24", -1},  // no hyphen: no row
      {"z-12", -1},                                                       // case-sensitive
      {"Z-1", -1},  // shorter than every row it resembles
      {"", -1},
  };
  uint8_t header[kObservationHeaderSize];
  for (const Case& c : cases) {
    MakeHeader(header, "version:", c.model);
    EXPECT_EQ(c.type, DetectReceiver(header)) << c.model;
  }
}

TEST(DetectReceiver, NeedsOneOfThreeVersionTags) {
  uint8_t header[kObservationHeaderSize];
  for (const char* tag : {"version:", "Version:", "VERSION:"}) {
    MakeHeader(header, tag, "LM-XII");
    EXPECT_EQ(3, DetectReceiver(header)) << tag;
  }
  for (const char* tag : {"vERSION:", "version ", "versions"}) {
    MakeHeader(header, tag, "LM-XII");
    EXPECT_EQ(-1, DetectReceiver(header)) << tag;
  }
}

TEST(ReportReceiver, SetsRecordSizeAndSendsTheDetectionText) {
  struct Case {
    int32_t type;
    int32_t size;
    const char* text;
  };
  const Case cases[] = {
      {1, 35, "Detected C/A code Ashtech receiver (G12/SCA/LOCUS)"},
      {2, 97, "Detected dual frequency Ashtech receiver (Z12/P12/Z-Surveyor)"},
      {3, 66, "Detected L2-codeless Ashtech receiver (L12)"},
      {4, 35, "Detected GLONASS Ashtech receiver (GG24)"},
  };
  for (const Case& c : cases) {
    ConversionJob job;
    job.messageCallback = Record;
    gMessages.clear();
    uint8_t header[kObservationHeaderSize];
    MakeHeader(header, "VERSION:", "whatever");
    EXPECT_EQ(0, ReportReceiver(job, c.type, header));
    EXPECT_EQ(c.size, job.channelRecordSize);
    ASSERT_EQ(1u, gMessages.size());
    EXPECT_EQ(c.text, gMessages[0]);
    EXPECT_STREQ(c.text, job.messageBuffer);
  }
}

TEST(ReportReceiver, FailureNamesTheModelCutToNineCharacters) {
  ConversionJob job;
  job.messageCallback = Record;
  gMessages.clear();
  uint8_t header[kObservationHeaderSize];
  MakeHeader(header, "version:", "ABCDEFGHIJKLMN");
  ASSERT_EQ(-1, DetectReceiver(header));
  EXPECT_EQ(-1, ReportReceiver(job, -1, header));
  const std::string expected =
      "Unable to detect Ashtech receiver type ABCDEFGHI. Select manually in options";
  ASSERT_EQ(1u, gMessages.size());
  EXPECT_EQ(expected, gMessages[0]);
  EXPECT_EQ(expected, ModuleErrorText());
  EXPECT_EQ(0, job.channelRecordSize);
}

TEST(ReportReceiver, WorksWithoutACallback) {
  ConversionJob job;
  uint8_t header[kObservationHeaderSize];
  MakeHeader(header, "version:", "GG24");
  EXPECT_EQ(-1, ReportReceiver(job, DetectReceiver(header), header));
  EXPECT_STREQ("Unable to detect Ashtech receiver type GG24. Select manually in options",
               job.messageBuffer);
}

}  // namespace
}  // namespace talverin
