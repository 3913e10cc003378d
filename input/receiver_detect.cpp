#include "input/receiver_detect.h"

#include <cstring>

#include "base/message_texts.h"
#include "base/text_buffer.h"
#include "job/conversion_job.h"

namespace talverin {
namespace {

struct ModelRow {
  const char* prefix;  // compared over its own length only: a prefix of the model text
  int32_t type;
};

// First match wins, so the order matters ("G-XII" must not shadow "G-XXIV": it does not,
// because "G-XXIV" does not begin with "G-XII").
constexpr ModelRow kModelTable[] = {
    {"MS-XII", 1}, {"M-XII", 1},    {"RANGER", 1}, {"SCA-XII", 1}, {"G-XII", 1}, {"G-12", 1},
    {"LOCUS", 1},  {"SUPER-CA", 1}, {"P-XII", 2},  {"Z-XII", 2},   {"UZ-12", 2}, {"Z-12", 2},
    {"L-XII", 3},  {"LM-XII", 3},   {"G-XXIV", 4}, {"GG-XXIV", 4}, {"GG-24", 4}, {"G2-XII", 4},
};

const char* const kVersionTags[] = {"version:", "Version:", "VERSION:"};

const char* DetectionMessage(int32_t type) {
  switch (type) {
    case 1:
      return msg::kDetectedCa;
    case 2:
      return msg::kDetectedDual;
    case 3:
      return msg::kDetectedL2Codeless;
    case 4:
      return msg::kDetectedGlonass;
    default:
      return nullptr;
  }
}

}  // namespace

int32_t ChannelRecordSize(int32_t receiverType) {
  switch (receiverType) {
    case 1:
      return 35;
    case 2:
      return 97;
    case 3:
      return 66;
    case 4:
      return 35;
    default:
      return 0;
  }
}

int32_t DetectReceiver(const uint8_t header[kObservationHeaderSize]) {
  bool tagged = false;
  for (const char* tag : kVersionTags) {
    if (std::memcmp(header, tag, kVersionTagSize) == 0) tagged = true;
  }
  if (!tagged) return -1;
  const uint8_t* model = header + kModelTextOffset;
  const size_t room = kObservationHeaderSize - kModelTextOffset;
  for (const ModelRow& row : kModelTable) {
    const size_t length = std::strlen(row.prefix);
    if (length <= room && std::memcmp(model, row.prefix, length) == 0) return row.type;
  }
  return -1;
}

int32_t ReportReceiver(ConversionJob& job, int32_t type, uint8_t header[kObservationHeaderSize]) {
  const char* found = DetectionMessage(type);
  if (found != nullptr) {
    CopyText(job.messageBuffer, kTextSize, found);
    job.channelRecordSize = ChannelRecordSize(type);
    job.SendMessage(-1.0, job.messageBuffer);
    return 0;
  }
  header[kModelTextOffset + kModelTextShown] = '\0';
  job.Report(-1.0, msg::kUnableToDetect, reinterpret_cast<const char*>(header + kModelTextOffset));
  // The conversion ends with -1 here: GetErrString must give the same reason.
  CopyText(ModuleErrorText(), kTextSize, job.messageBuffer);
  return -1;
}

}  // namespace talverin
