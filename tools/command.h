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

struct Command {
  std::string name;
  std::string usage;                   // arguments after the name, e.g. "SLIDE -o FILE"
  std::string summary;                 // one line
  int positionalCount;                 // exact number of positional arguments; -1: one or more
  std::set<std::string> valueOptions;  // e.g. "--scale", "-o"
  std::set<std::string> flags;         // e.g. "--bmp"
  // Runs the command; returns the exit status. Errors are reported with
  // ReportError and a non-zero status.
  int (*run)(const Arguments& arguments);
};

using CommandGroup = std::vector<Command> (*)();

}  // namespace strata::tools

#endif  // STRATA_TOOLS_COMMAND_H_
