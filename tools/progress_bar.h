// Progress of long work on standard error: a one-line bar redrawn in place
// on a terminal; elsewhere (a log, a pipe) a plain line every few seconds.
#ifndef STRATA_TOOLS_PROGRESS_BAR_H_
#define STRATA_TOOLS_PROGRESS_BAR_H_

#include <chrono>
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
  void Draw(int permille, std::int64_t done, std::int64_t total);
  void PrintLine(int permille, std::int64_t done, std::int64_t total);

  std::string label_;
  bool terminal_;
  bool drawn_ = false;
  int lastPermille_ = -1;
  // Off a terminal: the time between lines (STRATA_PROGRESS_SECONDS, 5 by
  // default) and when the next one is due.
  std::chrono::steady_clock::duration interval_;
  std::chrono::steady_clock::time_point nextLine_;
};

}  // namespace strata::tools

#endif  // STRATA_TOOLS_PROGRESS_BAR_H_
