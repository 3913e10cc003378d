#include "job/event_table.h"

#include <cstdlib>

namespace talverin {

void FreeEventTable(EventTable& table) {
  std::free(table.records);
  table.records = nullptr;
  std::free(table.byName);
  table.byName = nullptr;
  table.count = 0;
  table.hasFeatures = 0;
  table.lastMatch = 0.0;
}

}  // namespace talverin
