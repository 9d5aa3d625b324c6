// Diagnostic channel: silent unless the environment variable STRATA_DEBUG is
// set, then each text goes to standard error as it is.
#ifndef STRATA_PLATFORM_DEBUG_OUTPUT_H_
#define STRATA_PLATFORM_DEBUG_OUTPUT_H_

namespace strata::platform {

bool DebugOutputEnabled();
void DebugOutput(const char* text);
void DebugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace strata::platform

#endif  // STRATA_PLATFORM_DEBUG_OUTPUT_H_
