// One download set through the quality report: figures computed, the HTML page handed to
// the caller's writer (never over a file of the set), the short text summary for stdout, the
// one-line summary and the JSON members for a batch summary, and the set's row of an index page.
// The shape of a batch runner's per-set step: one set per call, one conversion per process. Not
// part of the module.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "qc/qc_figures.h"
#include "qc/qc_html.h"

namespace talverin {

// Exit statuses of a set.
constexpr int kQcComplete = 0;    // report written, nothing missing through a defect
constexpr int kQcIncomplete = 1;  // report written; it says what is missing and why
constexpr int kQcFailed = 2;      // no report (no such file, output not writable), or a
                                  // report saying the observation file cannot be read

struct QcSetResult {
  int status = kQcFailed;
  std::string reportPath;  // written report, empty when none
  std::string summary;     // one line, without the set's name
  std::string text;        // a few lines for stdout
  std::string json;        // the set's JSON members (qc_json.h), empty without figures
  QcIndexEntry index;
  std::string error;                      // why no report was written
  bool againstReference = false;          // positions against the caller's reference
  double meanEnu_m[3] = {0.0, 0.0, 0.0};  // the mean position against it
};

// The report's default path: in dir (the B file's folder when empty), the B file's name
// with a numeric extension (the day) after an underscore and ".qc.html" ("BBAHRA04.162" ->
// "BBAHRA04_162.qc.html"); another extension is left out.
std::string QcReportPath(const std::string& bPath, const std::string& dir);

// The set's B, E, S and D paths (those that exist and the B path).
std::vector<std::string> SetFiles(const std::string& bPath);

// Writes text under path without ever replacing a file of the set (inputs) or leaving a
// half-written file under path (the command line's safe outputs): true when written, else
// false with the reason in error.
using QcWriter = std::function<bool(const std::string& path, const std::string& text,
                                    const std::vector<std::string>& inputs, std::string* error)>;

// The report ends with its index row in a comment, so that a later run that finds the report
// up to date can list it in an index without computing it again.
QcSetResult RunQcSet(const std::string& bPath, const QcOptions& options,
                     const std::string& reportPath, const QcWriter& writer);
// The index row at the end of a report that RunQcSet wrote; false when there is none.
bool ReadQcIndexEntry(const std::string& reportPath, QcIndexEntry* entry);

}  // namespace talverin
