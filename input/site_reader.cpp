#include "input/site_reader.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/file_identity.h"
#include "base/gnss_constants.h"
#include "base/text_buffer.h"
#include "input/input_source.h"
#include "job/conversion_job.h"
#include "output/station_writer.h"

namespace talverin {
namespace {

constexpr char kSiteBanner[] = "************ SITE INFORMATION *********************************";
constexpr char kHeightWord[] = "BEFORE";  // line 6: the vertical height before the session
constexpr char kSiteDesc[] = "Site file";
constexpr char kSiteRemark[] = "Before";
constexpr int kLineBufferSize = 256;
constexpr int kLineReadSize = 250;  // one read takes at most 249 characters

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Reads the next line (or the next 249-character piece of a longer one); false at the end.
bool ReadLine(InputSource& file, char* line) { return file.ReadLine(line, kLineReadSize); }

// Lines 1 to 6 of the site file; false at the first missing line, mismatch or short parse.
bool ParseSiteBlock(InputSource& file, char* line, SiteBlock& block) {
  if (!ReadLine(file, line)) return false;
  if (std::strncmp(line, kSiteBanner, sizeof kSiteBanner - 1) != 0) return false;
  if (!ReadLine(file, line) || !ReadLine(file, line)) return false;  // line 2 is not used

  const char* cursor = line;
  long first = 0;
  long second = 0;
  long tow = 0;
  if (ScanWord(cursor, block.name, sizeof block.name) != 1) return false;
  if (!ScanLong(cursor, &first) || !ScanLong(cursor, &second) || !ScanLong(cursor, &tow)) {
    return false;
  }
  block.tow_s = static_cast<double>(tow);
  if (!PlausibleTimeOfWeek(block.tow_s)) return false;

  for (int skipped = 0; skipped < 2; ++skipped) {  // lines 4 and 5 are not used
    if (!ReadLine(file, line)) return false;
  }
  if (!ReadLine(file, line)) return false;
  cursor = line;
  char word[kSiteWordSize];
  if (ScanWord(cursor, word, sizeof word) != 1) return false;
  if (!ScanFiniteDouble(cursor, &block.height_m)) return false;
  if (!PlausibleAntennaHeight(block.height_m)) return false;
  return std::strcmp(word, kHeightWord) == 0;
}

}  // namespace

bool PlausibleTimeOfWeek(double t_s) { return t_s >= 0.0 && t_s <= kSecondsPerWeek; }

bool PlausibleAntennaHeight(double h_m) { return std::fabs(h_m) <= kMaxAntennaHeight_m; }

int ScanWord(const char*& text, char* word, size_t size) {
  if (size == 0) return -1;
  word[0] = '\0';
  const char* p = text;
  while (*p != '\0' && IsBlank(*p)) ++p;
  if (*p == '\0') return 0;
  size_t length = 0;
  while (p[length] != '\0' && !IsBlank(p[length])) {
    if (length + 1 >= size) return -1;
    ++length;
  }
  std::memcpy(word, p, length);
  word[length] = '\0';
  text = p + length;
  return 1;
}

bool ScanLong(const char*& text, long* value) {
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 10);
  if (end == text) return false;
  *value = parsed;
  text = end;
  return true;
}

bool ScanFiniteDouble(const char*& text, double* value) {
  char* end = nullptr;
  const double parsed = std::strtod(text, &end);
  if (end == text || !std::isfinite(parsed)) return false;
  *value = parsed;
  text = end;
  return true;
}

bool DecodeSite(InputSource& source, SiteBlock* block) {
  char line[kLineBufferSize] = "";
  *block = SiteBlock{};
  if (ParseSiteBlock(source, line, *block)) return true;
  *block = SiteBlock{};
  return false;
}

bool DecodeSiteFile(const char* path, SiteBlock* block) {
  InputSource source;
  if (!source.Open(path, "r")) {
    *block = SiteBlock{};
    return false;
  }
  return DecodeSite(source, block);
}

void ReadSiteFile(ConversionJob& job) {
  if (job.staFile == nullptr) return;
  SiteBlock block;
  if (!DecodeSiteFile(job.sitePath, &block)) return;
  StationRecord& record = job.station;
  record = StationRecord{};
  record.type = kStationTypeSta;
  CopyText(record.name, sizeof record.name, block.name);
  CopyText(record.desc, sizeof record.desc, kSiteDesc);
  CopyText(record.remark, sizeof record.remark, kSiteRemark);
  record.timeType = kTimeTypeGps;
  record.time = block.tow_s;
  record.hiType = kHeightVertical;
  record.hi = block.height_m;
  if (WriteStationRecord(job.staFile, record) == 0) ++job.stationsWritten;
  job.antennaHeight = block.height_m;
}

}  // namespace talverin
