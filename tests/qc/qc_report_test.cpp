// The quality report on real data: its figures against a computation made here straight
// from the RINEX values the download set was imported from (the USNO day's slips among
// them; elevations from the test's own broadcast orbit), and the page as headless Chromium renders
// it (every plot drawn, no script error) for sets that lack their ephemerides or are damaged.
// The command's exit statuses, index and JSON: cli_test.
#include <gtest/gtest.h>
#include <png.h>
#include <GeographicLib/Geocentric.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "dataset/byte_builder.h"
#include "dataset/markup_text.h"
#include "orbit/ephemeris_store.h"
#include "qc/qc_figures.h"
#include "qc/qc_html.h"
#include "qc/qc_positions.h"
#include "qc/qc_set.h"
#include "rinex/rinex_obs_reader.h"
#include "testkit/reference_models.h"
#include "tests/rinex/rinex_test_data.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

using rinex_test::RealRinexSet;
using rinex_test::RealRinexSets;
using testing_support::TempDir;

// The figures computed from the RINEX file itself: the download set keeps a satellite only
// with a C/A range, and flags a restart where the RINEX loss-of-lock bit is set or a phase
// or the satellite was missing from the epoch before. Arcs and slips follow the report's
// definition above the mask, without P1 for an L2-codeless receiver; MP is written here in
// its textbook form, MP1 = P1 - (1 + 2/(a-1)) L1 + (2/(a-1)) L2 in metres.
struct Reference {
  int64_t epochs = 0, expected = 0, gaps = 0, slips = 0, values = 0;
  int64_t possible = 0, above = 0, complete = 0;
  double mp1Rms_m = 0.0, mp2Rms_m = 0.0;
};

// Elevation (deg) at reception time tow_s from the set's ephemerides through the test's
// orbit model and record scan; -90 when no record applies.
struct Elevations {
  ModuleEphemerides eph;
  testing_support::ScanSelection scan;
  double rx_m[3], up[3];
  double operator()(int prn, double tow_s, double range_m) {
    const GpsEph* e = scan.Find(eph.store(), prn, tow_s, -1);
    double sat[3], lat, lon, h;
    if (e == nullptr) return -90.0;
    testing_support::RefLightTime(*e, tow_s, range_m, rx_m, sat);
    GeographicLib::Geocentric::WGS84().Reverse(rx_m[0], rx_m[1], rx_m[2], lat, lon, h);
    const double d[3] = {sat[0] - rx_m[0], sat[1] - rx_m[1], sat[2] - rx_m[2]};
    const double u = std::cos(lat * M_PI / 180) *
                         (std::cos(lon * M_PI / 180) * d[0] + std::sin(lon * M_PI / 180) * d[1]) +
                     std::sin(lat * M_PI / 180) * d[2];
    return std::asin(u / testing_support::Distance3(sat, rx_m)) * 180 / M_PI;
  }
};

Reference FromRinex(const std::string& path, Elevations& elevation, double mask, bool p1) {
  const double c = 299792458.0, f1 = 1575.42e6, f2 = 1227.60e6;
  const double w1 = c / f1, w2 = c / f2, wl = c / (f1 - f2), a = (f1 / f2) * (f1 / f2);
  struct Track {
    long last = -2, arcLast = -2;
    bool l1 = false, l2 = false, p1 = false;
    double t = 0, iono = 0, wideSum = 0;
    int wideN = 0;
    std::vector<std::pair<double, double>> mp;
  };
  Reference ref;
  std::map<int, Track> tracks;
  double mp1 = 0, mp2 = 0;
  auto close = [&](Track& k) {
    if (k.mp.size() >= static_cast<size_t>(kMinArcEpochs)) {
      double m1 = 0, m2 = 0;
      for (auto& v : k.mp) m1 += v.first / k.mp.size(), m2 += v.second / k.mp.size();
      for (auto& v : k.mp)
        mp1 += (v.first - m1) * (v.first - m1), mp2 += (v.second - m2) * (v.second - m2);
      ref.values += static_cast<int64_t>(k.mp.size());
    }
    k.mp.clear();
    k.arcLast = -2;
    k.wideSum = 0;
    k.wideN = 0;
  };
  RinexObsReader reader;
  EXPECT_EQ(reader.Open(path.c_str()), 0) << reader.errorText();
  RinexObsEpoch e;
  std::vector<double> times;
  for (long index = 0; reader.ReadEpoch(&e) == 1; ++index) {
    const double t = e.week * 604800.0 + e.tow_s;
    times.push_back(t);
    for (const RinexSatObs& s : e.sats) {
      auto ok = [&](RinexObsCode code) {
        const RinexObsValue* v = reader.Value(s, code);
        return v != nullptr && v->present && v->value != 0.0;
      };
      auto val = [&](RinexObsCode code) { return reader.Value(s, code)->value; };
      if (s.system != 'G' || !ok(kObsC1)) continue;
      const bool above = elevation(s.prn, e.tow_s, val(kObsC1)) > mask;
      Track& k = tracks[s.prn];
      const bool cont = k.last == index - 1 && e.flag != 1;
      const bool hasL1 = ok(kObsL1), hasL2 = ok(kObsL2);
      const bool restart = !hasL1 || !cont || !k.l1 || (reader.Value(s, kObsL1)->lli & 1) ||
                           !hasL2 || !k.l2 || (reader.Value(s, kObsL2)->lli & 1);
      k.last = index;
      k.l1 = hasL1;
      k.l2 = hasL2;
      if (!above) continue;
      ++ref.above;
      ref.complete += hasL1 && hasL2 && ok(kObsP2);
      const bool inArc = k.arcLast == index - 1 && !restart && (k.p1 ? ok(kObsP1) : true);
      if (!inArc) close(k);
      if (!(hasL1 && hasL2 && ok(kObsP2))) continue;
      if (!inArc) k.p1 = p1 && ok(kObsP1);
      const double r1 = val(k.p1 ? kObsP1 : kObsC1), r2 = val(kObsP2);
      if (std::fabs(r1 - r2) > kGrossCodeDifference_m) {
        close(k);
        continue;
      }
      const double l1 = val(kObsL1) * w1, l2 = val(kObsL2) * w2;
      const double iono = (l1 - l2) / (a - 1);
      const double wide = ((f1 * l1 - f2 * l2) / (f1 - f2) - (f1 * r1 + f2 * r2) / (f1 + f2)) / wl;
      if (inArc) {
        const double rate = (iono - k.iono) / ((t - k.t) / 60.0);
        if (std::fabs(rate) > kIonoRateSlip_mpm ||
            std::fabs(wide - k.wideSum / k.wideN) > kWideLaneSlip_cyc) {
          ++ref.slips;
          close(k);
          k.p1 = p1 && ok(kObsP1);
        }
      }
      k.arcLast = index;
      k.t = t;
      k.iono = iono;
      k.wideSum += wide;
      ++k.wideN;
      k.mp.emplace_back(r1 - l1 - 2.0 / (a - 1) * (l1 - l2),
                        r2 - l2 - 2.0 * a / (a - 1) * (l1 - l2));
    }
  }
  for (auto& [prn, k] : tracks) close(k);
  ref.epochs = static_cast<int64_t>(times.size());
  std::map<long long, int> steps;
  for (size_t i = 1; i < times.size(); ++i) ++steps[std::llround((times[i] - times[i - 1]) * 1000)];
  long long interval = 0;
  for (auto& [ms, n] : steps) interval = n > steps[interval] ? ms : interval;
  ref.expected = std::llround((times.back() - times.front()) * 1000 / interval) + 1;
  for (size_t i = 1; i < times.size(); ++i)
    ref.gaps += (times[i] - times[i - 1]) * 1000 > 1.5 * interval;
  for (int64_t i = 0; i < ref.expected; ++i) {
    for (int prn = 1; prn <= 32; ++prn)
      ref.possible +=
          elevation(prn, std::fmod(times[0] + i * interval / 1000.0, 604800.0), 2.2e7) > mask;
  }
  ref.mp1Rms_m = std::sqrt(mp1 / ref.values);
  ref.mp2Rms_m = std::sqrt(mp2 / ref.values);
  return ref;
}

// A copy of the BAHR hour whose G06 C/A range is 1 km long in epochs 40-59 and whose G06 has
// no L2 phase in epochs 80-99, its L2 code kept (nine observables, two lines a satellite, L2
// the second and C1 the third 16-column field of the first).
void BadC1(const std::string& from, const std::string& to) {
  std::istringstream in(ReadFileText(from));
  std::string out, line, prns;
  int64_t epoch = -1, left = 0, n = 0;
  for (bool header = true; std::getline(in, line); out += line + "\n") {
    if (header) {
      header = line.find("END OF HEADER") == std::string::npos;
    } else if (left == 0) {  // an epoch line: the satellite count at columns 30-32, then PRNs
      left = 2 * std::stoi(line.substr(29, 3)), prns = line.substr(32, 36), n = 0, ++epoch;
    } else if (--left, n++ % 2 == 0 && prns.compare(3 * (n / 2), 3, "G 6") == 0) {
      char value[16];
      std::snprintf(value, sizeof value, "%14.3f", std::stod(line.substr(32, 14)) + 1000.0);
      if (epoch >= 40 && epoch < 60) line.replace(32, 14, value);
      if (epoch >= 80 && epoch < 100) line.replace(16, 16, std::string(16, ' '));
    }
  }
  EXPECT_TRUE(WriteFileText(to, out));
}

// The figures of the real sets, as recorded and as an L2-codeless receiver (C/A, L1, L2, P2)
// would give them (also with a bad C1 and a lost L2 phase of G06, and a window of the set against
// the RINEX export of that window), against the computation from their RINEX values; every epoch
// solved.
TEST(QcReport, FiguresOfTheRealSets) {
  int64_t slips = 0;  // 46 in the USNO day: both slip tests are exercised
  for (const RealRinexSet& set : RealRinexSets()) {
    for (const char* receiver : {"", "l2-codeless", "bad C1", "window"}) {
      SCOPED_TRACE(set.name + " " + receiver);
      TempDir dir;
      const bool bad = receiver[0] == 'b', window = receiver[0] == 'w';
      if ((bad || window) && set.name != "bahr-2004-162") continue;
      QcOptions options;
      std::string whole, observation = bad ? dir.File("bad.04o") : set.observation;
      if (bad) BadC1(set.observation, observation);
      if (window) {  // 00:10-00:40 at 120 s, of the set and of its RINEX export
        whole = rinex_test::ImportBahr(dir.File("whole"));
        options.window.hasStart = options.window.hasEnd = true;
        options.window.start = {1274, 345600.0 + 600.0};
        options.window.end = {1274, 345600.0 + 2400.0};
        options.window.interval_s = 120.0;
        RinexExportOptions edit;
        edit.window = options.window;
        observation = dir.File("win.o");
        rinex_test::ExportSet(whole, dir.File("win"), 2, edit);
      }
      const RinexImportSummary imported =
          rinex_test::ImportSet(observation, set.navigation, dir.path(), "rinex",
                                bad      ? "l2-codeless"
                                : window ? ""
                                         : receiver);
      static QcReport report;
      ASSERT_EQ(ComputeQcReport(window ? whole : imported.observationFile, options, &report), 0)
          << report.readError;
      Elevations elevation;
      ASSERT_TRUE(elevation.eph.Load(imported.ephemerisFile));
      std::copy(report.positions.mean_m, report.positions.mean_m + 3, elevation.rx_m);
      const Reference ref = FromRinex(observation, elevation, 10.0, receiver[0] == 0 || window);
      int64_t gross[2] = {0, 0};  // G06, the others
      for (const QcSatellite& s : report.satellites) gross[s.prn != 6] += s.grossCode;
      const struct {
        const char* name;
        int64_t got, want;
      } figures[] = {{"epochs", report.epochs, ref.epochs},
                     {"expected", report.expected, ref.expected},
                     {"gaps", static_cast<int64_t>(report.gaps.size()), ref.gaps},
                     {"slips", report.slips, ref.slips},
                     {"MP values", report.mpCount, ref.values},
                     {"possible", report.possibleObservations, ref.possible},
                     {"above the mask", report.aboveMask, ref.above},
                     {"complete", report.completeObservations, ref.complete},
                     {"G06 bad C1", gross[0], bad ? 20 : 0},
                     {"other bad C1", gross[1], 0}};
      for (const auto& f : figures) EXPECT_EQ(f.got, f.want) << f.name;
      slips += ref.slips;
      EXPECT_GT(ref.values, ref.epochs * 4) << "MP should come from most satellites";
      EXPECT_NEAR(report.mp1Rms_m, ref.mp1Rms_m, 0.01);
      EXPECT_NEAR(report.mp2Rms_m, ref.mp2Rms_m, 0.01);
      EXPECT_GT(100.0 * ref.complete / ref.possible, 80.0);
      EXPECT_TRUE(report.missing.empty()) << report.missing.front();
      EXPECT_EQ(report.positions.solved, report.epochs);
    }
  }
  if (RealRinexSets().size() < 2) {
    GTEST_SKIP() << "the shared USNO day is absent: the bundled hour has no cycle slip to find";
  }
  EXPECT_GT(slips, 0);
}

// Headless Chromium, as CI runs it: what it writes to stdout.
std::string Chromium(const std::string& page, const std::string& args) {
  TempDir profile;
  const std::string command =
      "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
      "--disable-background-networking --disable-component-update --disable-sync "
      "--force-device-scale-factor=1 --user-data-dir=" +
      profile.path() + " " + args + " file://" + page;
  return testing_support::RunProgram({"/bin/sh", "-c", command}).out;
}

struct DrawnPlot {
  long points = -1;
  int area[4] = {0, 0, 0, 0};  // x, y, w, h in page pixels
};

// The plots of a rendered page by id, from the canvas attributes the page's script sets.
std::map<std::string, DrawnPlot> Plots(const std::string& dom) {
  std::map<std::string, DrawnPlot> plots;
  const std::regex plot(
      "id=\"plot-([a-z0-9]+)\"[^]*?<canvas[^>]*data-points=\"(\\d+)\" "
      "data-area=\"(\\d+),(\\d+),(\\d+),(\\d+)\"");
  for (std::sregex_iterator it(dom.begin(), dom.end(), plot), end; it != end; ++it) {
    DrawnPlot& p = plots[(*it)[1]];
    p.points = std::stol((*it)[2]);
    for (int k = 0; k < 4; ++k) p.area[k] = std::stoi((*it)[3 + k]);
  }
  return plots;
}

const char* const kPlotIds[] = {"enu", "horizontal", "used", "residual",
                                "sky", "snr",        "mp1",  "mp2"};

// The page of the hour as recorded, without its ephemerides and with damaged bytes: no script
// error, every plot drawn but those the lack empties (which carry their reason), what is
// missing stated; the screenshot of the complete page shows data in every plot area.
TEST(QcPage, PlotsDrawInHeadlessChromiumAndWhatIsMissingIsStated) {
  ASSERT_EQ(std::system("command -v chromium >/dev/null"), 0)
      << "chromium is not installed (scripts/setup.sh)";
  const struct {
    char damage;                     // 0 none, 'E' the E file removed, 'B' bytes overwritten
    const char* missing;             // a note the page must show
    std::vector<std::string> empty;  // the plots that stay empty; the others are drawn
  } cases[] = {
      {0, "", {}},
      {'E',
       "No ephemeris file (EBAHRA04.162) beside the set",
       {"enu", "horizontal", "used", "residual", "sky", "snr"}},
      {'B', "The set is damaged", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.missing);
    TempDir dir;
    const std::string b = rinex_test::ImportBahr(dir.path());
    if (c.damage == 'E') std::filesystem::remove(dir.File("EBAHRA04.162"));
    std::vector<uint8_t> bytes = ReadFileBytes(b);
    if (c.damage == 'B') std::fill_n(bytes.begin() + bytes.size() / 2, 300, 0xFF);
    ASSERT_TRUE(WriteFileBytes(b, bytes));
    const std::string page = dir.File("report.html");
    const QcSetResult result = RunQcSet(
        b, QcOptions(), page,
        [](const std::string& path, const std::string& text, const std::vector<std::string>&,
           std::string*) { return WriteFileText(path, text); });
    EXPECT_EQ(result.status, c.damage == 0 ? kQcComplete : kQcIncomplete) << result.text;
    EXPECT_NE(result.text.find(c.missing), std::string::npos) << result.text;
    const std::string dom = Chromium(page, "--window-size=1280,1000 --dump-dom");
    ASSERT_NE(dom.find("data-rendered=\"yes\""), std::string::npos) << "the script did not finish";
    EXPECT_NE(dom.find("<pre id=\"qc-errors\"></pre>"), std::string::npos) << "script errors";
    EXPECT_NE(dom.find(EscapeMarkup(c.missing)), std::string::npos);
    std::map<std::string, DrawnPlot> plots = Plots(dom);
    int bottom = 0;
    for (const char* id : kPlotIds) {
      const bool empty = std::count(c.empty.begin(), c.empty.end(), id) != 0;
      EXPECT_TRUE(empty ? plots[id].points == 0 : plots[id].points > 20) << id;
      bottom = std::max(bottom, plots[id].area[1] + plots[id].area[3]);
    }
    EXPECT_EQ(
        c.damage == 'E',
        dom.find("No recomputed positions: the set has no ephemeris file.") != std::string::npos);
    if (c.damage != 0) continue;
    // Each plot area holds saturated pixels (the axes, grid and labels are grey).
    const std::string png = dir.File("page.png");
    Chromium(page, "--window-size=1280," + std::to_string(bottom + 40) + " --screenshot=" + png);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(0, png_image_begin_read_from_file(&image, png.c_str())) << image.message;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_NE(0, png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) << image.message;
    for (const char* id : kPlotIds) {
      const int* a = plots.at(id).area;
      ASSERT_TRUE(a[0] + a[2] <= int(image.width) && a[1] + a[3] <= int(image.height)) << id;
      int coloured = 0;
      for (int y = a[1] + 1; y < a[1] + a[3] - 1; ++y) {
        for (int x = a[0] + 1; x < a[0] + a[2] - 1; ++x) {
          const uint8_t* p = &rgb[(static_cast<size_t>(y) * image.width + x) * 3];
          coloured += std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 60;
        }
      }
      EXPECT_GT(coloured, 100) << id << " is blank in the screenshot";
    }
  }
}

}  // namespace
}  // namespace talverin
