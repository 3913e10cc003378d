#include "base/native_path.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace talverin {

#ifdef _WIN32

std::wstring WideFromNarrow(const std::string& text, unsigned codePage) {
  const int n =
      MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

std::string NarrowFromWide(const std::wstring& wide, unsigned codePage) {
  const int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr,
                      nullptr);
  return text;
}

std::filesystem::path NativePath(const std::string& text) {
  return std::filesystem::path(WideFromNarrow(text, CP_ACP));
}

std::string NativeText(const std::filesystem::path& path) {
  return NarrowFromWide(path.native(), CP_ACP);
}

std::string NativeGenericText(const std::filesystem::path& path) {
  std::string text = NativeText(path);
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  return text;
}

#else

std::filesystem::path NativePath(const std::string& text) { return std::filesystem::path(text); }

std::string NativeText(const std::filesystem::path& path) { return path.string(); }

std::string NativeGenericText(const std::filesystem::path& path) { return path.generic_string(); }

#endif

std::string NativeFileName(const std::string& path) {
  return NativeText(NativePath(path).filename());
}

}  // namespace talverin
