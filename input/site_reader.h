// The site information file (S): a short text file with the station entered at the start
// of an occupation. A usable site block becomes one station record of the .sta file
// (time in seconds of the GPS week) and gives the vertical antenna height (m) kept in
// the job. The file is optional: any problem leaves no record, silently; so do values no
// site file can hold (a height beyond 100 m, a time outside the week). Also holds the
// bounded whitespace-token scanners and the value limits that the site and event readers
// share. DecodeSiteFile is the decode-only entry: no job, no file written, no message.
#pragma once

#include <cstddef>

namespace talverin {

class ConversionJob;
class InputSource;

constexpr int kSiteWordSize = 64;  // a word of the site and event files: 63 characters
// An antenna height beyond this (m, either sign) stands on no tripod or pillar: damage.
constexpr double kMaxAntennaHeight_m = 100.0;

// True for a time of week a site or event file can hold: 0 to 604800 s.
[[nodiscard]] bool PlausibleTimeOfWeek(double t_s);
// True for an antenna height a site or event file can hold: within +-100 m.
[[nodiscard]] bool PlausibleAntennaHeight(double h_m);

// The usable site block of a site file.
struct SiteBlock {
  char name[kSiteWordSize];  // station name, line 3
  double tow_s;              // s of GPS week, third integer of line 3
  double height_m;           // vertical antenna height, line 6
};

// Decodes the site file at path (or the source's lines); false, with *block cleared,
// when there is none or it holds no usable block.
[[nodiscard]] bool DecodeSiteFile(const char* path, SiteBlock* block);
[[nodiscard]] bool DecodeSite(InputSource& source, SiteBlock* block);
// Writes the site block of the job's site file to its .sta file and keeps its height.
void ReadSiteFile(ConversionJob& job);

// Skips blanks and copies the next whitespace-delimited word into word (size bytes with
// its NUL), advancing text past it. 1: a word; 0: no word before the end of the text;
// -1: the word has more than size - 1 characters (text is not advanced, word is "").
[[nodiscard]] int ScanWord(const char*& text, char* word, size_t size);
// Reads a decimal integer after optional blanks, as "%ld" does; false when none.
[[nodiscard]] bool ScanLong(const char*& text, long* value);
// Reads a floating-point number after optional blanks, as "%lf" does; false when none
// or when it is not finite (no height or time in these files is infinite).
[[nodiscard]] bool ScanFiniteDouble(const char*& text, double* value);

}  // namespace talverin
