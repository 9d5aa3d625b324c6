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

// Loads the library that the environment variable `overrideVariable` names
// when it is set and not empty, otherwise `name` as LoadModule does and,
// failing that, the same file in the directory of the code calling this
// (the shared library that holds this layer).
ModuleHandle LoadModuleOverridable(const std::string& name, const char* overrideVariable);

// Looks up an exported symbol; null when the module is null or lacks it. A
// decorated Windows C++ name of a vendor export is looked up under its Linux
// (Itanium) twin, see PlatformSymbolName.
void* FindSymbol(ModuleHandle module, const char* symbol);

// The name under which this platform exports `symbol`: the fixed Linux twin of
// a known decorated Windows C++ name (an ELF symbol cannot carry "@@", which
// the linker reads as a version), otherwise the name itself.
const char* PlatformSymbolName(const char* symbol);

void UnloadModule(ModuleHandle module);

// The loader's text for the last failure, or "" when none.
std::string LastLoadError();

// Directory of the shared object or executable that contains `address`, or ""
// when it cannot be told.
std::string DirectoryOfAddress(const void* address);

}  // namespace strata::platform

#endif  // STRATA_PLATFORM_DYNAMIC_LIBRARY_H_
