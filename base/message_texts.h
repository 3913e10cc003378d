// Every text the module sends to the host (through the message callback) or leaves as the
// module error text (GetErrString), each defined once with its level: error (the
// conversion or a file fails), warning (data lost, doubtful or not recomputed; the
// conversion goes on) or info (progress). Module sources format these constants and never
// a literal of their own. FindMessageText tells which catalog text a formatted message came
// from, so a host can show it by level. Texts formatted for files (.sta, .epp) and the GPB
// reader's texts (it serves the tools, never a host) are not messages and are not here.
#pragma once

namespace talverin {

enum class MessageLevel { kError, kWarning, kInfo };

// One row per text: X(name, level, printf format). The formats are the exact texts the
// host receives; a change of one byte changes what hosts see.
#define TALVERIN_MESSAGE_TEXTS(X)                                                                  \
  /* exports */                                                                                    \
  X(kNotEnoughMemory, kError, "Not enough memory to start the conversion")                         \
  X(kIncorrectVersion, kError, "Incorrect version of Sample Conversion DLL")                       \
  X(kInvalidOptions, kError, "Incorrect version of Sample Conversion DLL, Invalid options")        \
  X(kInvalidReceiverType, kError,                                                                  \
    "Invalid receiver type %ld in the options: 0 (detect) or 1 to 4 expected")                     \
  X(kPathTooLong, kError, "Error: path of 256 characters or more: %.255s")                         \
  X(kUserQuit, kError, "User Quit")                                                                \
  /* conversion job */                                                                             \
  X(kOutputPathTooLong, kError, "Error: output path too long for its companion files: %s")         \
  X(kInputWithoutFileName, kError, "Error: input path has no usable file name: %s")                \
  X(kUnableToOpenEphemeris, kError,                                                                \
    "Error: Unable to open %s. Will Not be able to Re-Calc Position/Time")                         \
  X(kUnableToOpen, kError, "Error: Unable to open %s")                                             \
  X(kUnableToOpenSta, kError, "Could not open STA FILE %s ")                                       \
  X(kEventFileTooLarge, kError,                                                                    \
    "Could Not Allocate Dfile Records\nDfile must be \nCut Down in Size")                          \
  X(kUnableToWrite, kError, "Unable to write to '%s' (disk full)")                                 \
  X(kOutputIsInput, kError, "Error: output %s is the same file as input %s")                       \
  X(kOutputsCollide, kError, "Error: outputs %s and %s are the same file")                         \
  /* receiver detection */                                                                         \
  X(kDetectedCa, kInfo, "Detected C/A code Ashtech receiver (G12/SCA/LOCUS)")                      \
  X(kDetectedDual, kInfo, "Detected dual frequency Ashtech receiver (Z12/P12/Z-Surveyor)")         \
  X(kDetectedL2Codeless, kInfo, "Detected L2-codeless Ashtech receiver (L12)")                     \
  X(kDetectedGlonass, kInfo, "Detected GLONASS Ashtech receiver (GG24)")                           \
  X(kUnableToDetect, kError,                                                                       \
    "Unable to detect Ashtech receiver type %s. Select manually in options")                       \
  /* ephemeris file */                                                                             \
  X(kGpsEphemerisHealthy, kInfo, "GPS Ephemeris loaded for PRN %d, Health OK")                     \
  X(kGpsEphemerisUnhealthy, kWarning, "GPS Ephemeris loaded for PRN %d, Health BAD!!!")            \
  X(kEphemerisWeek, kWarning, "ERROR - Eph Week Number : %d")                                      \
  X(kEphemerisNotFinite, kWarning, "ERROR - Eph PRN %d toe %ld in %s: %s is %g, record not used")  \
  X(kEphemerisBeyondBroadcastRange, kWarning,                                                      \
    "ERROR - Eph PRN %d toe %ld in %s: %s is %.8g%s, outside the broadcast range %.6g to "         \
    "%.6g%s, record not used")                                                                     \
  X(kGlonassEphemerisNotFinite, kWarning,                                                          \
    "ERROR - GLONASS Eph PRN %d in %s: %s is %g, record not written")                              \
  X(kGlonassEphemerisLoaded, kInfo, "GLONASS Ephemeris loaded for PRN %d")                         \
  /* observation file */                                                                           \
  X(kObservationNotOpen, kError, "Error: observation file %s is not open")                         \
  X(kBadChannelRecordSize, kError,                                                                 \
    "Error: channel record size %ld of receiver type %ld is not 35, 66 or 97")                     \
  X(kTooManyChannels, kWarning, "Error: Too many channels: \nWill Try to Recover Data")            \
  X(kPrematureEnd, kWarning, "Warning: Pre-mature end of file at %ld epochs")                      \
  X(kImplausibleHeader, kWarning,                                                                  \
    "Error: Implausible epoch header at byte %lld of %s (%s): \nWill Try to Recover Data")         \
  X(kResumed, kWarning,                                                                            \
    "Warning: %lld bytes of %s skipped; reading resumes at the epoch at %.3lf s")                  \
  X(kNoReadMemory, kError, "Error: no memory to read %s")                                          \
  X(kDuplicatePrn, kWarning,                                                                       \
    "Warning: Multiple occurances of PRN %d at %.1lf. Possible invalid data type")                 \
  X(kL1PhaseQuestion, kWarning, "L1 phase question: prn %d @ %.1lf")                               \
  X(kCodePhaseQuestionable, kWarning, "Code phase questionable on prn %d")                         \
  X(kCodeIntegrationUnstable, kWarning, "Code phase integration unstable on prn %d")               \
  X(kL2PhaseQuestionable, kWarning, "L2 Phase questionable on prn %d at %.1lf")                    \
  X(kL2PhaseQuestion, kWarning, "L2 phase question: prn %d @ %.1lf")                               \
  X(kTooFewEphemerides, kWarning, "Warning, less then 4 ephemerides unable to recompute position") \
  /* GPB writer */                                                                                 \
  X(kGpbAlreadyOpen, kError, "Cannot create file--class already using a file %s")                  \
  X(kGpbNameTooLong, kError, "Unable to create GPB file %.255s--name longer than 255 characters")  \
  X(kGpbAccessDenied, kError, "Unable to create GPB file %s--access denied")                       \
  X(kGpb102AccessDenied, kError, "Unable to create GPB file '%s'--access denied")                  \
  X(kGpbNoBuffer, kError, "Unable to create file buffer for '%s'")                                 \
  X(kGpbHeaderNotWritten, kError, "Failure to write to '%s' (disk full)")                          \
  X(kGpbNotOpened, kError, "GPB File not Opened")                                                  \
  X(kGpbHeaderReadOnly, kError, "UpdateHeaderInfo() only supports WRITE or READWRITE files")       \
  X(kGpbHeaderUpdateFailed, kError, "Failure updating new file header in %s")                      \
  X(kGpbEpochNotValid, kError, "Valid variable not set in gpb_epoch_type structure")               \
  X(kGpbNotSetUp, kError, "Invalid GPB class setup")                                               \
  X(kGpbTooManySatellites, kError,                                                                 \
    "Unable to write epoch at %.3f s to '%s': %ld satellite records, 0 to %ld allowed")            \
  /* station file writer */                                                                        \
  X(kDiskFull, kError, "Disk full")                                                                \
  X(kMissingStationName, kError, "Missing station name")                                           \
  /* positioning engine */                                                                         \
  X(kEngineNoMemory, kError, "Not enough memory for SinglePoint class")                            \
  X(kRefiningFirstEpoch, kInfo, "Refining solution on first epoch")                                \
  X(kClockShift, kWarning, "Large clock shift changed detected-refining solution")                 \
  X(kClockShiftLast, kWarning,                                                                     \
    "Large clock shift changed detected-no more messages will be printed")                         \
  X(kSolutionRetry, kInfo, "Solution failed--trying again with new clockshift")                    \
  X(kTooFewSatellites, kWarning,                                                                   \
    "Less than 4 satellites with ephemerides (only %d found)--Cannot compute epoch")               \
  X(kSolutionDataErrors, kWarning, "Solution failed due to data errors")                           \
  X(kEphemerisMissing, kWarning, "Ephemeris missing for PRN %d")                                   \
  X(kSatelliteClockFailed, kWarning, "Unable to compute satellite clock correction for PRN %d")    \
  X(kSatelliteOrbitFailed, kWarning, "Unable to compute orbit position for PRN %d")                \
  X(kDesignMatrixFailed, kWarning, "Failure to allocate a-matrix")                                 \
  X(kSatellitePositionMissing, kWarning,                                                           \
    "Missing satellite position for PRN--Cannot form A matrix")                                    \
  X(kNormalNotAllocated, kWarning, "Normal matrix not allocated")                                  \
  X(kMisclosureSizes, kWarning, "Invalid array sizes forming u vector")                            \
  X(kNormalSizes, kWarning, "Invalid array sizes forming normal")                                  \
  X(kNormalNotInverted, kWarning, "Failure to invert normal matrix--epoch failed")                 \
  X(kUpdateSizes, kWarning, "Invalid array sizes forming delta vector")                            \
  X(kNotConverged, kWarning, "Adjustment did not converge")                                        \
  X(kLargeResidual, kWarning, "PRN %d had large C/A residual (%.1lf m)")                           \
  X(kRejectedPrn, kWarning, "  Rejected PRN %d with reliability of %.1lf--Solution OK")

// The texts as constants: msg::kUserQuit and so on.
namespace msg {
#define TALVERIN_MESSAGE_CONSTANT(name, level, text) inline constexpr char name[] = text;
TALVERIN_MESSAGE_TEXTS(TALVERIN_MESSAGE_CONSTANT)
#undef TALVERIN_MESSAGE_CONSTANT
}  // namespace msg

struct MessageText {
  const char* format;  // one of the msg:: constants
  MessageLevel level;
};

// The one table of module texts and their levels.
inline constexpr MessageText kMessageTexts[] = {
#define TALVERIN_MESSAGE_ROW(name, level, text) {msg::name, MessageLevel::level},
    TALVERIN_MESSAGE_TEXTS(TALVERIN_MESSAGE_ROW)
#undef TALVERIN_MESSAGE_ROW
};
inline constexpr int kMessageTextCount =
    static_cast<int>(sizeof kMessageTexts / sizeof kMessageTexts[0]);

// The catalog row whose format produced `text` (a message as received, possibly cut to 511
// characters), or nullptr when none did. Conversions (%d, %ld, %.1lf, %g, %x, %s ...) match
// what printf can print for them; when several formats match, the one with the most
// literal characters wins ("Error: Unable to open %s" against its longer ephemeris form).
const MessageText* FindMessageText(const char* text);

// The level of a received text; a text that no catalog row produced counts as a warning,
// so that a host filtering by level never hides it by default.
MessageLevel LevelOfMessage(const char* text);

// "error", "warning" or "info".
const char* MessageLevelName(MessageLevel level);

}  // namespace talverin
