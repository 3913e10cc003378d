#include "input/event_marks.h"

#include <cstdlib>

#include "plugin/conversion_job.h"

namespace talverin {

int32_t LoadEventFile(ConversionJob& /*job*/, EventTable& /*table*/) { return 0; }
int32_t StationMarkStep(ConversionJob& /*job*/, uint8_t* /*epochHeader*/, EventTable& /*table*/) {
  return 0;
}
void WriteEventStations(ConversionJob& /*job*/, EventTable& /*table*/) {}
void FreeEventTable(EventTable& table) {
  std::free(table.records);
  table.records = nullptr;
  table.count = 0;
  table.hasFeatures = 0;
}

}  // namespace talverin
