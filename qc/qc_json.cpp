#include "qc/qc_json.h"

#include "dataset/json_writer.h"

#include <cmath>
#include <cstdio>

namespace talverin {
namespace {

std::string Observations(const int64_t counts[kQcObservableCount], bool dual) {
  JsonMembers m;
  for (int k = 0; k < kQcObservableCount; ++k) {
    // A single-frequency record has no P1 and L2 block: those counts do not exist.
    const bool exists = dual || k < kQcP1;
    if (exists || counts[k] > 0) m.Integer(QcObservableName(k), counts[k]);
  }
  return m.Object();
}

std::string Enu(const double v[3]) {
  return "[" + JsonNumber(v[0], 3) + ", " + JsonNumber(v[1], 3) + ", " + JsonNumber(v[2], 3) + "]";
}

// The positions a conversion recomputes, as one object.
std::string PositionsJson(const QcPositions& p) {
  const bool solved = p.solved > 0;
  JsonMembers pm;
  pm.Boolean("converted", p.attempted);
  pm.Integer("result", p.result);
  pm.Raw("error", p.error.empty() ? "null" : JsonString(p.error));
  pm.Integer("epochs", p.epochs);
  pm.Integer("solved", p.solved);
  pm.Raw("against", solved ? JsonString(p.againstReference ? "reference" : "mean") : "null");
  pm.Raw("mean", solved ? JsonMembers()
                              .Number("x_m", p.mean_m[0], 3)
                              .Number("y_m", p.mean_m[1], 3)
                              .Number("z_m", p.mean_m[2], 3)
                              .Number("lat_deg", p.meanLat_deg, 9)
                              .Number("lon_deg", p.meanLon_deg, 9)
                              .Number("height_m", p.meanHeight_m, 3)
                              .Object()
                        : "null");
  pm.Raw("meanEnu_m", solved ? Enu(p.meanEnu_m) : "null");
  pm.Raw("sigmaEnu_m", solved ? Enu(p.sigmaEnu_m) : "null");
  pm.Raw("rmsEnu_m", solved ? Enu(p.rmsEnu_m) : "null");
  pm.Number("rmsHorizontal_m", p.rmsHorizontal_m, 3, solved);
  pm.Number("rms3d_m", p.rms3d_m, 3, solved);
  pm.Number("meanSatellitesUsed", p.meanUsed, 2, solved);
  pm.Number("meanResidualRms_m", p.meanResidualRms_m, 3, solved);
  std::vector<std::string> messages;
  for (const auto& [text, count] : p.messages) {
    messages.push_back(JsonMembers().Text("text", text).Integer("count", count).Object());
  }
  pm.Raw("messages", JsonArray(messages));
  return pm.Object();
}

// One object per satellite.
std::string SatellitesJson(const QcReport& r) {
  const bool dual = r.phasePair;
  std::vector<std::string> sats;
  for (const QcSatellite& s : r.satellites) {
    const bool smp = dual && s.mpCount > 0;
    sats.push_back(
        JsonMembers()
            .Integer("prn", s.prn)
            .Integer("epochs", s.epochs)
            .Raw("observations", Observations(s.observations, dual))
            .Integer("lossOfLock", s.lossOfLock)
            .Raw("cycleSlips", dual ? std::to_string(s.slips) : "null")
            .Integer("observationsAboveMask", s.aboveMask)
            .Integer("completeObservations", s.complete)
            .Integer("grossCodeDifferences", s.grossCode)
            .Number("snr1Mean", s.snr1Count > 0 ? s.snr1Sum / s.snr1Count : 0.0, 2, s.snr1Count > 0)
            .Number("snr2Mean", s.snr2Count > 0 ? s.snr2Sum / s.snr2Count : 0.0, 2, s.snr2Count > 0)
            .Number("mp1Rms_m", smp ? std::sqrt(s.mp1Sum2 / s.mpCount) : 0.0, 4, smp)
            .Number("mp2Rms_m", smp ? std::sqrt(s.mp2Sum2 / s.mpCount) : 0.0, 4, smp)
            .Number("ionoRateRms_m_per_min",
                    s.ionoRateCount > 0 ? std::sqrt(s.ionoRateSum2 / s.ionoRateCount) : 0.0, 4,
                    s.ionoRateCount > 0)
            .Number("maxElevation_deg", s.maxElevation_deg, 1, s.maxElevation_deg > -90.0)
            .Object());
  }
  return JsonArray(sats);
}

}  // namespace

std::string QcJsonMembers(const QcReport& r) {
  const bool dual = r.phasePair;
  const bool mp = dual && r.mpCount > 0;
  JsonMembers m;
  m.Text("set", r.name);
  m.Raw("receiver", JsonMembers()
                        .Text("model", r.model)
                        .Integer("type", r.receiverType)
                        .Text("class", r.receiverName)
                        .Object());
  m.Text("site", r.site);
  m.Number("antennaHeight_m", r.antennaHeight_m, 4, r.hasSiteFile);
  m.Raw("gpsWeek", r.weekKnown ? std::to_string(r.week) : "null");
  m.Text("weekSource", r.weekSource);
  m.Raw("firstEpoch", r.epochs > 0 ? JsonString(QcTimeText(r, r.first_s)) : "null");
  m.Raw("lastEpoch", r.epochs > 0 ? JsonString(QcTimeText(r, r.last_s)) : "null");
  m.Number("interval_s", r.interval_s, 3, r.interval_s > 0.0);
  m.Integer("epochs", r.epochs);
  m.Integer("expectedEpochs", r.expected);
  m.Number("completeness_pct", r.expected > 0 ? 100.0 * r.epochs / r.expected : 0.0, 2,
           r.expected > 0);
  m.Integer("repeatedEpochs", r.repeated);
  std::vector<std::string> gaps;
  for (const QcGap& g : r.gaps) {
    gaps.push_back(JsonMembers()
                       .Text("from", QcTimeText(r, g.from_s))
                       .Text("to", QcTimeText(r, g.to_s))
                       .Integer("missingEpochs", g.missing)
                       .Object());
  }
  m.Raw("gaps", JsonArray(gaps));
  m.Integer("satellites", static_cast<int64_t>(r.satellites.size()));
  m.Raw("observations", Observations(r.observations, dual));
  m.Integer("lossOfLock", r.lossOfLock);
  m.Raw("cycleSlips", dual ? std::to_string(r.slips) : "null");
  m.Number("snr1Mean", r.snr1Mean, 2, r.observations[kQcS1] > 0);
  m.Number("snr2Mean", r.snr2Mean, 2, r.observations[kQcS2] > 0);
  m.Raw("mp1Code", mp ? JsonString(r.p1Code ? "P1" : "C/A") : "null");
  m.Number("mp1Rms_m", r.mp1Rms_m, 4, mp);
  m.Number("mp2Rms_m", r.mp2Rms_m, 4, mp);
  m.Integer("multipathArcs", r.arcs);
  // The classic QC summary figures: null where they do not exist (no elevations, no slip).
  const double pct = QcCompletePercent(r), perSlip = QcObservationsPerSlip(r);
  m.Number("maskElevation_deg", r.maskElevation_deg, 1, r.maskApplied);
  m.Raw("possibleObservations", r.maskApplied ? std::to_string(r.possibleObservations) : "null");
  m.Integer("observationsAboveMask", r.aboveMask);
  m.Integer("completeObservations", r.completeObservations);
  m.Number("completeObservations_pct", pct, 2, pct >= 0.0);
  m.Number("observationsPerSlip", perSlip, 1, perSlip >= 0.0);
  m.Number("ionoRateRms_m_per_min", r.ionoRateRms_mpm, 4, mp);
  m.Raw("ephemerides", JsonMembers()
                           .Boolean("file", r.ephemerisFile)
                           .Integer("gps", r.gpsEphemerides)
                           .Integer("unhealthy", r.unhealthyEphemerides)
                           .Integer("glonass", r.glonassEphemerides)
                           .Object());
  m.Raw("elevationsFrom", r.elevations ? JsonString(r.elevationSource) : "null");

  m.Raw("positions", PositionsJson(r.positions));
  m.Raw("perSatellite", SatellitesJson(r));
  std::vector<std::string> damage, missing;
  for (const std::string& d : r.damage) damage.push_back(JsonString(d));
  for (const std::string& d : r.missing) missing.push_back(JsonString(d));
  m.Raw("damage",
        JsonMembers().Integer("bytes", r.damagedBytes).Raw("places", JsonArray(damage)).Object());
  m.Raw("missing", JsonArray(missing));
  return m.text();
}

std::string QcJsonDocument(const std::string& input, int status, const std::string& members) {
  return "{\"command\": \"qc\", \"status\": " + std::to_string(status) +
         ", \"sets\": [{\"input\": " + JsonString(input) +
         ", \"status\": " + std::to_string(status) + ", " + members + "}]}\n";
}

}  // namespace talverin
