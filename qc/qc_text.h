// printf-style formatting into a std::string for the report's texts (at most 1023
// characters; longer texts are cut), and the texts of the figures above the elevation mask
// that the page, the summaries and the index share. Not part of the module.
#pragma once

#include <string>

#include "qc/qc_figures.h"

namespace talverin {

std::string QcFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "mask 10 deg: 21450 possible, 20001 complete (93.2 %), 435 observations per slip" ("no slips",
// "slips not detected"); without elevations "no mask (no elevations): 20001 complete".
std::string QcMaskText(const QcReport& report);

// The satellites whose C/A and P2 codes differ grossly: "G06 in 120 observations (up to
// 9012.3 m)", or "" when none.
std::string QcGrossCodeText(const QcReport& report);

}  // namespace talverin
