// The pipeline of one conversion: the readers of the four input files in their fixed order,
// run on the job that owns the files. The job itself (construction, names, files, closing)
// lives in job/conversion_job.cpp; the readers in input/.
#include <cstdio>
#include <cstring>

#include "base/message_texts.h"
#include "base/text_buffer.h"
#include "input/ephemeris_reader.h"
#include "input/event_marks.h"
#include "input/observation_reader.h"
#include "input/receiver_detect.h"
#include "input/site_reader.h"
#include "job/conversion_job.h"
#include "output/gpb_file.h"

namespace talverin {
namespace {

constexpr int kDescriptionLength = 31;  // characters of the model text the GPB header keeps

}  // namespace

int32_t ConversionJob::Run() {
  // A file shorter than its header leaves zeros, never stale bytes, for detection.
  uint8_t header[kObservationHeaderSize] = {};
  const size_t headerRead = std::fread(header, 1, sizeof header, observationFile);
  (void)headerRead;  // a short header is judged by detection, as the bytes stand

  char description[kDescriptionLength + 1];
  std::memcpy(description, header + kModelTextOffset, kDescriptionLength);
  description[kDescriptionLength] = '\0';
  // The job opened the GPB for writing before the pipeline runs: the update cannot fail here.
  (void)gpb->UpdateHeaderInfo(description, nullptr, 0, nullptr);

  if (receiverType == kReceiverDetect) {
    receiverType = DetectReceiver(header);
    if (ReportReceiver(*this, receiverType, header) != 0) {
      FreeEventTable(events);
      return -1;
    }
  }

  ReadSiteFile(*this);

  if (options.UseEventFile != 0 && LoadEventFile(*this, events) == -1) {
    CopyText(messageBuffer, kTextSize, msg::kEventFileTooLarge);
    SendMessage(-1.0, messageBuffer);
    FreeEventTable(events);
    return -1;
  }

  ReadEphemerisFile(*this);

  const int32_t epochs = ReadEpochs(*this);
  // The station blocks of the epochs converted so far belong with them, also when the
  // observation file ended inside an epoch.
  if (options.UseEventFile != 0 && events.hasFeatures != 0) WriteEventStations(*this, events);
  FreeEventTable(events);
  return epochs != 0 ? -1 : 0;
}

}  // namespace talverin
