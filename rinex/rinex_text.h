// Line reading and fixed-column fields of RINEX 2 text files (observation and navigation,
// versions 2.00-2.11). Columns are counted from 0 here; a field that runs past the end of a
// short line reads the missing columns as blanks. Numbers accept a D exponent (Fortran
// output). Every failure leaves "file:line: reason" in the reader's error text. Not part of
// the module: the import tool reads public RINEX files with it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "base/gnss_constants.h"

namespace talverin {

constexpr int kRinexLineSize = 256;    // longest line accepted, NUL included (RINEX lines are 80)
constexpr int kRinexLabelColumn = 60;  // header labels stand in columns 60-79
constexpr int kRinexLabelWidth = 20;

// Reads a text file line by line; trailing CR/LF and blanks beyond the line end are dropped.
class RinexLineReader {
 public:
  RinexLineReader() = default;
  ~RinexLineReader();
  RinexLineReader(const RinexLineReader&) = delete;
  RinexLineReader& operator=(const RinexLineReader&) = delete;

  // 0 opened, -1 not (error text set).
  [[nodiscard]] int32_t Open(const char* path);
  // 1 a line is in line(), 0 end of file, -1 a line too long, a last line without line
  // end (a cut file) or a read error (error text set).
  [[nodiscard]] int32_t Next();
  void Close();

  const char* line() const { return line_; }
  int32_t length() const { return length_; }
  long lineNumber() const { return lineNumber_; }
  const char* path() const { return path_; }

  // Formats "path:line: " followed by the message into the error text; returns -1.
  int32_t Fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The same for a line other than the current one.
  int32_t FailAt(long lineNumber, const char* format, ...) __attribute__((format(printf, 3, 4)));
  const char* errorText() const { return errorText_; }

 private:
  FILE* file_ = nullptr;
  char path_[kPathSize] = "";
  char line_[kRinexLineSize] = "";
  int32_t length_ = 0;
  long lineNumber_ = 0;
  char errorText_[kTextSize] = "";
};

// The characters of columns [column, column + width) of line, blank beyond its end, copied
// into out (width + 1 bytes at least) with the trailing and leading blanks removed.
void RinexField(const char* line, int32_t length, int32_t column, int32_t width, char* out);

// The header label of a line (columns 60-79, trimmed), compared without regard to case.
[[nodiscard]] bool RinexLabelIs(const char* line, int32_t length, const char* label);

// Number field: false when the text is not a finite decimal number (D or E exponent
// allowed). A blank field gives true with *present false and *value 0.
[[nodiscard]] bool RinexNumber(const char* line, int32_t length, int32_t column, int32_t width,
                               double* value, bool* present);
// Integer field (optional sign, digits). A blank field gives true with *present false.
[[nodiscard]] bool RinexInteger(const char* line, int32_t length, int32_t column, int32_t width,
                                long* value, bool* present);

// GPS time of a calendar date (GPS time scale, no leap seconds): full week since
// 1980-01-06 and seconds of that week. year is four digits. false for a date before the
// GPS epoch or outside the calendar (month 1-12, day within the month, hour 0-23,
// minute 0-59, second 0 to below 61).
[[nodiscard]] bool RinexGpsTime(int32_t year, int32_t month, int32_t day, int32_t hour,
                                int32_t minute, double second, int32_t* week, double* tow_s);
// Four-digit year of a two-digit RINEX 2 year: 80-99 are 1980-1999, 00-79 are 2000-2079;
// a year of four digits is returned as it stands.
[[nodiscard]] int32_t RinexFullYear(long year);

}  // namespace talverin
