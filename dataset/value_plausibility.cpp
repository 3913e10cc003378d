#include "dataset/value_plausibility.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/gnss_constants.h"

namespace talverin {
namespace {

constexpr double kMaxDoppler_counts = 1e8;  // 10 kHz in 0.0001 Hz
constexpr uint8_t kMaxSnr_dbhz = 99;
constexpr double kMinRange_s = 0.05;
constexpr double kMaxRange_s = 0.1;
constexpr double kMaxPhase_cyc = 1e10;
constexpr double kMaxRelativeRate_mps = 3000.0;
constexpr double kMaxJumpGap_s = 120.0;
constexpr int kMinJumpSatellites = 3;  // a median of the others needs two at least
constexpr uint8_t kLastGpsPrn = 32;

// signal and quantity: "C/A" and " range" give "C/A range of PRN 5: ...". Formatted only for
// a finding: the usual epoch has none.
std::string Finding(const char* signal, const char* quantity, int prn, double value,
                    const char* unit) {
  char text[96];
  std::snprintf(text, sizeof text, "%s%s of PRN %d: %.6g %s", signal, quantity, prn, value, unit);
  return text;
}

// The range as light time of the satellite, GLONASS without its whole GPS-UTC seconds.
double LightTime_s(double range_s, bool glonass) {
  return glonass && range_s >= 1.0 ? range_s - std::floor(range_s) : range_s;
}

void CheckBlock(RawSignalBlock* b, const char* signal, int prn, bool glonass,
                std::vector<std::string>* findings) {
  if (std::fabs(static_cast<double>(b->doppler)) > kMaxDoppler_counts) {
    findings->push_back(Finding(signal, " Doppler", prn, b->doppler * 1e-4, "Hz"));
    b->doppler = 0;
  }
  if (b->snr > kMaxSnr_dbhz) {
    findings->push_back(Finding(signal, " SNR", prn, b->snr, "dB-Hz"));
    b->snr = 0;
  }
  const double light_s = LightTime_s(b->range_s, glonass);
  if (b->range_s != 0.0 && !(light_s >= kMinRange_s && light_s <= kMaxRange_s)) {
    findings->push_back(Finding(signal, " range", prn, b->range_s, "s"));
    b->range_s = 0.0;
  }
  if (!(std::fabs(b->phase_cyc) <= kMaxPhase_cyc)) {
    findings->push_back(Finding(signal, " phase", prn, b->phase_cyc, "cycles"));
    b->phase_cyc = 0.0;
  }
}

}  // namespace

void ValueJudge::Check(RawEpoch* epoch, bool glonass, std::vector<std::string>* findings) {
  for (RawChannel& ch : epoch->channels) {
    const bool isGlonass = glonass && ch.prn > kLastGpsPrn;
    CheckBlock(&ch.ca, "C/A", ch.prn, isGlonass, findings);
    if (ch.hasP1) CheckBlock(&ch.p1, "P1", ch.prn, isGlonass, findings);
    if (ch.hasL2) CheckBlock(&ch.l2, "L2", ch.prn, isGlonass, findings);
  }
  CheckJumps(epoch, findings);
}

void ValueJudge::CheckJumps(RawEpoch* epoch, std::vector<std::string>* findings) {
  const double gap_s = epoch->tow_s - previousTime_s_;
  std::vector<double>& steps = steps_;  // its storage is kept from epoch to epoch
  steps.clear();
  if (gap_s > 0.0 && gap_s <= kMaxJumpGap_s) {
    for (const RawChannel& ch : epoch->channels) {
      const double before = previousRange_s_[ch.prn];
      if (ch.ca.range_s != 0.0 && before != 0.0) steps.push_back(ch.ca.range_s - before);
    }
  }
  if (static_cast<int>(steps.size()) >= kMinJumpSatellites) {
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    const double median_s = steps[steps.size() / 2];
    const double limit_s = kMaxRelativeRate_mps * gap_s / kSpeedOfLight_mps;
    for (RawChannel& ch : epoch->channels) {
      const double before = previousRange_s_[ch.prn];
      if (ch.ca.range_s == 0.0 || before == 0.0) continue;
      if (std::fabs(ch.ca.range_s - before - median_s) > limit_s) {
        findings->push_back(Finding("C/A", " range step", ch.prn,
                                    (ch.ca.range_s - before - median_s) * kSpeedOfLight_mps,
                                    "m against the other satellites"));
        ch.ca.range_s = 0.0;
      }
    }
  }
  // Only the PRNs of the epoch before hold a range: clearing those clears them all.
  for (const uint8_t prn : previousPrns_) previousRange_s_[prn] = 0.0;
  previousPrns_.clear();
  for (const RawChannel& ch : epoch->channels) {
    previousRange_s_[ch.prn] = ch.ca.range_s;
    previousPrns_.push_back(ch.prn);
  }
  previousTime_s_ = epoch->tow_s;
}

}  // namespace talverin
