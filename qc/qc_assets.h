// The report page's script and style sheet, compiled in from qc/report.js and
// qc/report.css by qc/embed_assets.cmake at build time, so the page needs no other file.
#pragma once

namespace talverin {

extern const char kQcReportJs[];
extern const char kQcReportCss[];

}  // namespace talverin
