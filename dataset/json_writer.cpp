#include "dataset/json_writer.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace talverin {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void JsonMembers::Name(const char* name) {
  if (!text_.empty()) text_ += ", ";
  text_ += JsonString(name) + ": ";
}

JsonMembers& JsonMembers::Text(const char* name, const std::string& value) {
  Name(name);
  text_ += JsonString(value);
  return *this;
}

JsonMembers& JsonMembers::Integer(const char* name, int64_t value) {
  Name(name);
  text_ += std::to_string(value);
  return *this;
}

std::string JsonNumber(double value, int decimals) {
  if (!std::isfinite(value)) return "null";
  char number[400];  // %f of the largest double: 309 digits and the decimals
  std::snprintf(number, sizeof number, "%.*f", decimals, value);
  // A value that rounds to zero has no sign: "-0.000" would only tell on which side of zero
  // the last bits of a computation fell, and that differs between platforms' math libraries.
  if (number[0] == '-' && std::strspn(number + 1, "0.") == std::strlen(number + 1)) {
    return number + 1;
  }
  return number;
}

std::string JsonArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i > 0 ? ", " : "") + items[i];
  return out + "]";
}

JsonMembers& JsonMembers::Number(const char* name, double value, int decimals, bool exists) {
  Name(name);
  text_ += exists ? JsonNumber(value, decimals) : "null";
  return *this;
}

JsonMembers& JsonMembers::Boolean(const char* name, bool value) {
  Name(name);
  text_ += value ? "true" : "false";
  return *this;
}

JsonMembers& JsonMembers::Raw(const char* name, const std::string& value) {
  Name(name);
  text_ += value;
  return *this;
}

}  // namespace talverin
