#include "base/text_buffer.h"

#include <cstdio>
#include <cstring>

namespace talverin {

void FormatTextV(char* buffer, const char* format, va_list args) {
  const int written = std::vsnprintf(buffer, kTextSize, format, args);
  if (written < 0) buffer[0] = '\0';
}

void FormatText(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatTextV(buffer, format, args);
  va_end(args);
}

void CopyText(char* destination, size_t size, const char* source) {
  if (size == 0) return;
  if (source == nullptr) {
    destination[0] = '\0';
    return;
  }
  const size_t length = strnlen(source, size - 1);
  std::memmove(destination, source, length);
  destination[length] = '\0';
}

char* ModuleErrorText() {
  static char text[kTextSize] = "";
  return text;
}

}  // namespace talverin
