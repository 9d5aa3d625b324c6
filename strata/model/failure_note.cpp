#include "strata/model/failure_note.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace strata {
namespace {

thread_local Status noted;

constexpr std::size_t kShownBytes = 8;

}  // namespace

void NoteFailure(Status reason) { noted = std::move(reason); }

void ClearNotedFailure() { noted = Status::Ok(); }

Status TakeNotedFailure(Status fallback) {
  Status reason = noted.ok() ? std::move(fallback) : std::move(noted);
  noted = Status::Ok();
  return reason;
}

std::string LeadingBytesText(const unsigned char* bytes, std::size_t count) {
  if (bytes == nullptr || count == 0) return "is empty";
  count = std::min(count, kShownBytes);
  std::string hex = "starts with";
  std::string text;
  char digits[4];
  for (std::size_t n = 0; n < count; ++n) {
    std::snprintf(digits, sizeof digits, " %02x", bytes[n]);
    hex += digits;
    text += bytes[n] >= 0x20 && bytes[n] < 0x7f ? static_cast<char>(bytes[n]) : '.';
  }
  return hex + " '" + text + "'";
}

}  // namespace strata
