// `talverin import-rinex`: makes a download set from RINEX 2 files with the RINEX import
// of rinex/ and prints what it wrote. Exit status 0 on success, 2 on any failure
// (the reason, with the file and line, on stderr), as the other subcommands.
#include <cstdio>

#include "base/gnss_constants.h"
#include "cli/batch.h"
#include "cli/commands.h"
#include "rinex/rinex_import.h"

namespace talverin_cli {

const char kImportRinexHelp[] =
    "Writes B<site>A<yy>.<doy>, E... and S... into OUTDIR (GPS satellites only, no event\n"
    "file). Each observation epoch becomes one epoch record: site name, receiver time (s of\n"
    "GPS week), the receiver position of --header-position (APPROX POSITION XYZ by\n"
    "default), clock 0, one channel record per satellite.\n"
    "\n"
    "Observables:\n"
    "  C/A range    C1 (P1 in a file without C1), stored as seconds of light time.\n"
    "               A satellite whose C/A range is blank or .000 (acquiring) is left out.\n"
    "  L1/L2 phase  L1, L2 in cycles (stored negated; the converter reads them back).\n"
    "  Doppler      D1 in Hz, stored as -D1/0.0001 in an int32. Without D1 the Doppler is\n"
    "               derived from the L1 phase rate, D = -dL1/dt: the central difference\n"
    "               over the neighbouring epochs, or the one-sided difference where only\n"
    "               one neighbour (at most 300 s away) has L1 without loss of lock; 0 when\n"
    "               neither has.\n"
    "  SNR          S1/S2 rounded to whole dB-Hz (values beyond 0-255 become 0); without\n"
    "               S1/S2 from the signal strength digit n of L1/L2 as 6n+3 dB-Hz.\n"
    "  P-code       dual frequency: P2 (or C2) is the L2 range; P1 is stored in the P1\n"
    "               block of the channel record (bytes 35-65), which the GPB conversion\n"
    "               does not read and the RINEX export reads back.\n"
    "  Lock         loss of lock (LLI bit 0) on L1 or L2, a power failure epoch, or a\n"
    "               satellite or phase missing from the epoch before restarts tracking.\n"
    "  Epochs with more than 12 usable satellites keep 12, those tracked before first.\n"
    "\n"
    "Files already in OUTDIR are never replaced without --force. A navigation file whose\n"
    "nearest record is more than a day from the first observation epoch is warned about.\n"
    "\n"
    "Receiver: REC # / TYPE / VERS must name a known model (ASHTECH Z-XII3 and Z-XII3T\n"
    "give Z-XII3, dual frequency); otherwise give --receiver.\n"
    "\n"
    "Example:\n"
    "  talverin import-rinex bahr1620.04o bahr1620.04n set/\n"
    "  talverin import-rinex --header-position 30000 bahr1620.04o bahr1620.04n moved/\n"
    "  talverin convert set/BBAHRA04.162\n";

ImportRinexResult ImportRinexSet(const ImportRinexArgs& args) {
  ImportRinexResult result;
  talverin::RinexImportOptions options;
  options.observationPath = args.observation;
  options.navigationPath = args.navigation;
  options.outputDir = args.outputDir;
  options.receiver = args.receiver;
  options.site = args.site;
  options.keepExisting = !args.force;
  char error[talverin::kTextSize] = "";
  if (talverin::ParseHeaderPosition(args.headerPosition, &options, error) != 0 ||
      talverin::ImportRinex(options, &result.summary, error) != 0) {
    result.status = kExitFailed;
    result.error = error;
  } else if (result.summary.navigationApart_s > talverin::kSecondsPerDay) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "the navigation file's nearest record is %.1f days from the first observation "
                  "epoch: is it of another day or year?",
                  result.summary.navigationApart_s / talverin::kSecondsPerDay);
    result.warning = text;
  }
  return result;
}

int RunImportRinex(const ImportRinexArgs& args) {
  IgnoreBrokenPipes();  // the summary comes after the files: a closed stdout must not undo it
  const ImportRinexResult result = ImportRinexSet(args);
  if (result.status != kExitOk) {
    std::fprintf(stderr, "talverin import-rinex: %s\n", result.error.c_str());
    return result.status;
  }
  if (!result.warning.empty()) {
    std::fprintf(stderr, "talverin import-rinex: warning: %s\n", result.warning.c_str());
  }
  const talverin::RinexImportSummary& summary = result.summary;
  std::printf("receiver model: %s (type %ld, %ld-byte channel records)\n", summary.model,
              static_cast<long>(summary.receiverType), static_cast<long>(summary.recordSize));
  std::printf("site: %s\n", summary.site);
  std::printf("observation file: %s\n", summary.observationFile.c_str());
  std::printf("  epochs written: %ld, channel records: %ld\n", static_cast<long>(summary.epochs),
              static_cast<long>(summary.channels));
  std::printf(
      "  left out: %ld without C/A range, %ld over the channel limit, %ld not GPS "
      "1-32 or repeated\n",
      static_cast<long>(summary.noRange), static_cast<long>(summary.overLimit),
      static_cast<long>(summary.otherSatellites));
  std::printf("  Doppler from phase: %ld, without Doppler: %ld\n",
              static_cast<long>(summary.dopplerFromPhase), static_cast<long>(summary.noDoppler));
  std::printf("  event records skipped: %ld, cycle-slip records skipped: %ld\n",
              static_cast<long>(summary.eventRecords), static_cast<long>(summary.slipRecords));
  std::printf("ephemeris file: %s\n", summary.ephemerisFile.c_str());
  std::printf("  records: %ld (unhealthy: %ld)\n", static_cast<long>(summary.ephemerides),
              static_cast<long>(summary.unhealthy));
  std::printf("site file: %s\n", summary.siteFile.c_str());
  return kExitOk;
}

}  // namespace talverin_cli
