// Questions about the process's standard streams and temporary files for
// the command-line tools.
#ifndef STRATA_PLATFORM_TERMINAL_H_
#define STRATA_PLATFORM_TERMINAL_H_

#include <cstdio>
#include <string>

namespace strata::platform {

// True when the stream is connected to a terminal.
bool IsTerminal(std::FILE* stream);

// Creates a new, empty file named `prefix` followed by six unique characters,
// with the permissions of an ordinary new file, and returns its name, or ""
// when it cannot be created.
std::string CreateUniqueFile(const std::string& prefix);

// While set, an interrupt or termination signal removes the file at `path`
// before the process ends as the signal would end it. One file at a time;
// an empty path clears it.
void RemoveFileOnInterrupt(const std::string& path);

}  // namespace strata::platform

#endif  // STRATA_PLATFORM_TERMINAL_H_
