#include "cli/batch.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/native_path.h"
#include "cli/platform.h"
#include "cli/safe_output.h"
#include "dataset/file_system.h"
#include "dataset/json_writer.h"

namespace fs = std::filesystem;

namespace talverin_cli {
namespace {

#ifndef _WIN32
constexpr int kPollInterval_ms = 200;
#endif

bool gStdoutBroken = false;
// The batch's claimed outputs, one "path\tset" line each: kNoBatch outside a batch, -1 when
// the file could not be made.
constexpr int kNoBatch = -2;
int gClaimsFd = kNoBatch;

// The child's record: status line (10 more when stopped), summary line, the length of the
// caller's data on a line, that data, then the JSON members.
constexpr int kStoppedMark = 10;
std::string Encode(const SetResult& result) {
  std::string summary = result.summary;
  std::replace(summary.begin(), summary.end(), '\n', ' ');
  return std::to_string(result.status + (result.stopped ? kStoppedMark : 0)) + "\n" + summary +
         "\n" + std::to_string(result.data.size()) + "\n" + result.data + result.json;
}

// Whether none of paths is among the claims ("path\tset" lines); else false, naming the set.
bool ClaimsFree(const std::string& claims, const std::vector<std::string>& paths,
                std::string* error) {
  for (size_t at = 0; at < claims.size();) {
    const size_t tab = claims.find('\t', at);
    const size_t end = claims.find('\n', at);
    if (tab == std::string::npos || end == std::string::npos || tab > end) break;
    const std::string claimed = claims.substr(at, tab - at);
    for (const std::string& path : paths) {
      if (SameFile(path, claimed)) {
        *error = "output " + path + " is also an output of " +
                 claims.substr(tab + 1, end - tab - 1) +
                 " in this batch; give the sets separately or into different folders (-d)";
        return false;
      }
    }
    at = end + 1;
  }
  return true;
}

// The record of Encode read back; false when it is incomplete or malformed.
bool ParseRecord(const std::string& data, SetResult* result) {
  const size_t first = data.find('\n');
  const size_t second = first == std::string::npos ? first : data.find('\n', first + 1);
  const size_t third = second == std::string::npos ? second : data.find('\n', second + 1);
  if (third == std::string::npos) return false;
  const int mark = std::atoi(data.substr(0, first).c_str());
  const int status = mark % kStoppedMark;
  const size_t length =
      std::strtoul(data.substr(second + 1, third - second - 1).c_str(), nullptr, 10);
  if (mark < kExitOk || mark > kStoppedMark + kExitFailed || status > kExitFailed ||
      length > data.size() - third - 1) {
    return false;
  }
  result->status = status;
  result->stopped = mark >= kStoppedMark;
  result->summary = data.substr(first + 1, second - first - 1);
  result->data = data.substr(third + 1, length);
  result->json = data.substr(third + 1 + length);
  return true;
}

#ifdef _WIN32
// Windows has no fork: each set runs in a new process of this program with the same command
// line, told by kChildVariable which set to run and where to leave its record (a file). Up to
// jobs at once; a stop request (the console's events reach every process of the console)
// starts no further set. Claimed outputs live in a file the batch's processes share, locked
// while it is read and extended.
constexpr char kChildVariable[] = "TALVERIN_BATCH_CHILD";  // "INDEX|RECORD-FILE|CLAIMS-FILE"
constexpr DWORD kWaitInterval_ms = 200;
std::string gClaimsPath;

struct SetProcess {
  HANDLE process;
  size_t index;
  std::string record;
};

SetContext ContextOf(const std::vector<std::string>& sets, size_t index) {
  SetContext context;
  context.index = index;
  context.count = sets.size();
  if (sets.size() > 1) {
    context.label = talverin::NativeFileName(sets[index]) + ": ";
  }
  return context;
}

// In a process started for one set: runs it, leaves its record and ends the process.
void RunIfChild(const std::vector<std::string>& sets, const SetRunner& runner) {
  const char* assignment = std::getenv(kChildVariable);
  if (assignment == nullptr) return;
  const std::string text(assignment);
  const size_t bar = text.find('|'), bar2 = text.find('|', bar + 1);
  const size_t index = std::strtoul(text.c_str(), nullptr, 10);
  if (bar == std::string::npos || bar2 == std::string::npos || index >= sets.size()) return;
  gClaimsPath = text.substr(bar2 + 1);
  gClaimsFd = 0;
  const std::string record = Encode(runner(sets[index], ContextOf(sets, index)));
  FILE* file = std::fopen(text.substr(bar + 1, bar2 - bar - 1).c_str(), "wb");
  if (file != nullptr) {
    std::fwrite(record.data(), 1, record.size(), file);
    std::fclose(file);
  }
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(0);  // never the parent's work after the batch
}

bool StartSetProcess(size_t index, const std::string& folder, SetProcess* out) {
  out->index = index;
  out->record = folder + "\\set-" + std::to_string(index) + ".record";
  const std::string assignment = std::to_string(index) + "|" + out->record + "|" + gClaimsPath;
  SetEnvironmentVariableW(L"TALVERIN_BATCH_CHILD", talverin::WidePath(assignment).c_str());
  std::wstring commandLine = GetCommandLineW();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::fflush(stdout);
  std::fflush(stderr);
  const bool started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &info) != 0;
  SetEnvironmentVariableW(L"TALVERIN_BATCH_CHILD", nullptr);
  if (!started) return false;
  CloseHandle(info.hThread);
  out->process = info.hProcess;
  return true;
}

SetResult FinishSetProcess(const SetProcess& p) {
  DWORD code = 1;
  GetExitCodeProcess(p.process, &code);
  CloseHandle(p.process);
  std::string data;
  if (FILE* file = std::fopen(p.record.c_str(), "rb")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) data.append(buffer, n);
    std::fclose(file);
  }
  SetResult result;
  if (code == 0 && ParseRecord(data, &result)) return result;
  if (data.empty() && StopRequested()) {
    // Ended by the console's stop before it could catch it (a set process catches it first
    // thing, before any file of its own): the set was not started.
    result.status = kExitIncomplete;
    result.stopped = true;
    result.summary = "not started: stopped by the user";
    result.json = talverin::JsonMembers().Text("result", "not started").text();
    return result;
  }
  char text[96];
  std::snprintf(text, sizeof text, "ended without a result (exit code %lu)",
                static_cast<unsigned long>(code));
  result.summary = text;
  result.json = talverin::JsonMembers().Text("result", "crashed").Text("error", text).text();
  result.stopped = StopRequested();
  return result;
}

std::vector<SetResult> RunChildren(const std::vector<std::string>& sets, size_t jobs,
                                   const SetRunner& runner) {
  RunIfChild(sets, runner);
  std::vector<SetResult> results(sets.size());
  std::vector<bool> finished(sets.size(), false);
  std::error_code ec;
  std::string why;
  const std::string folder = talverin::MakeUniqueFolder(
      talverin::NativeText(fs::temp_directory_path(ec)), "talverin-batch-", &why);
  gClaimsPath = folder + "\\claims";
  gClaimsFd = 0;
  std::vector<SetProcess> running;
  size_t next = 0;
  while (next < sets.size() || !running.empty()) {
    while (!folder.empty() && !StopRequested() && running.size() < jobs && next < sets.size()) {
      SetProcess p;
      if (StartSetProcess(next, folder, &p)) {
        running.push_back(p);
      } else {
        results[next].summary =
            "cannot start a process: " + talverin::SystemErrorText(GetLastError());
        results[next].json = talverin::JsonMembers().Text("result", "not started").text();
        finished[next] = true;
      }
      ++next;
    }
    if (running.empty()) break;
    std::vector<HANDLE> handles;
    for (const SetProcess& p : running) handles.push_back(p.process);
    WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                           kWaitInterval_ms);
    for (size_t i = running.size(); i-- > 0;) {
      if (WaitForSingleObject(running[i].process, 0) != WAIT_OBJECT_0) continue;
      results[running[i].index] = FinishSetProcess(running[i]);
      finished[running[i].index] = true;
      running.erase(running.begin() + static_cast<long>(i));
    }
  }
  if (!folder.empty()) talverin::RemoveFolder(folder);
  gClaimsFd = kNoBatch;
  gClaimsPath.clear();
  for (size_t i = 0; i < sets.size(); ++i) {
    if (finished[i]) continue;
    results[i].status = kExitIncomplete;
    results[i].stopped = StopRequested();
    results[i].summary = folder.empty() ? "not started: no folder for the sets' records: " + why
                                        : "not started: stopped by the user";
    results[i].json = talverin::JsonMembers().Text("result", "not started").text();
  }
  return results;
}
#else
struct Child {
  pid_t pid;
  int fd;
  size_t index;
  std::string data;
};

SetResult Decode(const std::string& data, int waitStatus) {
  SetResult result;
  const bool exited = WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0;
  if (exited && ParseRecord(data, &result)) return result;
  char text[128];
  if (WIFSIGNALED(waitStatus)) {
    std::snprintf(text, sizeof text, "ended by signal %d (%s) without a result",
                  WTERMSIG(waitStatus), strsignal(WTERMSIG(waitStatus)));
  } else {
    std::snprintf(text, sizeof text, "ended without a result (exit status %d)",
                  WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1);
  }
  result.summary = text;
  result.json = talverin::JsonMembers().Text("result", "crashed").Text("error", text).text();
  result.stopped = StopRequested();  // most likely ended by the stop
  return result;
}

void WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

bool StartChild(const std::vector<std::string>& sets, size_t index, const SetRunner& runner,
                const std::vector<Child>& running, Child* child) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    close(fds[0]);
    for (const Child& other : running) close(other.fd);
    // The stop signals stay caught (RunBatch): the runner decides what a stop leaves.
    SetContext context;
    context.index = index;
    context.count = sets.size();
    if (sets.size() > 1) context.label = talverin::NativeFileName(sets[index]) + ": ";
    const SetResult result = runner(sets[index], context);
    WriteAll(fds[1], Encode(result));
    close(fds[1]);
    std::fflush(stderr);
    _exit(0);  // never run the parent's destructors (its temporary folders) in a child
  }
  close(fds[1]);
  *child = Child{pid, fds[0], index, std::string()};
  return true;
}

// The children of a batch: started up to the number of jobs, read until they end.
struct ChildPool {
  const std::vector<std::string>& sets;
  const SetRunner& runner;
  std::vector<SetResult> results;
  std::vector<bool> finished;
  std::vector<Child> running;
  size_t next = 0;
  int forwarded = 0;  // the stop signal passed on to the children; 0 before one came
};

// Starts sets until jobs children run; a set whose process does not start fails.
void StartChildren(size_t jobs, ChildPool* pool) {
  while (!StopRequested() && pool->running.size() < jobs && pool->next < pool->sets.size()) {
    Child child;
    const size_t index = pool->next++;
    if (StartChild(pool->sets, index, pool->runner, pool->running, &child)) {
      pool->running.push_back(child);
      continue;
    }
    pool->results[index].summary = std::string("cannot start a process: ") + std::strerror(errno);
    pool->results[index].json = talverin::JsonMembers().Text("result", "not started").text();
    pool->finished[index] = true;
  }
}

// Waits a poll interval for the children's records; those that ended give their results.
void ReadChildren(ChildPool* pool) {
  std::vector<pollfd> fds;
  for (const Child& child : pool->running) fds.push_back(pollfd{child.fd, POLLIN, 0});
  if (poll(fds.data(), fds.size(), kPollInterval_ms) < 0) return;  // EINTR: a signal
  for (size_t i = pool->running.size(); i-- > 0;) {
    if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    Child& child = pool->running[i];
    char buffer[4096];
    const ssize_t n = read(child.fd, buffer, sizeof buffer);
    if (n > 0) {
      child.data.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    close(child.fd);
    int waitStatus = 0;
    while (waitpid(child.pid, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    pool->results[child.index] = Decode(child.data, waitStatus);
    pool->finished[child.index] = true;
    pool->running.erase(pool->running.begin() + static_cast<long>(i));
  }
}

// Every set run in its child process, the stop signals passed on to the children meanwhile;
// the sets a stop left unstarted say so.
std::vector<SetResult> RunChildren(const std::vector<std::string>& sets, size_t jobs,
                                   const SetRunner& runner) {
  ChildPool pool{
      sets, runner, std::vector<SetResult>(sets.size()), std::vector<bool>(sets.size(), false), {},
      0,    0};
  FILE* claims = std::tmpfile();  // removed by the system when closed
  gClaimsFd = claims != nullptr ? fileno(claims) : -1;
  while (pool.next < sets.size() || !pool.running.empty()) {
    StartChildren(jobs, &pool);
    if (StopRequested() && pool.forwarded == 0) {
      // Also when the whole process group had it: a second one only marks a child again.
      pool.forwarded = StopSignal();
      for (const Child& child : pool.running) kill(child.pid, pool.forwarded);
      pool.next = sets.size();  // the sets not started stay so
    }
    if (!pool.running.empty()) ReadChildren(&pool);
  }
  if (claims != nullptr) std::fclose(claims);
  gClaimsFd = kNoBatch;
  for (size_t i = 0; i < sets.size(); ++i) {
    if (pool.finished[i]) continue;
    pool.results[i].status = kExitIncomplete;
    pool.results[i].stopped = true;
    pool.results[i].summary = "not started: stopped by signal " + std::to_string(pool.forwarded);
    pool.results[i].json = talverin::JsonMembers().Text("result", "not started").text();
  }
  return pool.results;
}
#endif

// After a stop: which sets finished before it, for stderr.
std::string StoppedLine(const BatchResult& batch) {
  std::string finished;
  size_t count = 0;
  for (size_t i = 0; i < batch.results.size(); ++i) {
    if (batch.results[i].stopped) continue;
    finished += (count++ == 0 ? "" : ", ") + batch.sets[i];
  }
  return "talverin " + batch.command + ": stopped by " + StopSignalText() + "; " +
         std::to_string(count) + " of " + std::to_string(batch.results.size()) +
         " sets finished before it" + (count > 0 ? ": " + finished : std::string());
}

// The sets' objects of the JSON summary, joined.
std::string SetObjects(const BatchResult& batch) {
  std::string json;
  for (size_t i = 0; i < batch.results.size(); ++i) {
    const SetResult& r = batch.results[i];
    talverin::JsonMembers set;
    set.Text("input", batch.sets[i]).Integer("status", r.status);
    json +=
        (i > 0 ? ",\n    {" : "\n    {") + set.text() + (r.json.empty() ? "" : ", ") + r.json + "}";
  }
  return json;
}

}  // namespace

bool PrintLine(const std::string& line) {
  if (gStdoutBroken) return false;
  if (std::fputs((line + "\n").c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
    gStdoutBroken = true;
    std::clearerr(stdout);
    return false;
  }
  return true;
}

void IgnoreBrokenPipes() {
#ifndef _WIN32  // Windows has no SIGPIPE: a closed pipe fails the write
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

bool ClaimOutputs(const std::vector<std::string>& paths, const std::string& set,
                  std::string* error) {
  if (gClaimsFd == kNoBatch) return true;
#ifdef _WIN32
  const HANDLE file = CreateFileW(talverin::WidePath(gClaimsPath).c_str(),
                                  GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  OVERLAPPED whole{};
  if (file == INVALID_HANDLE_VALUE ||
      !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    *error =
        "cannot lock the batch's claimed outputs: " + talverin::SystemErrorText(GetLastError());
    return false;
  }
  std::string claims;
  char buffer[4096];
  for (DWORD n; ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0;)
    claims.append(buffer, n);
  const bool free = ClaimsFree(claims, paths, error);
  std::string added;
  for (const std::string& path : paths) added += path + "\t" + set + "\n";
  DWORD written = 0;
  const bool recorded = !free || (WriteFile(file, added.data(), static_cast<DWORD>(added.size()),
                                            &written, nullptr) &&
                                  written == added.size());
  UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
  CloseHandle(file);
  if (!recorded) *error = "cannot record the batch's claimed outputs";
  return free && recorded;
#else
  if (gClaimsFd < 0) {
    *error = "cannot make the file of the batch's claimed outputs";
    return false;
  }
  // A POSIX record lock belongs to the process, so it excludes the other children even
  // though they share this descriptor (a flock would not).
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  while (fcntl(gClaimsFd, F_SETLKW, &lock) != 0) {
    if (errno != EINTR) {
      *error = std::string("cannot lock the batch's claimed outputs: ") + std::strerror(errno);
      return false;
    }
  }
  std::string claims;
  char buffer[4096];
  for (ssize_t n; (n = pread(gClaimsFd, buffer, sizeof buffer, claims.size())) > 0;) {
    claims.append(buffer, static_cast<size_t>(n));
  }
  bool free = ClaimsFree(claims, paths, error);
  std::string added;
  for (const std::string& path : paths) added += path + "\t" + set + "\n";
  if (free && pwrite(gClaimsFd, added.data(), added.size(), claims.size()) !=
                  static_cast<ssize_t>(added.size())) {
    *error = std::string("cannot record the batch's claimed outputs: ") + std::strerror(errno);
    free = false;
  }
  lock.l_type = F_UNLCK;
  fcntl(gClaimsFd, F_SETLK, &lock);
  return free;
#endif
}

BatchResult RunBatch(const std::vector<std::string>& sets, const BatchOptions& options,
                     const SetRunner& runner) {
  IgnoreBrokenPipes();
  CatchStopSignals();  // before the first temporary file (the JSON's) is made
  BatchResult batch;
  batch.sets = sets;
  SafeOutputs jsonOutput;
  std::string error;
  if (!options.jsonPath.empty() && !jsonOutput.Prepare({options.jsonPath}, sets, &error)) {
    batch.status = kExitFailed;
    batch.errors.push_back("talverin: --json: " + error);
    return batch;
  }
  batch.results = RunChildren(sets, static_cast<size_t>(std::max(1, options.jobs)), runner);
  for (const SetResult& r : batch.results) batch.status = std::max(batch.status, r.status);
  batch.command = options.command;
  if (StopRequested()) {
    batch.stopped = true;
    batch.status = std::max(batch.status, kExitIncomplete);
    batch.errors.push_back(StoppedLine(batch));
  }
  if (!options.jsonPath.empty() &&
      !WriteSummaryJson(&jsonOutput, options.command, batch.status, SetObjects(batch), &error)) {
    batch.errors.push_back("talverin " + options.command + ": " + error);
    batch.status = kExitFailed;
  }
  return batch;
}

BatchResult BatchRefused(const std::string& command, const std::string& text) {
  BatchResult batch;
  batch.status = kExitFailed;
  batch.errors.push_back("talverin " + command + ": " + text);
  return batch;
}

std::vector<std::string> BatchLines(const BatchResult& batch) {
  std::vector<std::string> lines;
  int worst = kExitOk;
  int counts[3] = {0, 0, 0};
  for (size_t i = 0; i < batch.results.size(); ++i) {
    const int status = batch.results[i].status;
    worst = std::max(worst, status);
    ++counts[status];
    lines.push_back(batch.sets[i] + ": " + batch.results[i].summary);
  }
  if (batch.results.size() > 1) {
    lines.push_back(
        std::to_string(batch.results.size()) + " sets: " + std::to_string(counts[kExitOk]) +
        " ok, " + std::to_string(counts[kExitIncomplete]) + " incomplete, " +
        std::to_string(counts[kExitFailed]) + " failed; exit status " + std::to_string(worst));
  }
  return lines;
}

int PrintBatch(const BatchResult& batch) {
  for (const std::string& line : BatchLines(batch)) PrintLine(line);
  for (const std::string& error : batch.errors) std::fprintf(stderr, "%s\n", error.c_str());
  return WithLateStop(batch, batch.status);
}

int WithLateStop(const BatchResult& batch, int status) {
  if (!StopRequested() || batch.stopped || batch.results.empty()) return status;
  std::fprintf(stderr, "%s\n", StoppedLine(batch).c_str());
  return std::max(status, kExitIncomplete);
}

bool WriteSummaryJson(SafeOutputs* output, const std::string& command, int status,
                      const std::string& setObjects, std::string* error) {
  const std::string text =
      "{" + talverin::JsonMembers().Text("command", command).Integer("status", status).text() +
      ",\n  \"sets\": [" + setObjects + "\n  ]\n}\n";
  FILE* file = std::fopen(output->TemporaryPath(0).c_str(), "wb");
  const bool written = file != nullptr && std::fputs(text.c_str(), file) >= 0;
  const bool closed = file != nullptr && std::fclose(file) == 0;
  if (written && closed && output->Commit(error, true)) return true;
  if (error->empty()) *error = "cannot write " + output->FinalPath(0);
  return false;
}

}  // namespace talverin_cli
