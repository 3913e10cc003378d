// The site information file (S): a short text file with the station entered at the start
// of an occupation. A usable site block becomes one station record of the .sta file and
// gives the vertical antenna height (m) kept in the job. Optional: silent on any problem.
#pragma once

namespace talverin {

class ConversionJob;

void ReadSiteFile(ConversionJob& job);

}  // namespace talverin
