#include "base/message_texts.h"

#include <cstring>

#include "base/gnss_constants.h"

namespace talverin {
namespace {

enum class Span { kText, kNumber, kChar };

// Characters printf can give for a numeric conversion: digits, signs, a point, exponents,
// hexadecimal digits and prefix, "inf" and "nan".
bool NumberChar(char c) {
  return c != '\0' && std::strchr("0123456789+-.abcdefABCDEFxXinIN", c) != nullptr;
}

// Skips a conversion after its '%': flags, width, precision, length, conversion letter.
const char* SkipConversion(const char* f, Span* span) {
  while (*f != '\0' && std::strchr("-+ #0", *f) != nullptr) ++f;
  while (*f >= '0' && *f <= '9') ++f;
  if (*f == '.') {
    ++f;
    while (*f >= '0' && *f <= '9') ++f;
  }
  while (*f != '\0' && std::strchr("hlLqjzt", *f) != nullptr) ++f;
  *span = *f == 's' ? Span::kText : *f == 'c' ? Span::kChar : Span::kNumber;
  return *f != '\0' ? f + 1 : f;
}

// Whether text can be what format printed. A text cut at the callback's 511 characters
// matches a format that goes on beyond it.
bool Matches(const char* f, const char* t, bool cut) {
  for (;;) {
    if (*t == '\0' && cut) return true;
    if (*f == '\0') return *t == '\0';
    if (*f != '%' || f[1] == '%') {
      if (*t != *f) return false;
      f += *f == '%' ? 2 : 1;
      ++t;
      continue;
    }
    Span span;
    const char* rest = SkipConversion(f + 1, &span);
    if (span == Span::kChar) {
      if (*t == '\0') return false;
      f = rest;
      ++t;
      continue;
    }
    // Try every length the conversion could have printed, shortest first.
    size_t length = span == Span::kText ? 0 : 1;
    const size_t available = std::strlen(t);
    for (;; ++length) {
      if (length > available) return false;
      if (span == Span::kNumber && !NumberChar(t[length - 1])) return false;
      if (Matches(rest, t + length, cut)) return true;
    }
  }
}

int LiteralLength(const char* f) {
  int n = 0;
  while (*f != '\0') {
    if (*f == '%' && f[1] != '%') {
      Span span;
      f = SkipConversion(f + 1, &span);
    } else {
      f += *f == '%' ? 2 : 1;
      ++n;
    }
  }
  return n;
}

// LiteralLength of every row, counted once: a conversion matches each of its messages.
struct LiteralLengths {
  int of[kMessageTextCount];
  LiteralLengths() {
    for (int i = 0; i < kMessageTextCount; ++i) of[i] = LiteralLength(kMessageTexts[i].format);
  }
};

}  // namespace

const MessageText* FindMessageText(const char* text) {
  if (text == nullptr) return nullptr;
  static const LiteralLengths lengths;
  const bool cut = strnlen(text, kTextSize) >= static_cast<size_t>(kTextSize - 1);
  const MessageText* best = nullptr;
  int bestLiterals = -1;
  for (int i = 0; i < kMessageTextCount; ++i) {
    const MessageText& row = kMessageTexts[i];
    const int literals = lengths.of[i];
    if (literals > bestLiterals && Matches(row.format, text, cut)) {
      best = &row;
      bestLiterals = literals;
    }
  }
  return best;
}

MessageLevel LevelOfMessage(const char* text) {
  const MessageText* row = FindMessageText(text);
  return row != nullptr ? row->level : MessageLevel::kWarning;
}

const char* MessageLevelName(MessageLevel level) {
  switch (level) {
    case MessageLevel::kError:
      return "error";
    case MessageLevel::kWarning:
      return "warning";
    case MessageLevel::kInfo:
      return "info";
  }
  return "warning";
}

}  // namespace talverin
