#include "rinex/rinex_metadata.h"

#include <cctype>
#include <cmath>
#include <fstream>
#include <vector>

#include "input/site_reader.h"
#include "rinex/rinex_format.h"

namespace talverin {
namespace {

struct TextField {
  const char* name;  // as in messages and the site table's header row
  std::string RinexMetadata::*member;
  size_t limit;
};

const TextField kTextFields[] = {
    {"marker_name", &RinexMetadata::markerName, 60},
    {"marker_number", &RinexMetadata::markerNumber, 20},
    {"antenna_type", &RinexMetadata::antennaType, 20},
    {"antenna_number", &RinexMetadata::antennaNumber, 20},
    {"receiver_number", &RinexMetadata::receiverNumber, 20},
    {"observer", &RinexMetadata::observer, 20},
    {"agency", &RinexMetadata::agency, 40},
    {"country", &RinexMetadata::country, 3},
};

std::string Trimmed(const std::string& text) {
  const size_t from = text.find_first_not_of(" \t\r");
  if (from == std::string::npos) return "";
  return text.substr(from, text.find_last_not_of(" \t\r") - from + 1);
}

// One CSV row: fields split at commas outside double quotes ("" is a quote inside them);
// unquoted fields lose their outer blanks. False for an unclosed quote.
bool SplitRow(const std::string& line, std::vector<std::string>* fields) {
  fields->clear();
  std::string field;
  bool quoted = false, wasQuoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      field += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
      wasQuoted = true;
    } else if (c == ',' && !quoted) {
      fields->push_back(wasQuoted ? field : Trimmed(field));
      field.clear();
      wasQuoted = false;
    } else {
      field += c;
    }
  }
  fields->push_back(wasQuoted ? field : Trimmed(field));
  return !quoted;
}

std::string UpperSite(const std::string& site) {
  std::string id = site.substr(0, 4);
  for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return id;
}

// One value of a row into its column's member; false with the reason.
bool SetColumn(const std::string& column, const std::string& value, RinexMetadata* m,
               std::string* error) {
  if (value.empty()) return true;
  if (column == "antenna_delta") {
    std::string text = value;
    for (char& c : text) c = c == ';' ? ',' : c;
    m->hasAntennaDelta = ParseAntennaDelta(text, m->antennaDelta_m, error);
    return m->hasAntennaDelta;
  }
  for (const TextField& f : kTextFields) {
    if (column == f.name) {
      m->*f.member = value;
      return true;
    }
  }
  *error = "unknown column '" + column + "'";
  return false;
}

}  // namespace

RinexMetadata MergeMetadata(const RinexMetadata& base, const RinexMetadata& over) {
  RinexMetadata m = base;
  for (const TextField& f : kTextFields) {
    if (!(over.*f.member).empty()) m.*f.member = over.*f.member;
  }
  if (over.hasAntennaDelta) {
    m.hasAntennaDelta = true;
    for (int i = 0; i < 3; ++i) m.antennaDelta_m[i] = over.antennaDelta_m[i];
  }
  return m;
}

bool CheckMetadata(const RinexMetadata& m, std::string* error) {
  for (const TextField& f : kTextFields) {
    const std::string& value = m.*f.member;
    if (value.size() > f.limit) {
      *error = Format("%s: %zu characters, at most %zu", f.name, value.size(), f.limit);
      return false;
    }
  }
  for (const char c : m.country) {
    if (m.country.size() != 3 || !std::isupper(static_cast<unsigned char>(c))) {
      *error = "country: '" + m.country + "' is not three capital letters (ISO 3166 alpha-3)";
      return false;
    }
  }
  for (const double d : m.antennaDelta_m) {
    if (!std::isfinite(d) || std::fabs(d) >= 1e9) {
      *error = "antenna_delta: not a number that fits F14.4";
      return false;
    }
  }
  return true;
}

bool ParseAntennaDelta(const std::string& text, double delta_m[3], std::string* error) {
  std::vector<std::string> parts;
  (void)SplitRow(text, &parts);
  double values[3] = {0.0, 0.0, 0.0};
  bool ok = parts.size() >= 1 && parts.size() <= 3;
  for (size_t i = 0; ok && i < parts.size(); ++i) {
    const char* cursor = parts[i].c_str();
    ok = ScanFiniteDouble(cursor, &values[i]) && *cursor == '\0';
  }
  if (!ok) {
    *error = "antenna delta '" + text + "' is not H, H,E or H,E,N in metres";
    return false;
  }
  for (int i = 0; i < 3; ++i) delta_m[i] = values[i];
  return true;
}

bool ReadSiteTable(const std::string& path, SiteTable* table, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = path + ": cannot be read";
    return false;
  }
  std::string line;
  std::vector<std::string> columns, fields;
  for (long number = 1; std::getline(in, line); ++number) {
    std::string reason;
    if (Trimmed(line).empty()) continue;
    if (!SplitRow(line, &fields)) {
      reason = "unclosed quote";
    } else if (columns.empty()) {
      columns = fields;
      if (columns[0] != "site") reason = "the first column of the header row must be 'site'";
    } else if (fields.size() != columns.size()) {
      reason = Format("%zu fields, the header row names %zu", fields.size(), columns.size());
    } else {
      RinexMetadata m;
      bool set = true;
      for (size_t i = 1; i < fields.size() && set; ++i) {
        set = SetColumn(columns[i], fields[i], &m, &reason);
      }
      if (set && CheckMetadata(m, &reason)) (*table)[UpperSite(fields[0])] = m;
    }
    if (!reason.empty()) {
      *error = Format("%s:%ld: %s", path.c_str(), number, reason.c_str());
      return false;
    }
  }
  return true;
}

const RinexMetadata* FindSite(const SiteTable& table, const std::string& site) {
  const auto row = table.find(UpperSite(site));
  return row == table.end() ? nullptr : &row->second;
}

}  // namespace talverin
