// An open slide through the library's C interface, closed when it goes away.
// The commands that hand out what the C interface hands out (stored tiles
// and pictures, regions at a scale) read through it.
#ifndef STRATA_TOOLS_SLIDE_HANDLE_H_
#define STRATA_TOOLS_SLIDE_HANDLE_H_

#include <string>

#include "strata/strata.h"

namespace strata::tools {

class SlideHandle {
 public:
  SlideHandle() = default;
  ~SlideHandle() { UnInitImageFileFunc(&handle_); }
  SlideHandle(const SlideHandle&) = delete;
  SlideHandle& operator=(const SlideHandle&) = delete;

  // False with the reason in *error ("cannot open PATH: why").
  bool Open(const std::string& path, std::string* error);
  IMAGE_INFO_STRUCT& get() { return handle_; }

 private:
  IMAGE_INFO_STRUCT handle_{};
};

// "cannot open PATH: why" for a reason from the library.
std::string CannotOpen(const std::string& path, const std::string& reason);

}  // namespace strata::tools

#endif  // STRATA_TOOLS_SLIDE_HANDLE_H_
