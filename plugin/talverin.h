// Public interface of the conversion module, as a host loads it: five exported functions
// with C linkage and the three host records (plugin/host_records.h).
//
// 32-bit Windows: the exports and both callbacks are stdcall, exported under the decorated
// names _SetFactoryDefaults@8, _AutoDetect@4, _Abort@0, _GetErrString@4, _ConvertFile@12.
// 64-bit Windows and Linux: the platform's default convention, plain names. On 64-bit
// builds the callback pointers of HostCallbacks are 8 bytes each at offsets 8 and 16 and
// the record stays 272 bytes; the progress callback takes two 32-bit integers everywhere.
//
// Results of ConvertFile: 0 completed; 1 records rejected or conversion aborted by the host;
// -1 failed after it started. GetErrString copies the module error text (512 bytes).
// One conversion at a time; Abort is the only export meant to be called while ConvertFile
// runs (from another thread, a callback or a signal handler).
#pragma once

#include <cstdint>

#include "job/host_records.h"

#if defined(_WIN32)
#define TALVERIN_EXPORT
#else
#define TALVERIN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
TALVERIN_EXPORT void TALVERIN_CALL SetFactoryDefaults(int32_t size,
                                                      talverin::ConvertOptions* options);
TALVERIN_EXPORT int32_t TALVERIN_CALL AutoDetect(const char* path);
TALVERIN_EXPORT void TALVERIN_CALL Abort(void);
TALVERIN_EXPORT void TALVERIN_CALL GetErrString(char* buffer);
TALVERIN_EXPORT int32_t TALVERIN_CALL ConvertFile(talverin::ConvertRequest* request,
                                                  talverin::HostCallbacks* callbacks,
                                                  uint32_t reserved);
}

// Function-pointer types for hosts that resolve the exports at run time.
typedef void(TALVERIN_CALL* SetFactoryDefaultsFn)(int32_t, talverin::ConvertOptions*);
typedef int32_t(TALVERIN_CALL* AutoDetectFn)(const char*);
typedef void(TALVERIN_CALL* AbortFn)(void);
typedef void(TALVERIN_CALL* GetErrStringFn)(char*);
typedef int32_t(TALVERIN_CALL* ConvertFileFn)(talverin::ConvertRequest*, talverin::HostCallbacks*,
                                              uint32_t);
