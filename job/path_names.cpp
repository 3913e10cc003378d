#include "job/path_names.h"

#include <cstring>

namespace talverin {

int32_t LastSeparator(const char* path) {
  int32_t last = -1;
  for (int32_t i = 0; path[i] != '\0'; ++i) {
    if (path[i] == '\\' || path[i] == '/') last = i;
  }
  return last;
}

int32_t ChangeExtension(char* path, size_t size, const char* extension) {
  size_t start = 0;
  while (path[start] == ' ') ++start;
  const char* text = path + start;
  const int32_t separator = LastSeparator(text);
  const char* dot = std::strrchr(text, '.');
  size_t stem = std::strlen(text);
  if (dot != nullptr && (dot - text) > separator) stem = static_cast<size_t>(dot - text);
  const size_t extensionLength = std::strlen(extension);
  if (stem + extensionLength + 1 > size) return -1;
  std::memmove(path, text, stem);
  std::memcpy(path + stem, extension, extensionLength + 1);
  return 0;
}

int32_t SplitPath(const char* path, char* directory, char* fileName, size_t size) {
  const int32_t separator = LastSeparator(path);
  const size_t directoryLength = static_cast<size_t>(separator + 1);
  const size_t nameLength = std::strlen(path) - directoryLength;
  if (directoryLength + 1 > size || nameLength + 1 > size) return -1;
  std::memcpy(directory, path, directoryLength);
  directory[directoryLength] = '\0';
  std::memcpy(fileName, path + directoryLength, nameLength + 1);
  return 0;
}

}  // namespace talverin
