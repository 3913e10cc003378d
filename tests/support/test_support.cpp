#include "tests/support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
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

int ConversionRun::CountMessages(const std::string& prefix) const {
  int n = 0;
  for (const Message& m : messages) n += m.text.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
  return n;
}

ConversionRun RunConversion(const std::string& input, const std::string& output,
                            const std::function<void(ConvertOptions&)>& setOptions,
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
  callbacks.messageCallback = RecordMessage;
  callbacks.progressCallback = RecordProgress;
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

ProgramRun RunProgram(const std::vector<std::string>& argv, const ProgramHooks& hooks) {
  ProgramRun run;
  int out[2];
  int err[2];
  // A failed second pipe leaves the first one open: a test process can afford it.
  if (argv.empty() || pipe(out) != 0 || pipe(err) != 0) return run;
  if (hooks.started) {
    fcntl(out[1], F_SETFL, O_NONBLOCK);
    const char zeros[4096] = {};
    for (const size_t size : {sizeof zeros, size_t{1}}) {
      while (write(out[1], zeros, size) > 0) continue;
    }
    fcntl(out[1], F_SETFL, 0);
  }
  if (hooks.closedStdout) {
    close(out[0]);
    out[0] = -1;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    if (hooks.started) setpgid(0, 0);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    signal(SIGPIPE, SIG_DFL);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  if (hooks.started) {
    setpgid(pid, pid);  // here too, so that the group exists whichever runs first
    hooks.started(pid);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(hooks.timeout_s);
  bool killed = false;
  for (int open = out[0] >= 0 ? 2 : 1; open > 0;) {
    pollfd fds[2] = {{err[0], POLLIN, 0}, {out[0], POLLIN, 0}};
    if (poll(fds, out[0] >= 0 ? 2 : 1, 200) < 0) continue;
    if (!killed && std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      killed = true;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char chunk[4096];
      const ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
      if (n <= 0) {
        close(fds[i].fd);
        (i == 0 ? err[0] : out[0]) = -1;
        --open;
        continue;
      }
      (i == 0 ? run.err : run.out).append(chunk, static_cast<size_t>(n));
    }
  }
  int raw = 0;
  waitpid(pid, &raw, 0);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
  return run;
}

}  // namespace testing_support
}  // namespace talverin
