// Minimal JSON text for the command line's --json outputs: object members built one by one,
// strings escaped (quotes, backslashes, control characters as \u00XX), numbers printed
// finite or as null. No parser: the tests read the files back with a real one.
#pragma once

#include <cstdint>
#include <string>

namespace talverin_cli {

// A JSON string literal, quotes included.
std::string JsonString(const std::string& text);

// The members of one object, without its braces: "\"a\": 1, \"b\": \"x\"".
class JsonMembers {
 public:
  JsonMembers& Text(const char* name, const std::string& value);
  JsonMembers& Integer(const char* name, int64_t value);
  // decimals: digits after the point; a value that is not finite gives null.
  JsonMembers& Number(const char* name, double value, int decimals);
  JsonMembers& Boolean(const char* name, bool value);
  // value: JSON text as it stands (an object, an array, null).
  JsonMembers& Raw(const char* name, const std::string& value);

  const std::string& text() const { return text_; }
  std::string Object() const { return "{" + text_ + "}"; }

 private:
  void Name(const char* name);
  std::string text_;
};

}  // namespace talverin_cli
