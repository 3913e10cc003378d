// Minimal JSON text for the --json outputs of every command and the QC page's data: object
// members built one by one, strings escaped (quotes, backslashes, control characters as
// \u00XX), numbers printed finite or as null. No parser: the tests read the files back with
// a real one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talverin {

// A JSON string literal, quotes included.
[[nodiscard]] std::string JsonString(const std::string& text);
// A number with decimals digits after the point; null when not finite.
[[nodiscard]] std::string JsonNumber(double value, int decimals);
// "[a, b]" of items that are JSON texts already.
[[nodiscard]] std::string JsonArray(const std::vector<std::string>& items);

// The members of one object, without its braces: "\"a\": 1, \"b\": \"x\"".
class JsonMembers {
 public:
  JsonMembers& Text(const char* name, const std::string& value);
  JsonMembers& Integer(const char* name, int64_t value);
  // decimals: digits after the point; a value that is not finite, or one that does not
  // exist, gives null.
  JsonMembers& Number(const char* name, double value, int decimals, bool exists = true);
  JsonMembers& Boolean(const char* name, bool value);
  // value: JSON text as it stands (an object, an array, null).
  JsonMembers& Raw(const char* name, const std::string& value);

  const std::string& text() const { return text_; }
  std::string Object() const { return "{" + text_ + "}"; }

 private:
  void Name(const char* name);
  std::string text_;
};

}  // namespace talverin
