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

// The model text at byte 11 is matched against the table's prefixes in order, after one of
// three version tags.
TEST(DetectReceiver, ModelTablePrefixesInOrderAfterAVersionTag) {
  const struct { const char* tag; const char* model; int32_t type; } cases[] = {
      {"version:", "MS-XII", 1},  {"version:", "M-XII", 1},       {"version:", "RANGER", 1},
      {"version:", "SCA-XII", 1}, {"version:", "G-XII", 1},       {"version:", "G-12", 1},
      {"version:", "LOCUS", 1},   {"version:", "SUPER-CA", 1},    {"version:", "P-XII", 2},
      {"version:", "Z-XII3", 2},  {"version:", "UZ-12", 2},       {"version:", "Z-12 SURVEY", 2},
      {"version:", "L-XII", 3},   {"version:", "LM-XII", 3},      {"version:", "G-XXIV", 4},
      {"version:", "GG-XXIV", 4}, {"version:", "GG-24", 4},       {"version:", "G2-XII", 4},
      {"version:", "GG24", -1},   // no hyphen: no row
      {"version:", "z-12", -1},   // case-sensitive
      {"version:", "Z-1", -1},    // shorter than every row it resembles
      {"version:", "", -1},       {"Version:", "LM-XII", 3},      {"VERSION:", "LM-XII", 3},
      {"vERSION:", "LM-XII", -1}, {"version ", "LM-XII", -1},     {"versions", "LM-XII", -1},
  };
  uint8_t header[kObservationHeaderSize];
  for (const auto& c : cases) {
    MakeHeader(header, c.tag, c.model);
    EXPECT_EQ(c.type, DetectReceiver(header)) << c.tag << c.model;
  }
}

// Success: the record size and the detection text as the message; failure: the model cut
// to nine characters in the message and the module error text, with or without a callback.
TEST(ReportReceiver, SetsRecordSizeAndSendsTheDetectionText) {
  const struct { int32_t type; int32_t size; const char* text; bool callback; } cases[] = {
      {1, 35, "Detected C/A code Ashtech receiver (G12/SCA/LOCUS)", true},
      {2, 97, "Detected dual frequency Ashtech receiver (Z12/P12/Z-Surveyor)", true},
      {3, 66, "Detected L2-codeless Ashtech receiver (L12)", true},
      {4, 35, "Detected GLONASS Ashtech receiver (GG24)", true},
      {-1, 0, "Unable to detect Ashtech receiver type ABCDEFGHI. Select manually in options", true},
      {-1, 0, "Unable to detect Ashtech receiver type ABCDEFGHI. Select manually in options", false},
  };
  for (const auto& c : cases) {
    ConversionJob job;
    if (c.callback) job.messageCallback = Record;
    gMessages.clear();
    ModuleErrorText()[0] = '\0';
    uint8_t header[kObservationHeaderSize];
    MakeHeader(header, "version:", "ABCDEFGHIJKLMN");
    EXPECT_EQ(c.type < 0 ? -1 : 0, ReportReceiver(job, c.type, header));
    EXPECT_EQ(c.size, job.channelRecordSize);
    EXPECT_EQ(c.callback ? std::vector<std::string>{c.text} : std::vector<std::string>{},
              gMessages);
    EXPECT_STREQ(c.text, job.messageBuffer);
    EXPECT_STREQ(c.type < 0 ? c.text : "", ModuleErrorText());
  }
}

}  // namespace
}  // namespace talverin
