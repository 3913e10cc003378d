// File-name helpers of the conversion job and of AutoDetect. Both '\' and '/' count as
// directory separators, so Windows paths, Linux paths and Windows paths written with '/'
// all work. Every helper is bounded by the size of its destination.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talverin {

// Index of the last '\' or '/' in path, or -1.
int32_t LastSeparator(const char* path);
// In place: removes leading blanks, then replaces the extension (the text from the last '.'
// after the last separator, or nothing) by extension, which carries its own dot.
// 0, or -1 when the result would not fit size bytes (path is then unchanged).
int32_t ChangeExtension(char* path, size_t size, const char* extension);
// directory := everything up to and including the last separator ("" when none);
// fileName := the rest. Both hold size bytes. 0, or -1 when a part does not fit.
int32_t SplitPath(const char* path, char* directory, char* fileName, size_t size);

}  // namespace talverin
