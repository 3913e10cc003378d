#include "output/gpb_file.h"

namespace talverin {

GpbFile::GpbFile() {}
GpbFile::~GpbFile() { Close(); }

int32_t GpbFile::Create(int32_t, const char*, int32_t, double, int32_t, int32_t) { return 1; }
int32_t GpbFile::UpdateHeaderInfo(const char*, const uint32_t*, int32_t, const double*) {
  return -1;
}
int32_t GpbFile::WriteEpoch(const gpb_epoch_type&) { return 1; }
int32_t GpbFile::Close() { return 0; }

}  // namespace talverin
