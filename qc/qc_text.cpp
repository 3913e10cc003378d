#include "qc/qc_text.h"

#include <cstdarg>
#include <cstdio>

#include "dataset/satellite_names.h"
#include "job/host_records.h"

namespace talverin {

std::string QcFormat(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string QcMaskText(const QcReport& r) {
  const std::string slips = !r.phasePair ? "slips not detected"
                            : r.slips > 0
                                ? QcFormat("%.0f observations per slip", QcObservationsPerSlip(r))
                                : std::string("no slips");
  if (!r.maskApplied) {
    return QcFormat("no mask (no elevations): %lld complete, %s",
                    static_cast<long long>(r.completeObservations), slips.c_str());
  }
  const double pct = QcCompletePercent(r);
  return QcFormat("mask %g deg: %lld possible, %lld complete (%s), %s", r.maskElevation_deg,
                  static_cast<long long>(r.possibleObservations),
                  static_cast<long long>(r.completeObservations),
                  pct >= 0.0 ? QcFormat("%.1f %%", pct).c_str() : "-", slips.c_str());
}

std::string QcGrossCodeText(const QcReport& r) {
  std::string t;
  for (const QcSatellite& s : r.satellites) {
    if (s.grossCode == 0) continue;
    t += QcFormat("%s%s in %lld observations (up to %.1f m)", t.empty() ? "" : ", ",
                  SatelliteName(s.prn, r.receiverType == kReceiverGlonass).c_str(),
                  static_cast<long long>(s.grossCode), s.grossCodeMax_m);
  }
  return t;
}

}  // namespace talverin
