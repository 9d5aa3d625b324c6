#include "strata/foreign/tiff_icc_profile.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdint>
#include <memory>

#include "strata/platform/file_io.h"

namespace strata::foreign {
namespace {

// Real profiles are a few kilobytes, rarely a megabyte.
constexpr std::uint32_t kLargestProfile = 16u << 20;
// No single libtiff allocation needs more to read a first directory.
constexpr tmsize_t kLargestAllocation = 64 << 20;

// The file behind libtiff's client procedures: positioned reads through the
// platform layer, read-only.
struct ClientFile {
  platform::OwnedStream stream;
  std::int64_t size = 0;
  std::int64_t position = 0;
};

ClientFile& FileOf(thandle_t handle) { return *static_cast<ClientFile*>(handle); }

tmsize_t Read(thandle_t handle, void* buffer, tmsize_t size) {
  ClientFile& file = FileOf(handle);
  if (size <= 0) return 0;
  std::size_t delivered = 0;
  if (!platform::ReadAt(file.stream.get(), file.position, buffer, static_cast<std::size_t>(size),
                        delivered)) {
    return -1;
  }
  file.position += static_cast<std::int64_t>(delivered);
  return static_cast<tmsize_t>(delivered);
}

tmsize_t Write(thandle_t, void*, tmsize_t) { return -1; }

toff_t Seek(thandle_t handle, toff_t offset, int origin) {
  ClientFile& file = FileOf(handle);
  const auto distance = static_cast<std::int64_t>(offset);
  std::int64_t target = distance;
  if (origin == SEEK_CUR) target = file.position + distance;
  if (origin == SEEK_END) target = file.size + distance;
  if (target < 0) return static_cast<toff_t>(-1);
  file.position = target;
  return static_cast<toff_t>(target);
}

int Close(thandle_t) { return 0; }

toff_t Size(thandle_t handle) { return static_cast<toff_t>(FileOf(handle).size); }

int NoMap(thandle_t, void**, toff_t*) { return 0; }

void NoUnmap(thandle_t, void*, toff_t) {}

// Returning 1 tells libtiff the message is handled: nothing reaches stderr.
int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct OptionsFree {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

struct TiffClose {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

}  // namespace

std::string ReadTiffIccProfile(const std::string& path) {
  ClientFile file;
  file.size = platform::FileSize(path);
  file.stream.reset(platform::OpenStream(path.c_str(), "rb"));
  if (file.stream == nullptr || file.size < 8) return "";
  const std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
  if (options == nullptr) return "";
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), Quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), Quiet, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kLargestAllocation);
  // "rm": no memory mapping; the first directory is read on open.
  const std::unique_ptr<TIFF, TiffClose> tiff(TIFFClientOpenExt(
      path.c_str(), "rm", &file, Read, Write, Seek, Close, Size, NoMap, NoUnmap, options.get()));
  if (tiff == nullptr) return "";
  std::uint32_t length = 0;
  const void* bytes = nullptr;
  if (TIFFGetField(tiff.get(), TIFFTAG_ICCPROFILE, &length, &bytes) != 1 || bytes == nullptr ||
      length == 0 || length > kLargestProfile || static_cast<std::int64_t>(length) > file.size) {
    return "";
  }
  return std::string(static_cast<const char*>(bytes), length);
}

}  // namespace strata::foreign
