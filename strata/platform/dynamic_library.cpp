#include "strata/platform/dynamic_library.h"

#include <dlfcn.h>

namespace strata::platform {

std::string PlatformLibraryFileName(const std::string& logicalName) {
  static const std::string kSuffix = ".dll";
  if (logicalName.size() <= kSuffix.size() ||
      logicalName.compare(logicalName.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
    return logicalName;
  }
  const std::string::size_type slash = logicalName.find_last_of('/');
  const std::string directory =
      slash == std::string::npos ? std::string() : logicalName.substr(0, slash + 1);
  std::string base = logicalName.substr(directory.size(),
                                        logicalName.size() - directory.size() - kSuffix.size());
  if (base.compare(0, 3, "lib") != 0) base = "lib" + base;
  return directory + base + ".so";
}

ModuleHandle LoadModule(const std::string& name) {
  return dlopen(PlatformLibraryFileName(name).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindSymbol(ModuleHandle module, const char* symbol) {
  if (module == nullptr || symbol == nullptr) return nullptr;
  return dlsym(module, symbol);
}

void UnloadModule(ModuleHandle module) {
  if (module != nullptr) dlclose(module);
}

std::string LastLoadError() {
  const char* text = dlerror();
  return text == nullptr ? std::string() : std::string(text);
}

std::string DirectoryOfAddress(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return std::string();
  const std::string file = info.dli_fname;
  const std::string::size_type slash = file.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : file.substr(0, slash);
}

}  // namespace strata::platform
