#include "tools/arguments.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace strata::tools {

int ReportError(const std::string& text) {
  std::fprintf(stderr, "strata: %s\n", text.c_str());
  return 1;
}

int ReportUsageError(const std::string& text) {
  ReportError(text);
  return 2;
}

bool Arguments::Parse(const std::vector<std::string>& words,
                      const std::set<std::string>& valueOptions, const std::set<std::string>& flags,
                      std::string* error) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    // Negative numbers are values, not options.
    const bool looksLikeOption =
        word.size() > 1 && word[0] == '-' &&
        !(std::isdigit(static_cast<unsigned char>(word[1])) || word[1] == '.');
    if (!looksLikeOption) {
      positional_.push_back(word);
      continue;
    }
    // "--name=value" is the same as "--name value".
    const std::size_t equals = word.find('=');
    const std::string name = word.substr(0, equals);
    if (Has(name)) {
      *error = "option " + name + " is given twice";
      return false;
    }
    if (flags.count(name) != 0) {
      if (equals != std::string::npos) {
        *error = "option " + name + " takes no value";
        return false;
      }
      flagsSeen_.insert(name);
      continue;
    }
    if (valueOptions.count(name) == 0) {
      *error = "unknown option " + name;
      return false;
    }
    if (equals != std::string::npos) {
      values_[name] = word.substr(equals + 1);
    } else if (i + 1 < words.size()) {
      values_[name] = words[++i];
    } else {
      *error = "option " + name + " needs a value";
      return false;
    }
  }
  return true;
}

bool Arguments::Has(const std::string& name) const {
  return flagsSeen_.count(name) != 0 || values_.count(name) != 0;
}

std::string Arguments::Text(const std::string& name, const std::string& fallback) const {
  const auto found = values_.find(name);
  return found == values_.end() ? fallback : found->second;
}

bool Arguments::Int(const std::string& name, int fallback, int low, int high, int* out,
                    std::string* error) const {
  const auto found = values_.find(name);
  if (found == values_.end()) {
    *out = fallback;
    return true;
  }
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(found->second.c_str(), &end, 10);
  if (errno != 0 || end == found->second.c_str() || *end != '\0' || value < low || value > high) {
    *error = name + " must be a whole number from " + std::to_string(low) + " to " +
             std::to_string(high) + ", got \"" + found->second + "\"";
    return false;
  }
  *out = static_cast<int>(value);
  return true;
}

bool Arguments::Float(const std::string& name, float fallback, float low, float high, float* out,
                      std::string* error) const {
  const auto found = values_.find(name);
  if (found == values_.end()) {
    *out = fallback;
    return true;
  }
  errno = 0;
  char* end = nullptr;
  const float value = std::strtof(found->second.c_str(), &end);
  if (errno != 0 || end == found->second.c_str() || *end != '\0' || !std::isfinite(value) ||
      value < low || value > high) {
    *error = name + " must be a number from " + std::to_string(low) + " to " +
             std::to_string(high) + ", got \"" + found->second + "\"";
    return false;
  }
  *out = value;
  return true;
}

}  // namespace strata::tools
