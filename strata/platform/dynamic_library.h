// Run-time loading of shared libraries by logical name.
#ifndef STRATA_PLATFORM_DYNAMIC_LIBRARY_H_
#define STRATA_PLATFORM_DYNAMIC_LIBRARY_H_

#include <string>

namespace strata::platform {

using ModuleHandle = void*;

// Maps a logical library name such as "Strata.dll" or "libAltSlide.dll" to
// this platform's file name ("libStrata.so", "libAltSlide.so"). Names without
// the ".dll" suffix are returned unchanged.
std::string PlatformLibraryFileName(const std::string& logicalName);

// Loads a library by logical name (mapped as above) or by file path, with the
// loader's ordinary search. Null on failure.
ModuleHandle LoadModule(const std::string& name);

// Looks up an exported symbol; null when the module is null or lacks it.
void* FindSymbol(ModuleHandle module, const char* symbol);

void UnloadModule(ModuleHandle module);

// The loader's text for the last failure, or "" when none.
std::string LastLoadError();

// Directory of the shared object or executable that contains `address`, or ""
// when it cannot be told.
std::string DirectoryOfAddress(const void* address);

}  // namespace strata::platform

#endif  // STRATA_PLATFORM_DYNAMIC_LIBRARY_H_
