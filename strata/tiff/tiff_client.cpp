#include "strata/tiff/tiff_client.h"

#include <cstdarg>
#include <cstdio>
#include <limits>

namespace strata::tiff {
namespace {

// What libtiff is told about a source whose size the reader cannot tell:
// large enough that no offset looks beyond it, so reads decide.
constexpr toff_t kUnknownSize = std::numeric_limits<std::int64_t>::max();

struct OptionsDeleter {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

}  // namespace

TiffClient::TiffClient(CFileOperationTool* reader) : reader_(reader), size_(reader->Size()) {}

TiffClient::~TiffClient() {
  if (tiff_ != nullptr) TIFFClose(tiff_);
}

Status TiffClient::Open(CFileOperationTool* reader, const std::string& name,
                        std::unique_ptr<TiffClient>* client) {
  client->reset();
  if (reader == nullptr) return Status::InvalidArgument("no byte reader");
  std::unique_ptr<TiffClient> made(new TiffClient(reader));
  std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
  if (options == nullptr) return Status::TooLarge("out of memory opening the TIFF");
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxSingleAllocation);
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), ErrorHandler, made.get());
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), WarningHandler, made.get());
  // "r": read only; "m": never map the source into memory.
  made->tiff_ = TIFFClientOpenExt(name.c_str(), "rm", made.get(), ReadProc, WriteProc, SeekProc,
                                  CloseProc, SizeProc, MapProc, UnmapProc, options.get());
  if (made->tiff_ == nullptr) {
    return Status::Damaged(made->error_.empty() ? "not a TIFF file libtiff can read"
                                                : "not a readable TIFF: " + made->error_);
  }
  *client = std::move(made);
  return Status::Ok();
}

tmsize_t TiffClient::ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
  auto* client = static_cast<TiffClient*>(handle);
  if (size <= 0) return 0;
  std::size_t delivered = 0;
  if (!client->reader_->ReadInto(client->position_, static_cast<std::size_t>(size),
                                 static_cast<unsigned char*>(buffer), delivered)) {
    return -1;
  }
  client->position_ += delivered;
  return static_cast<tmsize_t>(delivered);
}

tmsize_t TiffClient::WriteProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t TiffClient::SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* client = static_cast<TiffClient*>(handle);
  constexpr auto kLast = static_cast<toff_t>(std::numeric_limits<std::int64_t>::max());
  switch (whence) {
    case SEEK_SET:
      if (offset > kLast) return static_cast<toff_t>(-1);
      client->position_ = offset;
      break;
    case SEEK_CUR:
      if (offset > kLast - client->position_) return static_cast<toff_t>(-1);
      client->position_ += offset;
      break;
    case SEEK_END:
      if (client->size_ < 0 || offset != 0) return static_cast<toff_t>(-1);
      client->position_ = static_cast<toff_t>(client->size_);
      break;
    default:
      return static_cast<toff_t>(-1);
  }
  return client->position_;
}

int TiffClient::CloseProc(thandle_t) { return 0; }

toff_t TiffClient::SizeProc(thandle_t handle) {
  const auto* client = static_cast<TiffClient*>(handle);
  return client->size_ < 0 ? kUnknownSize : static_cast<toff_t>(client->size_);
}

int TiffClient::MapProc(thandle_t, void**, toff_t*) { return 0; }
void TiffClient::UnmapProc(thandle_t, void*, toff_t) {}

int TiffClient::ErrorHandler(TIFF*, void* handle, const char*, const char* format,
                             va_list arguments) {
  auto* client = static_cast<TiffClient*>(handle);
  char text[512];
  std::vsnprintf(text, sizeof text, format, arguments);
  // The first error says where things went wrong; later ones follow from it.
  if (client != nullptr && client->error_.empty()) client->error_ = text;
  return 1;
}

int TiffClient::WarningHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace strata::tiff
