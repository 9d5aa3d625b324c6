#include "strata/platform/dynamic_library.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace strata::platform {
namespace {

struct SymbolTwin {
  const char* decorated;
  const char* itanium;
};

// The iViewerSDK exports as its Windows build names them, and the Itanium
// manglings of the same declarations (CString by value, tagRECT pointer).
constexpr SymbolTwin kSymbolTwins[] = {
    {"?OpenTmapFile@@YAHVCString@@AAPAX@Z", "_Z12OpenTmapFile7CStringRPv"},
    {"?GetOrgScale@@YAHPAX@Z", "_Z11GetOrgScalePv"},
    {"?GetWholeImgInfo@@YAHPAXAAH11@Z", "_Z15GetWholeImgInfoPvRiS0_S0_"},
    {"?GetROIData@@YAPAEPAXPAUtagRECT@@HAAH2H@Z", "_Z10GetROIDataPvP7tagRECTiRiS2_i"},
    {"?CloseTmapFile@@YAHPAX@Z", "_Z13CloseTmapFilePv"},
};

}  // namespace

std::string PlatformLibraryFileName(const std::string& logicalName) {
  static const std::string kSuffix = ".dll";
  if (logicalName.size() <= kSuffix.size() ||
      logicalName.compare(logicalName.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
    return logicalName;
  }
  const std::string::size_type slash = logicalName.find_last_of('/');
  const std::string directory =
      slash == std::string::npos ? std::string() : logicalName.substr(0, slash + 1);
  std::string base =
      logicalName.substr(directory.size(), logicalName.size() - directory.size() - kSuffix.size());
  if (base.compare(0, 3, "lib") != 0) base = "lib" + base;
  return directory + base + ".so";
}

ModuleHandle LoadModule(const std::string& name) {
  return dlopen(PlatformLibraryFileName(name).c_str(), RTLD_NOW | RTLD_LOCAL);
}

namespace {

// The folders the loader searches for dependencies of `object`, in order.
std::vector<std::string> SearchFolders(ModuleHandle object) {
  Dl_serinfo size{};
  if (dlinfo(object, RTLD_DI_SERINFOSIZE, &size) != 0 || size.dls_size < sizeof(Dl_serinfo)) {
    return {};
  }
  std::vector<Dl_serinfo> storage((size.dls_size + sizeof(Dl_serinfo) - 1) / sizeof(Dl_serinfo));
  Dl_serinfo* info = storage.data();
  info->dls_size = size.dls_size;
  info->dls_cnt = size.dls_cnt;
  if (dlinfo(object, RTLD_DI_SERINFO, info) != 0) return {};
  std::vector<std::string> folders;
  for (unsigned int index = 0; index < info->dls_cnt; ++index) {
    folders.emplace_back(info->dls_serpath[index].dls_name);
  }
  return folders;
}

}  // namespace

ModuleHandle LoadModuleFromSearchPathOf(const std::string& name, const void* address) {
  Dl_info owner{};
  if (dladdr(address, &owner) == 0 || owner.dli_fname == nullptr) return nullptr;
  ModuleHandle self = dlopen(owner.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  if (self == nullptr) return nullptr;
  const std::vector<std::string> folders = SearchFolders(self);
  dlclose(self);
  const std::string fileName = PlatformLibraryFileName(name);
  for (const std::string& folder : folders) {
    if (ModuleHandle module = LoadModule(folder + "/" + fileName)) return module;
  }
  return nullptr;
}

ModuleHandle LoadModuleOverridable(const std::string& name, const char* overrideVariable) {
  const char* chosen = overrideVariable == nullptr ? nullptr : std::getenv(overrideVariable);
  if (chosen != nullptr && *chosen != '\0') return dlopen(chosen, RTLD_NOW | RTLD_LOCAL);
  ModuleHandle module = LoadModule(name);
  if (module != nullptr) return module;
  // A site may install the library beside this one instead of on the
  // loader's path.
  const std::string directory =
      DirectoryOfAddress(reinterpret_cast<const void*>(&LoadModuleOverridable));
  if (directory.empty() || name.find('/') != std::string::npos) return nullptr;
  return LoadModule(directory + "/" + PlatformLibraryFileName(name));
}

const char* PlatformSymbolName(const char* symbol) {
  if (symbol == nullptr) return nullptr;
  for (const SymbolTwin& twin : kSymbolTwins) {
    if (std::strcmp(symbol, twin.decorated) == 0) return twin.itanium;
  }
  return symbol;
}

void* FindSymbol(ModuleHandle module, const char* symbol) {
  if (module == nullptr || symbol == nullptr) return nullptr;
  return dlsym(module, PlatformSymbolName(symbol));
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
