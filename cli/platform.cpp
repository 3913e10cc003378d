#include "cli/platform.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#endif

#include <cstdio>
#include <cstdlib>

#include "dataset/file_system.h"

namespace talverin_cli {

#ifdef _WIN32

namespace {

StopHandler gStopHandler = nullptr;
UINT gConsoleCodePage = 0;
// Windows ends a process this long after its console closed; the handler's work (the
// module's Abort, the outputs kept apart) gets most of it.
constexpr DWORD kCloseGrace_ms = 4500;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const StopHandler handler = gStopHandler;
  if (handler == nullptr) return FALSE;
  handler(2);  // SIGINT's number on every platform
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    Sleep(kCloseGrace_ms);  // the main thread's exit ends this wait earlier
  }
  return TRUE;
}

void RestoreConsole() {
  if (gConsoleCodePage != 0) SetConsoleOutputCP(gConsoleCodePage);
}

}  // namespace

std::string DefaultModulePath() {
  wchar_t self[32768];
  const DWORD n = GetModuleFileNameW(nullptr, self, sizeof self / sizeof self[0]);
  if (n == 0 || n >= sizeof self / sizeof self[0]) return "talverin.dll";
  std::string path = talverin::Utf8FromWide(std::wstring(self, n));
  const size_t slash = path.find_last_of("\\/");
  return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "talverin.dll";
}

void* OpenSharedLibrary(const std::string& path, std::string* error) {
  HMODULE library =
      LoadLibraryExW(talverin::WidePath(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (library == nullptr) *error = talverin::SystemErrorText(GetLastError());
  return reinterpret_cast<void*>(library);
}

void* SharedLibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseSharedLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void SetStopHandler(StopHandler handler) {
  gStopHandler = handler;
  static bool installed = false;
  if (!installed) installed = SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  for (int i = 0; i < count; ++i) arguments.push_back(talverin::Utf8FromWide(wide[i]));
  LocalFree(wide);
  return arguments;
}

void PrepareConsole() {
  DWORD mode = 0;
  const bool console = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0 ||
                       GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
  if (!console || GetConsoleOutputCP() == CP_UTF8) return;
  gConsoleCodePage = GetConsoleOutputCP();
  if (SetConsoleOutputCP(CP_UTF8)) std::atexit(RestoreConsole);
}

#else

namespace {

constexpr char kModuleName[] = "libtalverin.so";
// Where an installed tree keeps the module, from the program's folder (bin/).
constexpr char kInstalledModule[] = "../lib/talverin/libtalverin.so";

}  // namespace

std::string DefaultModulePath() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return kModuleName;
  self[n] = '\0';
  std::string path(self);
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string beside = folder + kModuleName;
  return access(beside.c_str(), F_OK) == 0 ? beside : folder + kInstalledModule;
}

void* OpenSharedLibrary(const std::string& path, std::string* error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    *error = why != nullptr ? why : "unknown error";
  }
  return library;
}

void* SharedLibrarySymbol(void* library, const char* name) { return dlsym(library, name); }

void CloseSharedLibrary(void* library) { dlclose(library); }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

void SetStopHandler(StopHandler handler) {
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, handler ? handler : SIG_DFL);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void PrepareConsole() {}

#endif

}  // namespace talverin_cli
