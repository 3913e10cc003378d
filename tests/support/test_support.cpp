#include "tests/support/test_support.h"

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace talverin {
namespace testing_support {
namespace {

ConversionRun* gRun = nullptr;
const std::function<void(const Message&)>* gOnMessage = nullptr;

void TALVERIN_CALL RecordMessage(double time, const char* text) {
  if (gRun == nullptr) return;
  gRun->messages.push_back({time, text});
  if (gOnMessage != nullptr && *gOnMessage) (*gOnMessage)(gRun->messages.back());
}

void TALVERIN_CALL RecordProgress(int32_t position, int32_t total) {
  if (gRun != nullptr) gRun->progress.emplace_back(position, total);
}

}  // namespace

TempDir::TempDir() {
  char pattern[] = "/tmp/talverin-test-XXXXXX";
  const char* made = mkdtemp(pattern);
  path_ = made != nullptr ? made : "/tmp";
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (path_ != "/tmp") std::filesystem::remove_all(path_, ignored);
}

FileSizeLimit::FileSizeLimit(uint64_t limitBytes) {
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0) return;
  previousSoft_ = limit.rlim_cur;
  previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
  limit.rlim_cur = limitBytes;
  active_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit() {
  Lift();
  std::signal(SIGXFSZ, previousHandler_ == SIG_ERR ? SIG_DFL : previousHandler_);
}

void FileSizeLimit::Lift() {
  rlimit limit{};
  if (active_ && getrlimit(RLIMIT_FSIZE, &limit) == 0) {
    limit.rlim_cur = previousSoft_;
    active_ = setrlimit(RLIMIT_FSIZE, &limit) != 0;
  }
}

bool ConversionRun::HasMessage(const std::string& text) const { return CountMessages(text) > 0; }

int ConversionRun::CountMessages(const std::string& text) const {
  int n = 0;
  for (const Message& m : messages) n += m.text == text ? 1 : 0;
  return n;
}

int ConversionRun::CountMessagesStartingWith(const std::string& prefix) const {
  int n = 0;
  for (const Message& m : messages) n += m.text.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
  return n;
}

ConversionRun RunConversion(const std::string& input, const std::string& output,
                            const std::function<void(ConvertOptions&)>& setOptions,
                            bool withCallbacks,
                            const std::function<void(const Message&)>& onMessage) {
  ConversionRun run;
  std::memset(&run.request, 0, sizeof run.request);
  run.request.size = kConvertRequestSize;
  run.request.optionsSize = kConvertOptionsSize;
  std::strncpy(run.request.inputPath, input.c_str(), kPathSize - 1);
  std::strncpy(run.request.outputPath, output.c_str(), kPathSize - 1);
  SetFactoryDefaults(kConvertOptionsSize, &run.request.options);
  if (setOptions) setOptions(run.request.options);

  HostCallbacks callbacks;
  std::memset(&callbacks, 0, sizeof callbacks);
  callbacks.size = kHostCallbacksSize;
  if (withCallbacks) {
    callbacks.messageCallback = RecordMessage;
    callbacks.progressCallback = RecordProgress;
  }
  gRun = &run;
  gOnMessage = &onMessage;
  run.result = ConvertFile(&run.request, &callbacks, 0);
  gRun = nullptr;
  gOnMessage = nullptr;
  char text[kTextSize];
  GetErrString(text);
  run.errorText = text;
  return run;
}

}  // namespace testing_support
}  // namespace talverin
