#include "tools/slide_handle.h"

#include <memory>

#include "strata/slide.h"

namespace strata::tools {

std::string CannotOpen(const std::string& path, const std::string& reason) {
  // Reasons that already name the path are not given it twice.
  const std::string prefix = path + ": ";
  const std::string why = reason.rfind(prefix, 0) == 0 ? reason.substr(prefix.size()) : reason;
  return "cannot open " + (path.empty() ? std::string("\"\"") : path) + ": " + why;
}

bool SlideHandle::Open(const std::string& path, std::string* error) {
  if (InitImageFileFunc(&handle_, path.c_str())) return true;
  // The slide façade says why a file is no slide; what it opens and the C
  // interface still refuses is a slide without a scale to address.
  std::unique_ptr<Slide> slide;
  const Status opened = Slide::Open(path, &slide);
  *error = CannotOpen(path, opened.ok() ? "the slide records no objective power, which reads "
                                          "at a scale need"
                                        : opened.message());
  return false;
}

}  // namespace strata::tools
