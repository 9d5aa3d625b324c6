// An output file that appears only when complete: everything is written to
// TARGET.tmp-XXXXXX and renamed at the end; a run that fails or is
// abandoned removes the temporary file.
#ifndef STRATA_TOOLS_PENDING_OUTPUT_H_
#define STRATA_TOOLS_PENDING_OUTPUT_H_

#include <string>
#include <vector>

namespace strata::tools {

class PendingOutput {
 public:
  explicit PendingOutput(std::string target) : target_(std::move(target)) {}
  ~PendingOutput();
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  // Creates the temporary file next to the target.
  bool Begin(std::string* error);
  const std::string& temporaryPath() const { return temporary_; }
  // Moves the finished temporary file to the target.
  bool Commit(std::string* error);

 private:
  std::string target_;
  std::string temporary_;
  bool committed_ = false;
};

// Writes `bytes` to `target` through a PendingOutput.
bool WriteOutputFile(const std::string& target, const unsigned char* bytes, std::size_t size,
                     std::string* error);

}  // namespace strata::tools

#endif  // STRATA_TOOLS_PENDING_OUTPUT_H_
