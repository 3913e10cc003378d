// The command-line host tested from outside, as a user's shell runs it: the exit status of
// every documented case (with the index and JSON of a qc batch), a batch over a folder with a
// damaged set (summary lines, JSON read back) for convert and rinex, previous outputs kept through
// a failed conversion and a failed RINEX export, batches of convert, rinex and qc stopped by
// signals, and an installed tree. What the commands compute is tested through their library
// functions (commands_test.cpp). The sets are the bundled BAHR hour (2004-06-10 00:00-00:59:30 GPS,
// 120 epochs) imported from RINEX, copies of it with a damaged header or cut, and a synthetic set.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "dataset/byte_builder.h"
#include "output/gpb_reader.h"
#include "tests/rinex/rinex_test_data.h"
#include "tests/support/conversion_fixtures.h"
#include "tests/support/test_support.h"

namespace talverin {
namespace {

namespace fs = std::filesystem;
using testing_support::ProgramHooks;
using testing_support::ProgramRun;
using testing_support::RunProgram;
using testing_support::TempDir;

// BAHR antenna reference point, ECEF (m), from samples/bahr-2004-162/README.txt.
constexpr char kBahrAntenna[] = "3633910.5918,4425277.7039,2799862.8556";

ProgramRun Cli(std::vector<std::string> args, const ProgramHooks& hooks = {}) {
  args.insert(args.begin(), TALVERIN_CLI_PATH);
  return RunProgram(args, hooks);
}

// Epochs of a GPB file read to a clean end; -1 when it does not read cleanly.
long CleanEpochs(const std::string& path) {
  std::vector<GpbReadEpoch> epochs;
  return testing_support::ReadGpb(path, &epochs) == 0 ? static_cast<long>(epochs.size()) : -1;
}

// Copies the B, E and S files of a set, renaming them to the letter + name given.
void CopySet(const std::string& fromB, const std::string& toDir, const std::string& name) {
  fs::create_directories(toDir);
  const fs::path from(fromB);
  for (const char letter : {'B', 'E', 'S'}) {
    const fs::path source = from.parent_path() / (letter + from.filename().string().substr(1));
    fs::copy_file(source, fs::path(toDir) / (letter + name), fs::copy_options::overwrite_existing);
  }
}

// A receiver model text no receiver has: detection fails, the conversion ends with -1.
void DamageModelText(const std::string& b) {
  std::vector<uint8_t> bytes = ReadFileBytes(b);
  ASSERT_GT(bytes.size(), 20u);
  std::copy_n("QQ-9999", 7, bytes.begin() + 11);
  ASSERT_TRUE(WriteFileBytes(b, bytes));
}

class CommandLine : public ::testing::Test {
 protected:
  // The BAHR set imported and converted; copies of it cut at byte 50000 and with a damaged
  // model text.
  static void SetUpTestSuite() {
    if (std::string(TALVERIN_CLI_PATH).empty()) return;  // every test skips itself
    dir_ = new TempDir();
    ASSERT_EQ(Set(), rinex_test::ImportSet(Obs(), Nav(), dir_->File("bahr")).observationFile);
    // Message levels: -q errors only; by default warnings and one line counting the
    // ephemerides; -v every message.
    EXPECT_EQ("info: 166 GPS ephemerides loaded (0 unhealthy)\n",
              Cli({"convert", "-d", dir_->File("out"), Set()}).err);
    EXPECT_NE(std::string::npos, Cli({"convert", "-v", "-d", dir_->File("out"), Set()})
                                     .err.find("GPS Ephemeris loaded for PRN 5, Health OK"));
    const ProgramRun run = Cli({"convert", "-q", "-d", dir_->File("out"), Set()});
    EXPECT_EQ(run.err, "");
    ASSERT_EQ(run.status, 0);
    CopySet(Set(), dir_->File("cut"), "BAHRA04.162");
    const std::vector<uint8_t> whole = ReadFileBytes(Set());
    ASSERT_TRUE(WriteFileBytes(Cut(), {whole.begin(), whole.begin() + 50000}));
    CopySet(Set(), dir_->File("bad"), "BAHRA04.162");
    DamageModelText(dir_->File("bad/BBAHRA04.162"));
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override { TALVERIN_SKIP_WITHOUT_CLI(); }
  static std::string Set() { return dir_->File("bahr/BBAHRA04.162"); }
  static std::string Gpb() { return dir_->File("out/BBAHRA04_162.gpb"); }
  static std::string Cut() { return dir_->File("cut/BBAHRA04.162"); }
  static std::string Bad() { return dir_->File("bad/BBAHRA04.162"); }
  static std::string Obs() { return rinex_test::SampleFile("bahr1620.04o"); }
  static std::string Nav() { return rinex_test::SampleFile("bahr1620.04n"); }
  static TempDir* dir_;
};
TempDir* CommandLine::dir_ = nullptr;

TEST_F(CommandLine, ExitStatusOfEveryDocumentedCase) {
  TempDir t;
  CopySet(Set(), t.File("noeph"), "BAHRA04.162");
  ASSERT_TRUE(WriteFileBytes(t.File("noeph/EBAHRA04.162"), {}));
  fs::create_directories(t.File("empty"));
  const std::vector<uint8_t> ephemerisBefore = ReadFileBytes(dir_->File("bad/EBAHRA04.162"));
  // A B file named like the RINEX file it gives (no date in the name: site and session 0).
  const std::string clash = t.File("clash/bahr1620.04o");
  CopySet(Set(), t.File("clash"), "ahr1620.04o");
  fs::rename(t.File("clash/Bahr1620.04o"), clash);
  const std::vector<uint8_t> clashBefore = ReadFileBytes(clash);
  CopySet(Set(), t.File("twin"), "BAHRA04.162");
  CopySet(Set(), t.File("twin"), "BAHRA04.163");  // a second day of one site and session
  const std::string tag = "version:" + std::string(112, ' ');
  ASSERT_TRUE(WriteFileText(t.File("B0001.123"), tag) && WriteFileText(t.File("X0001.123"), tag));
  const std::string headerOnly = rinex_test::SourceDir() + "/samples/header-only/B0001A01.001";
  const std::string noEpochGpb = t.File("h/B0001A01_001.gpb");  // the "h" row's output
  CopySet(Set(), t.File("qc"), "BAHRB04.162");  // a second set, without its ephemerides
  fs::remove(t.File("qc/EBAHRB04.162"));
  const std::vector<uint8_t> setBefore = ReadFileBytes(Set());
  CopySet(Set(), t.File("sick"), "BAHRA04.162");  // its first ephemeris (PRN 5) unhealthy
  std::vector<uint8_t> ephemerides = ReadFileBytes(t.File("sick/EBAHRA04.162"));
  ephemerides.at(125) = 63;  // the health word of the first 129-byte record
  ASSERT_TRUE(WriteFileBytes(t.File("sick/EBAHRA04.162"), ephemerides));

  const struct {
    std::vector<std::string> args;
    int status;
    std::string text;  // in stdout or stderr
  } cases[] = {
      {{}, 2, "a subcommand is needed"},
      {{"convert"}, 2, "B-FILE is required"},
      {{"convert", "--receiver", "z12", Set()}, 2, "unknown receiver type 'z12'"},
      {{"convert", "-o", t.File("x.gpb"), Set(), headerOnly}, 2, "-o names the output of one set"},
      {{"convert", "-o", t.File("x.gpb"), "-d", t.File("d"), Set()}, 2, "exclude each other"},
      {{"convert", t.File("empty")}, 2, "no B files"},
      {{"convert", t.File("bahr/BMISSA04.162")}, 2, "cannot read the B file"},
      {{"convert", "-o", dir_->File("bad/EBAHRA04.162"), Bad()}, 2, "is the input"},
      {{"convert", "-o", t.File("x.sta"), Set()}, 2, "are the same file"},
      {{"convert", t.File("noeph/BBAHRA04.162")}, 1, "no epoch was recomputed"},
      {{"convert", "--no-recompute", "-d", t.File("n"), Set()}, 0, "not recomputed"},
      // A warning the default message level shows.
      {{"convert", "-d", t.File("s"), t.File("sick/BBAHRA04.162")},
       0,
       "warning: GPS Ephemeris loaded for PRN 5, Health BAD!!!"},
      {{"convert", "-d", t.File("h"), headerOnly}, 0, "0 epochs written"},
      {{"convert", "-d", t.File("once"), t.File("twin"), t.File("twin/BBAHRA04.162")},
       0,
       "2 sets: 2 ok"},  // a set named twice is converted once
      {{"convert", "-d", t.File("both"), Set(), t.File("twin/BBAHRA04.162")},
       2,
       "would both write " + t.File("both/BBAHRA04_162.gpb")},
      {{"detect", t.File("nonexistent")}, 2, "nonexistent: no such file"},
      {{"convert", t.File("X0001.123")}, 2, "failed"},  // junk as the B file: nothing beside it
      {{"convert", "--help"}, 0, "Exit status"},
      {{"--version"}, 0, "talverin "},
      {{"detect", t.File("B0001.123"), t.File("X0001.123")}, 1, "X0001.123: 0"},
      {{"detect", t.File("B0001.123")}, 0, "B0001.123: 1"},
      {{"dump", t.File("B0001.123")}, 2, "not a GPB file"},
      {{"stats", Gpb()}, 2, "a reference is needed"},
      {{"stats", Gpb(), "--reference", "nan,nan,nan"}, 2, "is not finite"},
      {{"stats", Gpb(), "--reference", "26.2,50.6,-17"}, 2, "not within 100 km"},
      {{"stats", Gpb(), "--reference-llh", "26.2,50.6"}, 2, "is not three numbers"},
      {{"stats", Gpb(), "--reference", kBahrAntenna, "--antenna-height", "200"}, 2, "-100..100"},
      {{"stats", noEpochGpb, "--reference", kBahrAntenna}, 1, "no epoch"},
      {{"stats", Gpb(), "--reference", kBahrAntenna}, 0, "epochs solved 120/120"},
      {{"stats", Gpb(), "--reference-llh", "50.608,26.209,-17"}, 1, "longitude swapped"},
      {{"rinex", "--gps-week", "1274", clash}, 2, "refusing to overwrite an input"},
      {{"rinex", "-d", t.File("r"), Set(), t.File("twin/BBAHRA04.162")}, 2, "also an output of"},
      {{"rinex", "--splice", "-d", t.File("sp"), Set(), t.File("twin/BBAHRA04.162")},
       0,
       "120 epochs, 932 satellite records, 0 event records, 166 GPS navigation records -> " +
           t.File("sp/bahr1620.04o") + ", " + t.File("sp/bahr1620.04n") +
           " (2 sets spliced, 120 repeated epochs left out)"},
      {{"rinex", "--start", "2004-06-10T00:10:00", "--end", "2004-06-10 00:20:00", "--interval",
        "120", "-d", t.File("w"), Set()},
       0,
       "written, 6 epochs"},
      {{"qc", "--start", "2004-06-10T00:10:00", "--end", "2004-06-10 00:20:00", "--interval", "120",
        "-d", t.File("qw"), Set()},
       0,
       ": 6/6 epochs"},
      {{"qc", "--splice", "-d", t.File("qs"), Set(), t.File("twin/BBAHRA04.162")},
       0,
       t.File("qs/BBAHRA04_162.qc.html") + " (2 sets spliced)"},
      {{"rinex", "--start", "2004-06-10T00:10:00", "--end", "2004-06-10T00:09:59", Set()},
       2,
       "--end 2004-06-10T00:09:59 lies before --start 2004-06-10T00:10:00"},
      {{"rinex", "--gps-week", "250", Set()},
       2,
       "--gps-week 250 (1984-10-25) contradicts GPS week 1274 (2004-06-10)"},
      {{"positions", "--gps-week", "1300", Gpb()}, 2, "--gps-week 1300 (2004-12-09) contradicts"},
      {{"rinex", "--rinex-version", "3", "--monument", "4", "--receiver-index", "7", "-d",
        t.File("m"), Set()},
       0,
       "BAHR47XXX_R_20041620000_01H_30S_GO.rnx"},
      {{"rinex", "--observer", std::string(21, 'o'), Set()},
       2,
       "observer: 21 characters, at most 20"},
      {{"qc", "--mask", "nan", Set()}, 2, "--mask must be a number of degrees, -90 to 90"},
      {{"qc", "-d", t.File("q"), Set()}, 0, "report: " + t.File("q/BBAHRA04_162.qc.html")},
      {{"qc", "-o", t.File("r.html"), "--reference", "3633908.899,4425275.499,2799861.339", Set()},
       0,
       "against the reference"},
      {{"qc", "-j", "2", "-d", t.File("qb"), "--json", t.File("qb/qc.json"), Set(),
        t.File("qc/BBAHRB04.162")},
       1,
       "2 sets: 1 ok, 1 incomplete, 0 failed; exit status 1"},
      {{"qc", "-o", Set(), Set()}, 2, "refusing to overwrite an input"},
      {{"qc", "--recursive", "-o", t.File("r.html"), t.File("twin")},
       2,
       "-o names the report of one set"},
      {{"qc", t.File("bahr/BNONEA04.162")}, 2, "no such file"},
      {{"convert", "--shard", "4/3", Set()}, 2, "--shard 4/3: K must be 1 to N"},
      {{"rinex", "--shard", "1/0", Set()}, 2, "--shard 1/0: K must be 1 to N and N at least 1"},
      {{"qc", "--shard", "1/x", Set()}, 2, "--shard 1/x: give K/N"},
      {{"info", "--shard", "2/2", Set()}, 0, "shard 2/2 holds none of the 1 set named"},
      {{"import-rinex", Obs(), Nav(), t.File("i")}, 0, "epochs written: 120"},
      {{"import-rinex", Obs(), Nav(), t.File("i")}, 2, "exists; not replaced"},
      {{"import-rinex", "--header-position", "north", Obs(), Nav(), t.File("north")},
       2,
       "header position 'north' is neither rinex, zeros nor a distance in metres"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const ProgramRun run = Cli(c.args);
    EXPECT_EQ(c.status, run.status) << run.out << run.err;
    EXPECT_NE(std::string::npos, (run.out + run.err).find(c.text)) << run.out << run.err;
  }
  // The missing B file is named as such: the module was never asked (no E file message).
  EXPECT_EQ(std::string::npos, Cli({"convert", t.File("bahr/BMISSA04.162")}).err.find("EMISSA04"));
  EXPECT_EQ(ephemerisBefore, ReadFileBytes(dir_->File("bad/EBAHRA04.162")));
  EXPECT_EQ(clashBefore, ReadFileBytes(clash));
  EXPECT_EQ(setBefore, ReadFileBytes(Set()));
  // The qc batch's index links both reports; its JSON holds each set's figures.
  const std::string index = ReadFileText(t.File("qb/qc-index.html"));
  for (const std::string set : {"BBAHRA04", "BBAHRB04"}) {
    const std::string link = "<a href=\"" + set + "_162.qc.html\">" + set + ".162</a>";
    EXPECT_NE(std::string::npos, index.find(link)) << index;
  }
  const nlohmann::json qc = nlohmann::json::parse(ReadFileText(t.File("qb/qc.json")));
  ASSERT_EQ(qc["sets"].size(), 2u);
  const nlohmann::json &a = qc["sets"][0], &n = qc["sets"][1];
  EXPECT_EQ(qc["status"], 1);
  EXPECT_EQ(a["status"], 0);
  EXPECT_EQ(a["epochs"], 120);
  EXPECT_EQ(a["expectedEpochs"], 120);
  EXPECT_EQ(a["positions"]["solved"], 120);
  EXPECT_GT(a["mp1Rms_m"], 0.0);
  EXPECT_EQ(n["status"], 1);
  EXPECT_EQ(n["positions"]["solved"], 0);
  EXPECT_FALSE(fs::exists(t.File("north")));
  EXPECT_FALSE(fs::exists(t.File("X0001_123.partial.gpb")));
  // A stdout closed by its reader (`dump | head`) ends the dump quietly; a full disk does not.
  ProgramHooks closedStdout;
  closedStdout.closedStdout = true;
  const ProgramRun closed = Cli({"dump", Gpb()}, closedStdout);
  EXPECT_EQ(closed.status, 0);
  EXPECT_EQ(closed.err, "");
  const ProgramRun full = RunProgram(
      {"/bin/sh", "-c", "exec \"$0\" dump \"$1\" > /dev/full", TALVERIN_CLI_PATH, Gpb()});
  EXPECT_EQ(2, full.status);
  EXPECT_NE(std::string::npos, full.err.find("cannot write the dump: No space left")) << full.err;
}

// The field cases x the commands over sets: each command's exit status, its count of the
// epochs it read (convert: wrote), and the words all of them use for what the set lost.
TEST_F(CommandLine, FieldCasesGiveOneAnswerInEveryCommand) {
  TempDir t;
  for (const char* c : {"damaged", "noeph", "nosite", "junk"})
    CopySet(Set(), t.File(c), "BAHRA04.162");
  std::vector<uint8_t> bytes = ReadFileBytes(Set());
  std::fill_n(bytes.begin() + 40000, 40, 0xFF);  // inside one epoch of 97-byte channels
  ASSERT_TRUE(WriteFileBytes(t.File("damaged/BBAHRA04.162"), bytes));
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  ASSERT_TRUE(WriteFileBytes(t.File("junk/BBAHRA04.162"), bytes));
  fs::remove(t.File("noeph/EBAHRA04.162"));
  fs::remove(t.File("nosite/SBAHRA04.162"));
  CopySet(Set(), t.File("twin"), "BAHRA04.162");
  CopySet(Set(), t.File("twin"), "BAHRA04.163");
  rinex_test::ImportSet(Obs(), Nav(), t.File("l2c"), "rinex", "l2-codeless");
  const char* const commands[] = {"convert", "info", "rinex", "qc"};
  // How each command counts the epochs, %d the count.
  const char* const counted[] = {"%d epochs written", "epochs         %d:", ", %d epochs,",
                                 "epochs %d/"};
  const struct {
    const char* what;
    std::string input;
    int status[4];  // convert, info, rinex, qc
    int epochs[4];  // -1: none counted
    const char* text;
  } cases[] = {
      {"good", Set(), {0, 0, 0, 0}, {120, 120, 120, 120}, ""},
      {"cut", Cut(), {1, 1, 1, 1}, {62, 62, 62, 62}, "cut short after 62 epochs"},
      {"damaged byte",
       t.File("damaged"),
       {1, 1, 1, 1},
       {119, 119, 119, 119},
       "skipped in 1 place, the first in the B file at byte"},
      // The second day is a copy of the first: its RINEX names are the first day's.
      {"two days", t.File("twin"), {0, 0, 2, 0}, {120, 120, 120, 120}, "BBAHRA04.163"},
      // The module converts nothing without an E file; the others say what it lacks.
      {"missing E", t.File("noeph"), {2, 1, 1, 1}, {0, 120, 120, 120}, "no ephemerides: no E file"},
      {"missing S (and D)", t.File("nosite"), {0, 0, 0, 0}, {120, 120, 120, 120}, ""},
      {"junk as B", t.File("junk"), {2, 2, 2, 2}, {-1, -1, -1, -1}, "BBAHRA04.162"},
      {"L2-codeless", t.File("l2c"), {0, 0, 0, 0}, {120, 120, 120, 120}, ""},
  };
  for (const auto& c : cases) {
    for (int k = 0; k < 4; ++k) {
      SCOPED_TRACE(std::string(c.what) + ", " + commands[k]);
      std::vector<std::string> args = {commands[k], c.input};
      if (k != 1) args.insert(args.begin() + 1, {"-d", t.File(std::string("out-") + commands[k])});
      const ProgramRun run = Cli(args);
      EXPECT_EQ(c.status[k], run.status) << run.out << run.err;
      EXPECT_NE(std::string::npos, (run.out + run.err).find(c.text)) << run.out << run.err;
      char count[64];
      std::snprintf(count, sizeof count, counted[k], c.epochs[k]);
      EXPECT_EQ(c.epochs[k] >= 0, run.out.find(count) != std::string::npos) << count << run.out;
    }
  }
  EXPECT_FALSE(fs::exists(t.File("junk/BBAHRA04_162.partial.gpb")));
}

// convert and rinex run their sets through one batch runner: the same lines, JSON and status.
TEST_F(CommandLine, BatchOverAFolderWithADamagedSet) {
  TempDir t;
  CopySet(Set(), t.File("in"), "BAHRA04.162");
  CopySet(Set(), t.File("in/sub"), "BAHRB04.162");
  CopySet(Bad(), t.File("in"), "BADXA04.162");
  // Beginnings of the sets' summary lines, after "SET: ".
  const std::string converted[3] = {"failed: Unable to detect",
                                    "completed, 120 epochs written, 120 recomputed, 0 unsolved",
                                    "completed"};
  const std::string exported[3] = {
      "failed: " + t.File("in/BBADXA04.162") + ": unknown receiver model text 'QQ-9999'",
      "written, 120 epochs, 932 satellite records", "written"};
  const struct {
    std::string command;
    const std::string* lines;  // of the three sets
    // A good set's JSON result, its member counting the epochs written, the one naming the
    // main output.
    const char *written, *epochs, *output;
    std::string lastOutput;  // that output of the set in the subfolder
    size_t files;            // in the output folder: two sets' outputs, partial outputs, the JSON
  } cases[] = {
      {"convert", converted, "completed", "epochs_written", "gpb", "BBAHRB04_162.gpb",
       2 * 3 + 3 + 1},
      {"rinex", exported, "written", "epochs", "observation", "bahr162b.04o", 2 * 2 + 1},
  };
  const char* sets[] = {"in/BBADXA04.162", "in/BBAHRA04.162", "in/sub/BBAHRB04.162"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const std::string dir = t.File(c.command);
    const ProgramRun shown = Cli({c.command, "-j", "2", "--recursive", "-d", dir, "--json",
                                  dir + "/summary.json", t.File("in")});
    EXPECT_EQ(2, shown.status) << shown.err;
    // Each set's line (at `at`) starts as given; the summary is the last line.
    size_t at = 0;
    for (size_t i = 0; i < 3; ++i, at = shown.out.find('\n', at) + 1) {
      EXPECT_EQ(at, shown.out.find(t.File(sets[i]) + ": " + c.lines[i], at)) << shown.out;
    }
    EXPECT_EQ("3 sets: 2 ok, 0 incomplete, 1 failed; exit status 2\n", shown.out.substr(at));

    const nlohmann::json json = nlohmann::json::parse(ReadFileText(dir + "/summary.json"));
    EXPECT_EQ(json["command"], c.command);
    EXPECT_EQ(json["status"], 2);
    ASSERT_EQ(json["sets"].size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      const nlohmann::json& set = json["sets"][i];
      SCOPED_TRACE(set.dump());
      EXPECT_EQ(set["input"], t.File(sets[i]));
      EXPECT_EQ(set["status"], i == 0 ? 2 : 0);
      EXPECT_EQ(set["result"], i == 0 ? "failed" : c.written);
      if (i > 0) {
        EXPECT_EQ(set["gps_week"], 1274);
        EXPECT_EQ(set[c.epochs], 120);
      }
    }
    EXPECT_EQ(dir + "/" + c.lastOutput, json["sets"][2]["outputs"][c.output]);
    // No temporary folder left behind.
    EXPECT_EQ(c.files, static_cast<size_t>(
                           std::distance(fs::directory_iterator(dir), fs::directory_iterator())));
  }
  EXPECT_EQ(120, CleanEpochs(t.File("convert/BBAHRB04_162.gpb")));
}

// FNV-1a 64 as published (offset basis 14695981039346656037, prime 1099511628211).
uint64_t Fnv1a64(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : text) hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
  return hash;
}

// Every file of a folder (not the qc index pages): its bytes, a GPB file's creation stamp
// (bytes 24-35 of the $NEWGPB header) zeroed, and its time of change.
std::map<std::string, std::pair<std::vector<uint8_t>, fs::file_time_type>> Outputs(
    const std::string& dir) {
  std::map<std::string, std::pair<std::vector<uint8_t>, fs::file_time_type>> files;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    if (e.path().filename().string().rfind("qc-index", 0) == 0) continue;
    std::vector<uint8_t> bytes = ReadFileBytes(e.path().string());
    if (e.path().extension() == ".gpb" && bytes.size() > 36)
      std::fill(bytes.begin() + 24, bytes.begin() + 36, 0);
    files[e.path().filename().string()] = {bytes, fs::last_write_time(e.path())};
  }
  return files;
}

// Three shards of a folder: each set in the shard its path below the folder hashes to, so
// the shards are disjoint, and together they write what one batch writes, file for file.
// --update then rewrites nothing, until a set's E file changes: that set alone is redone.
TEST_F(CommandLine, ShardsMakeOneBatchAndUpdateRedoesOnlyWhatIsLeft) {
  ASSERT_EQ(0xaf63dc4c8601ec8cull, Fnv1a64("a"));  // the published check value of "a"
  TempDir t;
  const std::vector<std::string> keys = {"BBAHRA04.162", "BBAHRB04.162", "sub/BBAHRC04.162",
                                         "sub/BBAHRD04.162", "sub/x/BBAHRE04.162"};
  for (const std::string& key : keys) {
    const fs::path path = fs::path(t.File("in")) / key;
    CopySet(Set(), path.parent_path().string(), path.filename().string().substr(1));
  }
  for (const std::string command : {"convert", "qc"}) {
    SCOPED_TRACE(command);
    const std::string whole = t.File(command + "-whole"), parts = t.File(command + "-parts");
    ASSERT_EQ(0, Cli({command, "--recursive", "-d", whole, t.File("in")}).status);
    for (uint64_t k = 1; k <= 3; ++k) {
      const ProgramRun run = Cli(
          {command, "--recursive", "--shard", std::to_string(k) + "/3", "-d", parts, t.File("in")});
      EXPECT_EQ(0, run.status) << run.err;
      for (const std::string& key : keys) {
        SCOPED_TRACE(std::to_string(k) + " " + key);
        const bool listed = run.out.find(t.File("in/" + key) + ": ") != std::string::npos;
        EXPECT_EQ(Fnv1a64(key) % 3 == k - 1, listed) << run.out;
      }
    }
    const auto written = Outputs(parts);
    EXPECT_EQ(Outputs(whole).size(), written.size());
    for (const auto& file : Outputs(whole)) {
      SCOPED_TRACE(file.first);
      EXPECT_TRUE(written.count(file.first) && written.at(file.first).first == file.second.first);
    }
    const std::vector<std::string> update = {command, "--recursive", "--update",
                                             "-d",    parts,         t.File("in")};
    const ProgramRun again = Cli(update);
    EXPECT_EQ(0, again.status);
    EXPECT_EQ(keys.size(), testing_support::CountOf(again.out, ": up to date\n")) << again.out;
    EXPECT_EQ(written, Outputs(parts));
    if (command == std::string("qc")) {  // the index lists the figures the reports keep
      EXPECT_EQ(ReadFileText(whole + "/qc-index.html"), ReadFileText(parts + "/qc-index.html"));
    }
    fs::last_write_time(t.File("in/sub/EBAHRC04.162"), fs::file_time_type::clock::now());
    const ProgramRun redone = Cli(update);
    EXPECT_EQ(keys.size() - 1, testing_support::CountOf(redone.out, ": up to date\n"));
    const auto after = Outputs(parts);
    for (const auto& file : written) {
      SCOPED_TRACE(file.first);
      EXPECT_EQ(file.second.first, after.at(file.first).first);
      EXPECT_EQ(file.first.find("BBAHRC04_162") == std::string::npos,
                file.second.second == after.at(file.first).second);
    }
  }
}

TEST_F(CommandLine, FailedRunsKeepThePreviousOutputs) {
  TempDir t;
  const auto outputs = [&](const std::string& stem, std::vector<const char*> extensions) {
    std::vector<std::string> texts;
    for (const char* ext : extensions) texts.push_back(ReadFileText(t.File(stem + ext)));
    return texts;
  };
  CopySet(Set(), t.File("set"), "BAHRA04.162");
  ASSERT_EQ(0, Cli({"convert", "-d", t.File("out"), t.File("set/BBAHRA04.162")}).status);
  const auto good = outputs("out/BBAHRA04_162", {".gpb", ".sta", ".epp"});
  // A RINEX export that cannot write its whole file (a file size limit of 51,200 bytes).
  ASSERT_EQ(0, Cli({"rinex", "-d", t.File("out"), t.File("set/BBAHRA04.162")}).status);
  const auto goodRinex = outputs("out/bahr162a", {".04o", ".04n"});
  const ProgramRun limited =
      RunProgram({"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 100; exec \"$0\" \"$@\"",
                  TALVERIN_CLI_PATH, "rinex", "-d", t.File("out"), t.File("set/BBAHRA04.162")});
  EXPECT_EQ(2, limited.status);
  EXPECT_NE(std::string::npos,
            limited.err.find(t.File("out/bahr162a.04o") +
                             ": cannot be written; previous "
                             "outputs left as they were; what was written is kept as " +
                             t.File("out/bahr162a.partial.04o")))
      << limited.err;
  EXPECT_EQ(goodRinex, outputs("out/bahr162a", {".04o", ".04n"}));
  EXPECT_EQ(51200u, ReadFileBytes(t.File("out/bahr162a.partial.04o")).size());
  // A failed conversion: the earlier outputs stay, what was written (a header) is kept apart.
  DamageModelText(t.File("set/BBAHRA04.162"));
  const ProgramRun failed = Cli({"convert", "-d", t.File("out"), t.File("set/BBAHRA04.162")});
  EXPECT_EQ(2, failed.status);
  EXPECT_NE(std::string::npos, failed.err.find("kept as " + t.File("out/BBAHRA04_162.partial.gpb")))
      << failed.err;
  EXPECT_EQ(good, outputs("out/BBAHRA04_162", {".gpb", ".sta", ".epp"}));
  EXPECT_EQ(0, CleanEpochs(t.File("out/BBAHRA04_162.partial.gpb")));
}

// SIGINT to the program, SIGTERM and SIGHUP to its whole process group at random moments of a
// batch, old outputs made beforehand: every set's outputs are all old (not finished) or all new
// (finished, as the stop line on stderr says), no temporary folder is left, and the exit is not 0.
TEST_F(CommandLine, SignalledBatchesReplaceEachSetsOutputsWhollyOrNotAtAll) {
  TempDir t;
  const std::string letters = "ABCD";
  for (const char letter : letters)
    CopySet(Set(), t.File("in"), std::string("BAHR") + letter + "04.162");
  const std::vector<std::string> gpb = {"BBAHR?04_162.gpb", "BBAHR?04_162.sta", "BBAHR?04_162.epp"};
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> outputs;  // of each set: ? stands for its session letter
  } rows[] = {
      {{"convert", "-j", "2"}, gpb},
      {{"convert", "-j", "1"}, gpb},
      {{"rinex", "-j", "2"}, {"bahr162?.04o", "bahr162?.04n"}},
      {{"qc", "-j", "2"}, {"BBAHR?04_162.qc.html"}},
  };
  const auto outputOf = [&](std::string name, char letter) {
    name[name.find('?')] = name[0] == 'b' ? static_cast<char>(std::tolower(letter)) : letter;
    return t.File("out/" + name);
  };
  std::mt19937 random(std::random_device{}());
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (const auto& row : rows) {
    std::vector<std::string> args = row.args;
    args.insert(args.end(), {"-d", t.File("out"), t.File("in")});
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0, Cli(args).status) << row.args[0];
    const auto whole_us = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
    for (int moment = 0; moment < 3; ++moment) {
      const long delay_us = std::uniform_int_distribution<long>(0, whole_us * 5 / 4)(random);
      const int signal = signals[moment];
      SCOPED_TRACE(row.args[0] + " -j " + row.args[2] + ", " + strsignal(signal) +
                   (moment > 0 ? " to the group" : " to the program") + " after " +
                   std::to_string(delay_us) + " us of " + std::to_string(whole_us));
      for (const char letter : letters) {
        for (const std::string& name : row.outputs)
          ASSERT_TRUE(WriteFileText(outputOf(name, letter), "old"));
      }
      ProgramHooks hooks;  // SIGINT as the program alone gets it, the others as a group's
      hooks.started = [&](int pid) {
        usleep(static_cast<useconds_t>(delay_us));
        kill(moment > 0 ? -pid : pid, signal);
      };
      const ProgramRun run = Cli(args, hooks);
      EXPECT_NE(0, run.status) << run.err;
      // The last line names the sets finished; none: the signal ended the program at its start.
      const size_t stopLine = run.err.find("stopped by signal " + std::to_string(signal));
      EXPECT_TRUE(stopLine != std::string::npos || run.status == -signal) << run.err;
      const std::string stopped = stopLine == std::string::npos ? "" : run.err.substr(stopLine);
      for (const char letter : letters) {
        const std::string set = t.File(std::string("in/BBAHR") + letter + "04.162");
        const bool finished = stopped.find(set) != std::string::npos;
        for (const std::string& name : row.outputs) {
          SCOPED_TRACE(outputOf(name, letter));
          EXPECT_EQ(!finished, ReadFileText(outputOf(name, letter)) == "old") << stopped;
        }
      }
      for (const auto& entry : fs::directory_iterator(t.File("out"))) {
        EXPECT_NE(0u, entry.path().filename().string().rfind(".talverin-", 0)) << entry.path();
      }
    }
  }
}

// The installed program gives the build's version and converts the set as the build does.
TEST_F(CommandLine, InstalledTreeRunsAConversion) {
  const char* script =
      "cmake --install \"$0\" --prefix \"$1\" >/dev/null && \"$1/bin/talverin\" --version && "
      "\"$1/bin/talverin\" convert -d \"$1/out\" \"$2\"";
  EXPECT_EQ(
      Cli({"--version"}).out + Cli({"convert", "-d", dir_->File("usr/out"), Set()}).out,
      RunProgram({"/bin/sh", "-c", script, TALVERIN_BINARY_DIR, dir_->File("usr"), Set()}).out);
}

}  // namespace
}  // namespace talverin
