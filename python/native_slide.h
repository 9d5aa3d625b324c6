// One open slide for the Python package: a strata::Slide that may be closed
// while other threads read it (Close waits for them; later calls fail with
// a "closed" status).
#ifndef STRATA_PYTHON_NATIVE_SLIDE_H_
#define STRATA_PYTHON_NATIVE_SLIDE_H_

#include <memory>
#include <shared_mutex>
#include <string>

#include "strata/slide.h"

namespace strata::python {

class NativeSlide {
 public:
  // The open status says why when `slide` is null.
  static Status Open(const std::string& path, std::unique_ptr<NativeSlide>* slide);

  void Close();
  bool Closed() const;
  const std::string& Path() const { return path_; }

  // Runs `read` on the open slide, holding it open meanwhile; a closed
  // slide gives a Closed status.
  template <typename Read>
  Status WithSlide(Read&& read) const {
    std::shared_lock<std::shared_mutex> hold(lock_);
    if (slide_ == nullptr) return Status::Closed("the slide " + path_ + " is closed");
    return read(*slide_);
  }

 private:
  NativeSlide(std::string path, std::unique_ptr<Slide> slide)
      : path_(std::move(path)), slide_(std::move(slide)) {}

  std::string path_;
  mutable std::shared_mutex lock_;
  std::unique_ptr<Slide> slide_;
};

}  // namespace strata::python

#endif  // STRATA_PYTHON_NATIVE_SLIDE_H_
