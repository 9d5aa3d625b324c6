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

bool Arguments::Parse(const std::vector<std::string>& words,
                      const std::set<std::string>& valueOptions, const std::set<std::string>& flags,
                      std::string* error) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    const bool looksLikeOption =
        word.size() > 1 && word[0] == '-' &&
        !(word.size() > 1 && (std::isdigit(static_cast<unsigned char>(word[1])) || word[1] == '.'));
    if (!looksLikeOption) {
      positional_.push_back(word);
      continue;
    }
    if (flags.count(word) != 0) {
      flagsSeen_.insert(word);
      continue;
    }
    if (valueOptions.count(word) == 0) {
      *error = "unknown option " + word;
      return false;
    }
    if (i + 1 >= words.size()) {
      *error = "option " + word + " needs a value";
      return false;
    }
    values_[word] = words[++i];
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
