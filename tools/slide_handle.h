// An open slide through the library's C interface, closed when it goes away.
#ifndef STRATA_TOOLS_SLIDE_HANDLE_H_
#define STRATA_TOOLS_SLIDE_HANDLE_H_

#include <memory>
#include <string>

#include "strata/strata.h"

namespace strata::tools {

class SlideHandle {
 public:
  SlideHandle() = default;
  ~SlideHandle() { UnInitImageFileFunc(&handle_); }
  SlideHandle(const SlideHandle&) = delete;
  SlideHandle& operator=(const SlideHandle&) = delete;

  bool Open(const std::string& path) { return InitImageFileFunc(&handle_, path.c_str()); }
  IMAGE_INFO_STRUCT& get() { return handle_; }

 private:
  IMAGE_INFO_STRUCT handle_{};
};

}  // namespace strata::tools

#endif  // STRATA_TOOLS_SLIDE_HANDLE_H_
