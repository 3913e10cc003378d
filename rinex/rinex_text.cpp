#include "rinex/rinex_text.h"

#include "dataset/gps_calendar.h"

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "base/text_buffer.h"

namespace talverin {
RinexLineReader::~RinexLineReader() { Close(); }

int32_t RinexLineReader::Open(const char* path) {
  Close();
  CopyText(path_, sizeof path_, path);
  lineNumber_ = 0;
  length_ = 0;
  line_[0] = '\0';
  file_ = std::fopen(path, "rb");
  if (file_ == nullptr) {
    FormatText(errorText_, "%s: cannot be opened", path_);
    return -1;
  }
  return 0;
}

void RinexLineReader::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

int32_t RinexLineReader::Next() {
  if (file_ == nullptr) return 0;
  int32_t n = 0;
  int c = std::getc(file_);
  if (c == EOF) return std::ferror(file_) ? Fail("read error") : 0;
  ++lineNumber_;
  while (c != EOF && c != '\n') {
    if (n >= kRinexLineSize - 1) {
      return Fail("line longer than %d characters", kRinexLineSize - 1);
    }
    // A NUL inside a damaged line would cut every later field: read it as a blank.
    line_[n++] = c == '\0' ? ' ' : static_cast<char>(c);
    c = std::getc(file_);
  }
  if (c == EOF && std::ferror(file_)) return Fail("read error");
  // Every line of a whole file ends in a line end: without one the last values may be cut
  // in the middle of a number, which would read as a different number.
  if (c == EOF && n > 0) return Fail("last line has no line end: the file is cut");
  while (n > 0 && (line_[n - 1] == '\r' || line_[n - 1] == ' ')) --n;
  line_[n] = '\0';
  length_ = n;
  return 1;
}

int32_t RinexLineReader::Fail(const char* format, ...) {
  char reason[kTextSize];
  va_list args;
  va_start(args, format);
  FormatTextV(reason, format, args);
  va_end(args);
  FormatText(errorText_, "%s:%ld: %s", path_, lineNumber_, reason);
  return -1;
}

int32_t RinexLineReader::FailAt(long lineNumber, const char* format, ...) {
  char reason[kTextSize];
  va_list args;
  va_start(args, format);
  FormatTextV(reason, format, args);
  va_end(args);
  FormatText(errorText_, "%s:%ld: %s", path_, lineNumber, reason);
  return -1;
}

void RinexField(const char* line, int32_t length, int32_t column, int32_t width, char* out) {
  int32_t n = 0;
  for (int32_t i = column; i < column + width && i < length; ++i) out[n++] = line[i];
  while (n > 0 && out[n - 1] == ' ') --n;
  out[n] = '\0';
  int32_t lead = 0;
  while (out[lead] == ' ') ++lead;
  if (lead > 0) std::memmove(out, out + lead, static_cast<size_t>(n - lead + 1));
}

bool RinexLabelIs(const char* line, int32_t length, const char* label) {
  char found[kRinexLabelWidth + 1];
  RinexField(line, length, kRinexLabelColumn, kRinexLabelWidth, found);
  size_t i = 0;
  for (; found[i] != '\0' && label[i] != '\0'; ++i) {
    if (std::toupper(static_cast<unsigned char>(found[i])) !=
        std::toupper(static_cast<unsigned char>(label[i]))) {
      return false;
    }
  }
  return found[i] == '\0' && label[i] == '\0';
}

bool RinexNumber(const char* line, int32_t length, int32_t column, int32_t width, double* value,
                 bool* present) {
  char text[kRinexLineSize];
  *value = 0.0;
  *present = false;
  if (width <= 0 || width >= kRinexLineSize) return false;
  RinexField(line, length, column, width, text);
  if (text[0] == '\0') return true;
  bool digit = false;
  for (char* p = text; *p != '\0'; ++p) {
    const char c = *p;
    if (c == 'D' || c == 'd') *p = 'E';
    if (std::isdigit(static_cast<unsigned char>(c))) digit = true;
    // Only plain decimal notation: strtod would also take "inf", "nan" and hex floats.
    if (!std::isdigit(static_cast<unsigned char>(c)) && std::strchr("+-.EeDd", c) == nullptr) {
      return false;
    }
  }
  if (!digit) return false;
  char* end = nullptr;
  const double parsed = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(parsed)) return false;
  *value = parsed;
  *present = true;
  return true;
}

bool RinexInteger(const char* line, int32_t length, int32_t column, int32_t width, long* value,
                  bool* present) {
  char text[kRinexLineSize];
  *value = 0;
  *present = false;
  if (width <= 0 || width >= kRinexLineSize) return false;
  RinexField(line, length, column, width, text);
  if (text[0] == '\0') return true;
  const char* p = text;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p == '\0') return false;
  long result = 0;
  for (; *p != '\0'; ++p) {
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    if (result > 100000000L) return false;  // wider than any RINEX integer field
    result = result * 10 + (*p - '0');
  }
  *value = negative ? -result : result;
  *present = true;
  return true;
}

bool RinexGpsTime(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                  double second, int32_t* week, double* tow_s) {
  CalendarTime c;
  c.year = year;
  c.month = month;
  c.day = day;
  c.hour = hour;
  c.minute = minute;
  c.second = second;
  return CalendarToGps(c, week, tow_s);
}

int32_t RinexFullYear(long year) {
  if (year >= 100 || year < 0)
    return static_cast<int32_t>(year < 0 ? -1 : (year > 9999 ? 9999 : year));
  return FullYearOfTwoDigits(static_cast<int32_t>(year));
}

}  // namespace talverin
