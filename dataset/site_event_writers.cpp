#include "dataset/site_event_writers.h"

#include <cstdio>

namespace talverin {
namespace {

// The text cut or padded with blanks to exactly width characters.
std::string Column(const std::string& text, size_t width) {
  std::string out = text.substr(0, width);
  out.resize(width, ' ');
  return out;
}

}  // namespace

const char kSiteFileBanner[] = "************ SITE INFORMATION *********************************";

std::string SiteStationLine(const std::string& name, long first, long second, long tow_s) {
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, " %ld %ld %ld", first, second, tow_s);
  return name + numbers;
}

std::string SiteHeightLine(const std::string& word, double height_m) {
  char number[64];
  std::snprintf(number, sizeof number, " %.4f", height_m);
  return word + number;
}

std::string SiteFileText(const SiteFileLines& lines, int lineCount) {
  const std::string all[6] = {
      lines.banner,
      lines.line2,
      lines.line3.empty() ? SiteStationLine("ABCD", 1, 2, 345600) : lines.line3,
      lines.line4,
      lines.line5,
      lines.line6.empty() ? SiteHeightLine("BEFORE", 1.543) : lines.line6};
  std::string text;
  for (int i = 0; i < lineCount && i < 6; ++i) text += all[i] + "\n";
  return text;
}

EventFileBuilder& EventFileBuilder::Time(double tow_s, const std::string& word) {
  char number[64];
  std::snprintf(number, sizeof number, " %.3f", tow_s);
  text_ += word + number + "\n";
  return *this;
}

EventFileBuilder& EventFileBuilder::Mark(const std::string& site, const std::string& desc,
                                         const std::string& height) {
  constexpr size_t kSiteWidth = 4;
  std::string line = "MI";
  line += Column(site, kSiteWidth);
  line += Column("", kMarkDescColumn - kMarkSiteColumn - kSiteWidth);
  line += Column(desc, kMarkHeightColumn - kMarkDescColumn);
  line += Column(height, kMarkLineWidth - kMarkHeightColumn);
  text_ += line + "\n";
  return *this;
}

EventFileBuilder& EventFileBuilder::Feature(const std::string& code,
                                            const std::vector<std::string>& fields) {
  std::string line = code;
  for (const std::string& field : fields) line += "," + field;
  text_ += line + "\n";
  return *this;
}

EventFileBuilder& EventFileBuilder::Line(const std::string& text, bool newline) {
  text_ += text;
  if (newline && (text.empty() || text.back() != '\n')) text_ += "\n";
  return *this;
}

}  // namespace talverin
