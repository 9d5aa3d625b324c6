// The outcome of a slide operation: success, or a kind of failure with a
// one-line reason that names what was found where ("truncated at byte 5000",
// "not a slide: starts with 7b 0a 20 20"). Reasons travel from the place a
// fault is found up to the caller; the C exports turn them into true/false
// and keep the last one per handle.
//
// Header-only and free of dependencies, so every layer of the library and
// every C++ consumer shares it.
#ifndef STRATA_STATUS_H_
#define STRATA_STATUS_H_

#include <string>
#include <utility>

namespace strata {

class Status {
 public:
  enum class Code {
    kOk = 0,
    kNotFound,           // no such file, object or entry
    kIsDirectory,        // a folder where a slide file was expected
    kUnsupportedFormat,  // readable bytes, but no format this library opens
    kDamaged,            // a slide whose structures do not check out
    kInvalidArgument,    // a request no slide could satisfy
    kOutOfRange,         // a level, tile or image the slide does not have
    kUnsupported,        // an operation this format does not offer
    kTooLarge,           // beyond a memory budget
    kIoError,            // the bytes could not be read (local or HTTP)
    kClosed,             // the slide was closed
  };

  Status() = default;
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}

  static Status Ok() { return Status(); }
  static Status NotFound(std::string m) { return Status(Code::kNotFound, std::move(m)); }
  static Status IsDirectory(std::string m) { return Status(Code::kIsDirectory, std::move(m)); }
  static Status UnsupportedFormat(std::string m) {
    return Status(Code::kUnsupportedFormat, std::move(m));
  }
  static Status Damaged(std::string m) { return Status(Code::kDamaged, std::move(m)); }
  static Status InvalidArgument(std::string m) {
    return Status(Code::kInvalidArgument, std::move(m));
  }
  static Status OutOfRange(std::string m) { return Status(Code::kOutOfRange, std::move(m)); }
  static Status Unsupported(std::string m) { return Status(Code::kUnsupported, std::move(m)); }
  static Status TooLarge(std::string m) { return Status(Code::kTooLarge, std::move(m)); }
  static Status IoError(std::string m) { return Status(Code::kIoError, std::move(m)); }
  static Status Closed(std::string m) { return Status(Code::kClosed, std::move(m)); }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  // The reason; empty for success.
  const std::string& message() const { return message_; }

  // The same failure with `context` in front of its reason ("slide.ztx: ...").
  // Success stays success.
  Status Prefixed(const std::string& context) const {
    if (ok()) return *this;
    return Status(code_, context + ": " + message_);
  }

 private:
  Code code_ = Code::kOk;
  std::string message_;
};

}  // namespace strata

#endif  // STRATA_STATUS_H_
