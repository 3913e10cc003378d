// The five exported functions. Everything a conversion needs lives in its ConversionJob;
// the module-wide state is the error text, the abort counter and AutoDetect's scratch.
#include "plugin/talverin.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/file_identity.h"
#include "base/message_texts.h"
#include "base/text_buffer.h"
#include "input/receiver_detect.h"
#include "job/abort_counter.h"
#include "job/conversion_job.h"
#include "job/path_names.h"
#include "position/single_point.h"

namespace talverin {
namespace {

std::atomic<int32_t> gAbortCounter{0};
static_assert(std::atomic<int32_t>::is_always_lock_free, "Abort must be lock-free");

constexpr ConvertOptions kFactoryDefaults = {0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 180, 1};

// AutoDetect's split buffers: module-wide, so AutoDetect is not reentrant.
char gDetectDirectory[kPathSize];
char gDetectName[kPathSize];

bool IsVersionTag(const uint8_t* bytes) {
  return std::memcmp(bytes, "version:", 8) == 0 || std::memcmp(bytes, "Version:", 8) == 0 ||
         std::memcmp(bytes, "VERSION:", 8) == 0;
}

// The request's paths must be terminated inside their 256-byte fields.
bool PathFits(const char* path) {
  return strnlen(path, kPathSize) < static_cast<size_t>(kPathSize);
}

void SendModuleError(const HostCallbacks* callbacks) {
  if (callbacks != nullptr && callbacks->messageCallback != nullptr) {
    callbacks->messageCallback(-1.0, ModuleErrorText());
  }
}

}  // namespace

void AddAbort() { gAbortCounter.fetch_add(1, std::memory_order_relaxed); }
void ResetAbortCounter() { gAbortCounter.store(0, std::memory_order_relaxed); }
int32_t AbortCounter() { return gAbortCounter.load(std::memory_order_relaxed); }

}  // namespace talverin

using namespace talverin;

extern "C" void TALVERIN_CALL SetFactoryDefaults(int32_t size, ConvertOptions* options) {
  if (size != static_cast<int32_t>(kConvertOptionsSize) || options == nullptr) return;
  *options = kFactoryDefaults;
}

extern "C" int32_t TALVERIN_CALL AutoDetect(const char* path) {
  if (path == nullptr || !PathFits(path)) return 0;
  if (SplitPath(path, gDetectDirectory, gDetectName, kPathSize) != 0) return 0;
  if (gDetectName[0] != 'b' && gDetectName[0] != 'B') return 0;
  // The extension (or, without a dot, everything after the first letter) must be digits.
  bool sawDigit = false;
  for (size_t i = std::strlen(gDetectName); i-- > 1;) {
    const char c = gDetectName[i];
    if (c == '.') break;
    if (c < '0' || c > '9') return 0;
    sawDigit = true;
  }
  // A FIFO or device is no observation file (and a FIFO would block the open).
  FILE* file = OpenRegularFile(path, "rb");
  if (file == nullptr) return 0;
  uint8_t* buffer = static_cast<uint8_t*>(std::calloc(256, 1));
  if (buffer == nullptr) {
    std::fclose(file);
    return 0;
  }
  const size_t count = std::fread(buffer, 1, 256, file);
  std::fclose(file);
  const bool tagged = count >= 8 && IsVersionTag(buffer);
  std::free(buffer);
  return (tagged && count >= 91 && sawDigit) ? 1 : 0;
}

extern "C" void TALVERIN_CALL Abort(void) { AddAbort(); }

extern "C" void TALVERIN_CALL GetErrString(char* buffer) {
  if (buffer == nullptr) return;
  std::memcpy(buffer, ModuleErrorText(), kTextSize);
}

extern "C" int32_t TALVERIN_CALL ConvertFile(ConvertRequest* request, HostCallbacks* callbacks,
                                             uint32_t /*reserved*/) {
  ConversionJob* job = new (std::nothrow) ConversionJob();
  if (job == nullptr || !job->constructed()) {
    delete job;
    CopyText(ModuleErrorText(), kTextSize, msg::kNotEnoughMemory);
    SendModuleError(callbacks);
    return -1;
  }
  if (request == nullptr || callbacks == nullptr || request->size != kConvertRequestSize ||
      callbacks->size != kHostCallbacksSize) {
    CopyText(ModuleErrorText(), kTextSize, msg::kIncorrectVersion);
    delete job;
    return 1;
  }
  if (request->optionsSize != kConvertOptionsSize) {
    CopyText(ModuleErrorText(), kTextSize, msg::kInvalidOptions);
    delete job;
    return 1;
  }
  job->messageCallback = callbacks->messageCallback;
  job->progressCallback = callbacks->progressCallback;
  job->engine->SetMessageFunction(callbacks->messageCallback);

  job->options = request->options;
  const int32_t type = job->options.ReceiverType;
  if (type < kReceiverDetect || type > kReceiverGlonass) {
    FormatText(ModuleErrorText(), msg::kInvalidReceiverType, static_cast<long>(type));
    delete job;
    return 1;
  }
  job->receiverType = type;
  job->channelRecordSize = ChannelRecordSize(type);

  ResetAbortCounter();

  if (!PathFits(request->inputPath) || !PathFits(request->outputPath)) {
    FormatText(ModuleErrorText(), msg::kPathTooLong,
               PathFits(request->inputPath) ? request->outputPath : request->inputPath);
    SendModuleError(callbacks);
    delete job;
    return -1;
  }
  if (job->DeriveNames(request->inputPath, request->outputPath) != 0) {
    SendModuleError(callbacks);
    delete job;
    return -1;
  }
  if (job->OpenFiles() != 0) {
    delete job;
    return -1;
  }

  int32_t result = job->Run();
  // A failed final write or close is a failure, whatever the pipeline said; the counts
  // are taken after it, so that EpochsWritten is what the GPB file holds.
  const int32_t finished = job->Finish();

  request->EpochsWritten = static_cast<uint32_t>(job->epochsWritten);
  request->EphemeridesRead = static_cast<uint32_t>(job->ephemeridesRead);
  request->StationsWritten = static_cast<uint32_t>(job->stationsWritten);
  request->result = 0;
  delete job;
  if (finished != 0) return -1;

  if (AbortCounter() != 0) {
    CopyText(ModuleErrorText(), kTextSize, msg::kUserQuit);
    SendModuleError(callbacks);
    return 1;
  }
  return result;
}
