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

// The model text at byte 11 is matched against the table's prefixes in order, after one of
// three version tags. The report sets the record size and sends the detection text, or the
// model cut to nine characters, which is then also the module error text (with or without
// a callback: every other row has none).
TEST(DetectReceiver, ModelTablePrefixesInOrderAfterAVersionTag) {
  const struct {
    std::vector<const char*> tags, models;
    int32_t type;
  } groups[] = {
      {{"version:"},
       {"MS-XII", "M-XII", "RANGER", "SCA-XII", "G-XII", "G-12", "LOCUS", "SUPER-CA"},
       1},
      {{"version:"}, {"P-XII", "Z-XII3", "UZ-12", "Z-12 SURVEY"}, 2},
      {{"version:", "Version:", "VERSION:"}, {"L-XII", "LM-XII"}, 3},
      {{"version:"}, {"G-XXIV", "GG-XXIV", "GG-24", "G2-XII"}, 4},
      // No hyphen, lower case, shorter than every row it resembles, empty: no row.
      {{"version:"}, {"GG24 SURVEY", "z-12", "Z-1", ""}, -1},
      {{"vERSION:", "version ", "versions"}, {"LM-XII"}, -1},
  };
  const char* const detected[] = {"", "Detected C/A code Ashtech receiver (G12/SCA/LOCUS)",
                                  "Detected dual frequency Ashtech receiver (Z12/P12/Z-Surveyor)",
                                  "Detected L2-codeless Ashtech receiver (L12)",
                                  "Detected GLONASS Ashtech receiver (GG24)"};
  const int32_t sizes[] = {0, 35, 97, 66, 35};
  uint8_t header[kObservationHeaderSize];
  bool callback = false;
  for (const auto& g : groups) {
    for (const char* tag : g.tags) {
      for (const char* model : g.models) {
        SCOPED_TRACE(std::string(tag) + model);
        std::memset(header, 0, kObservationHeaderSize);
        std::memcpy(header, tag, 8);
        std::memcpy(header + 11, model, std::strlen(model));
        EXPECT_EQ(g.type, DetectReceiver(header));
        const std::string text = g.type > 0 ? detected[g.type]
                                            : "Unable to detect Ashtech receiver type " +
                                                  std::string(model).substr(0, 9) +
                                                  ". Select manually in options";
        ConversionJob job;
        callback = !callback;
        if (callback) job.messageCallback = Record;
        gMessages.clear();
        ModuleErrorText()[0] = '\0';
        EXPECT_EQ(g.type < 0 ? -1 : 0, ReportReceiver(job, g.type, header));
        EXPECT_EQ(sizes[g.type < 0 ? 0 : g.type], job.channelRecordSize);
        EXPECT_EQ(callback ? std::vector<std::string>{text} : std::vector<std::string>{},
                  gMessages);
        EXPECT_STREQ(text.c_str(), job.messageBuffer);
        EXPECT_STREQ(g.type < 0 ? text.c_str() : "", ModuleErrorText());
      }
    }
  }
}

}  // namespace
}  // namespace talverin
