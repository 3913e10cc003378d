// Readable builders of the text files of a download set, for tests and tools: the site
// information file (S: banner, station line 3, antenna height line 6) and the event file
// (D: "C" time lines, "MI" mark lines in fixed columns, "G" feature lines with comma
// fields). Times are seconds of the GPS week, heights metres. Not part of the module.
#pragma once

#include <string>
#include <vector>

namespace talverin {

extern const char kSiteFileBanner[];  // the 63-character banner of line 1

// The six lines of a site file; each defaults to a valid block, each can be replaced.
struct SiteFileLines {
  std::string banner = kSiteFileBanner;
  std::string line2 = "RECEIVER SESSION";
  std::string line3;  // SiteStationLine(...) unless set
  std::string line4 = "ANTENNA";
  std::string line5 = "HEIGHT";
  std::string line6;  // SiteHeightLine(...) unless set
};

// Line 3: the station name and the three integers, the third the time in s of week.
std::string SiteStationLine(const std::string& name, long first, long second, long tow_s);
// Line 6: the height word ("BEFORE" for a usable file) and the height, m, 4 decimals.
std::string SiteHeightLine(const std::string& word, double height_m);
// Joins the lines with "\n" (line count lines, 1..6), each ending in a newline.
std::string SiteFileText(const SiteFileLines& lines, int lineCount = 6);

// Builder of an event file, entry by entry, in file order.
class EventFileBuilder {
 public:
  // "C" time line: the word (first character "C") and the time, s of week.
  EventFileBuilder& Time(double tow_s, const std::string& word = "C");
  // "MI" mark line: site name in columns 2-5, description in 22-29, height in 30-35,
  // each padded with blanks to its width (cut to it).
  EventFileBuilder& Mark(const std::string& site, const std::string& desc,
                         const std::string& height);
  // "G" feature line: the code and its fields joined by commas.
  EventFileBuilder& Feature(const std::string& code, const std::vector<std::string>& fields);
  // A line as given ("\n" appended unless it ends in one, or newline is false).
  EventFileBuilder& Line(const std::string& text, bool newline = true);
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// Column layout of a mark line, as the builder writes it.
constexpr size_t kMarkSiteColumn = 2;
constexpr size_t kMarkDescColumn = 22;
constexpr size_t kMarkHeightColumn = 30;
constexpr size_t kMarkLineWidth = 36;  // columns 0..35

}  // namespace talverin
