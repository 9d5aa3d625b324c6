// Folders and resolved paths, for code that must keep to the files inside a
// folder it was given.
#ifndef STRATA_PLATFORM_DIRECTORY_H_
#define STRATA_PLATFORM_DIRECTORY_H_

#include <string>
#include <vector>

namespace strata::platform {

// The absolute path with every symbolic link, "." and ".." resolved; "" when
// the path does not exist.
std::string ResolvedPath(const std::string& path);

bool IsDirectory(const std::string& path);
// True for a regular file, also one reached through a symbolic link.
bool IsRegularFile(const std::string& path);
// True when the file's permissions leave no one allowed to write it, or when
// this process may not write it: such files are not rewritten in place.
bool IsReadOnlyFile(const std::string& path);
// True when both paths name the same existing file (through links too).
bool IsSameFile(const std::string& first, const std::string& second);

// Creates the folder `path` (its parent must exist); true when it exists
// afterwards.
bool CreateDirectory(const std::string& path);

// Names of the entries of a folder (no "." or ".."), sorted; empty when it
// cannot be read.
std::vector<std::string> DirectoryEntries(const std::string& path);

}  // namespace strata::platform

#endif  // STRATA_PLATFORM_DIRECTORY_H_
