// Test-only driver for check_program.sh: runs a command line (talverin.exe ...) while it
// disturbs it as another program or the user at the console would, and exits with the
// command's exit code (98: the disturbance could not be set up, 99: the command hung).
//   program_driver hold FILE COMMAND...  FILE held open without sharing while COMMAND runs
//   program_driver ctrl-c MS COMMAND...  COMMAND on this console, Ctrl-C after MS ms
//   program_driver break MS COMMAND...   COMMAND in a new process group, Ctrl-Break after MS ms
//   program_driver console CP COMMAND... COMMAND writing to a console whose output code page is
//                                        CP; its code pages meanwhile and after, and the
//                                        console's text follow
// Lines starting "driver:" on stdout say what was done, so that an event the system did not
// deliver is told apart from one the program ignored.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr DWORD kCommandTimeout_ms = 120000;
constexpr int kSetUpFailed = 98;
constexpr int kHung = 99;

// One argument as CommandLineToArgvW reads it back: quoted when it holds a blank or a quote,
// with the backslashes before a quote (and before the closing quote) doubled.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'"') quoted.append(backslashes + 1, L'\\');
    backslashes = c == L'\\' ? backslashes + 1 : 0;
    quoted += c;
  }
  quoted.append(backslashes, L'\\');
  return quoted + L"\"";
}

BOOL WINAPI KeepDriverRunning(DWORD) { return TRUE; }

void Say(HANDLE out, const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr,
                      nullptr);
  DWORD written = 0;
  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// A console of this process's own (wine gives a program started from a pipe none).
std::wstring MakeConsole() {
  if (GetConsoleCP() != 0) return L"inherited";
  FreeConsole();
  return AllocConsole() ? L"allocated" : L"none (error " + std::to_wstring(GetLastError()) + L")";
}

// The console's screen as text lines, trailing blanks dropped.
std::wstring ConsoleText(HANDLE screen) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(screen, &info)) return L"(no screen)\n";
  std::wstring text;
  for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
    std::wstring line(static_cast<size_t>(info.dwSize.X), L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(screen, &line[0], info.dwSize.X, COORD{0, y}, &read);
    line.resize(line.find_last_not_of(L' ') + 1);
    text += line + L"\n";
  }
  return text;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr || count < 4) return kSetUpFailed;
  const std::wstring mode = argv[1];
  const DWORD number = std::wcstoul(argv[2], nullptr, 10);
  std::wstring command;
  for (int i = 3; i < count; ++i) command += (i > 3 ? L" " : L"") + Quoted(argv[i]);
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);

  HANDLE held = INVALID_HANDLE_VALUE;
  HANDLE screen = INVALID_HANDLE_VALUE;
  DWORD flags = 0;
  if (mode == L"hold") {
    held = CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return kSetUpFailed;
  } else {
    Say(out, L"driver: console " + MakeConsole() + L"\n");
    SetConsoleCtrlHandler(KeepDriverRunning, TRUE);  // a Ctrl-C reaches this process as well
    if (mode == L"break") flags = CREATE_NEW_PROCESS_GROUP;
    if (mode == L"console") {
      SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
      screen =
          CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      &inherited, OPEN_EXISTING, 0, nullptr);
      if (screen == INVALID_HANDLE_VALUE || !SetConsoleOutputCP(number)) return kSetUpFailed;
      startup.hStdOutput = startup.hStdError = screen;
    }
  }
  // The command and the processes it starts end with the driver (a refused event, a hang).
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, flags | CREATE_SUSPENDED,
                      nullptr, nullptr, &startup, &info)) {
    return kSetUpFailed;
  }
  AssignProcessToJobObject(job, info.hProcess);
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  DWORD code = kHung;
  if (mode == L"ctrl-c" || mode == L"break") {
    if (WaitForSingleObject(info.hProcess, number) == WAIT_OBJECT_0) {
      Say(out, L"driver: event not sent, the command had ended\n");
    } else if (flags != 0 ? GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, info.dwProcessId)
                          : GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
      Say(out, L"driver: event sent\n");
    } else {
      Say(out, L"driver: event refused (error " + std::to_wstring(GetLastError()) + L")\n");
      TerminateJobObject(job, kSetUpFailed);
    }
  }
  // The console's code page while the command runs, each new value once.
  std::wstring pages;
  for (UINT last = 0;
       mode == L"console" && WaitForSingleObject(info.hProcess, 2) == WAIT_TIMEOUT;) {
    const UINT page = GetConsoleOutputCP();
    if (page != last) pages += L" " + std::to_wstring(last = page);
  }
  if (WaitForSingleObject(info.hProcess, kCommandTimeout_ms) != WAIT_OBJECT_0) {
    TerminateJobObject(job, kHung);
    WaitForSingleObject(info.hProcess, INFINITE);
  }
  GetExitCodeProcess(info.hProcess, &code);
  if (mode == L"console") {
    Say(out, L"driver: code page during" + pages + L", after " +
                 std::to_wstring(GetConsoleOutputCP()) + L"\n" + ConsoleText(screen));
  }
  CloseHandle(info.hProcess);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  CloseHandle(job);
  return static_cast<int>(code);
}
