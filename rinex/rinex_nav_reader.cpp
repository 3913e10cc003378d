#include "rinex/rinex_nav_reader.h"

#include <cctype>
#include <cmath>

#include "base/text_buffer.h"

namespace talverin {
namespace {

constexpr int32_t kVersionColumn = 0, kVersionWidth = 9;
constexpr int32_t kFileTypeColumn = 20;
constexpr double kMinVersion = 2.00, kMaxVersion = 2.11;
constexpr double kVersionTolerance = 1e-6;

// PRN / EPOCH / SV CLK line: I2, 5 x (1X,I2), F5.1, 3D19.12; orbit lines: 3X, 4D19.12.
constexpr int32_t kPrnWidth = 2;
constexpr int32_t kDateColumn = 2, kDateWidth = 3;
constexpr int32_t kSecondColumn = 17, kSecondWidth = 5;
constexpr int32_t kClockColumn = 22;
constexpr int32_t kOrbitColumn = 3;
constexpr int32_t kValueWidth = 19;
constexpr int32_t kOrbitLines = 7;
constexpr int32_t kValuesPerLine = 4;

// A value of the file that the record keeps as an integer: rounded to nearest, which
// also takes 352783.99999999 as the 352784 it stands for. false when beyond int32.
bool ToInt32(double value, int32_t* out) {
  if (!(value > -2147483648.5 && value < 2147483647.5)) return false;
  *out = static_cast<int32_t>(std::lround(value));
  return true;
}

// The header up to END OF HEADER: a RINEX 2.00-2.11 GPS navigation file. False after
// lines->Fail (or a read error).
bool ReadHeader(RinexLineReader* lines, double* version) {
  int32_t got = lines->Next();
  if (got <= 0) {
    if (got == 0) lines->Fail("empty file, no RINEX VERSION / TYPE line");
    return false;
  }
  if (!RinexLabelIs(lines->line(), lines->length(), "RINEX VERSION / TYPE")) {
    lines->Fail("first line is not RINEX VERSION / TYPE");
    return false;
  }
  char text[kRinexLineSize];
  bool present = false;
  RinexField(lines->line(), lines->length(), kVersionColumn, kVersionWidth, text);
  if (!RinexNumber(lines->line(), lines->length(), kVersionColumn, kVersionWidth, version,
                   &present) ||
      !present) {
    lines->Fail("version '%s' is not a number", text);
    return false;
  }
  if (*version < kMinVersion - kVersionTolerance || *version > kMaxVersion + kVersionTolerance) {
    lines->Fail("RINEX version %s is not supported (2.00 to 2.11 are read)", text);
    return false;
  }
  const char type = kFileTypeColumn < lines->length() ? lines->line()[kFileTypeColumn] : ' ';
  if (std::toupper(static_cast<unsigned char>(type)) != 'N') {
    lines->Fail("file type '%c' is not a GPS navigation file (N)", type);
    return false;
  }
  while ((got = lines->Next()) > 0) {
    if (RinexLabelIs(lines->line(), lines->length(), "END OF HEADER")) return true;
  }
  if (got == 0) lines->Fail("file ends before END OF HEADER");
  return false;
}

// The PRN / EPOCH / SV CLK line of the current line: PRN, toc and the three clock terms.
bool ReadEpochLine(RinexLineReader* lines, long* prn, double* toc_s, double clock[3]) {
  const char* line = lines->line();
  const int32_t length = lines->length();
  bool present = false;
  if (!RinexInteger(line, length, 0, kPrnWidth, prn, &present) || !present || *prn < 1 ||
      *prn > kMaxGpsPrn) {
    lines->Fail("PRN is not a GPS satellite number 1 to 32");
    return false;
  }
  long date[5] = {0, 0, 0, 0, 0};
  for (int32_t i = 0; i < 5; ++i) {
    if (!RinexInteger(line, length, kDateColumn + i * kDateWidth, kDateWidth, &date[i], &present) ||
        !present) {
      lines->Fail("epoch of PRN %ld is not a date (year month day hour minute)", *prn);
      return false;
    }
  }
  double second = 0.0;
  if (!RinexNumber(line, length, kSecondColumn, kSecondWidth, &second, &present) || !present) {
    lines->Fail("epoch second of PRN %ld is not a number", *prn);
    return false;
  }
  int32_t tocWeek = 0;
  if (!RinexGpsTime(RinexFullYear(date[0]), static_cast<int32_t>(date[1]),
                    static_cast<int32_t>(date[2]), static_cast<int32_t>(date[3]),
                    static_cast<int32_t>(date[4]), second, &tocWeek, toc_s)) {
    lines->Fail("epoch of PRN %ld is not a valid GPS date", *prn);
    return false;
  }
  for (int32_t k = 0; k < 3; ++k) {
    if (!RinexNumber(line, length, kClockColumn + k * kValueWidth, kValueWidth, &clock[k],
                     &present)) {
      lines->Fail("clock term %ld of PRN %ld is not a number", long{k + 1}, *prn);
      return false;
    }
  }
  return true;
}

// The seven orbit lines after it: orbit[4 * line + field].
bool ReadOrbitLines(RinexLineReader* lines, long recordLine, long prn, double* orbit) {
  bool present = false;
  for (int32_t l = 0; l < kOrbitLines; ++l) {
    const int32_t got = lines->Next();
    if (got <= 0) {
      if (got == 0) {
        lines->Fail("file ends inside the ephemeris record of line %ld (PRN %ld)", recordLine, prn);
      }
      return false;
    }
    for (int32_t k = 0; k < kValuesPerLine; ++k) {
      if (!RinexNumber(lines->line(), lines->length(), kOrbitColumn + k * kValueWidth, kValueWidth,
                       &orbit[l * kValuesPerLine + k], &present)) {
        lines->Fail("orbit value %ld of PRN %ld is not a number", long{k + 1}, prn);
        return false;
      }
    }
  }
  return true;
}

// The record of the values read. False when one that is kept as an integer is out of range.
bool FillRecord(RinexLineReader* lines, long recordLine, long prn, const double clock[3],
                const double* orbit, double toc_s, RinexNavRecord* record) {
  GpsEph& eph = record->eph;
  eph.prn = static_cast<int32_t>(prn);
  eph.af0 = clock[0];
  eph.af1 = clock[1];
  eph.af2 = clock[2];
  eph.crs = orbit[1];
  eph.deltaN = orbit[2];
  eph.m0 = orbit[3];
  eph.cuc = orbit[4];
  eph.e = orbit[5];
  eph.cus = orbit[6];
  eph.rootA = orbit[7];
  eph.cic = orbit[9];
  eph.omega0 = orbit[10];
  eph.cis = orbit[11];
  eph.i0 = orbit[12];
  eph.crc = orbit[13];
  eph.omega = orbit[14];
  eph.omegaDot = orbit[15];
  eph.iDot = orbit[16];
  record->accuracy_m = orbit[20];
  eph.tgd = orbit[22];
  record->fitInterval_h = orbit[25];
  const double toc = std::floor(toc_s + 0.5);
  const struct {
    double value;
    int32_t* target;
    const char* name;
  } integers[] = {{orbit[0], &eph.iode, "IODE"},  {orbit[8], &eph.toe, "toe"},
                  {orbit[18], &eph.week, "week"}, {orbit[21], &record->health, "health"},
                  {orbit[23], &eph.iodc, "IODC"}, {orbit[24], &eph.tow, "transmission time"},
                  {toc, &eph.toc, "toc"}};
  for (const auto& item : integers) {
    if (!ToInt32(item.value, item.target)) {
      lines->FailAt(recordLine, "%s of PRN %ld is out of range", item.name, prn);
      return false;
    }
  }
  record->line = recordLine;
  return true;
}

}  // namespace

int32_t ReadRinexNav(const char* path, RinexNavFile* out, char* errorText) {
  RinexLineReader lines;
  out->records.clear();
  out->version = 0.0;
  bool ok = lines.Open(path) == 0 && ReadHeader(&lines, &out->version);
  int32_t got = 0;
  while (ok && (got = lines.Next()) > 0) {
    if (lines.length() == 0) continue;
    const long recordLine = lines.lineNumber();
    long prn = 0;
    double toc_s = 0.0, clock[3] = {};
    double orbit[kOrbitLines * kValuesPerLine] = {};
    RinexNavRecord record;
    ok = ReadEpochLine(&lines, &prn, &toc_s, clock) &&
         ReadOrbitLines(&lines, recordLine, prn, orbit) &&
         FillRecord(&lines, recordLine, prn, clock, orbit, toc_s, &record);
    if (ok) out->records.push_back(record);
  }
  if (ok && got == 0) return 0;
  CopyText(errorText, kTextSize, lines.errorText());
  return -1;
}

}  // namespace talverin
