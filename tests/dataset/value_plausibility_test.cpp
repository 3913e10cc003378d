// Plausibility of channel values: each row damages one value of the second of two epochs 30 s
// apart (four GPS satellites at 20,000-23,000 km, ranges changing by -500 to +500 m/s) and
// names the finding, or none; the damaged value is cleared and every other value kept.
#include "dataset/value_plausibility.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/gnss_constants.h"

namespace talverin {
namespace {

RawEpoch Epoch(double tow_s, bool second) {
  RawEpoch e;
  e.tow_s = tow_s;
  const double range_m[4] = {20e6, 21e6, 22e6, 23e6};
  const double rate_mps[4] = {-500.0, -100.0, 200.0, 500.0};
  for (int i = 0; i < 4; ++i) {
    RawChannel ch;
    ch.prn = static_cast<uint8_t>(3 + i);
    ch.ca.range_s = (range_m[i] + (second ? 30.0 * rate_mps[i] : 0.0)) / kSpeedOfLight_mps;
    ch.ca.doppler = -26000000;  // -2600 Hz
    ch.ca.snr = 48;
    ch.ca.phase_cyc = -1.05e8;
    ch.hasL2 = true;
    ch.l2 = ch.ca;
    e.channels.push_back(ch);
  }
  return e;
}

TEST(ValueJudge, ImplausibleValuesAreClearedAndNamed) {
  const double clockJump_s = 1e-3;  // a receiver clock reset moves every range alike
  const struct {
    const char* what;
    std::function<void(RawEpoch&)> damage;
    std::vector<std::string> findings;
    std::function<bool(const RawChannel&)> cleared;  // of PRN 4
  } cases[] = {
      {"none", [](RawEpoch&) {}, {}, nullptr},
      {"Doppler off by 149,695 Hz",
       [](RawEpoch& e) { e.channels[1].ca.doppler += 1496950000; },
       {"C/A Doppler of PRN 4: 147095 Hz"},
       [](const RawChannel& c) { return c.ca.doppler == 0; }},
      {"L2 SNR 168",
       [](RawEpoch& e) { e.channels[1].l2.snr = 168; },
       {"L2 SNR of PRN 4: 168 dB-Hz"},
       [](const RawChannel& c) { return c.l2.snr == 0; }},
      {"L2 range 0.5 s",
       [](RawEpoch& e) { e.channels[1].l2.range_s = 0.5; },
       {"L2 range of PRN 4: 0.5 s"},
       [](const RawChannel& c) { return c.l2.range_s == 0.0; }},
      {"C/A phase 3e15 cycles",
       [](RawEpoch& e) { e.channels[1].ca.phase_cyc = 3e15; },
       {"C/A phase of PRN 4: 3e+15 cycles"},
       [](const RawChannel& c) { return c.ca.phase_cyc == 0.0; }},
      {"C/A range 300 km off, within the band",
       [](RawEpoch& e) { e.channels[1].ca.range_s += 3e5 / kSpeedOfLight_mps; },
       {"C/A range step of PRN 4: 282000 m against the other satellites"},
       [](const RawChannel& c) { return c.ca.range_s == 0.0; }},
      {"a receiver clock jump of 1 ms",
       [clockJump_s](RawEpoch& e) {
         for (RawChannel& c : e.channels) c.ca.range_s += clockJump_s;
       },
       {},
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ValueJudge judge;
    std::vector<std::string> findings;
    RawEpoch first = Epoch(345600.0, false);
    judge.Check(&first, false, &findings);
    EXPECT_TRUE(findings.empty());
    RawEpoch second = Epoch(345630.0, true);
    c.damage(second);
    const RawEpoch before = second;
    judge.Check(&second, false, &findings);
    EXPECT_EQ(c.findings, findings);
    if (c.cleared) {
      EXPECT_TRUE(c.cleared(second.channels[1]));
    }
    for (size_t k = 0; k < second.channels.size(); ++k) {
      if (k == 1 && c.cleared) continue;
      EXPECT_EQ(before.channels[k].ca.range_s, second.channels[k].ca.range_s) << k;
      EXPECT_EQ(before.channels[k].l2.snr, second.channels[k].l2.snr) << k;
    }
  }
}

// GLONASS ranges carry the whole GPS-UTC seconds: 13.07 s is a range of 0.07 s.
TEST(ValueJudge, GlonassRangesAreJudgedWithoutTheirWholeSeconds) {
  ValueJudge judge;
  RawEpoch e = Epoch(100.0, false);
  e.channels[0].prn = 45;
  e.channels[0].ca.range_s = 13.07;
  std::vector<std::string> findings;
  judge.Check(&e, true, &findings);
  EXPECT_TRUE(findings.empty());
  EXPECT_EQ(13.07, e.channels[0].ca.range_s);
}

}  // namespace
}  // namespace talverin
