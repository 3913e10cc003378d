#include "output/station_writer.h"

#include <cstring>

#include "base/message_texts.h"
#include "base/text_buffer.h"

namespace talverin {
namespace {

// Copies a record text for printing inside double quotes: a double quote becomes a single
// quote and a control character a blank, so the field can neither end early nor break
// its line. Reads at most the field's 64 bytes even when the caller left no NUL.
void QuotableText(const char (&field)[kStationTextSize], char (&out)[kStationTextSize]) {
  const size_t length = strnlen(field, kStationTextSize - 1);
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(field[i]);
    out[i] = c == '"' ? '\'' : (c < 0x20 || c == 0x7f) ? ' ' : field[i];
  }
  out[length] = '\0';
}

}  // namespace

int32_t WriteStationRecord(FILE* file, const StationRecord& record) {
  CopyText(ModuleErrorText(), kTextSize, msg::kDiskFull);
  if (record.name[0] == '\0') {
    CopyText(ModuleErrorText(), kTextSize, msg::kMissingStationName);
    return 1;
  }
  // A stream that already lost data (a failed flush) cannot take a complete block.
  if (file == nullptr || std::ferror(file) != 0) return 1;

  char name[kStationTextSize];
  char desc[kStationTextSize];
  char remark[kStationTextSize];
  QuotableText(record.name, name);
  QuotableText(record.desc, desc);
  QuotableText(record.remark, remark);

  if (std::fprintf(file, "Sta {\n") < 0) return 1;
  if (std::fprintf(file, "\tID: \"%s\"\n", name) < 0) return 1;
  if (desc[0] != '\0' && std::fprintf(file, "\tDesc: \"%s\"\n", desc) < 0) return 1;
  if (remark[0] != '\0' && std::fprintf(file, "\tRem: \"%s\"\n", remark) < 0) return 1;
  if (std::fprintf(file, "\tGTim: %.6lf %d\n", record.time, static_cast<int>(record.week)) < 0) {
    return 1;
  }
  if (record.hiType != 0 && std::fprintf(file, "\tHi: %.4lf %s\n", record.hi,
                                         record.hiType == kHeightSlant ? "SLANT" : "VERT") < 0) {
    return 1;
  }
  if (std::fprintf(file, "}\n") < 0) return 1;
  // A buffered stream reports a full device when a flush inside one of the writes fails;
  // a later write into the emptied buffer succeeds again, so the sticky flag decides.
  return std::ferror(file) != 0 ? 1 : 0;
}

}  // namespace talverin
