// Bounded text formatting into the module's fixed 512-byte buffers, and the module-wide
// error text that GetErrString returns. Every message is formatted once, at the failing
// site, never beyond its buffer. The module error text is process-wide and unguarded:
// conversions do not run in parallel.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "base/gnss_constants.h"

namespace talverin {

// Formats into a kTextSize buffer; the result is always terminated and cut to 511 characters.
void FormatText(char* buffer, const char* format, ...) __attribute__((format(printf, 2, 3)));
void FormatTextV(char* buffer, const char* format, va_list args);

// Copies at most size - 1 characters of source and terminates; a null source gives "".
void CopyText(char* destination, size_t size, const char* source);

// The module error text: 512 bytes, empty when the module is loaded.
char* ModuleErrorText();

}  // namespace talverin
