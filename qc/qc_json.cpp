#include "qc/qc_json.h"

#include <cmath>
#include <cstdio>

namespace talverin {
namespace {

// Members of one JSON object, added one by one.
class Members {
 public:
  Members& Raw(const char* name, const std::string& json) {
    if (!text_.empty()) text_ += ", ";
    text_ += JsonQuote(name) + ": " + json;
    return *this;
  }
  Members& Text(const char* name, const std::string& value) { return Raw(name, JsonQuote(value)); }
  Members& Int(const char* name, int64_t value) { return Raw(name, std::to_string(value)); }
  Members& Bool(const char* name, bool value) { return Raw(name, value ? "true" : "false"); }
  // decimals after the point; not finite or !exists gives null.
  Members& Num(const char* name, double value, int decimals, bool exists = true) {
    return Raw(name, Number(value, decimals, exists));
  }
  static std::string Number(double value, int decimals, bool exists = true) {
    if (!exists || !std::isfinite(value)) return "null";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
  }
  const std::string& text() const { return text_; }
  std::string Object() const { return "{" + text_ + "}"; }

 private:
  std::string text_;
};

std::string Array(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i > 0 ? ", " : "") + items[i];
  return out + "]";
}

std::string Observations(const int64_t counts[kQcObservableCount], bool dual) {
  Members m;
  for (int k = 0; k < kQcObservableCount; ++k) {
    // A single-frequency record has no P1 and L2 block: those counts do not exist.
    const bool exists = dual || k < kQcP1;
    if (exists || counts[k] > 0) m.Int(QcObservableName(k), counts[k]);
  }
  return m.Object();
}

std::string Enu(const double v[3]) {
  return "[" + Members::Number(v[0], 3) + ", " + Members::Number(v[1], 3) + ", " +
         Members::Number(v[2], 3) + "]";
}

}  // namespace

std::string JsonQuote(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string QcJsonMembers(const QcReport& r) {
  const bool dual = r.dualFrequency;
  const bool mp = dual && r.mpCount > 0;
  Members m;
  m.Text("set", r.name);
  m.Raw("receiver", Members()
                        .Text("model", r.model)
                        .Int("type", r.receiverType)
                        .Text("class", r.receiverName)
                        .Object());
  m.Text("site", r.site);
  m.Num("antennaHeight_m", r.antennaHeight_m, 4, r.hasSiteFile);
  m.Raw("gpsWeek", r.weekKnown ? std::to_string(r.week) : "null");
  m.Text("weekSource", r.weekSource);
  m.Raw("firstEpoch", r.epochs > 0 ? JsonQuote(QcTimeText(r, r.first_s)) : "null");
  m.Raw("lastEpoch", r.epochs > 0 ? JsonQuote(QcTimeText(r, r.last_s)) : "null");
  m.Num("interval_s", r.interval_s, 3, r.interval_s > 0.0);
  m.Int("epochs", r.epochs);
  m.Int("expectedEpochs", r.expected);
  m.Num("completeness_pct", r.expected > 0 ? 100.0 * r.epochs / r.expected : 0.0, 2,
        r.expected > 0);
  m.Int("repeatedEpochs", r.repeated);
  std::vector<std::string> gaps;
  for (const QcGap& g : r.gaps) {
    gaps.push_back(Members()
                       .Text("from", QcTimeText(r, g.from_s))
                       .Text("to", QcTimeText(r, g.to_s))
                       .Int("missingEpochs", g.missing)
                       .Object());
  }
  m.Raw("gaps", Array(gaps));
  m.Int("satellites", static_cast<int64_t>(r.satellites.size()));
  m.Raw("observations", Observations(r.observations, dual));
  m.Int("lossOfLock", r.lossOfLock);
  m.Raw("cycleSlips", dual ? std::to_string(r.slips) : "null");
  m.Num("snr1Mean", r.snr1Mean, 2, r.observations[kQcS1] > 0);
  m.Num("snr2Mean", r.snr2Mean, 2, r.observations[kQcS2] > 0);
  m.Raw("mp1Code", mp ? JsonQuote(r.p1Code ? "P1" : "C/A") : "null");
  m.Num("mp1Rms_m", r.mp1Rms_m, 4, mp);
  m.Num("mp2Rms_m", r.mp2Rms_m, 4, mp);
  m.Int("multipathArcs", r.arcs);
  m.Num("ionoRateRms_m_per_min", r.ionoRateRms_mpm, 4, mp);
  m.Raw("ephemerides", Members()
                           .Bool("file", r.ephemerisFile)
                           .Int("gps", r.gpsEphemerides)
                           .Int("unhealthy", r.unhealthyEphemerides)
                           .Int("glonass", r.glonassEphemerides)
                           .Object());
  m.Raw("elevationsFrom", r.elevations ? JsonQuote(r.elevationSource) : "null");

  const QcPositions& p = r.positions;
  const bool solved = p.solved > 0;
  Members pm;
  pm.Bool("converted", p.attempted);
  pm.Int("result", p.result);
  pm.Raw("error", p.error.empty() ? "null" : JsonQuote(p.error));
  pm.Int("epochs", p.epochs);
  pm.Int("solved", p.solved);
  pm.Raw("against", solved ? JsonQuote(p.againstReference ? "reference" : "mean") : "null");
  pm.Raw("mean", solved ? Members()
                              .Num("x_m", p.mean_m[0], 3)
                              .Num("y_m", p.mean_m[1], 3)
                              .Num("z_m", p.mean_m[2], 3)
                              .Num("lat_deg", p.meanLat_deg, 9)
                              .Num("lon_deg", p.meanLon_deg, 9)
                              .Num("height_m", p.meanHeight_m, 3)
                              .Object()
                        : "null");
  pm.Raw("meanEnu_m", solved ? Enu(p.meanEnu_m) : "null");
  pm.Raw("sigmaEnu_m", solved ? Enu(p.sigmaEnu_m) : "null");
  pm.Raw("rmsEnu_m", solved ? Enu(p.rmsEnu_m) : "null");
  pm.Num("rmsHorizontal_m", p.rmsHorizontal_m, 3, solved);
  pm.Num("rms3d_m", p.rms3d_m, 3, solved);
  pm.Num("meanSatellitesUsed", p.meanUsed, 2, solved);
  pm.Num("meanResidualRms_m", p.meanResidualRms_m, 3, solved);
  std::vector<std::string> messages;
  for (const auto& [text, count] : p.messages) {
    messages.push_back(Members().Text("text", text).Int("count", count).Object());
  }
  pm.Raw("messages", Array(messages));
  m.Raw("positions", pm.Object());

  std::vector<std::string> sats;
  for (const QcSatellite& s : r.satellites) {
    const bool smp = dual && s.mpCount > 0;
    sats.push_back(
        Members()
            .Int("prn", s.prn)
            .Int("epochs", s.epochs)
            .Raw("observations", Observations(s.observations, dual))
            .Int("lossOfLock", s.lossOfLock)
            .Raw("cycleSlips", dual ? std::to_string(s.slips) : "null")
            .Num("snr1Mean", s.snr1Count > 0 ? s.snr1Sum / s.snr1Count : 0.0, 2, s.snr1Count > 0)
            .Num("snr2Mean", s.snr2Count > 0 ? s.snr2Sum / s.snr2Count : 0.0, 2, s.snr2Count > 0)
            .Num("mp1Rms_m", smp ? std::sqrt(s.mp1Sum2 / s.mpCount) : 0.0, 4, smp)
            .Num("mp2Rms_m", smp ? std::sqrt(s.mp2Sum2 / s.mpCount) : 0.0, 4, smp)
            .Num("ionoRateRms_m_per_min",
                 s.ionoRateCount > 0 ? std::sqrt(s.ionoRateSum2 / s.ionoRateCount) : 0.0, 4,
                 s.ionoRateCount > 0)
            .Num("maxElevation_deg", s.maxElevation_deg, 1, s.maxElevation_deg > -90.0)
            .Object());
  }
  m.Raw("perSatellite", Array(sats));
  std::vector<std::string> damage, missing;
  for (const std::string& d : r.damage) damage.push_back(JsonQuote(d));
  for (const std::string& d : r.missing) missing.push_back(JsonQuote(d));
  m.Raw("damage", Members().Int("bytes", r.damagedBytes).Raw("places", Array(damage)).Object());
  m.Raw("missing", Array(missing));
  return m.text();
}

std::string QcJsonDocument(const std::string& input, int status, const std::string& members) {
  return "{\"command\": \"qc\", \"status\": " + std::to_string(status) +
         ", \"sets\": [{\"input\": " + JsonQuote(input) +
         ", \"status\": " + std::to_string(status) + ", " + members + "}]}\n";
}

}  // namespace talverin
