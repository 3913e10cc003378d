// Which files a path names, before anything is opened: input files are read only when
// they are regular files (a directory, FIFO, socket or device is not an input, and a FIFO
// without a writer would block the open), outputs are never FIFOs or sockets, and two
// paths name the same file when they are equal once made absolute and normal with the
// links of their existing part resolved, or when the file system says so (links). Windows paths
// compare without regard to case. Nothing here creates, truncates or changes a file.
#pragma once

#include <cstdio>

namespace talverin {

// Opens path for reading with mode when it names a regular file (links followed); null
// when it does not exist, is not a regular file, or cannot be opened.
[[nodiscard]] FILE* OpenRegularFile(const char* path, const char* mode);
// True when path names an existing FIFO or socket, which an output must never be.
[[nodiscard]] bool IsPipeOrSocket(const char* path);
// True when a and b name the same file, existing or not.
[[nodiscard]] bool SameFile(const char* a, const char* b);

}  // namespace talverin
