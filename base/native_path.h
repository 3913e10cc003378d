// std::filesystem paths from and to the narrow paths that the module and the program pass
// around. On POSIX the bytes stay as they are. On Windows narrow text is in the process's
// ANSI code page, as fopen takes it: UTF-8 in talverin.exe (its manifest sets it), the host's
// own code page in a host; libstdc++ would convert through the C locale instead, which
// garbles every non-ASCII name. Nothing here touches the file system.
#pragma once

#include <filesystem>
#include <string>

namespace talverin {

std::filesystem::path NativePath(const std::string& text);
#ifdef _WIN32
// Text in a Windows code page (CP_ACP, CP_UTF8, ...) to UTF-16 and back.
std::wstring WideFromNarrow(const std::string& text, unsigned codePage);
std::string NarrowFromWide(const std::wstring& wide, unsigned codePage);
#endif
std::string NativeText(const std::filesystem::path& path);
// The last name of a narrow path ("B0001A04.162" of "dir/B0001A04.162"), narrow again.
std::string NativeFileName(const std::string& path);
// NativeText with / between the names on every platform.
std::string NativeGenericText(const std::filesystem::path& path);

}  // namespace talverin
