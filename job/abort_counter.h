// The module-wide abort counter: Abort adds 1, ConvertFile resets it, the epoch loop reads
// it once per epoch. Lock-free, so Abort may come from another thread or a signal handler.
#pragma once

#include <cstdint>

namespace talverin {

void AddAbort();
void ResetAbortCounter();
int32_t AbortCounter();

}  // namespace talverin
