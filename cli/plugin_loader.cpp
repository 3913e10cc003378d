#include "cli/plugin_loader.h"

#include "cli/platform.h"

namespace talverin_cli {
namespace {

template <typename Fn>
bool Resolve(void* handle, const char* name, Fn* out, std::string* error) {
  void* symbol = SharedLibrarySymbol(handle, name);
  if (symbol == nullptr) {
    *error = std::string("the module does not export ") + name;
    return false;
  }
  *out = reinterpret_cast<Fn>(symbol);
  return true;
}

}  // namespace

bool LoadPlugin(const std::string& path, Plugin* plugin, std::string* error) {
  const std::string file = path.empty() ? DefaultModulePath() : path;
  std::string why;
  plugin->handle = OpenSharedLibrary(file, &why);
  if (plugin->handle == nullptr) {
    *error = "cannot load the conversion module " + file + ": " + why;
    return false;
  }
  const bool ok =
      Resolve(plugin->handle, "SetFactoryDefaults", &plugin->SetFactoryDefaults, error) &&
      Resolve(plugin->handle, "AutoDetect", &plugin->AutoDetect, error) &&
      Resolve(plugin->handle, "Abort", &plugin->Abort, error) &&
      Resolve(plugin->handle, "GetErrString", &plugin->GetErrString, error) &&
      Resolve(plugin->handle, "ConvertFile", &plugin->ConvertFile, error);
  if (!ok) UnloadPlugin(plugin);
  return ok;
}

void UnloadPlugin(Plugin* plugin) {
  if (plugin->handle != nullptr) CloseSharedLibrary(plugin->handle);
  *plugin = Plugin{};
}

}  // namespace talverin_cli
