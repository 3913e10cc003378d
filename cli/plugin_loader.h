// Loads the conversion module the way a host does: the shared library next to the
// executable, or in ../lib/talverin/ of an installed tree (or a path given with --plugin),
// its five exports resolved by name.
#pragma once

#include <string>

#include "plugin/talverin.h"

namespace talverin_cli {

struct Plugin {
  void* handle = nullptr;
  SetFactoryDefaultsFn SetFactoryDefaults = nullptr;
  AutoDetectFn AutoDetect = nullptr;
  AbortFn Abort = nullptr;
  GetErrStringFn GetErrString = nullptr;
  ConvertFileFn ConvertFile = nullptr;
};

// Empty path: the default place above. Returns false with a reason in error.
bool LoadPlugin(const std::string& path, Plugin* plugin, std::string* error);
void UnloadPlugin(Plugin* plugin);

}  // namespace talverin_cli
