// The host records (ConvertRequest, HostCallbacks, ConvertOptions) as hosts have included them
// from the installed tree: the layouts live in job/host_records.h, which this includes.
#pragma once

#include "job/host_records.h"
