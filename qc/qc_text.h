// printf-style formatting into a std::string for the report's texts (at most 1023
// characters; longer texts are cut). Not part of the module.
#pragma once

#include <string>

namespace talverin {

std::string QcFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace talverin
