#include "output/gpb_reader.h"

namespace talverin {

GpbReader::GpbReader() {}
GpbReader::~GpbReader() { Close(); }
int32_t GpbReader::Open(const char*) { return 1; }
int32_t GpbReader::ReadEpoch(GpbReadEpoch*) { return -1; }
void GpbReader::Close() {}

}  // namespace talverin
