// A one-line progress bar on standard error, drawn only when it is a terminal.
#ifndef STRATA_TOOLS_PROGRESS_BAR_H_
#define STRATA_TOOLS_PROGRESS_BAR_H_

#include <cstdint>
#include <string>

namespace strata::tools {

class ProgressBar {
 public:
  explicit ProgressBar(std::string label);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Update(std::int64_t done, std::int64_t total);
  // Ends the line (if one was drawn).
  void Finish();

 private:
  std::string label_;
  bool enabled_;
  bool drawn_ = false;
  int lastPermille_ = -1;
};

}  // namespace strata::tools

#endif  // STRATA_TOOLS_PROGRESS_BAR_H_
