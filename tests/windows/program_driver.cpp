// Test-only driver for check_program.sh: runs COMMAND (one argument: a whole command line)
// while it disturbs it as another program or the user at the console would, and exits with
// the command's exit code (98: the disturbance could not be set up).
//   program_driver hold FILE COMMAND   FILE held open without sharing while COMMAND runs
//   program_driver ctrl-c MS COMMAND   COMMAND on this console, Ctrl-C after MS ms
//   program_driver break MS COMMAND    COMMAND in a new process group, Ctrl-Break after MS ms
//   program_driver console CP COMMAND  COMMAND on this console, its output code page CP; the
//                                      code pages seen while it runs and after it are printed
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

constexpr int kSetUpFailed = 98;

BOOL WINAPI KeepDriverRunning(DWORD) { return TRUE; }

}  // namespace

int main() {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr || count != 4) return kSetUpFailed;
  const bool console = std::wcscmp(argv[1], L"console") == 0;
  const bool hold = std::wcscmp(argv[1], L"hold") == 0;
  const bool ctrlBreak = std::wcscmp(argv[1], L"break") == 0;
  const UINT number = std::wcstoul(argv[2], nullptr, 10);
  const HANDLE held = hold ? CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                           : nullptr;
  if (held == INVALID_HANDLE_VALUE) return kSetUpFailed;
  STARTUPINFOW startup{};  // the command writes where the driver does (the check's pipes)
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  if (!hold && GetConsoleCP() == 0) {  // wine gives a program started from a pipe no console
    FreeConsole();
    std::printf("driver: console %s\n", AllocConsole() ? "allocated" : "refused");
  }
  SetConsoleCtrlHandler(KeepDriverRunning, TRUE);  // a Ctrl-C reaches this process as well
  if (console) {                                   // ... or on the console
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    startup.hStdOutput = startup.hStdError =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherited, OPEN_EXISTING, 0, nullptr);
    if (!SetConsoleOutputCP(number)) return kSetUpFailed;
  }
  // The command and the processes it starts end with the driver (after a refused event).
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, argv[3], nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED | (ctrlBreak ? CREATE_NEW_PROCESS_GROUP : 0), nullptr,
                      nullptr, &startup, &info)) {
    return kSetUpFailed;
  }
  AssignProcessToJobObject(job, info.hProcess);
  ResumeThread(info.hThread);
  std::fflush(stdout);
  if (!hold && !console) {
    if (WaitForSingleObject(info.hProcess, number) == WAIT_OBJECT_0) {
      std::printf("driver: event not sent, the command had ended\n");
    } else if (ctrlBreak ? GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, info.dwProcessId)
                         : GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
      std::printf("driver: event sent\n");
    } else {
      std::printf("driver: event refused (error %lu)\n", GetLastError());
      TerminateJobObject(job, kSetUpFailed);
    }
  }
  if (console) std::printf("driver: code page during");
  for (UINT last = 0; console && WaitForSingleObject(info.hProcess, 2) == WAIT_TIMEOUT;) {
    if (GetConsoleOutputCP() != last) std::printf(" %u", last = GetConsoleOutputCP());
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  if (console) std::printf(", after %u\n", GetConsoleOutputCP());
  DWORD code = kSetUpFailed;
  GetExitCodeProcess(info.hProcess, &code);
  if (held != nullptr) CloseHandle(held);
  return static_cast<int>(code);
}
