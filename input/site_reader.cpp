#include "input/site_reader.h"

#include "plugin/conversion_job.h"

namespace talverin {

void ReadSiteFile(ConversionJob& /*job*/) {}

}  // namespace talverin
