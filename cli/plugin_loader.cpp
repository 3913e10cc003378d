#include "cli/plugin_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace talverin_cli {
namespace {

constexpr char kModuleName[] = "libtalverin.so";
// Where an installed tree keeps the module, from the program's folder (bin/).
constexpr char kInstalledModule[] = "../lib/talverin/libtalverin.so";

// The module beside the program (the build tree), else in the installed tree's lib/talverin.
std::string DefaultPluginPath() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return kModuleName;
  self[n] = '\0';
  std::string path(self);
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string beside = folder + kModuleName;
  return access(beside.c_str(), F_OK) == 0 ? beside : folder + kInstalledModule;
}

template <typename Fn>
bool Resolve(void* handle, const char* name, Fn* out, std::string* error) {
  void* symbol = dlsym(handle, name);
  if (symbol == nullptr) {
    *error = std::string("the module does not export ") + name;
    return false;
  }
  *out = reinterpret_cast<Fn>(symbol);
  return true;
}

}  // namespace

bool LoadPlugin(const std::string& path, Plugin* plugin, std::string* error) {
  const std::string file = path.empty() ? DefaultPluginPath() : path;
  plugin->handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (plugin->handle == nullptr) {
    const char* why = dlerror();
    *error = "cannot load the conversion module " + file + ": " + (why ? why : "unknown error");
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
  if (plugin->handle != nullptr) dlclose(plugin->handle);
  *plugin = Plugin{};
}

}  // namespace talverin_cli
