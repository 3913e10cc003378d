// File-system steps that differ between POSIX and Windows, for the layers above the module:
// a new private folder, a move that replaces an existing file at once (same volume), whether
// an existing file may be replaced now. Paths are UTF-8; on Windows they go to the wide API,
// with the \\?\ prefix on long absolute paths. Messages name the file and the system's
// reason. Opening and reading files stays with the C and C++ libraries.
#pragma once

#include <string>

namespace talverin {

// Makes a new folder parent/prefixXXXXXX (X: letters and digits chosen here), hidden on
// Windows; its path, or empty with the reason in error.
std::string MakeUniqueFolder(const std::string& parent, const std::string& prefix,
                             std::string* error);

// Moves from to to, replacing a file there in one step. False with the reason naming both.
[[nodiscard]] bool MoveReplacing(const std::string& from, const std::string& to,
                                 std::string* error);

// False, naming the file and the cause, when an existing file at path is held open by
// another program in a way that stops its replacement (Windows); true when it can be
// replaced or does not exist, and always on POSIX.
[[nodiscard]] bool CanReplaceFile(const std::string& path, std::string* error);

// Removes a folder and everything in it (long paths as well); errors are ignored.
void RemoveFolder(const std::string& path);

// Whether this process may write the existing file at path.
bool IsWritableFile(const std::string& path);

#ifdef _WIN32
std::wstring WidePath(const std::string& utf8);
std::string Utf8FromWide(const std::wstring& wide);
std::string SystemErrorText(unsigned long code);
#endif

}  // namespace talverin
