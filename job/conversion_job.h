// One conversion: owns the files, derived paths, options, callbacks, counters, the GPB
// writer, the positioning engine, the message buffer, the per-PRN tracking-time tables,
// the event table and the station record buffer; derives the companion file names, opens
// inputs and outputs, and runs the readers in their fixed order. The readers of input/
// work on this object. Lives exactly as long as one ConvertFile call.
#pragma once

#include <cstdint>
#include <cstdio>

#include "base/gnss_constants.h"
#include "base/host_callbacks.h"
#include "job/event_table.h"
#include "job/host_records.h"
#include "output/station_writer.h"

namespace talverin {

class GpbFile;
class SinglePoint;

constexpr int kObservationStreamBuffer = 8192;  // bytes, full buffering of the B file
constexpr int kMarkTextSize = 64;

class ConversionJob {
 public:
  ConversionJob();
  ~ConversionJob();
  ConversionJob(const ConversionJob&) = delete;
  ConversionJob& operator=(const ConversionJob&) = delete;

  // False when the writer, the engine or the buffers could not be allocated.
  bool constructed() const;

  // Fills the six derived paths. 0, or -1 with the module error text set when a path has
  // no file name or a derived name would not fit its 256-byte field.
  [[nodiscard]] int32_t DeriveNames(const char* inputPath, const char* outputPath);
  // Refuses, before any file is created or truncated, an output that is the same file as
  // an input or as another output (0, or -1 after reporting); then opens the files.
  // 0, or -1 after reporting. Leaves opened files to Finish / the destructor.
  [[nodiscard]] int32_t OpenFiles();
  // The pipeline: 0, or -1 after reporting.
  [[nodiscard]] int32_t Run();
  // Finishes the GPB file and closes every output, checking the final flush and close;
  // epochsWritten becomes the number of epochs in the GPB file. 0, or -1 with the failing
  // writer's text in the module error text (also sent).
  [[nodiscard]] int32_t Finish();

  // Sends text to the host's message callback, if one was given.
  void SendMessage(double time, const char* text) const;
  // Formats into the message buffer, then sends it.
  void Report(double time, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Formats into the module error text, then sends it.
  void ReportError(double time, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Calls the progress callback, if one was given.
  void SendProgress(int32_t position, int32_t total) const;

  // Owned parts.
  char* messageBuffer = nullptr;  // kTextSize bytes on the heap
  GpbFile* gpb = nullptr;
  SinglePoint* engine = nullptr;

  ConvertOptions options{};
  MessageCallback messageCallback = nullptr;
  ProgressCallback progressCallback = nullptr;

  int32_t stationsWritten = 0;
  int32_t epochsWritten = 0;
  int32_t ephemeridesRead = 0;
  double antennaHeight = 0.0;     // m, vertical, from the site file
  int32_t channelRecordSize = 0;  // 35, 97 or 66 bytes
  int32_t receiverType = 0;       // 1..4 once known
  uint16_t epochFlagBits = 0;     // the moving state ORed into each epoch's flags
  char currentSite[5] = "";       // site name of the last epoch header accepted

  // Station-mark state.
  uint16_t previousMovingState = 0;
  char previousSite[5] = "";
  double markPreviousTime = 0.0;  // s of week, time of the previous epoch
  double lastBeginTime = -1.0;    // s of week, time of the last begin block written

  FILE* observationFile = nullptr;
  FILE* ephemerisFile = nullptr;
  FILE* eppFile = nullptr;
  FILE* staFile = nullptr;
  char* observationBuffer = nullptr;  // kObservationStreamBuffer bytes

  char inputPath[kPathSize] = "";
  char ephemerisPath[kPathSize] = "";
  char sitePath[kPathSize] = "";
  char gpbPath[kPathSize] = "";
  char eventPath[kPathSize] = "";
  char eppPath[kPathSize] = "";
  char staPath[kPathSize] = "";
  char directory[kPathSize] = "";

  double l1Time[kMaxPrn] = {};      // s, continuous L1 tracking time per PRN
  double l2Time[kMaxPrn] = {};      // s, continuous L2 tracking time per PRN
  double previousEpochTime = -1.0;  // s of week, receiver time of the last epoch
  double lastEphTime = -1.0;        // s of week, toe of the last GPS ephemeris read
  int32_t lastEphWeek = -1;         // its week

  char markTexts[3][kMarkTextSize] = {};
  EventTable events{};
  StationRecord station{};

 private:
  int32_t CloseOutputs();
  int32_t CheckPaths();
};

}  // namespace talverin
