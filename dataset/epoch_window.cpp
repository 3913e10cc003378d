#include "dataset/epoch_window.h"

#include <cmath>

namespace talverin {

// Half a second either side of a grid time: receivers' time tags stray by milliseconds.
constexpr double kGridTolerance_s = 0.5;

bool EpochWindow::Inside(double time_s) const {
  return !(hasStart && time_s < start.FullSeconds()) && !(hasEnd && time_s > end.FullSeconds());
}

bool EpochWindow::Keeps(double time_s) const {
  return Inside(time_s) &&
         (!(interval_s > 0.0) ||
          std::fabs(time_s - std::round(time_s / interval_s) * interval_s) < kGridTolerance_s);
}

}  // namespace talverin
