#include "strata/interface/failure_log.h"

#include <map>
#include <mutex>
#include <thread>

namespace strata::interface {
namespace {

thread_local std::string threadFailure;

struct SlideFailures {
  std::mutex lock;
  std::map<const CDataFile*, std::map<std::thread::id, std::string>> reasons;
};

SlideFailures& Slides() {
  static SlideFailures failures;
  return failures;
}

}  // namespace

void RecordFailure(const CDataFile* slide, const Status& reason) {
  threadFailure = reason.message();
  if (slide == nullptr) return;
  SlideFailures& slides = Slides();
  std::lock_guard<std::mutex> hold(slides.lock);
  slides.reasons[slide][std::this_thread::get_id()] = reason.message();
}

std::string LastFailureText(const CDataFile* slide) {
  if (slide == nullptr) return threadFailure;
  SlideFailures& slides = Slides();
  std::lock_guard<std::mutex> hold(slides.lock);
  const auto found = slides.reasons.find(slide);
  if (found == slides.reasons.end()) return std::string();
  const auto mine = found->second.find(std::this_thread::get_id());
  return mine == found->second.end() ? std::string() : mine->second;
}

void ForgetSlide(const CDataFile* slide) {
  if (slide == nullptr) return;
  SlideFailures& slides = Slides();
  std::lock_guard<std::mutex> hold(slides.lock);
  slides.reasons.erase(slide);
}

}  // namespace strata::interface
