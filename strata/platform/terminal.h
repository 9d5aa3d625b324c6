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

}  // namespace strata::platform

#endif  // STRATA_PLATFORM_TERMINAL_H_
