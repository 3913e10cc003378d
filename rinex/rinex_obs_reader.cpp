#include "rinex/rinex_obs_reader.h"

#include <cctype>
#include <cstring>

namespace talverin {
namespace {

// Columns (from 0) of the RINEX 2 header and epoch lines.
constexpr int32_t kVersionColumn = 0, kVersionWidth = 9;
constexpr int32_t kFileTypeColumn = 20;
constexpr int32_t kSystemColumn = 40;
constexpr int32_t kReceiverTypeColumn = 20, kReceiverTypeWidth = 20;
constexpr int32_t kXyzWidth = 14;
constexpr int32_t kIntervalWidth = 10;
constexpr int32_t kTypeCountWidth = 6;
constexpr int32_t kTypesPerLine = 9;
constexpr int32_t kTypeFirstColumn = 10;  // 6X on the count, then (4X,A2) per type
constexpr int32_t kTypeStride = 6;
constexpr int32_t kTimeSystemColumn = 48, kTimeSystemWidth = 3;

constexpr int32_t kEpochYearColumn = 0, kEpochFieldWidth = 3;  // I3 year, then 5 x I3
constexpr int32_t kEpochSecondColumn = 15, kEpochSecondWidth = 11;
constexpr int32_t kEpochFlagColumn = 26;
constexpr int32_t kEpochCountColumn = 29;
constexpr int32_t kEpochSatColumn = 32;
constexpr int32_t kEpochSatWidth = 3;
constexpr int32_t kEpochClockColumn = 68, kEpochClockWidth = 12;

constexpr double kMinVersion = 2.00, kMaxVersion = 2.11;
constexpr double kVersionTolerance = 1e-6;

RinexObsCode CodeOf(const char* text) {
  static const struct {
    const char* text;
    RinexObsCode code;
  } kCodes[] = {{"C1", kObsC1}, {"P1", kObsP1}, {"L1", kObsL1}, {"D1", kObsD1}, {"S1", kObsS1},
                {"C2", kObsC2}, {"P2", kObsP2}, {"L2", kObsL2}, {"D2", kObsD2}, {"S2", kObsS2}};
  for (const auto& entry : kCodes) {
    if (std::strcmp(entry.text, text) == 0) return entry.code;
  }
  return kObsOther;
}

bool DigitOrBlank(char c, uint8_t* value) {
  if (c == ' ') {
    *value = 0;
    return true;
  }
  if (c < '0' || c > '9') return false;
  *value = static_cast<uint8_t>(c - '0');
  return true;
}

}  // namespace

int32_t RinexObsReader::Open(const char* path) {
  header_ = RinexObsHeader();
  typesLeft_ = 0;
  eventRecords_ = 0;
  slipRecords_ = 0;
  for (int32_t& index : header_.typeIndex) index = -1;
  if (lines_.Open(path) != 0) return -1;

  const int32_t first = lines_.Next();
  if (first < 0) return -1;
  if (first == 0) return lines_.Fail("empty file, no RINEX VERSION / TYPE line");
  const char* line = lines_.line();
  const int32_t length = lines_.length();
  if (!RinexLabelIs(line, length, "RINEX VERSION / TYPE")) {
    return lines_.Fail("first line is not RINEX VERSION / TYPE");
  }
  char text[kRinexLineSize];
  RinexField(line, length, kVersionColumn, kVersionWidth, text);
  bool present = false;
  if (!RinexNumber(line, length, kVersionColumn, kVersionWidth, &header_.version, &present) ||
      !present) {
    return lines_.Fail("version '%s' is not a number", text);
  }
  if (header_.version < kMinVersion - kVersionTolerance ||
      header_.version > kMaxVersion + kVersionTolerance) {
    return lines_.Fail("RINEX version %s is not supported (2.00 to 2.11 are read)", text);
  }
  const char type = kFileTypeColumn < length ? line[kFileTypeColumn] : ' ';
  if (std::toupper(static_cast<unsigned char>(type)) != 'O') {
    return lines_.Fail("file type '%c' is not an observation file (O)", type);
  }
  const char system = static_cast<char>(
      std::toupper(static_cast<unsigned char>(kSystemColumn < length ? line[kSystemColumn] : ' ')));
  if (system != ' ' && system != 'G' && system != 'M') {
    return lines_.Fail("satellite system '%c' has no GPS observations", system);
  }
  header_.system = system == ' ' ? 'G' : system;

  bool end = false;
  while (!end) {
    const int32_t got = lines_.Next();
    if (got < 0) return -1;
    if (got == 0) return lines_.Fail("file ends before END OF HEADER");
    if (ReadHeaderLine(false, &end) != 0) return -1;
  }
  header_.endOfHeaderLine = lines_.lineNumber();
  if (typesLeft_ > 0) return lines_.Fail("# / TYPES OF OBSERV misses %ld types", long{typesLeft_});
  if (header_.typeCount == 0) return lines_.Fail("header has no # / TYPES OF OBSERV line");
  if (!header_.hasApproxPosition) return lines_.Fail("header has no APPROX POSITION XYZ line");
  if (!header_.hasAntennaDelta) return lines_.Fail("header has no ANTENNA: DELTA H/E/N line");
  return 0;
}

int32_t RinexObsReader::ReadHeaderLine(bool inEvent, bool* end) {
  const char* line = lines_.line();
  const int32_t length = lines_.length();
  bool present = false;
  if (typesLeft_ > 0 && !RinexLabelIs(line, length, "# / TYPES OF OBSERV")) {
    return lines_.Fail("# / TYPES OF OBSERV misses %ld types", long{typesLeft_});
  }
  if (RinexLabelIs(line, length, "END OF HEADER")) {
    *end = !inEvent;
  } else if (RinexLabelIs(line, length, "MARKER NAME")) {
    RinexField(line, length, 0, kRinexLabelColumn, header_.markerName);
    header_.hasMarkerName = true;
  } else if (RinexLabelIs(line, length, "REC # / TYPE / VERS")) {
    RinexField(line, length, kReceiverTypeColumn, kReceiverTypeWidth, header_.receiverType);
  } else if (RinexLabelIs(line, length, "APPROX POSITION XYZ")) {
    for (int32_t i = 0; i < 3; ++i) {
      if (!RinexNumber(line, length, i * kXyzWidth, kXyzWidth, &header_.approx_ecef_m[i],
                       &present) ||
          !present) {
        return lines_.Fail("APPROX POSITION XYZ: coordinate %ld is not a number", long{i + 1});
      }
    }
    header_.hasApproxPosition = true;
  } else if (RinexLabelIs(line, length, "ANTENNA: DELTA H/E/N")) {
    if (!RinexNumber(line, length, 0, kXyzWidth, &header_.antennaDeltaH_m, &present) || !present) {
      return lines_.Fail("ANTENNA: DELTA H/E/N: height is not a number");
    }
    header_.hasAntennaDelta = true;
  } else if (RinexLabelIs(line, length, "INTERVAL")) {
    if (!RinexNumber(line, length, 0, kIntervalWidth, &header_.interval_s, &present)) {
      return lines_.Fail("INTERVAL is not a number");
    }
  } else if (RinexLabelIs(line, length, "# / TYPES OF OBSERV")) {
    return ReadTypes();
  } else if (RinexLabelIs(line, length, "TIME OF FIRST OBS")) {
    char system[kTimeSystemWidth + 1];
    RinexField(line, length, kTimeSystemColumn, kTimeSystemWidth, system);
    for (char* p = system; *p != '\0'; ++p) *p = static_cast<char>(std::toupper(*p));
    if (system[0] != '\0' && std::strcmp(system, "GPS") != 0) {
      return lines_.Fail("time system %s is not GPS", system);
    }
  } else if (length <= kRinexLabelColumn && !inEvent) {
    return lines_.Fail("header line has no label in columns 61-80");
  }
  return 0;
}

int32_t RinexObsReader::ReadTypes() {
  const char* line = lines_.line();
  const int32_t length = lines_.length();
  long count = 0;
  bool present = false;
  if (!RinexInteger(line, length, 0, kTypeCountWidth, &count, &present)) {
    return lines_.Fail("# / TYPES OF OBSERV: count is not a number");
  }
  if (typesLeft_ == 0) {
    // A new list (the header's, or one that an event record brings) replaces the old one.
    if (!present || count < 1 || count > kRinexMaxObsTypes) {
      return lines_.Fail("# / TYPES OF OBSERV: count must be 1 to %d", kRinexMaxObsTypes);
    }
    header_.typeCount = 0;
    for (int32_t& index : header_.typeIndex) index = -1;
    typesLeft_ = static_cast<int32_t>(count);
  } else if (present) {
    return lines_.Fail("# / TYPES OF OBSERV misses %ld types", long{typesLeft_});
  }
  for (int32_t k = 0; k < kTypesPerLine && typesLeft_ > 0; ++k) {
    char code[3];
    RinexField(line, length, kTypeFirstColumn + k * kTypeStride, 2, code);
    if (std::strlen(code) != 2) {
      return lines_.Fail("# / TYPES OF OBSERV: type %ld is missing", long{header_.typeCount + 1});
    }
    for (char& c : code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::memcpy(header_.typeText[header_.typeCount], code, sizeof code);
    const RinexObsCode known = CodeOf(code);
    if (known != kObsOther && header_.typeIndex[known] < 0) {
      header_.typeIndex[known] = header_.typeCount;
    }
    ++header_.typeCount;
    --typesLeft_;
  }
  return 0;
}

int32_t RinexObsReader::ReadEpoch(RinexObsEpoch* epoch) {
  for (;;) {
    const int32_t got = lines_.Next();
    if (got <= 0) return got;
    const char* line = lines_.line();
    const int32_t length = lines_.length();
    if (length == 0) continue;  // blank lines between records carry nothing
    const long epochLine = lines_.lineNumber();

    long flag = 0, count = 0;
    bool present = false;
    if (!RinexInteger(line, length, kEpochFlagColumn, kEpochFieldWidth, &flag, &present)) {
      return lines_.Fail("epoch flag is not a number");
    }
    if (flag < 0 || flag > 6) return lines_.Fail("epoch flag %ld is not 0 to 6", flag);
    if (!RinexInteger(line, length, kEpochCountColumn, kEpochFieldWidth, &count, &present) ||
        count < 0) {
      return lines_.Fail("epoch satellite or record count is not a number");
    }
    if (flag >= 2 && flag <= 5) {
      ++eventRecords_;
      if (ReadEventLines(epochLine, count) != 0) return -1;
      continue;
    }

    long fields[5] = {0, 0, 0, 0, 0};
    for (int32_t i = 0; i < 5; ++i) {
      if (!RinexInteger(line, length, kEpochYearColumn + i * kEpochFieldWidth, kEpochFieldWidth,
                        &fields[i], &present) ||
          !present) {
        return lines_.Fail("epoch time is not a date (year month day hour minute)");
      }
    }
    double second = 0.0;
    if (!RinexNumber(line, length, kEpochSecondColumn, kEpochSecondWidth, &second, &present) ||
        !present) {
      return lines_.Fail("epoch second is not a number");
    }
    epoch->year = RinexFullYear(fields[0]);
    epoch->month = static_cast<int32_t>(fields[1]);
    epoch->day = static_cast<int32_t>(fields[2]);
    epoch->hour = static_cast<int32_t>(fields[3]);
    epoch->minute = static_cast<int32_t>(fields[4]);
    epoch->second = second;
    if (!RinexGpsTime(epoch->year, epoch->month, epoch->day, epoch->hour, epoch->minute, second,
                      &epoch->week, &epoch->tow_s)) {
      return lines_.Fail("epoch time %02ld %02ld %02ld %02ld %02ld %.7f is not a valid GPS date",
                         fields[0], fields[1], fields[2], fields[3], fields[4], second);
    }
    epoch->flag = static_cast<int32_t>(flag);
    epoch->line = epochLine;
    epoch->hasClock = false;
    epoch->clock_s = 0.0;
    if (!RinexNumber(line, length, kEpochClockColumn, kEpochClockWidth, &epoch->clock_s,
                     &epoch->hasClock)) {
      return lines_.Fail("receiver clock offset is not a number");
    }
    if (ReadSatelliteList(static_cast<int32_t>(count), epochLine, epoch) != 0) return -1;
    for (RinexSatObs& sat : epoch->sats) {
      if (ReadObservations(epochLine, &sat) != 0) return -1;
    }
    if (flag == 6) {  // repaired cycle slips: nothing to convert
      ++slipRecords_;
      continue;
    }
    return 1;
  }
}

int32_t RinexObsReader::ReadSatelliteList(int32_t count, long epochLine, RinexObsEpoch* epoch) {
  if (count > kRinexMaxEpochSats) return lines_.Fail("epoch lists %ld satellites", long{count});
  epoch->sats.assign(static_cast<size_t>(count), RinexSatObs());
  for (int32_t i = 0; i < count; ++i) {
    const int32_t slot = i % kRinexSatsPerEpochLine;
    if (i > 0 && slot == 0) {
      const int32_t got = lines_.Next();
      if (got < 0) return -1;
      if (got == 0) {
        return lines_.Fail("file ends inside the satellite list of the epoch of line %ld",
                           epochLine);
      }
      char lead[kEpochSatColumn + 1];
      RinexField(lines_.line(), lines_.length(), 0, kEpochSatColumn, lead);
      if (lead[0] != '\0') {
        return lines_.Fail(
            "satellite list of the epoch of line %ld continues on a line that "
            "does not start with 32 blanks",
            epochLine);
      }
    }
    const char* line = lines_.line();
    const int32_t length = lines_.length();
    const int32_t column = kEpochSatColumn + slot * kEpochSatWidth;
    const char letter = column < length ? line[column] : ' ';
    long prn = 0;
    bool present = false;
    if (!RinexInteger(line, length, column + 1, 2, &prn, &present) || !present || prn < 0 ||
        !(letter == ' ' || std::isalpha(static_cast<unsigned char>(letter)))) {
      char text[kEpochSatWidth + 1];
      RinexField(line, length, column, kEpochSatWidth, text);
      return lines_.Fail("satellite %ld of %ld, '%s', is not a system letter and a number",
                         long{i + 1}, long{count}, text);
    }
    RinexSatObs& sat = epoch->sats[static_cast<size_t>(i)];
    sat.system = letter == ' ' ? 'G' : static_cast<char>(std::toupper(letter));
    sat.prn = static_cast<int32_t>(prn);
  }
  return 0;
}

int32_t RinexObsReader::ReadObservations(long epochLine, RinexSatObs* sat) {
  const int32_t lineCount = (header_.typeCount + kRinexObsPerLine - 1) / kRinexObsPerLine;
  for (int32_t l = 0; l < lineCount; ++l) {
    const int32_t got = lines_.Next();
    if (got < 0) return -1;
    if (got == 0) {
      return lines_.Fail("file ends inside the epoch of line %ld (satellite %c%02ld)", epochLine,
                         sat->system, long{sat->prn});
    }
    const char* line = lines_.line();
    const int32_t length = lines_.length();
    for (int32_t k = 0; k < kRinexObsPerLine; ++k) {
      const int32_t type = l * kRinexObsPerLine + k;
      if (type >= header_.typeCount) break;
      const int32_t column = k * kRinexObsFieldWidth;
      RinexObsValue& value = sat->obs[type];
      if (!RinexNumber(line, length, column, kRinexObsFieldWidth - 2, &value.value,
                       &value.present)) {
        char text[kRinexObsFieldWidth];
        RinexField(line, length, column, kRinexObsFieldWidth - 2, text);
        return lines_.Fail("%s of %c%02ld, '%s', is not a number", header_.typeText[type],
                           sat->system, long{sat->prn}, text);
      }
      const char lli = column + 14 < length ? line[column + 14] : ' ';
      const char ssi = column + 15 < length ? line[column + 15] : ' ';
      if (!DigitOrBlank(lli, &value.lli) || !DigitOrBlank(ssi, &value.ssi)) {
        return lines_.Fail("%s of %c%02ld: loss-of-lock or signal digit '%c%c' is not a digit",
                           header_.typeText[type], sat->system, long{sat->prn}, lli, ssi);
      }
    }
  }
  return 0;
}

int32_t RinexObsReader::ReadEventLines(long epochLine, long count) {
  for (long i = 0; i < count; ++i) {
    const int32_t got = lines_.Next();
    if (got < 0) return -1;
    if (got == 0) {
      return lines_.Fail("file ends inside the event record of line %ld (%ld of %ld lines)",
                         epochLine, i, count);
    }
    bool end = false;
    if (ReadHeaderLine(true, &end) != 0) return -1;
  }
  if (typesLeft_ > 0) return lines_.Fail("# / TYPES OF OBSERV misses %ld types", long{typesLeft_});
  return 0;
}

}  // namespace talverin
