// The strata command line: commands, their arguments and shared helpers.
//
// Each command group lives in its own commands_*.cpp file that defines one
// function returning its commands; command_groups.def lists those functions,
// one line per group.
#ifndef STRATA_TOOLS_COMMAND_H_
#define STRATA_TOOLS_COMMAND_H_

#include <map>
#include <set>
#include <string>
#include <vector>

namespace strata::tools {

// Parsed arguments: positional words and --name value options. Options named
// in the command's flag list take no value.
class Arguments {
 public:
  // False with *error set when an option lacks its value or is unknown.
  bool Parse(const std::vector<std::string>& words, const std::set<std::string>& valueOptions,
             const std::set<std::string>& flags, std::string* error);

  const std::vector<std::string>& positional() const { return positional_; }
  bool Has(const std::string& name) const;
  std::string Text(const std::string& name, const std::string& fallback = "") const;
  // Number options; false with *error when the value is not a number or out of range.
  bool Int(const std::string& name, int fallback, int low, int high, int* out,
           std::string* error) const;
  bool Float(const std::string& name, float fallback, float low, float high, float* out,
             std::string* error) const;

 private:
  std::vector<std::string> positional_;
  std::map<std::string, std::string> values_;
  std::set<std::string> flagsSeen_;
};

struct Command {
  std::string name;
  std::string usage;    // arguments after the name, e.g. "SLIDE -o FILE"
  std::string summary;  // one line
  int positionalCount;  // exact number of positional arguments; -1: one or more
  std::set<std::string> valueOptions;  // e.g. "--scale", "-o"
  std::set<std::string> flags;         // e.g. "--bmp"
  // Runs the command; returns the exit status. Errors are reported with
  // ReportError and a non-zero status.
  int (*run)(const Arguments& arguments);
};

using CommandGroup = std::vector<Command> (*)();

// Prints "strata: <text>" on standard error; returns 1 for `return ReportError(...)`.
int ReportError(const std::string& text);

}  // namespace strata::tools

#endif  // STRATA_TOOLS_COMMAND_H_
