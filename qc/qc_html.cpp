#include "qc/qc_html.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "dataset/json_writer.h"
#include "dataset/markup_text.h"
#include "dataset/satellite_names.h"
#include "job/host_records.h"
#include "qc/qc_assets.h"
#include "qc/qc_json.h"
#include "qc/qc_text.h"

namespace talverin {
namespace {

constexpr size_t kMinSeriesPoints = 500;  // a time series is never reduced below this
constexpr int kPrnSlots = 256;            // a PRN byte

bool Glonass(const QcReport& r) { return r.receiverType == kReceiverGlonass; }

// A hue per PRN, far apart for neighbouring numbers.
std::string PrnColor(int prn) { return QcFormat("hsl(%d,70%%,42%%)", (prn * 67) % 360); }

struct Series {
  std::string name, color;
  std::vector<double> x, y;
  std::vector<double> az, el, c;  // sky plot
  int prn = 0;
};

// Keeps the minimum and maximum of each of cap/2 time buckets when a series is longer
// than cap; x ascending.
void ReduceSeries(Series* s, size_t cap) {
  const size_t n = s->x.size();
  if (n <= cap || n < 2) return;
  const size_t buckets = std::max<size_t>(1, cap / 2);
  const double x0 = s->x.front(), span = s->x.back() - x0;
  std::vector<double> x, y;
  size_t i = 0;
  for (size_t b = 0; b < buckets && i < n; ++b) {
    const double end = x0 + span * static_cast<double>(b + 1) / buckets;
    size_t lo = i, hi = i;
    for (; i < n && (s->x[i] <= end || b + 1 == buckets); ++i) {
      if (s->y[i] < s->y[lo]) lo = i;
      if (s->y[i] > s->y[hi]) hi = i;
    }
    if (i == lo && i == hi) continue;  // empty bucket
    const size_t first = std::min(lo, hi), second = std::max(lo, hi);
    x.push_back(s->x[first]);
    y.push_back(s->y[first]);
    if (second != first) {
      x.push_back(s->x[second]);
      y.push_back(s->y[second]);
    }
  }
  s->x.swap(x);
  s->y.swap(y);
}

// v with decimals digits after the point as printf's "%.*f" gives it, into text; false when
// the value is not simple: more than 2^52 once scaled, not finite, or within 1e-6 of a tie
// (left to to_chars). The scaled value's distance to its nearest integer is found exactly
// by fma, so the rounding is printf's (the exact binary value, ties never reach here).
bool FixedSimple(double v, int decimals, char* text, char** end) {
  static const double kScale[] = {1.0, 10.0, 100.0, 1000.0};
  if (decimals < 0 || decimals > 3 || !std::isfinite(v)) return false;
  const double scale = kScale[decimals], a = std::fabs(v);
  if (a * scale >= 4503599627370496.0) return false;  // 2^52
  double n = std::nearbyint(a * scale);
  const double e = std::fma(a, scale, -n);  // a * scale - n, its sign exact
  if (std::fabs(std::fabs(e) - 0.5) < 1e-6) return false;
  if (e > 0.5) n += 1.0;
  if (e < -0.5) n -= 1.0;
  char digits[24];
  int count = 0;
  for (uint64_t u = static_cast<uint64_t>(n); count == 0 || u > 0 || count <= decimals; u /= 10)
    digits[count++] = static_cast<char>('0' + u % 10);
  char* out = text;
  if (std::signbit(v)) *out++ = '-';
  for (int i = count - 1; i >= 0; --i) {
    *out++ = digits[i];
    if (i == decimals && decimals > 0) *out++ = '.';
  }
  *end = out;
  return true;
}

// The values as a JSON array, each as printf's "%.*f" gives it (a short exact formatter for
// up to 3 decimals, to_chars for the rest: the same correctly rounded digits).
std::string Numbers(const std::vector<double>& v, int decimals) {
  std::string out;
  out.reserve(2 + v.size() * 12);
  out += '[';
  char text[400];  // a double's integer digits (309 at most), the point and the decimals
  for (size_t i = 0; i < v.size(); ++i) {
    if (i > 0) out += ',';
    char* end = text;
    if (!FixedSimple(v[i], decimals, text, &end)) {
      const std::to_chars_result r =
          std::to_chars(text, text + sizeof text, v[i], std::chars_format::fixed, decimals);
      end = r.ec == std::errc() ? r.ptr : text;
    }
    out.append(text, end);
  }
  return out + "]";
}

struct PlotSpec {
  std::string id, kind, title, xLabel, yLabel, empty, note;
  std::vector<Series> series;
  bool equal = false;
  bool yFromZero = false;
  int xDecimals = 3, yDecimals = 3;
  std::string cLabel;
  double mask_deg = 0.0;  // sky: the elevation mask ring
  size_t total = 0;       // values before reduction
  bool thinned = false;   // series built with every k-th value already (k from total)
};

// The k that keeps every k-th value of a plot of total values within kMaxPlotPoints.
size_t ThinningStride(size_t total) {
  return total <= kMaxPlotPoints ? 1 : (total + kMaxPlotPoints - 1) / kMaxPlotPoints;
}

std::string PlotJson(const PlotSpec& p) {
  std::string out = "{\"id\":" + JsonString(p.id) + ",\"kind\":" + JsonString(p.kind) +
                    ",\"xLabel\":" + JsonString(p.xLabel) + ",\"yLabel\":" + JsonString(p.yLabel);
  if (!p.empty.empty()) out += ",\"empty\":" + JsonString(p.empty);
  if (p.equal) out += ",\"equal\":true";
  if (p.yFromZero) out += ",\"yMin\":0";
  if (p.kind == "sky") {
    out += ",\"cLabel\":" + JsonString(p.cLabel) +
           QcFormat(",\"mask\":%.1f", std::isfinite(p.mask_deg) ? p.mask_deg : 0.0);
  }
  out += ",\"series\":[";
  for (size_t i = 0; i < p.series.size(); ++i) {
    const Series& s = p.series[i];
    out += (i > 0 ? ",{" : "{") + std::string("\"name\":") + JsonString(s.name) +
           ",\"color\":" + JsonString(s.color);
    if (p.kind == "sky") {
      out += QcFormat(",\"prn\":%d", s.prn) + ",\"az\":" + Numbers(s.az, 1) +
             ",\"el\":" + Numbers(s.el, 1) + ",\"c\":" + Numbers(s.c, 0);
    } else {
      out += ",\"x\":" + Numbers(s.x, p.xDecimals) + ",\"y\":" + Numbers(s.y, p.yDecimals);
    }
    out += "}";
  }
  return out + "]}";
}

void Reduce(PlotSpec* p) {
  if (!p->thinned) {
    for (const Series& s : p->series) p->total += s.x.size() + s.az.size();
  }
  if (p->total <= kMaxPlotPoints) return;
  if (p->thinned) {
  } else if (p->kind == "sky" || p->kind == "xy") {
    // Every k-th value of each series (a satellite's track stays a track).
    const size_t k = ThinningStride(p->total);
    for (Series& s : p->series) {
      auto thin = [k](std::vector<double>& v) {
        size_t j = 0;
        for (size_t i = 0; i < v.size(); i += k) v[j++] = v[i];
        v.resize(j);
      };
      thin(s.x), thin(s.y), thin(s.az), thin(s.el), thin(s.c);
    }
  } else {
    const size_t cap =
        std::max(kMinSeriesPoints, kMaxPlotPoints / std::max<size_t>(1, p->series.size()));
    for (Series& s : p->series) ReduceSeries(&s, cap);
  }
  size_t kept = 0;
  for (const Series& s : p->series) kept += s.x.size() + s.az.size();
  p->note += QcFormat(" Shows %zu of %zu values (%s).", kept, p->total,
                      p->kind == "time" ? "minimum and maximum of each time bucket"
                                        : "every k-th value of each satellite");
}

// Why the position plots are empty, or "".
std::string PositionGap(const QcReport& r) {
  if (r.positions.solved > 0) return "";
  if (!r.ephemerisFile) return "No recomputed positions: the set has no ephemeris file.";
  if (r.gpsEphemerides - r.unhealthyEphemerides <= 0) {
    return "No recomputed positions: no healthy GPS ephemeris.";
  }
  if (r.positions.result != 0) return "No recomputed positions: the conversion failed.";
  return "No recomputed positions: no epoch could be solved.";
}

std::string ElevationGap(const QcReport& r) {
  if (r.elevations) return "";
  if (!r.ephemerisFile || r.gpsEphemerides - r.unhealthyEphemerides <= 0) {
    return "No elevations: no usable GPS ephemeris.";
  }
  return "No elevations: no receiver position.";
}

std::string Against(const QcReport& r) {
  return r.positions.againstReference ? "the reference" : "the mean position";
}

// Why the sky and SNR plots are empty, or "".
std::string SkyGap(const QcReport& r) {
  const std::string gap = ElevationGap(r);
  return gap.empty() && r.sky.empty() ? "No elevations: no GPS satellite with an ephemeris." : gap;
}

PlotSpec EnuPlot(const QcReport& r) {
  PlotSpec p;
  p.id = "enu";
  p.kind = "time";
  p.title = "East, north and up of each epoch against " + Against(r);
  p.yLabel = "offset (m)";
  p.empty = PositionGap(r);
  const char* names[3] = {"east", "north", "up"};
  const char* colors[3] = {"#1f77b4", "#ff7f0e", "#2ca02c"};
  for (int k = 0; k < 3; ++k) {
    Series s;
    s.name = names[k];
    s.color = colors[k];
    s.x.reserve(r.positions.solved);
    s.y.reserve(r.positions.solved);
    for (const QcEpochPosition& e : r.epochSeries) {
      if (!e.solved) continue;
      s.x.push_back(e.time_s);
      s.y.push_back(e.enu_m[k]);
    }
    p.series.push_back(std::move(s));
  }
  return p;
}

PlotSpec HorizontalPlot(const QcReport& r) {
  PlotSpec p;
  p.id = "horizontal";
  p.kind = "xy";
  p.title = "Horizontal scatter against " + Against(r);
  p.xLabel = "east (m)";
  p.yLabel = "north (m)";
  p.equal = true;
  p.empty = PositionGap(r);
  Series s;
  s.name = "epoch";
  s.color = "#1f77b4";
  s.x.reserve(r.positions.solved);
  s.y.reserve(r.positions.solved);
  for (const QcEpochPosition& e : r.epochSeries) {
    if (!e.solved) continue;
    s.x.push_back(e.enu_m[0]);
    s.y.push_back(e.enu_m[1]);
  }
  p.series.push_back(std::move(s));
  return p;
}

// One value of each solved epoch: the satellites used, or the post-fit residual RMS.
struct PerEpochPlot {
  const char* id;
  const char* title;
  const char* label;
  const char* color;
  bool used;
};

PlotSpec PerEpoch(const QcReport& r, const PerEpochPlot& d) {
  PlotSpec p;
  p.id = d.id;
  p.kind = "time";
  p.title = d.title;
  p.yLabel = d.label;
  p.yFromZero = true;
  p.yDecimals = d.used ? 0 : 3;
  p.empty = PositionGap(r);
  Series s;
  s.color = d.color;
  s.x.reserve(r.positions.solved);
  s.y.reserve(r.positions.solved);
  for (const QcEpochPosition& e : r.epochSeries) {
    if (!e.solved || e.used == 0) continue;
    s.x.push_back(e.time_s);
    s.y.push_back(d.used ? e.used : e.residualRms_m);
  }
  p.series.push_back(std::move(s));
  return p;
}

PlotSpec UsedPlot(const QcReport& r) {
  return PerEpoch(r, {"used", "Satellites used in each epoch's solution", "satellites used (count)",
                      "#9467bd", true});
}

PlotSpec ResidualPlot(const QcReport& r) {
  return PerEpoch(r, {"residual", "Post-fit residual RMS of each epoch's solution",
                      "residual RMS (m, per degree of freedom)", "#d62728", false});
}

PlotSpec SkyPlot(const QcReport& r) {
  PlotSpec p;
  p.id = "sky";
  p.kind = "sky";
  p.title = "Sky plot of the satellite tracks";
  p.cLabel = "L1 SNR (receiver units)";
  p.empty = SkyGap(r);
  // Each satellite's every k-th point, k from the count of all.
  std::vector<size_t> seen(kPrnSlots, 0);
  for (const QcSkyPoint& q : r.sky) {
    if (q.elevation_deg < 0.0f) continue;
    ++seen[q.prn & (kPrnSlots - 1)];
    ++p.total;
  }
  const size_t k = ThinningStride(p.total);
  std::vector<Series> byPrn(kPrnSlots);
  for (int prn = 0; prn < kPrnSlots; ++prn) {
    if (seen[prn] == 0) continue;
    Series& s = byPrn[prn];
    s.prn = prn;
    s.name = SatelliteName(prn, Glonass(r));
    s.color = PrnColor(prn);
    for (std::vector<double>* v : {&s.az, &s.el, &s.c}) v->reserve((seen[prn] + k - 1) / k);
    seen[prn] = 0;
  }
  for (const QcSkyPoint& q : r.sky) {
    if (q.elevation_deg < 0.0f || seen[q.prn & (kPrnSlots - 1)]++ % k != 0) continue;
    Series& s = byPrn[q.prn & (kPrnSlots - 1)];
    s.az.push_back(q.azimuth_deg);
    s.el.push_back(q.elevation_deg);
    s.c.push_back(q.snr1);
  }
  for (Series& s : byPrn) {
    if (!s.name.empty()) p.series.push_back(std::move(s));
  }
  p.thinned = true;
  p.note = QcFormat(
      "Azimuth in degrees clockwise from north, elevation in degrees (rings at 0, 30 and 60 "
      "degrees; the dashed ring is the %g degree mask), from %s; each track labelled at its end.",
      r.maskElevation_deg, r.elevations ? r.elevationSource.c_str() : "-");
  p.mask_deg = r.maskElevation_deg;
  return p;
}

PlotSpec SnrPlot(const QcReport& r) {
  PlotSpec p;
  p.id = "snr";
  p.kind = "xy";
  p.title = "Signal-to-noise against elevation";
  p.xLabel = "elevation (deg)";
  p.yLabel = "SNR (receiver units)";
  p.xDecimals = 1;
  p.yDecimals = 0;
  p.empty = SkyGap(r);
  Series l1, l2;
  l1.name = "L1";
  l1.color = "#1f77b4";
  l2.name = "L2";
  l2.color = "#ff7f0e";
  size_t n1 = 0, n2 = 0;
  for (const QcSkyPoint& q : r.sky) {
    n1 += q.snr1 > 0.0f ? 1 : 0;
    n2 += q.snr2 > 0.0f ? 1 : 0;
  }
  p.total = n1 + n2;
  const size_t k = ThinningStride(p.total);
  for (Series* s : {&l1, &l2}) {
    const size_t n = s == &l1 ? n1 : n2;
    s->x.reserve((n + k - 1) / k);
    s->y.reserve((n + k - 1) / k);
  }
  size_t i1 = 0, i2 = 0;
  for (const QcSkyPoint& q : r.sky) {
    if (q.snr1 > 0.0f && i1++ % k == 0) {
      l1.x.push_back(q.elevation_deg);
      l1.y.push_back(q.snr1);
    }
    if (q.snr2 > 0.0f && i2++ % k == 0) {
      l2.x.push_back(q.elevation_deg);
      l2.y.push_back(q.snr2);
    }
  }
  p.series.push_back(std::move(l1));
  if (n2 > 0) p.series.push_back(std::move(l2));
  p.thinned = true;
  return p;
}

// MP1 (which 1) or MP2 (which 2) of each satellite against time.
PlotSpec MultipathPlot(const QcReport& r, int which) {
  PlotSpec p;
  p.id = which == 1 ? "mp1" : "mp2";
  p.kind = "time";
  p.title = QcFormat("MP%d code multipath, arc means removed", which);
  p.yLabel = QcFormat("MP%d (m)", which);
  if (!r.phasePair) {
    p.empty = "Single-frequency data: no MP1/MP2.";
  } else if (r.multipath.empty()) {
    p.empty = QcFormat("No dual-frequency arc of %d epochs or more.", kMinArcEpochs);
  }
  std::vector<size_t> count(kPrnSlots, 0);
  for (const QcMultipathPoint& q : r.multipath) ++count[q.prn & (kPrnSlots - 1)];
  std::vector<Series> byPrn(kPrnSlots);
  for (int prn = 0; prn < kPrnSlots; ++prn) {
    if (count[prn] == 0) continue;
    byPrn[prn].name = SatelliteName(prn, Glonass(r));
    byPrn[prn].color = PrnColor(prn);
    byPrn[prn].x.reserve(count[prn]);
    byPrn[prn].y.reserve(count[prn]);
  }
  for (const QcMultipathPoint& q : r.multipath) {
    Series& s = byPrn[q.prn & (kPrnSlots - 1)];
    s.x.push_back(q.time_s);
    s.y.push_back(which == 1 ? q.mp1_m : q.mp2_m);
  }
  for (Series& s : byPrn) {
    if (!s.name.empty()) p.series.push_back(std::move(s));
  }
  if (which == 1 && r.phasePair) {
    p.note = std::string("MP1 from the ") + (r.p1Code ? "P1" : "C/A") +
             " code; arcs end at a loss-of-lock flag, a detected slip or a missing value.";
  }
  return p;
}

PlotSpec Mp1Plot(const QcReport& r) { return MultipathPlot(r, 1); }
PlotSpec Mp2Plot(const QcReport& r) { return MultipathPlot(r, 2); }

// The plots of the page, in its order.
PlotSpec (*const kPlots[])(const QcReport&) = {EnuPlot, HorizontalPlot, UsedPlot, ResidualPlot,
                                               SkyPlot, SnrPlot,        Mp1Plot,  Mp2Plot};

std::vector<PlotSpec> BuildPlots(const QcReport& r) {
  std::vector<PlotSpec> plots;
  for (const auto build : kPlots) {
    plots.push_back(build(r));
    PlotSpec& p = plots.back();
    if (p.kind == "time") p.xDecimals = 2;  // times to 10 ms
    Reduce(&p);
  }
  return plots;
}

std::string Row(const std::string& name, const std::string& value) {
  return "<tr><td>" + EscapeMarkup(name) + "</td><td class=\"l\">" + EscapeMarkup(value) +
         "</td></tr>\n";
}

std::string Metres3(const double v[3]) {
  return QcFormat("%.3f / %.3f / %.3f m", v[0], v[1], v[2]);
}

// The classic QC summary figures above the elevation mask.
std::string MaskRows(const QcReport& r) {
  const double pct = QcCompletePercent(r), perSlip = QcObservationsPerSlip(r);
  std::string t = Row("Elevation mask", r.maskApplied ? QcFormat("%g deg", r.maskElevation_deg)
                                                      : std::string("none (no elevations)"));
  t += Row("Possible observations above the mask",
           r.maskApplied ? QcFormat("%lld (satellites with an ephemeris, every %g s from the first "
                                    "epoch to the last)",
                                    static_cast<long long>(r.possibleObservations), r.interval_s)
                         : std::string("-"));
  t += Row("Complete observations above the mask",
           QcFormat("%lld%s (C/A%s)", static_cast<long long>(r.completeObservations),
                    pct >= 0.0 ? QcFormat(", %.1f %% of the possible", pct).c_str() : "",
                    r.phasePair ? ", P2, L1 and L2" : ""));
  t += Row("Observations per slip", !r.phasePair ? std::string("- (needs L1 and L2 phases)")
                                    : perSlip < 0
                                        ? QcFormat("no slips in %lld observations above the mask",
                                                   static_cast<long long>(r.aboveMask))
                                        : QcFormat("%.0f (%lld observations above the mask)",
                                                   perSlip, static_cast<long long>(r.aboveMask)));
  const std::string gross = QcGrossCodeText(r);
  if (!gross.empty()) {
    t += Row(QcFormat("C/A and P2 codes differ by over %g m", kGrossCodeDifference_m), gross);
  }
  return t;
}

std::string FiguresTable(const QcReport& r) {
  std::string t = "<table class=\"figures\">\n";
  if (r.epochs > 0) {
    t += Row("First epoch", QcTimeText(r, r.first_s) + (r.weekKnown ? " GPS" : ""));
    t += Row("Last epoch", QcTimeText(r, r.last_s) + (r.weekKnown ? " GPS" : ""));
    t += Row("Interval", r.interval_s > 0.0 ? QcFormat("%g s", r.interval_s) : "-");
    t += Row("Epochs present / expected",
             QcFormat("%lld / %lld (%.1f %%)", static_cast<long long>(r.epochs),
                      static_cast<long long>(r.expected),
                      r.expected > 0 ? 100.0 * r.epochs / r.expected : 0.0));
    int64_t lost = 0;
    for (const QcGap& g : r.gaps) lost += g.missing;
    t += Row("Gaps",
             QcFormat("%zu (%lld epochs missing)", r.gaps.size(), static_cast<long long>(lost)));
    t += Row("Repeated or out-of-order epochs", std::to_string(r.repeated));
  }
  std::string seen;
  for (const QcSatellite& s : r.satellites) seen += " " + SatelliteName(s.prn, Glonass(r));
  t += Row("Satellites seen",
           std::to_string(r.satellites.size()) + (seen.empty() ? "" : ":" + seen));
  std::string obs;
  for (int k = 0; k < kQcObservableCount; ++k) {
    if (!r.phasePair && k >= kQcP1 && r.observations[k] == 0) continue;
    obs += QcFormat("%s%s %lld", obs.empty() ? "" : ", ", QcObservableName(k),
                    static_cast<long long>(r.observations[k]));
  }
  t += Row("Observations per observable", obs);
  t += Row("Loss-of-lock flags (receiver)", std::to_string(r.lossOfLock));
  t += Row("Cycle slips detected",
           r.phasePair
               ? QcFormat("%lld (%lld arcs of %d epochs or more)", static_cast<long long>(r.slips),
                          static_cast<long long>(r.arcs), kMinArcEpochs)
               : "- (needs L1 and L2 phases)");
  t += Row("Mean signal-to-noise",
           (r.observations[kQcS1] > 0 ? QcFormat("L1 %.1f", r.snr1Mean) : std::string("L1 -")) +
               (r.observations[kQcS2] > 0 ? QcFormat(", L2 %.1f", r.snr2Mean) : std::string()) +
               " (receiver units)");
  t += MaskRows(r);
  const bool mp = r.phasePair && r.mpCount > 0;
  const std::string above = r.maskApplied ? " above the mask" : "";
  t += Row("MP1 RMS" + above,
           mp ? QcFormat("%.3f m (from %s)", r.mp1Rms_m, r.p1Code ? "P1" : "C/A") : "-");
  t += Row("MP2 RMS" + above, mp ? QcFormat("%.3f m", r.mp2Rms_m) : "-");
  t += Row("Ionospheric delay rate RMS", mp ? QcFormat("%.3f m/min (L1)", r.ionoRateRms_mpm) : "-");
  t +=
      Row("Ephemerides",
          r.ephemerisFile
              ? QcFormat(
                    "%lld GPS records (%lld unhealthy)%s", static_cast<long long>(r.gpsEphemerides),
                    static_cast<long long>(r.unhealthyEphemerides),
                    r.glonassEphemerides > 0
                        ? QcFormat(", %lld GLONASS", static_cast<long long>(r.glonassEphemerides))
                              .c_str()
                        : "")
              : "no ephemeris file");
  return t + "</table>\n";
}

std::string PositionsTable(const QcReport& r) {
  const QcPositions& p = r.positions;
  std::string t = "<table class=\"figures\">\n";
  t += Row("Conversion through the module",
           !p.attempted    ? "not run"
           : p.result == 0 ? "completed"
                           : QcFormat("result %d: %s", p.result, p.error.c_str()));
  t += Row("Epochs solved", QcFormat("%lld / %lld", static_cast<long long>(p.solved),
                                     static_cast<long long>(p.epochs)));
  if (p.solved > 0) {
    t += Row("Mean position",
             QcFormat("%.9f deg, %.9f deg, %.3f m (X %.3f, Y %.3f, Z %.3f m)", p.meanLat_deg,
                      p.meanLon_deg, p.meanHeight_m, p.mean_m[0], p.mean_m[1], p.mean_m[2]));
    if (p.againstReference) {
      t += Row("Reference",
               QcFormat("X %.3f, Y %.3f, Z %.3f m", p.centre_m[0], p.centre_m[1], p.centre_m[2]));
      t += Row("Mean against the reference, E / N / U", Metres3(p.meanEnu_m));
    }
    t += Row("Scatter (standard deviation), E / N / U", Metres3(p.sigmaEnu_m));
    t += Row(std::string("RMS against ") + (p.againstReference ? "the reference" : "the mean") +
                 ", E / N / U",
             Metres3(p.rmsEnu_m));
    t += Row("RMS horizontal / 3D", QcFormat("%.3f / %.3f m", p.rmsHorizontal_m, p.rms3d_m));
    t += Row("Satellites used (mean)", QcFormat("%.2f", p.meanUsed));
    t += Row("Post-fit residual RMS (mean)", QcFormat("%.3f m", p.meanResidualRms_m));
  }
  for (const auto& [text, count] : p.messages) {
    t += Row("Module message", QcFormat("%lld x ", static_cast<long long>(count)) + text);
  }
  return t + "</table>\n";
}

std::string SatelliteTable(const QcReport& r) {
  std::string t = "<table>\n<tr><th class=\"l\">PRN</th><th>epochs</th>";
  for (int k = 0; k < kQcObservableCount; ++k) {
    if (r.phasePair || k < kQcP1) t += std::string("<th>") + QcObservableName(k) + "</th>";
  }
  t += "<th>above mask</th><th>complete</th><th>loss of lock</th><th>slips</th><th>SNR "
       "L1</th><th>SNR L2</th><th>MP1 (m)</th>"
       "<th>MP2 (m)</th><th>iono rate (m/min)</th><th>max elevation (deg)</th></tr>\n";
  for (const QcSatellite& s : r.satellites) {
    t += "<tr><td class=\"l\">" + SatelliteName(s.prn, Glonass(r)) + "</td><td>" +
         std::to_string(s.epochs) + "</td>";
    for (int k = 0; k < kQcObservableCount; ++k) {
      if (r.phasePair || k < kQcP1) t += "<td>" + std::to_string(s.observations[k]) + "</td>";
    }
    const bool mp = r.phasePair && s.mpCount > 0;
    t += "<td>" + std::to_string(s.aboveMask) + "</td><td>" + std::to_string(s.complete) +
         "</td><td>" + std::to_string(s.lossOfLock) + "</td><td>" +
         (r.phasePair ? std::to_string(s.slips) : "-") + "</td><td>" +
         (s.snr1Count > 0 ? QcFormat("%.1f", s.snr1Sum / s.snr1Count) : "-") + "</td><td>" +
         (s.snr2Count > 0 ? QcFormat("%.1f", s.snr2Sum / s.snr2Count) : "-") + "</td><td>" +
         (mp ? QcFormat("%.3f", std::sqrt(s.mp1Sum2 / s.mpCount)) : "-") + "</td><td>" +
         (mp ? QcFormat("%.3f", std::sqrt(s.mp2Sum2 / s.mpCount)) : "-") + "</td><td>" +
         (s.ionoRateCount > 0 ? QcFormat("%.3f", std::sqrt(s.ionoRateSum2 / s.ionoRateCount))
                              : "-") +
         "</td><td>" + (s.maxElevation_deg > -90.0 ? QcFormat("%.1f", s.maxElevation_deg) : "-") +
         "</td></tr>\n";
  }
  return t + "</table>\n";
}

std::string Page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" +
         EscapeMarkup(title) + "</title>\n<style>\n" + kQcReportCss +
         "</style>\n</head>\n<body>\n" + body + "</body></html>\n";
}

}  // namespace

std::string RenderQcHtml(const QcReport& r) {
  std::string b = "<h1>Quality report: " + EscapeMarkup(r.name) + "</h1>\n<div class=\"sub\">";
  if (r.readable) {
    b += EscapeMarkup(QcFormat("Receiver %s (%s)", r.model.c_str(), r.receiverName.c_str()));
    if (!r.site.empty()) b += EscapeMarkup(", site " + r.site);
    if (r.hasSiteFile) b += EscapeMarkup(QcFormat(", antenna height %.4f m", r.antennaHeight_m));
    b += EscapeMarkup(r.weekKnown
                          ? QcFormat(", GPS week %d (from the %s)", r.week, r.weekSource.c_str())
                          : std::string(", GPS week unknown"));
  }
  b += "<br>" + EscapeMarkup(r.path) + "</div>\n";
  if (!r.missing.empty()) {
    b += "<div class=\"missing\" id=\"qc-missing\"><b>What this report cannot show, and "
         "why</b><ul>\n";
    for (const std::string& m : r.missing) b += "<li>" + EscapeMarkup(m) + "</li>\n";
    b += "</ul></div>\n";
  }
  b += "<pre id=\"qc-errors\"></pre>\n";
  if (!r.readable) return Page("Quality report: " + r.name, b);

  b += "<h2>Observations</h2>\n" + FiguresTable(r);
  b += "<h2>Positions</h2>\n" + PositionsTable(r);
  const std::vector<PlotSpec> plots = BuildPlots(r);
  b += "<h2>Plots</h2>\n<p class=\"sub\">Drag across a plot to zoom, double-click to reset; hover "
       "for values; click a legend entry to hide its series. Times are GPS time.</p>\n"
       "<div class=\"plots\">\n";
  std::string json =
      std::string("{\"timeBase\":\"") + (r.weekKnown ? "gps" : "tow") + "\",\"plots\":[";
  for (size_t i = 0; i < plots.size(); ++i) {
    const PlotSpec& p = plots[i];
    b += "<div class=\"plot\" id=\"plot-" + p.id + "\"><h3>" + EscapeMarkup(p.title) +
         "</h3><canvas></canvas><div class=\"legend\"></div><div class=\"tip\"></div>";
    const std::string note = (p.empty.empty() ? std::string() : p.empty + " ") + p.note;
    if (!note.empty()) b += "<div class=\"note\">" + EscapeMarkup(note) + "</div>";
    b += "</div>\n";
    json += (i > 0 ? "," : "") + PlotJson(p);
  }
  json += "]}";
  // "</" cannot end the script element early once written as "<\/" (the same JSON).
  for (size_t at = json.find("</"); at != std::string::npos; at = json.find("</", at + 3)) {
    json.replace(at, 2, "<\\/");
  }
  b += "</div>\n";
  b += "<h2>Satellites</h2>\n" + SatelliteTable(r);
  if (!r.gaps.empty()) {
    b += "<h2>Gaps</h2>\n<table><tr><th class=\"l\">last epoch before</th><th class=\"l\">first "
         "epoch after</th><th>epochs missing</th></tr>\n";
    for (const QcGap& g : r.gaps) {
      b += "<tr><td class=\"l\">" + EscapeMarkup(QcTimeText(r, g.from_s)) +
           "</td><td class=\"l\">" + EscapeMarkup(QcTimeText(r, g.to_s)) + "</td><td>" +
           std::to_string(g.missing) + "</td></tr>\n";
    }
    b += "</table>\n";
  }
  if (!r.damage.empty()) {
    b += "<h2>Damage</h2>\n<ul>\n";
    for (const std::string& d : r.damage) b += "<li>" + EscapeMarkup(d) + "</li>\n";
    b += "</ul>\n";
  }
  if (!r.weekNote.empty()) b += "<p class=\"sub\">" + EscapeMarkup(r.weekNote) + "</p>\n";
  b += "<script type=\"application/json\" id=\"qc-data\">" + json + "</script>\n<script>\n" +
       kQcReportJs + "</script>\n";
  return Page("Quality report: " + r.name, b);
}

QcIndexEntry QcIndexEntryOf(const QcReport& r, const std::string& link, int status) {
  QcIndexEntry e;
  e.set = r.name;
  e.link = link;
  e.status = status;
  e.firstEpoch = r.epochs > 0 ? QcTimeText(r, r.first_s) : "-";
  e.lastEpoch = r.epochs > 0 ? QcTimeText(r, r.last_s) : "-";
  e.completeness = QcFormat("%lld/%lld (%.1f %%)", static_cast<long long>(r.epochs),
                            static_cast<long long>(r.expected),
                            r.expected > 0 ? 100.0 * r.epochs / r.expected : 0.0);
  e.slips = r.phasePair ? std::to_string(r.slips) : "-";
  e.multipath = r.phasePair && r.mpCount > 0
                    ? QcFormat("MP1 %.3f m, MP2 %.3f m", r.mp1Rms_m, r.mp2Rms_m)
                    : "-";
  const QcPositions& p = r.positions;
  e.positions =
      p.solved > 0
          ? QcFormat("%lld/%lld solved, RMS H %.2f m V %.2f m", static_cast<long long>(p.solved),
                     static_cast<long long>(p.epochs), p.rmsHorizontal_m, p.rmsEnu_m[2])
          : PositionGap(r);
  e.missing = r.missing.size();
  return e;
}

std::string RenderQcIndex(const std::vector<QcIndexEntry>& entries) {
  std::string b =
      "<h1>Quality reports</h1>\n<table class=\"index\">\n<tr><th class=\"l\">set</th>"
      "<th class=\"l\">first epoch</th><th class=\"l\">last epoch</th><th>epochs</th>"
      "<th>cycle slips</th><th class=\"l\">multipath RMS</th><th class=\"l\">positions</th>"
      "<th>notes</th></tr>\n";
  for (const QcIndexEntry& e : entries) {
    const std::string name =
        e.link.empty() ? EscapeMarkup(e.set)
                       : "<a href=\"" + EscapeMarkup(e.link) + "\">" + EscapeMarkup(e.set) + "</a>";
    b += "<tr><td class=\"l\">" + name + "</td><td class=\"l\">" + EscapeMarkup(e.firstEpoch) +
         "</td><td class=\"l\">" + EscapeMarkup(e.lastEpoch) + "</td><td>" +
         EscapeMarkup(e.completeness) + "</td><td>" + EscapeMarkup(e.slips) +
         "</td><td class=\"l\">" + EscapeMarkup(e.multipath) + "</td><td class=\"l\">" +
         EscapeMarkup(e.positions) + "</td><td>" +
         (e.status == 2   ? "no usable report"
          : e.missing > 0 ? std::to_string(e.missing) + " missing"
                          : "-") +
         "</td></tr>\n";
  }
  return Page("Quality reports", b + "</table>\n");
}

std::string EncodeQcIndexEntry(const QcIndexEntry& e) {
  std::string out;
  const std::string fields[] = {e.set,
                                e.link,
                                std::to_string(e.status),
                                e.firstEpoch,
                                e.lastEpoch,
                                e.completeness,
                                e.slips,
                                e.multipath,
                                e.positions,
                                std::to_string(e.missing)};
  for (const std::string& field : fields) {
    if (!out.empty()) out += '\t';
    for (const char c : field) out += c == '\t' || c == '\n' || c == '\r' ? ' ' : c;
  }
  return out;
}

bool DecodeQcIndexEntry(const std::string& text, QcIndexEntry* e) {
  std::vector<std::string> fields(1);
  for (const char c : text) {
    if (c == '\t') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  if (fields.size() != 10) return false;
  e->set = fields[0];
  e->link = fields[1];
  e->status = std::atoi(fields[2].c_str());
  e->firstEpoch = fields[3];
  e->lastEpoch = fields[4];
  e->completeness = fields[5];
  e->slips = fields[6];
  e->multipath = fields[7];
  e->positions = fields[8];
  e->missing = std::strtoul(fields[9].c_str(), nullptr, 10);
  return true;
}

}  // namespace talverin
