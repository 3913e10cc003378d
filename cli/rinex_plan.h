// What `talverin rinex` takes from its options before any set runs: the header metadata
// (command line over the site table over the set's own), the time window and decimation
// (which `qc` takes too), each checked once so that a mistyped value is a usage error and no
// set is written; then the export options of each set, and the sets grouped by site and day
// for splicing.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/set_batch.h"
#include "rinex/rinex_export.h"
#include "rinex/rinex_metadata.h"

namespace talverin_cli {

struct RinexPlan {
  talverin::RinexExportOptions base;  // version, week, window, decimation
  talverin::RinexMetadata commandLine;
  talverin::SiteTable table;
};

// The window of --start, --end and --interval; false with the reason (a usage error) when
// a time is not one, the end lies before the start or the interval is not above 0 s.
[[nodiscard]] bool PlanEpochWindow(const EditArgs& args, talverin::EpochWindow* window,
                                   std::string* error);

// False with the reason (a usage error) when an option does not hold.
[[nodiscard]] bool PlanRinex(const RinexArgs& args, RinexPlan* plan, std::string* error);

// The export options of one set: its site's table row under the command line's values.
talverin::RinexExportOptions OptionsFor(const RinexPlan& plan, const std::string& set);

// GPS time of "YYYY-MM-DDTHH:MM:SS" (a blank may stand for the T); false when not one.
[[nodiscard]] bool ParseGpsTime(const std::string& text, talverin::GpsInstant* t);

// The splicing runs of a planned batch: each site and day's sets (SpliceGroups) by its
// first set, those of the plan's shard.
std::map<std::string, std::vector<std::string>> SpliceRuns(const SetBatch& plan);

// The sets by site and day: the key is the B file name's four-character site (upper case)
// and its yy.ddd extension ("BAHR 04.162"); sets whose names carry no day stand alone.
std::map<std::string, std::vector<std::string>> SpliceGroups(const std::vector<std::string>& sets);

}  // namespace talverin_cli
