#include "job/conversion_job.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/file_identity.h"
#include "base/message_texts.h"
#include "base/text_buffer.h"
#include "job/path_names.h"
#include "output/gpb_file.h"
#include "position/single_point.h"

namespace talverin {
namespace {

constexpr char kEppHeader[] = "$EPHREC Ver7.0 TALVERIN Ashtech\n";
constexpr char kStaHeader[] = "$STAINFO Ver7.00 TALVERIN\n";
constexpr int32_t kGpbDataType = 2;
constexpr double kGpbValue = 1.0;
constexpr int32_t kGpbCount = 24;
constexpr int32_t kGpbStreamBuffer = 2048;

// Replaces the first letter of the input's file name: E, S and D files sit beside the B file.
int32_t CompanionPath(const char* input, char letter, char* directory, char* out) {
  char name[kPathSize];
  if (SplitPath(input, directory, name, kPathSize) != 0 || name[0] == '\0') return -1;
  name[0] = letter;
  const size_t directoryLength = std::strlen(directory);
  if (directoryLength + std::strlen(name) + 1 > static_cast<size_t>(kPathSize)) return -1;
  std::memcpy(out, directory, directoryLength);
  std::memcpy(out + directoryLength, name, std::strlen(name) + 1);
  return 0;
}

// Closes a written text file and tells whether every write, the flush and the close held.
bool CloseChecked(FILE*& file) {
  if (file == nullptr) return true;
  const bool failedBefore = std::ferror(file) != 0;
  const bool flushed = std::fflush(file) == 0;
  const bool closed = std::fclose(file) == 0;
  file = nullptr;
  return !failedBefore && flushed && closed;
}

}  // namespace

ConversionJob::ConversionJob() {
  messageBuffer = static_cast<char*>(std::calloc(kTextSize, 1));
  gpb = new (std::nothrow) GpbFile();
  engine = new (std::nothrow) SinglePoint();
}

ConversionJob::~ConversionJob() {
  delete gpb;
  delete engine;
  std::free(messageBuffer);
  if (observationFile != nullptr) std::fclose(observationFile);
  if (ephemerisFile != nullptr) std::fclose(ephemerisFile);
  if (eppFile != nullptr) std::fclose(eppFile);
  if (staFile != nullptr) std::fclose(staFile);
  std::free(observationBuffer);
  FreeEventTable(events);
}

bool ConversionJob::constructed() const {
  return messageBuffer != nullptr && gpb != nullptr && engine != nullptr;
}

void ConversionJob::SendMessage(double time, const char* text) const {
  if (messageCallback != nullptr) messageCallback(time, text);
}

void ConversionJob::Report(double time, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatTextV(messageBuffer, format, args);
  va_end(args);
  SendMessage(time, messageBuffer);
}

void ConversionJob::ReportError(double time, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatTextV(ModuleErrorText(), format, args);
  va_end(args);
  SendMessage(time, ModuleErrorText());
}

void ConversionJob::SendProgress(int32_t position, int32_t total) const {
  if (progressCallback != nullptr) progressCallback(position, total);
}

int32_t ConversionJob::DeriveNames(const char* input, const char* output) {
  CopyText(gpbPath, kPathSize, output);
  CopyText(eppPath, kPathSize, output);
  CopyText(staPath, kPathSize, output);
  if (ChangeExtension(eppPath, kPathSize, ".epp") != 0 ||
      ChangeExtension(staPath, kPathSize, ".sta") != 0) {
    FormatText(ModuleErrorText(), msg::kOutputPathTooLong, output);
    return -1;
  }
  CopyText(inputPath, kPathSize, input);
  if (CompanionPath(inputPath, 'E', directory, ephemerisPath) != 0 ||
      CompanionPath(inputPath, 'S', directory, sitePath) != 0 ||
      CompanionPath(inputPath, 'D', directory, eventPath) != 0) {
    FormatText(ModuleErrorText(), msg::kInputWithoutFileName, input);
    return -1;
  }
  return 0;
}

int32_t ConversionJob::CheckPaths() {
  const char* const inputs[] = {inputPath, ephemerisPath, sitePath, eventPath};
  const char* const outputs[] = {gpbPath, eppPath, staPath};
  for (size_t o = 0; o < sizeof outputs / sizeof outputs[0]; ++o) {
    for (const char* input : inputs) {
      if (SameFile(outputs[o], input)) {
        ReportError(-1.0, msg::kOutputIsInput, outputs[o], input);
        return -1;
      }
    }
    for (size_t other = o + 1; other < sizeof outputs / sizeof outputs[0]; ++other) {
      if (SameFile(outputs[o], outputs[other])) {
        ReportError(-1.0, msg::kOutputsCollide, outputs[o], outputs[other]);
        return -1;
      }
    }
  }
  return 0;
}

int32_t ConversionJob::OpenFiles() {
  // Nothing is created or truncated before every output is known to be a file of its own.
  if (CheckPaths() != 0) return -1;
  // An input that is not a regular file counts as missing.
  ephemerisFile = OpenRegularFile(ephemerisPath, "rb");
  if (ephemerisFile == nullptr) {
    Report(-1.0, msg::kUnableToOpenEphemeris, ephemerisPath);
    // The host may ask GetErrString after -1: give it the same reason.
    CopyText(ModuleErrorText(), kTextSize, messageBuffer);
    return -1;
  }
  observationFile = OpenRegularFile(inputPath, "rb");
  if (observationFile == nullptr) {
    ReportError(-1.0, msg::kUnableToOpen, inputPath);
    return -1;
  }
  observationBuffer = static_cast<char*>(std::malloc(kObservationStreamBuffer));
  if (observationBuffer != nullptr) {
    std::setvbuf(observationFile, observationBuffer, _IOFBF, kObservationStreamBuffer);
  }
  // A FIFO without a reader would block the open: it counts as an output that cannot be
  // created.
  eppFile = IsPipeOrSocket(eppPath) ? nullptr : std::fopen(eppPath, "w");
  if (eppFile == nullptr) {
    ReportError(-1.0, msg::kUnableToOpen, eppPath);
    return -1;
  }
  std::fputs(kEppHeader, eppFile);
  staFile = IsPipeOrSocket(staPath) ? nullptr : std::fopen(staPath, "w");
  if (staFile == nullptr) {
    ReportError(-1.0, msg::kUnableToOpenSta, staPath);
    return -1;
  }
  std::fputs(kStaHeader, staFile);
  if (gpb->Create(options.GpbLayout, gpbPath, kGpbDataType, kGpbValue, kGpbCount,
                  kGpbStreamBuffer) != 0) {
    CopyText(ModuleErrorText(), kTextSize, gpb->errorText());
    SendMessage(-1.0, gpb->errorText());
    return -1;
  }
  return 0;
}

int32_t ConversionJob::Finish() { return CloseOutputs(); }

int32_t ConversionJob::CloseOutputs() {
  int32_t result = 0;
  const bool gpbOpen = gpb->state() == 1;
  if (gpb->Close() != 0) {
    CopyText(ModuleErrorText(), kTextSize, gpb->errorText());
    SendMessage(-1.0, ModuleErrorText());
    result = -1;
  }
  // Epochs the writer took but could not write are not in the file and do not count.
  if (gpbOpen) epochsWritten = gpb->epochsWritten();
  if (!CloseChecked(eppFile)) {
    ReportError(-1.0, msg::kUnableToWrite, eppPath);
    result = -1;
  }
  if (!CloseChecked(staFile)) {
    ReportError(-1.0, msg::kUnableToWrite, staPath);
    result = -1;
  }
  return result;
}

}  // namespace talverin
