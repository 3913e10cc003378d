#include "dataset/file_system.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/native_path.h"

namespace talverin {
#ifdef _WIN32

namespace {

// Tries at new random names before giving up on a folder (each collision is a folder of
// the same prefix made at the same moment).
constexpr int kFolderAttempts = 100;

std::string RandomSuffix(unsigned long long* state) {
  constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int i = 0; i < 6; ++i) {
    *state = *state * 6364136223846793005ULL + 1442695040888963407ULL;  // PCG's LCG step
    suffix += kChars[(*state >> 33) % (sizeof kChars - 1)];
  }
  return suffix;
}

}  // namespace

std::wstring WidePath(const std::string& utf8) {
  const std::wstring wide = WideFromNarrow(utf8, CP_UTF8);
  // Past MAX_PATH (260 with its terminator, 248 for a folder) only a \\?\ path reaches the
  // file; that form takes no relative parts nor forward slashes, so the full path is given.
  constexpr size_t kShortPathLimit = 247;
  if (wide.size() < kShortPathLimit || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  const DWORD full = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring absolute(full, L'\0');
  const DWORD written = GetFullPathNameW(wide.c_str(), full, &absolute[0], nullptr);
  if (written == 0 || written >= full) return wide;
  absolute.resize(written);
  if (absolute.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + absolute.substr(2);
  return L"\\\\?\\" + absolute;
}

std::string Utf8FromWide(const std::wstring& wide) { return NarrowFromWide(wide, CP_UTF8); }

std::string SystemErrorText(unsigned long code) {
  wchar_t* text = nullptr;
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = text != nullptr ? Utf8FromWide(text) : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == '.' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

namespace {

bool HeldByAnother(unsigned long code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION ||
         code == ERROR_USER_MAPPED_FILE;
}

std::string HeldText(const std::string& path) {
  return path +
         " is open in another program, which keeps it from being replaced; close it "
         "there and run again";
}

}  // namespace

std::string MakeUniqueFolder(const std::string& parent, const std::string& prefix,
                             std::string* error) {
  unsigned long long state =
      GetCurrentProcessId() ^
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < kFolderAttempts; ++attempt) {
    const std::string path = parent + "\\" + prefix + RandomSuffix(&state);
    const std::wstring wide = WidePath(path);
    if (CreateDirectoryW(wide.c_str(), nullptr)) {
      SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_HIDDEN);
      return path;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      *error = SystemErrorText(GetLastError());
      return "";
    }
  }
  *error = "no free folder name";
  return "";
}

bool MoveReplacing(const std::string& from, const std::string& to, std::string* error) {
  if (MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  const DWORD code = GetLastError();
  *error = HeldByAnother(code) || code == ERROR_ACCESS_DENIED
               ? HeldText(to)
               : "cannot move " + from + " to " + to + ": " + SystemErrorText(code);
  return false;
}

bool CanReplaceFile(const std::string& path, std::string* error) {
  // Replacing needs delete access; a program that opened the file without sharing delete
  // refuses it, and asking first keeps a group of outputs from being replaced only in part.
  const HANDLE file = CreateFileW(WidePath(path).c_str(), DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return true;
  }
  const DWORD code = GetLastError();
  if (!HeldByAnother(code)) return true;  // missing or refused for another reason: the move says
  *error = HeldText(path);
  return false;
}

void RemoveFolder(const std::string& path) {
  // libstdc++'s remove_all does not come back from a path past MAX_PATH on Windows.
  const std::wstring folder = WidePath(path);
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::string child = path + "\\" + Utf8FromWide(name);
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveFolder(child);
      } else {
        SetFileAttributesW(WidePath(child).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(WidePath(child).c_str());
      }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(folder.c_str());
}

bool IsWritableFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

#else

std::string MakeUniqueFolder(const std::string& parent, const std::string& prefix,
                             std::string* error) {
  std::string pattern = parent + "/" + prefix + "XXXXXX";
  if (mkdtemp(&pattern[0]) != nullptr) return pattern;
  *error = std::strerror(errno);
  return "";
}

bool MoveReplacing(const std::string& from, const std::string& to, std::string* error) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  *error = "cannot rename " + from + " to " + to + ": " + std::strerror(errno);
  return false;
}

bool CanReplaceFile(const std::string&, std::string*) { return true; }

void RemoveFolder(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

bool IsWritableFile(const std::string& path) { return access(path.c_str(), W_OK) == 0; }

#endif

}  // namespace talverin
