// Station metadata of a RINEX observation header that a download set does not hold (or
// holds only in part): marker name and number, antenna type, number and delta, receiver
// number, observer, agency and the country of version 3 long names. Values come from the
// command line, from a site table (a small CSV file, one row per site) and from the set;
// the command line overrides the table, the table the set. Empty text: not given.
// Limits are the widths of the header fields (MARKER NAME 60, the others 20, AGENCY 40).
#pragma once

#include <map>
#include <string>

namespace talverin {

struct RinexMetadata {
  std::string markerName;
  std::string markerNumber;
  std::string antennaType;  // IGS name with radome, 20 characters
  std::string antennaNumber;
  std::string receiverNumber;
  std::string observer;
  std::string agency;
  std::string country;  // ISO 3166 alpha-3, upper case
  bool hasAntennaDelta = false;
  double antennaDelta_m[3] = {0.0, 0.0, 0.0};  // H, E, N
};

// base with every value that over gives put in its place.
[[nodiscard]] RinexMetadata MergeMetadata(const RinexMetadata& base, const RinexMetadata& over);

// False with "FIELD: N characters, at most M" for the first value that does not fit its
// header field, a country that is not three letters, or an antenna delta not finite.
[[nodiscard]] bool CheckMetadata(const RinexMetadata& m, std::string* error);

// "H", "H,E" or "H,E,N" in metres. False with the reason.
[[nodiscard]] bool ParseAntennaDelta(const std::string& text, double delta_m[3],
                                     std::string* error);

// The site table: a header row naming its columns (site, then any of marker_name,
// marker_number, antenna_type, antenna_number, antenna_delta, receiver_number, observer,
// agency, country; antenna_delta as "H;E;N" or H), then one row per site. Sites by their
// four-character ID, matched without regard to case. False with "file:line: reason".
using SiteTable = std::map<std::string, RinexMetadata>;
[[nodiscard]] bool ReadSiteTable(const std::string& path, SiteTable* table, std::string* error);
// The row of a site ID (the first four characters of a download set's name), or nullptr.
const RinexMetadata* FindSite(const SiteTable& table, const std::string& site);

}  // namespace talverin
