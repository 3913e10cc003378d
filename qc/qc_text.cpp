#include "qc/qc_text.h"

#include <cstdarg>
#include <cstdio>

namespace talverin {

std::string QcFormat(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

}  // namespace talverin
