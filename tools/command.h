// The strata command line: commands, their arguments and shared helpers.
//
// Each command group lives in its own commands_*.cpp file that defines one
// function returning its commands; command_groups.def lists those functions,
// one line per group.
#ifndef STRATA_TOOLS_COMMAND_H_
#define STRATA_TOOLS_COMMAND_H_

#include <set>
#include <string>
#include <vector>

#include "tools/arguments.h"

namespace strata::tools {

// Exit statuses of every command.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // the work failed: unreadable input, unwritable output, ...
constexpr int kExitUsage = 2;    // the command line is wrong: see `strata COMMAND --help`

struct Command {
  std::string name;
  std::string usage;                   // arguments after the name, e.g. "SLIDE -o FILE"
  std::string summary;                 // one line
  int positionalCount;                 // exact number of positional arguments; -1: one or more
  std::set<std::string> valueOptions;  // e.g. "--scale", "-o"
  std::set<std::string> flags;         // e.g. "--bmp"
  std::set<std::string> required;      // value options that must be given
  std::string details;                 // the rest of `strata NAME --help`
  // Runs the command; returns the exit status. Errors are reported with
  // ReportError (1) or ReportUsageError (2).
  int (*run)(const Arguments& arguments);
};

using CommandGroup = std::vector<Command> (*)();

}  // namespace strata::tools

#endif  // STRATA_TOOLS_COMMAND_H_
