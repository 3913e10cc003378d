#include "input/receiver_detect.h"

#include "plugin/conversion_job.h"

namespace talverin {

int32_t ChannelRecordSize(int32_t receiverType) {
  switch (receiverType) {
    case 1: return 35;
    case 2: return 97;
    case 3: return 66;
    case 4: return 35;
    default: return 0;
  }
}

int32_t DetectReceiver(const uint8_t* /*header*/) { return -1; }

int32_t ReportReceiver(ConversionJob& /*job*/, int32_t /*type*/, uint8_t* /*header*/) {
  return -1;
}

}  // namespace talverin
