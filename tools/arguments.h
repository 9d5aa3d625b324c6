// The command line's argument parser, shared by the strata command and the
// benchmarks.
#ifndef STRATA_TOOLS_ARGUMENTS_H_
#define STRATA_TOOLS_ARGUMENTS_H_

#include <map>
#include <set>
#include <string>
#include <vector>

namespace strata::tools {

// Parsed arguments: positional words and --name value options. Options named
// in the command's flag list take no value.
class Arguments {
 public:
  // Options are "--name value" or "--name=value", each at most once. False
  // with *error set when an option lacks its value, is unknown or repeated.
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

// Print "strata: <text>" on standard error and return the exit status, for
// `return ReportError(...)`: 1 for a failure, 2 for a wrong command line.
int ReportError(const std::string& text);
int ReportUsageError(const std::string& text);

}  // namespace strata::tools

#endif  // STRATA_TOOLS_ARGUMENTS_H_
