#include "qc/qc_set.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/native_path.h"
#include "qc/qc_json.h"
#include "qc/qc_text.h"

namespace talverin {
namespace {

namespace fs = std::filesystem;

constexpr char kEntryOpen[] = "<!-- qc-index-entry ";
constexpr char kEntryClose[] = " -->";

// The index row as an HTML comment line: '%' and '-' as %25 and %2D, so that no "--" ends
// it early.
std::string IndexEntryComment(const QcIndexEntry& entry) {
  std::string text = kEntryOpen;
  for (const char c : EncodeQcIndexEntry(entry)) {
    text += c == '%' ? std::string("%25") : c == '-' ? std::string("%2D") : std::string(1, c);
  }
  return text + kEntryClose + "\n";
}

std::string TextSummary(const QcReport& r, const std::string& reportPath) {
  std::string t = r.name + ": " + r.model + " (" + r.receiverName + ")" +
                  (r.site.empty() ? "" : ", site " + r.site) + "\n";
  if (r.epochs > 0) {
    int64_t lost = 0;
    for (const QcGap& g : r.gaps) lost += g.missing;
    t += QcFormat(
        "  %s to %s%s, interval %g s, epochs %lld/%lld (%.1f %%), gaps %zu (%lld epochs)\n",
        QcTimeText(r, r.first_s).c_str(), QcTimeText(r, r.last_s).c_str(),
        r.weekKnown ? " GPS" : "", r.interval_s, static_cast<long long>(r.epochs),
        static_cast<long long>(r.expected), r.expected > 0 ? 100.0 * r.epochs / r.expected : 0.0,
        r.gaps.size(), static_cast<long long>(lost));
    t += QcFormat("  satellites %zu, loss-of-lock flags %lld, cycle slips %s, mean SNR L1 %.1f%s\n",
                  r.satellites.size(), static_cast<long long>(r.lossOfLock),
                  r.phasePair ? std::to_string(r.slips).c_str() : "-", r.snr1Mean,
                  r.observations[kQcS2] > 0 ? QcFormat(" L2 %.1f", r.snr2Mean).c_str() : "");
    t += "  " + QcMaskText(r) + "\n";
    if (r.phasePair && r.mpCount > 0) {
      t += QcFormat("  MP1 %.3f m (%s), MP2 %.3f m, ionospheric delay rate %.3f m/min%s\n",
                    r.mp1Rms_m, r.p1Code ? "P1" : "C/A", r.mp2Rms_m, r.ionoRateRms_mpm,
                    r.maskApplied ? " above the mask" : "");
    }
    const std::string gross = QcGrossCodeText(r);
    if (!gross.empty()) {
      t += QcFormat("  C/A and P2 codes differ by over %g m: ", kGrossCodeDifference_m) + gross +
           "\n";
    }
  }
  const QcPositions& p = r.positions;
  if (p.solved > 0) {
    t += QcFormat(
        "  positions %lld/%lld solved, scatter E %.2f N %.2f U %.2f m, RMS H %.2f m V %.2f m "
        "against the %s\n",
        static_cast<long long>(p.solved), static_cast<long long>(p.epochs), p.sigmaEnu_m[0],
        p.sigmaEnu_m[1], p.sigmaEnu_m[2], p.rmsHorizontal_m, p.rmsEnu_m[2],
        p.againstReference ? "reference" : "mean");
  }
  for (const std::string& m : r.missing) t += "  missing: " + m + "\n";
  if (!reportPath.empty()) t += "  report: " + reportPath + "\n";
  return t;
}

std::string OneLine(const QcReport& r, const std::string& reportPath) {
  std::string s = QcFormat("%lld/%lld epochs", static_cast<long long>(r.epochs),
                           static_cast<long long>(r.expected));
  if (r.phasePair) {
    s += QcFormat(", %lld slips", static_cast<long long>(r.slips));
    if (r.mpCount > 0) s += QcFormat(", MP1 %.2f m MP2 %.2f m", r.mp1Rms_m, r.mp2Rms_m);
  }
  const double pct = QcCompletePercent(r), perSlip = QcObservationsPerSlip(r);
  if (r.maskApplied) s += QcFormat(", mask %g deg", r.maskElevation_deg);
  if (pct >= 0.0) s += QcFormat(", complete %.1f %%", pct);
  if (perSlip >= 0.0) s += QcFormat(", %.0f obs/slip", perSlip);
  s += QcFormat(", %lld/%lld solved", static_cast<long long>(r.positions.solved),
                static_cast<long long>(r.positions.epochs));
  if (!r.missing.empty()) s += QcFormat(", %zu notes", r.missing.size());
  return s + ", report " + reportPath;
}

}  // namespace

std::string QcReportPath(const std::string& bPath, const std::string& dir) {
  const fs::path b = NativePath(bPath);
  const fs::path folder = dir.empty() ? b.parent_path() : NativePath(dir);
  // A numeric extension is the day of year: kept, so that the days of one site and session
  // letter report side by side, as convert's outputs.
  const std::string day = b.has_extension() ? NativeText(b.extension()).substr(1) : "";
  const bool numeric = !day.empty() && day.find_first_not_of("0123456789") == std::string::npos;
  return NativeText(folder /
                    NativePath(NativeText(b.stem()) + (numeric ? "_" + day : "") + ".qc.html"));
}

std::vector<std::string> SetFiles(const std::string& bPath) {
  std::vector<std::string> files{bPath};
  const fs::path b = NativePath(bPath);
  const std::string name = NativeText(b.filename());
  if (name.empty()) return files;
  for (const char letter : {'E', 'S', 'D'}) {
    std::string other = name;
    other[0] = letter;
    const fs::path path = b.parent_path() / NativePath(other);
    std::error_code ec;
    if (fs::exists(path, ec)) files.push_back(NativeText(path));
  }
  return files;
}

QcSetResult RunQcSet(const std::string& bPath, const QcOptions& options,
                     const std::string& reportPath, const QcWriter& writer) {
  QcSetResult result;
  std::error_code ec;
  if (!fs::is_regular_file(NativePath(bPath), ec)) {
    result.error =
        bPath + ": " + (fs::exists(NativePath(bPath), ec) ? "not a regular file" : "no such file");
    result.summary = "failed: " + result.error;
    return result;
  }
  static QcReport report;  // large vectors: one per process, reused
  const int32_t computed = ComputeQcReport(bPath, options, &report);
  result.status = computed != 0 ? kQcFailed : report.incomplete ? kQcIncomplete : kQcComplete;
  const std::string link = NativeFileName(reportPath);
  const std::string html =
      RenderQcHtml(report) + IndexEntryComment(QcIndexEntryOf(report, link, result.status));
  if (!writer(reportPath, html, SetFiles(bPath), &result.error)) {
    result.status = kQcFailed;
    result.summary = "failed: " + result.error;
    result.text = TextSummary(report, "");
    result.index = QcIndexEntryOf(report, "", result.status);
    return result;
  }
  result.reportPath = reportPath;
  result.text = TextSummary(report, reportPath);
  result.summary = (computed != 0 ? "unreadable, " : "") + OneLine(report, reportPath);
  result.json = QcJsonMembers(report);
  result.againstReference = report.positions.againstReference;
  for (int i = 0; i < 3; ++i) result.meanEnu_m[i] = report.positions.meanEnu_m[i];
  result.index = QcIndexEntryOf(report, link, result.status);
  return result;
}

bool ReadQcIndexEntry(const std::string& reportPath, QcIndexEntry* entry) {
  FILE* file = std::fopen(reportPath.c_str(), "rb");
  if (file == nullptr) return false;
  char tail[4096];  // the comment is the report's last line, well within its last 4 KB
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::fseek(file,
             size > static_cast<long>(sizeof tail) ? size - static_cast<long>(sizeof tail) : 0,
             SEEK_SET);
  const std::string text(tail, std::fread(tail, 1, sizeof tail, file));
  std::fclose(file);
  const size_t at = text.rfind(kEntryOpen);
  const size_t end = text.rfind(kEntryClose);
  if (at == std::string::npos || end == std::string::npos || end < at) return false;
  std::string line;
  for (size_t i = at + std::strlen(kEntryOpen); i < end; ++i) {
    if (text[i] == '%' && i + 2 < end) {
      line += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      line += text[i];
    }
  }
  return DecodeQcIndexEntry(line, entry);
}

}  // namespace talverin
