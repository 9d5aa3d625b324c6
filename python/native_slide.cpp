#include "python/native_slide.h"

#include <mutex>
#include <utility>

namespace strata::python {

Status NativeSlide::Open(const std::string& path, std::unique_ptr<NativeSlide>* slide) {
  std::unique_ptr<Slide> opened;
  const Status status = Slide::Open(path, &opened);
  if (!status.ok()) return status;
  slide->reset(new NativeSlide(path, std::move(opened)));
  return Status::Ok();
}

void NativeSlide::Close() {
  std::unique_ptr<Slide> closing;
  {
    std::unique_lock<std::shared_mutex> hold(lock_);
    closing = std::move(slide_);
  }
}

bool NativeSlide::Closed() const {
  std::shared_lock<std::shared_mutex> hold(lock_);
  return slide_ == nullptr;
}

}  // namespace strata::python
