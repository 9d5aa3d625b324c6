// libtiff reading through one of the library's byte-range readers, so that
// TIFF files are parsed the same way whether they are local files or
// objects behind an HTTP server (with the reader's block cache).
//
// libtiff keeps state per handle: one client is used by one thread at a
// time. Errors libtiff reports are kept as the client's last error instead
// of going to the process-wide handlers, and no single allocation libtiff
// makes for a hostile file may exceed kMaxSingleAllocation.
#ifndef STRATA_TIFF_TIFF_CLIENT_H_
#define STRATA_TIFF_TIFF_CLIENT_H_

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>

#include "strata/model/file_operation_tool.h"
#include "strata/status.h"

namespace strata::tiff {

class TiffClient {
 public:
  static constexpr tmsize_t kMaxSingleAllocation = 64 << 20;

  // Opens libtiff over `reader` (open already, not owned; it must outlive
  // the client). `name` only labels messages. Damaged with libtiff's reason
  // when the bytes are no TIFF it can read.
  static Status Open(CFileOperationTool* reader, const std::string& name,
                     std::unique_ptr<TiffClient>* client);

  ~TiffClient();
  TiffClient(const TiffClient&) = delete;
  TiffClient& operator=(const TiffClient&) = delete;

  TIFF* Handle() const { return tiff_; }
  // The last error libtiff reported, "" when none since the last Clear.
  const std::string& LastError() const { return error_; }
  void ClearError() { error_.clear(); }
  // Size of the byte source, -1 when the reader cannot tell (HTTP).
  std::int64_t SourceSize() const { return size_; }

 private:
  explicit TiffClient(CFileOperationTool* reader);

  static tmsize_t ReadProc(thandle_t client, void* buffer, tmsize_t size);
  static tmsize_t WriteProc(thandle_t client, void* buffer, tmsize_t size);
  static toff_t SeekProc(thandle_t client, toff_t offset, int whence);
  static int CloseProc(thandle_t client);
  static toff_t SizeProc(thandle_t client);
  static int MapProc(thandle_t client, void** base, toff_t* size);
  static void UnmapProc(thandle_t client, void* base, toff_t size);
  static int ErrorHandler(TIFF* tiff, void* client, const char* module, const char* format,
                          va_list arguments);
  static int WarningHandler(TIFF* tiff, void* client, const char* module, const char* format,
                            va_list arguments);

  CFileOperationTool* reader_;
  std::uint64_t position_ = 0;
  std::int64_t size_ = -1;
  TIFF* tiff_ = nullptr;
  std::string error_;
};

}  // namespace strata::tiff

#endif  // STRATA_TIFF_TIFF_CLIENT_H_
