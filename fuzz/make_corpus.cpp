// Writes the seed corpora of the fuzz harnesses into <dir>/<harness>/, from the download-set
// writers: observation epochs of every receiver type in both channel layouts with ranges
// simulated from the fixed ephemeris file (so that positions are recomputed), ephemeris
// files of GPS and GLONASS records, site files, event files with marks and feature lines,
// and whole download sets joined by the conversion harness's separator. Each seed is a few
// KB at most. Usage: make_corpus <dir>; exit 1 when a file cannot be written.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dataset/byte_builder.h"
#include "dataset/ephemeris_file_writer.h"
#include "dataset/observation_file_writer.h"
#include "dataset/site_event_writers.h"
#include "fuzz/fuzz_support.h"

namespace talverin {
namespace fuzzing {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr double kFirstEpoch_s = 352800.0;  // first epoch of SimulatedObservationFile
constexpr double kEventEpoch_s = 100.0;     // first epoch of the event harness
constexpr size_t kHeaderSize = 90;          // observation file header
constexpr size_t kEpochHeaderSize = 67;
constexpr size_t kEphemerisRecordBytes = 129;

Bytes WithoutHeader(const Bytes& file) {
  return file.size() > kHeaderSize ? Bytes(file.begin() + kHeaderSize, file.end()) : Bytes();
}

Bytes Prefixed(uint8_t selector, const Bytes& rest) {
  Bytes out{selector};
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

// The option selector of OptionsFromByte for a receiver type and layout, plus other bits.
uint8_t Selector(int32_t receiverType, ObsLayout layout, uint8_t otherBits) {
  const uint8_t typeBits = static_cast<uint8_t>(receiverType - 1);
  const uint8_t layoutBit = layout == ObsLayout::kAlternative ? 4 : 0;
  return static_cast<uint8_t>(typeBits | layoutBit | (otherBits & 0xF8));
}

Bytes GlonassRecords() {
  EphemerisFileWriter writer;
  for (int k = 0; k < 3; ++k) {
    GlonassEphFields g;
    g.prn = static_cast<int8_t>(38 + k);
    g.ashFirst = 1000 + k;
    g.tkbFirst = 2000 + k;
    g.tkbSecond = 45900.0 + 900.0 * k;
    g.lteFirst = 1.5e-9f;
    g.lteSecond = -2.0e-5f;
    g.lteThird = 3;
    g.ashSecond = 7.5;
    const double pos_m[3] = {1.2e7, -1.5e7, 1.9e7};
    for (int a = 0; a < 3; ++a) {
      g.pos_m[a] = pos_m[a] * (1 + 0.01 * k);
      g.vel_mps[a] = 1000.0 * (a + 1);
      g.acc_mps2[a] = 1.0e-6 * (a + 1);
    }
    g.ashThird = 2;
    g.flgFirst = 5;
    g.flgSecond = 6;
    g.res[0] = -1;
    writer.AddGlonass(g);
  }
  return writer.bytes();
}

std::string SiteText(const std::string& station, double height_m, int lineCount) {
  SiteFileLines lines;
  lines.line3 = SiteStationLine(station, 12, 34, 352800);
  lines.line6 = SiteHeightLine("BEFORE", height_m);
  return SiteFileText(lines, lineCount);
}

std::vector<std::string> Gfn(const char* name, const char* kind, const char* height,
                             const char* desc) {
  return {name, "f1", "f2", "f3", kind, height, "f6", desc};
}

// Event files whose times fall on epochs starting at t0 (s of week).
std::string EventText(int variant, double t0) {
  EventFileBuilder d;
  if (variant == 0) {
    d.Time(t0 + 1).Mark("A101", "PILLAR", "1.5000").Time(t0 + 3).Mark("B202", "NAIL", "0.0");
  } else if (variant == 1) {
    d.Time(t0)
        .Feature("GFN", Gfn("Big Tree", "P", "1.75", "oak"))
        .Time(t0 + 1)
        .Feature("GAS", {"a0", "surface", "a2", "gravel", "a4"})
        .Time(t0 + 2)
        .Feature("GRP", {"Road2", "Road"})
        .Time(t0 + 3)
        .Feature("GEF", {"Road2"});
  } else {
    d.Time(t0 - 50.0)
        .Mark("A101", "D", "1")
        .Line("C garbage")
        .Line("MI")
        .Time(t0 + 2)
        .Feature("GFN", Gfn("Fence", "L", "2", "wire"));
  }
  return d.Text();
}

Bytes Join(const std::vector<Bytes>& parts) {
  static const char kSeparator[] = "\n--8<--\n";
  Bytes out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out.insert(out.end(), kSeparator, kSeparator + sizeof kSeparator - 1);
    out.insert(out.end(), parts[i].begin(), parts[i].end());
  }
  return out;
}

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

bool Write(const std::string& dir, const std::string& harness, const std::string& name,
           const Bytes& bytes) {
  const std::string folder = dir + "/" + harness;
  mkdir(dir.c_str(), 0755);
  mkdir(folder.c_str(), 0755);
  if (WriteFileBytes(folder + "/" + name, bytes)) return true;
  std::fprintf(stderr, "make_corpus: cannot write %s/%s\n", folder.c_str(), name.c_str());
  return false;
}

bool WriteAll(const std::string& dir) {
  bool ok = true;
  const ObsLayout layouts[2] = {ObsLayout::kStandard, ObsLayout::kAlternative};
  // Observation harness: the bytes after the header, behind the selector byte.
  for (int32_t type = 1; type <= 4; ++type) {
    for (ObsLayout layout : layouts) {
      const char* layoutName = layout == ObsLayout::kStandard ? "std" : "alt";
      const Bytes body =
          WithoutHeader(SimulatedObservationFile(type, layout == ObsLayout::kAlternative, 4));
      const std::string stem = "type" + std::to_string(type) + "_" + layoutName;
      ok &= Write(dir, "observation", stem, Prefixed(Selector(type, layout, 0), body));
      ok &=
          Write(dir, "observation", stem + "_flags", Prefixed(Selector(type, layout, 0xF8), body));
    }
  }
  {
    // The second epoch announces 60 channels: the reader has to recover.
    Bytes recovering = WithoutHeader(SimulatedObservationFile(2, false, 3));
    const size_t secondCount = kEpochHeaderSize - 1 + kEpochHeaderSize + 97 * recovering[66];
    recovering[secondCount] = 60;
    ok &= Write(dir, "observation", "type2_bad_count",
                Prefixed(Selector(2, ObsLayout::kStandard, 0), recovering));
    // Ends inside the second epoch.
    Bytes cut = WithoutHeader(SimulatedObservationFile(1, false, 3));
    cut.resize(kEpochHeaderSize + 35 * cut[66] + kEpochHeaderSize + 10);
    ok &=
        Write(dir, "observation", "type1_cut", Prefixed(Selector(1, ObsLayout::kStandard, 0), cut));
  }

  // Ephemeris harness: bit 0 of the selector picks the GLONASS receiver.
  const Bytes& gps = ValidEphemerisFile();
  Bytes mixed(gps.begin(), gps.begin() + 4 * kEphemerisRecordBytes);
  const Bytes glonass = GlonassRecords();
  mixed.insert(mixed.end(), glonass.begin(), glonass.end());
  ok &= Write(dir, "ephemeris", "gps_dual", Prefixed(0, gps));
  ok &= Write(dir, "ephemeris", "gps_glonass", Prefixed(1, mixed));
  {
    EphemerisFileWriter damaged;
    damaged.AddRaw(Bytes(gps.begin(), gps.begin() + kEphemerisRecordBytes));
    damaged.AddRaw(FilledEphemerisRecord(0x85));
    damaged.AddRaw(FilledEphemerisRecord(0, 0xFF));
    damaged.AddCut(Bytes(gps.begin(), gps.begin() + kEphemerisRecordBytes), 60);
    ok &= Write(dir, "ephemeris", "damaged", Prefixed(1, damaged.bytes()));
  }

  // Site harness.
  ok &= Write(dir, "site", "usable", TextBytes(SiteText("A101", 1.543, 6)));
  ok &= Write(dir, "site", "two_blocks",
              TextBytes(SiteText("A101", 1.543, 6) + SiteText("B202", 0.25, 6)));
  ok &= Write(dir, "site", "short", TextBytes(SiteText("C303", 2.0, 4)));

  // Event harness: selector, then the event file.
  for (int variant = 0; variant < 3; ++variant) {
    for (uint8_t selector : {uint8_t{0}, uint8_t{8}}) {
      ok &= Write(dir, "event", "events" + std::to_string(variant) + "_" + std::to_string(selector),
                  Prefixed(selector, TextBytes(EventText(variant, kEventEpoch_s))));
    }
  }

  // Conversion harness: selector + B file, E file, S file, D file.
  for (int32_t type = 1; type <= 4; ++type) {
    for (ObsLayout layout : layouts) {
      const Bytes observation =
          SimulatedObservationFile(type, layout == ObsLayout::kAlternative, 4);
      const Bytes ephemeris = type == 4 ? mixed : gps;
      const std::string stem =
          "set_type" + std::to_string(type) + (layout == ObsLayout::kStandard ? "_std" : "_alt");
      ok &= Write(dir, "conversion", stem,
                  Join({Prefixed(Selector(type, layout, 8), observation), ephemeris,
                        TextBytes(SiteText("A101", 1.5, 6)),
                        TextBytes(EventText(type % 3, kFirstEpoch_s))}));
    }
  }
  return ok;
}

}  // namespace
}  // namespace fuzzing
}  // namespace talverin

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_corpus <dir>\n");
    return 2;
  }
  return talverin::fuzzing::WriteAll(argv[1]) ? 0 : 1;
}
