// Calling convention of the plug-in interface and the two host callbacks.
// On 32-bit Windows the exports and callbacks are stdcall (callee pops the arguments);
// elsewhere the platform's default convention is used. The progress callback takes two
// 32-bit integers on every build (a Windows `long` is 32 bits even on 64-bit builds).
#pragma once

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define TALVERIN_CALL __stdcall
#else
#define TALVERIN_CALL
#endif

namespace talverin {

// time: -1.0 for messages that belong to no epoch, else the epoch's gpsTime (s of week).
// text: NUL-terminated, at most 511 characters, valid only during the call.
typedef void(TALVERIN_CALL* MessageCallback)(double time, const char* text);
// position: byte offset in the observation file; total: its length in bytes.
typedef void(TALVERIN_CALL* ProgressCallback)(int32_t position, int32_t total);

}  // namespace talverin
