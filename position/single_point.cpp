#include "position/single_point.h"

namespace talverin {

SinglePoint::SinglePoint() { Reset(); }
SinglePoint::~SinglePoint() {}
void SinglePoint::Reset() { errorText_[0] = '\0'; }
int32_t SinglePoint::ProcessEpoch(gpb_epoch_type*, int32_t) { return 1; }

}  // namespace talverin
