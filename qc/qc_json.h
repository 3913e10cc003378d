// The quality figures of a set as JSON for scripts: the members of one set's object (the
// batch summary wraps them as {"command", "status", "sets": [{"input", "status", ...}]}),
// and that whole document for one set. Numbers that do not exist (MP without a second
// frequency, positions without a solution) are null, never 0. Strings are escaped (quotes,
// backslashes, control characters as \u00XX). Not part of the module.
#pragma once

#include <string>

#include "qc/qc_figures.h"

namespace talverin {

// "\"set\": ..., \"receiver\": {...}, ..." without braces.
std::string QcJsonMembers(const QcReport& report);

// {"command": "qc", "status": S, "sets": [{"input": ..., "status": S, members}]} for one
// set, members from QcJsonMembers.
std::string QcJsonDocument(const std::string& input, int status, const std::string& members);

}  // namespace talverin
