// `talverin dump`: prints a GPB file of either variant through the library's GPB reader,
// as text or as CSV (one line per satellite record). Checksums and lengths are verified by
// the reader; a damaged record ends the dump with exit status 2. A stdout closed by its
// reader (`| head`) ends the dump quietly; another write error (a full disk) is reported.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/batch.h"
#include "cli/commands.h"
#include "output/gpb_reader.h"

namespace talverin_cli {
namespace {

using talverin::gpb_sat_type;

void PrintHead(const std::string& path, const talverin::GpbHeaderInfo& h, bool csv) {
  if (csv) {
    std::printf(
        "epoch,gpsTime,rcvTime,corrTime,flags,lat_deg,lon_deg,height_m,clock_m,prn,"
        "sflags,range1_m,phase1_cyc,doppler1_hz,lock1_s,snr1,rangeP1_m,range2_m,"
        "phase2_cyc,lock2_s,snr2\n");
  } else if (h.variant == 1) {
    std::printf(
        "GPB file %s: new variant ($NEWGPB), header %u bytes, data type %u, "
        "description \"%s\", created %02u/%02u/%04u %02u:%02u:%02u\n",
        path.c_str(), h.headerLength, h.dataType, h.description, h.stamp[0], h.stamp[1],
        1900u + h.stamp[2], h.stamp[3], h.stamp[4], h.stamp[5]);
  } else {
    std::printf(
        "GPB file %s: version %.2f, header %u bytes, data type %u, count %u, value %g, "
        "created %02u/%02u/%04u %02u:%02u:%02u\n",
        path.c_str(), static_cast<double>(h.version), h.headerLength, h.dataType, h.count,
        static_cast<double>(h.value), h.stamp[0], h.stamp[1], 1900u + h.stamp[2], h.stamp[3],
        h.stamp[4], h.stamp[5]);
  }
}

// The epoch's lines: its own line then one per satellite, or one CSV line per satellite.
void PrintEpoch(long index, const DumpEpoch& e, bool csv) {
  if (!csv) {
    std::printf(
        "epoch %ld  gps %.3f  rcv %.3f  corr %.9f  flags 0x%02x  nsat %d  lat %.9f  "
        "lon %.9f  h %.3f  clock %.3f m\n",
        index, e.gpsTime, e.rcvTime, e.corrTime, e.flags, static_cast<int>(e.sats.size()), e.lat,
        e.lon, e.height, e.clock);
  }
  for (const gpb_sat_type& s : e.sats) {
    if (csv) {
      std::printf(
          "%ld,%.3f,%.3f,%.9f,%u,%.9f,%.9f,%.3f,%.3f,%u,0x%x,%.3f,%.3f,%.3f,%.2f,%.2f,"
          "%.3f,%.3f,%.3f,%.2f,%.2f\n",
          index, e.gpsTime, e.rcvTime, e.corrTime, e.flags, e.lat, e.lon, e.height, e.clock, s.prn,
          s.sflags, s.range1, s.phase1, s.doppler1, s.lock1, s.snr1, s.rangeP1, s.range2, s.phase2,
          s.lock2, s.snr2);
    } else {
      std::printf(
          "  prn %3u  sflags 0x%03x  C1 %.3f  L1 %.3f  D1 %.3f  lock1 %.2f  snr1 %.2f  "
          "P1 %.3f  P2 %.3f  L2 %.3f  lock2 %.2f  snr2 %.2f\n",
          s.prn, s.sflags, s.range1, s.phase1, s.doppler1, s.lock1, s.snr1, s.rangeP1, s.range2,
          s.phase2, s.lock2, s.snr2);
    }
  }
}

}  // namespace

DumpResult Dump(const DumpArgs& args) {
  DumpResult result;
  result.status = kExitFailed;
  talverin::GpbReader reader;
  if (reader.Open(args.gpb.c_str()) != 0) {
    result.error = reader.errorText();
    return result;
  }
  result.opened = true;
  result.header = reader.header();
  static talverin::GpbReadEpoch read;
  int32_t status;
  while ((status = reader.ReadEpoch(&read)) == 1) {
    const talverin::gpb_epoch_type& e = read.epoch;
    DumpEpoch epoch;
    epoch.gpsTime = e.gpsTime;
    epoch.rcvTime = e.rcvTime;
    epoch.corrTime = e.corrTime;
    epoch.flags = e.flags;
    epoch.lat = e.lat;
    epoch.lon = e.lon;
    epoch.height = static_cast<double>(e.height);
    epoch.clock = e.clock;
    epoch.sats.assign(e.sat, e.sat + e.nsat);
    result.epochs.push_back(std::move(epoch));
  }
  if (status < 0) {
    result.error = reader.errorText();
    return result;
  }
  result.status = kExitOk;
  return result;
}

int RunDump(const DumpArgs& args) {
  IgnoreBrokenPipes();
  const DumpResult result = Dump(args);
  if (!result.opened) {
    std::fprintf(stderr, "talverin: %s\n", result.error.c_str());
    return kExitFailed;
  }
  PrintHead(args.gpb, result.header, args.csv);
  long index = 0;
  for (; index < static_cast<long>(result.epochs.size()) && !std::ferror(stdout); ++index) {
    PrintEpoch(index, result.epochs[static_cast<size_t>(index)], args.csv);
  }
  int writeError = std::ferror(stdout) ? errno : 0;
  if (!args.csv && writeError == 0 && result.error.empty()) std::printf("%ld epochs\n", index);
  if (writeError == 0 && std::fflush(stdout) != 0) writeError = errno;
  if (writeError == EPIPE) return kExitOk;  // nobody reads on: the dump ends quietly
  if (writeError != 0) {
    std::fprintf(stderr, "talverin dump: cannot write the dump: %s\n", std::strerror(writeError));
    return kExitFailed;
  }
  if (!result.error.empty()) std::fprintf(stderr, "talverin: %s\n", result.error.c_str());
  return result.status;
}

}  // namespace talverin_cli
