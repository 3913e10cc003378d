// Text building blocks of the RINEX files this system writes (observation and GPS
// navigation, versions 2.11 and 3.04): header lines (60 columns of content, label in
// columns 61-80), Fortran-style D19.12 numbers, observation fields (F14.3 with loss-of-lock
// and signal-strength digits) and the GPS-time calendar of an epoch (no leap seconds: RINEX
// epochs of GPS data are in GPS time). Writes into std::string; files are the caller's.
#pragma once

#include <cstdint>
#include <string>

#include "dataset/gps_calendar.h"

namespace talverin {

// One header line: content cut or padded to 60 columns, then the label; trailing blanks
// dropped; newline appended.
void AppendHeaderLine(std::string* out, const std::string& content, const char* label);
// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The text printf gives for "%*.*f" (precision 0-12) and "%*d" / "%0*d", appended without
// printf: the observation records format millions of numbers.
void AppendFixed(std::string* out, double value, int32_t width, int32_t precision);
void AppendInt(std::string* out, int64_t value, int32_t width, char fill = ' ');
// Fortran D19.12 (or E19.12 with exponent 'E'): " 1.234567890123D-04", 19 characters.
std::string FortranDouble(double value, char exponent);
// One observation field, 16 columns: F14.3, LLI digit, SSI digit (blank when 0). present
// false, or a value F14.3 cannot hold, gives 16 blanks (the latter returns false).
bool AppendObservation(std::string* out, bool present, double value, int32_t lli, int32_t ssi);
// Drops trailing blanks, then appends a newline.
void EndLine(std::string* out);

}  // namespace talverin
