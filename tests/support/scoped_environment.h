// Sets an environment variable for the life of the object and restores the
// earlier value afterwards (tests choose reader settings this way).
#ifndef STRATA_TESTS_SUPPORT_SCOPED_ENVIRONMENT_H_
#define STRATA_TESTS_SUPPORT_SCOPED_ENVIRONMENT_H_

#include <cstdlib>
#include <optional>
#include <string>

namespace strata::test {

class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) earlier_ = old;
    if (value == nullptr) {
      unsetenv(name);
    } else {
      setenv(name, value, 1);
    }
  }
  ~ScopedEnvironment() {
    if (earlier_) {
      setenv(name_.c_str(), earlier_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::optional<std::string> earlier_;
};

}  // namespace strata::test

#endif  // STRATA_TESTS_SUPPORT_SCOPED_ENVIRONMENT_H_
