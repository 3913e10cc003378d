// The catalog of module texts: every text a module source sends comes from it (no literal
// is formatted into a message buffer anywhere else), and a received text is traced back to
// its row and level, also when the callback cut it.
#include "base/message_texts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "base/gnss_constants.h"
#include "dataset/byte_builder.h"

namespace talverin {
namespace {

// Sinks: the job's and the engine's senders, and formatting or copying into one of the
// buffers that reach the host. A call's arguments (after the buffer) run to the end of its
// statement.
TEST(ModuleTexts, EveryTextTheModuleSendsComesFromTheCatalog) {
  const std::regex comment(R"(//[^\n]*|/\*.*?\*/)");
  const std::regex call(
      R"(\b(?:(?:Report(?:Error)?|Send(?:Message|ModuleError)?)\s*\(|(?:FormatTextV?|CopyText))"
      R"(\s*\(\s*(?:ModuleErrorText\(\)|errorText_|(?:job\.)?messageBuffer)\s*,)([^;]*))");
  int sinks = 0;
  std::string literals;
  for (const char* folder :
       {"base", "plugin", "input", "output", "time", "orbit", "position", "geodesy"}) {
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(TALVERIN_SOURCE_DIR) / folder)) {
      // The GPB reader serves the tools; its texts never reach a host.
      const std::string name = entry.path().filename().string();
      if (entry.path().extension() != ".cpp" || name == "gpb_reader.cpp") continue;
      const std::string code = std::regex_replace(ReadFileText(entry.path().string()), comment, "");
      for (std::sregex_iterator m(code.begin(), code.end(), call), end; m != end; ++m) {
        ++sinks;
        if (m->str(1).find('"') != std::string::npos) literals += name + ": " + m->str() + "\n";
      }
    }
  }
  EXPECT_EQ("", literals) << "texts sent outside base/message_texts.h";
  EXPECT_GT(sinks, kMessageTextCount) << "the scan found too few message calls to mean anything";
}

// Each row, printed with stand-in values, is traced back to that very row (so no format is
// in the catalog twice, and no shorter format swallows a longer one). Received texts: one per
// level, a text cut by the callback's 511 characters before its closing blank, and one longer than
// its row.
TEST(ModuleTexts, EveryCatalogTextAndEveryReceivedTextIsFoundAgainWithItsLevel) {
  const std::regex text(R"(%(\.[0-9]+)?s)");
  const std::regex number(R"(%[-+ #0]*[0-9]*(\.[0-9]+)?(hh|h|ll|l|L)?[diouxXeEfg])");
  for (const MessageText& row : kMessageTexts) {
    const std::string printed =
        std::regex_replace(std::regex_replace(row.format, text, "a b"), number, "-7.5");
    EXPECT_EQ(&row, FindMessageText(printed.c_str())) << printed;
  }
  const struct {
    std::string text;
    const char* format;  // nullptr: no catalog row
    MessageLevel level;
  } cases[] = {
      {"GPS Ephemeris loaded for PRN 5, Health OK", msg::kGpsEphemerisHealthy, MessageLevel::kInfo},
      {"ERROR - Eph PRN 3 toe 172800 in /a b/E.162: m0 is -nan, record not used",
       msg::kEphemerisNotFinite, MessageLevel::kWarning},
      {("Could not open STA FILE /data/" + std::string(500, 'p')).substr(0, kTextSize - 1),
       msg::kUnableToOpenSta, MessageLevel::kError},
      {"PRN 12 had large C/A residual (153.2 m) and more", nullptr, MessageLevel::kWarning},
  };
  for (const auto& c : cases) {
    const MessageText* found = FindMessageText(c.text.c_str());
    EXPECT_STREQ(c.format, found != nullptr ? found->format : nullptr) << c.text;
    EXPECT_EQ(c.level, LevelOfMessage(c.text.c_str())) << c.text;
  }
}

}  // namespace
}  // namespace talverin
