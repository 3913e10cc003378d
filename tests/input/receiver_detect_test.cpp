#include "input/receiver_detect.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/text_buffer.h"
#include "job/conversion_job.h"

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
// three version tags. The report sets the record size and sends the detection text, or the
// model cut to nine characters, which is then also the module error text (with or without
// a callback: every other row has none).
TEST(DetectReceiver, ModelTablePrefixesInOrderAfterAVersionTag) {
  const struct {
    const char* tag;
    const char* model;
    int32_t type;
  } cases[] = {
      {"version:", "MS-XII", 1},
      {"version:", "M-XII", 1},
      {"version:", "RANGER", 1},
      {"version:", "SCA-XII", 1},
      {"version:", "G-XII", 1},
      {"version:", "G-12", 1},
      {"version:", "LOCUS", 1},
      {"version:", "SUPER-CA", 1},
      {"version:", "P-XII", 2},
      {"version:", "Z-XII3", 2},
      {"version:", "UZ-12", 2},
      {"version:", "Z-12 SURVEY", 2},
      {"version:", "L-XII", 3},
      {"version:", "LM-XII", 3},
      {"version:", "G-XXIV", 4},
      {"version:", "GG-XXIV", 4},
      {"version:", "GG-24", 4},
      {"version:", "G2-XII", 4},
      {"version:", "GG24 SURVEY", -1},  // no hyphen: no row
      {"version:", "z-12", -1},         // case-sensitive
      {"version:", "Z-1", -1},          // shorter than every row it resembles
      {"version:", "", -1},
      {"Version:", "LM-XII", 3},
      {"VERSION:", "LM-XII", 3},
      {"vERSION:", "LM-XII", -1},
      {"version ", "LM-XII", -1},
      {"versions", "LM-XII", -1},
  };
  const char* const detected[] = {"", "Detected C/A code Ashtech receiver (G12/SCA/LOCUS)",
                                  "Detected dual frequency Ashtech receiver (Z12/P12/Z-Surveyor)",
                                  "Detected L2-codeless Ashtech receiver (L12)",
                                  "Detected GLONASS Ashtech receiver (GG24)"};
  const int32_t sizes[] = {0, 35, 97, 66, 35};
  uint8_t header[kObservationHeaderSize];
  bool callback = false;
  for (const auto& c : cases) {
    MakeHeader(header, c.tag, c.model);
    EXPECT_EQ(c.type, DetectReceiver(header)) << c.tag << c.model;
    const std::string text = c.type > 0 ? detected[c.type]
                                        : "Unable to detect Ashtech receiver type " +
                                              std::string(c.model).substr(0, 9) +
                                              ". Select manually in options";
    ConversionJob job;
    callback = !callback;
    if (callback) job.messageCallback = Record;
    gMessages.clear();
    ModuleErrorText()[0] = '\0';
    EXPECT_EQ(c.type < 0 ? -1 : 0, ReportReceiver(job, c.type, header));
    EXPECT_EQ(sizes[c.type < 0 ? 0 : c.type], job.channelRecordSize);
    EXPECT_EQ(callback ? std::vector<std::string>{text} : std::vector<std::string>{}, gMessages);
    EXPECT_STREQ(text.c_str(), job.messageBuffer);
    EXPECT_STREQ(c.type < 0 ? text.c_str() : "", ModuleErrorText());
  }
}

}  // namespace
}  // namespace talverin
