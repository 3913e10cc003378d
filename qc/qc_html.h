// The quality report as one self-contained HTML page (figures, tables, and canvas plots
// drawn by the embedded report.js from JSON in the page; no network, no external file),
// and the index page that links the reports of several sets. Plots keep at most
// kMaxPlotPoints values each: longer time series keep the minimum and maximum of each
// time bucket per series, sky and SNR plots every k-th value per satellite; the figures
// always use every value. Not part of the module.
#pragma once

#include <string>
#include <vector>

#include "qc/qc_figures.h"

namespace talverin {

constexpr size_t kMaxPlotPoints = 40000;

std::string RenderQcHtml(const QcReport& report);

// One row of the index page.
struct QcIndexEntry {
  std::string set;   // B file name
  std::string link;  // report path relative to the index page ("" when none written)
  int status = 2;    // 0 complete, 1 report with missing parts, 2 no usable report
  std::string firstEpoch, lastEpoch;
  std::string completeness;  // "120/120 (100.0 %)"
  std::string slips;         // "3" or "-" (single frequency)
  std::string multipath;     // "MP1 0.35 m, MP2 0.41 m" or "-"
  std::string positions;     // "120/120 solved, RMS H 1.20 m V 2.10 m" or the reason
  size_t missing = 0;        // notes of what the report cannot show
};

QcIndexEntry QcIndexEntryOf(const QcReport& report, const std::string& link, int status);
std::string RenderQcIndex(const std::vector<QcIndexEntry>& entries);

// One line of tab-separated fields (tabs and line breaks inside a field become spaces), for
// passing an entry from the process that made the report to the one writing the index.
std::string EncodeQcIndexEntry(const QcIndexEntry& entry);
// False when text is not such a line.
bool DecodeQcIndexEntry(const std::string& text, QcIndexEntry* entry);

}  // namespace talverin
