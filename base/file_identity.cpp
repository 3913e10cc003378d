#include "base/file_identity.h"

#include <filesystem>
#include <string>
#include <system_error>

#if defined(_WIN32)
#include <cwctype>
#endif

#include "base/native_path.h"

namespace talverin {
namespace {

namespace fs = std::filesystem;

// The path made absolute, with the links of its existing part resolved and the rest
// lexically normal ("a/./b/../c" is "a/c"), so that a file not yet written compares equal
// through a linked folder; the absolute normal path when that fails, the path itself when
// even that fails.
fs::path Normal(const char* path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(NativePath(path), error);
  if (error) return NativePath(path);
  const fs::path resolved = fs::weakly_canonical(absolute, error);
  return error ? absolute.lexically_normal() : resolved;
}

bool SameText(const fs::path& a, const fs::path& b) {
#if defined(_WIN32)
  // Windows file names are compared without regard to case.
  const std::wstring x = a.wstring();
  const std::wstring y = b.wstring();
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i) {
    if (std::towlower(x[i]) != std::towlower(y[i])) return false;
  }
  return true;
#else
  return a == b;
#endif
}

}  // namespace

FILE* OpenRegularFile(const char* path, const char* mode) {
  if (path == nullptr || path[0] == '\0') return nullptr;
  std::error_code error;
  if (!fs::is_regular_file(fs::status(NativePath(path), error)) || error) return nullptr;
  return std::fopen(path, mode);
}

bool IsPipeOrSocket(const char* path) {
  std::error_code error;
  const fs::file_status status = fs::status(NativePath(path), error);
  return !error && (fs::is_fifo(status) || fs::is_socket(status));
}

bool SameFile(const char* a, const char* b) {
  if (SameText(Normal(a), Normal(b))) return true;
  std::error_code error;
  return fs::equivalent(NativePath(a), NativePath(b), error) && !error;
}

}  // namespace talverin
