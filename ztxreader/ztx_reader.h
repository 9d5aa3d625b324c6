// The reader behind the Python module: it loads the Strata library at run
// time, binds eight of its exports, and composes regions of ZTX slides at any
// scale from tiles decoded on four threads. Pixels are 8-bit BGR, interleaved,
// rows top-down without padding.
#ifndef ZTXREADER_ZTX_READER_H_
#define ZTXREADER_ZTX_READER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "strata/platform/dynamic_library.h"
#include "strata/strata.h"

namespace lumora {

class reader {
 public:
  // Result pixels of ReadRoi. Shared so that an array handed to a caller may
  // keep them alive after the reader has moved on to a fresh buffer.
  using SharedPixels = std::shared_ptr<unsigned char[]>;

  reader();
  ~reader();
  reader(const reader&) = delete;
  reader& operator=(const reader&) = delete;

  // Opens the slide at `path` (UTF-8 or the zh-CN code page), keeps its header
  // facts and its size at `scale` (0 or less: the scan scale). With readAll
  // the whole slide stays open; otherwise each ReadRoi opens the tiles it
  // needs. Any slide still open from an earlier call is closed first.
  bool ReadInfo(const std::string& path, const double scale, bool readAll);
  bool ReadInfo(const std::string& path, const double scale);
  bool ReadInfo(const std::string& path);

  // Composes the w x h region at (x, y) of the slide at `scale`; parts outside
  // the slide are white. *data receives the reader's result buffer (valid
  // until the next ReadRoi, clear or destruction unless shared through
  // sharedResult) and *size its byte count, always w * h * 3. Throws
  // std::invalid_argument for a negative w or h and std::length_error when the
  // result would exceed 2 GiB.
  void ReadRoi(int x, int y, int w, int h, double scale, unsigned char** data, int* size);

  // Decode the preview or label image of the last ReadInfo's path. *data
  // receives a new array to be released with releaseImage; returns the width,
  // or 0 (with *data untouched) when there is no image.
  int ReadPreview(unsigned char** data, int* size);
  int readLabelImage(unsigned char** data, int* size);

  int getWidth() const;
  int getHeight() const;
  int getReadScale();
  void setReadScale(float scale);

  // Releases the result buffer and closes the slide; returns 0.
  int clear();

  // The buffer that the last ReadRoi handed out, shared with the caller. While
  // a copy is held, the next ReadRoi writes into a fresh buffer instead.
  SharedPixels sharedResult() const;

  // Releases an array from ReadPreview or readLabelImage.
  static void releaseImage(unsigned char* pixels);

 private:
  using InitExport = decltype(InitImageFileFunc);
  using InitBlockExport = decltype(InitImageFileFuncAsBlock);
  using HeaderExport = decltype(GetHeaderInfoFunc);
  using StreamExport = decltype(GetImageStreamFunc);
  using ImagePathExport = decltype(GetPriviewInfoPathFunc);
  using DeleteExport = decltype(DeleteImageDataFunc);
  using UnInitExport = decltype(UnInitImageFileFunc);

  struct Region {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
  };

  // The tile columns [firstColumn, endColumn) and the first tile row that
  // cover a full-resolution region.
  struct TileGrid {
    Region region;
    std::int64_t firstColumn = 0;
    std::int64_t endColumn = 0;
    std::int64_t firstRow = 0;
  };

  // Opens the slide around one region in block mode and closes it again.
  class BlockOpen {
   public:
    BlockOpen(reader& owner, const Region& full);
    ~BlockOpen();
    BlockOpen(const BlockOpen&) = delete;
    BlockOpen& operator=(const BlockOpen&) = delete;

   private:
    reader& owner_;
    bool active_ = false;
  };

  void LoadLibrary();
  void BindExports();
  void CloseSlide();
  bool OpenSlide(bool readAll);
  void ReportOpenFailure() const;

  bool CanComposeAt(double scale) const;
  void ComposeScaledRegion(int x, int y, int w, int h, double scale);
  void ComposeRegion(const Region& region, cv::Mat& target);
  void ComposeRow(cv::Mat& target, const TileGrid& grid, std::int64_t row,
                  std::vector<unsigned char>& tileBuffer, cv::Mat& tileImage);
  std::size_t MaxTileBytes() const;
  void PlaceTile(const unsigned char* stream, int length, const cv::Point& origin, cv::Mat& area,
                 cv::Mat& tileImage);
  void ReportTileError(const char* text, const Region& region, std::int64_t column,
                       std::int64_t row) const;
  void FitResult(int width, int height);
  cv::Mat PrepareResult(int width, int height);

  int ReadAssociatedImage(const std::function<ImagePathExport>& fetch, bool isPreview,
                          unsigned char** data, int* size);
  void ReportMissingPreview() const;

  std::function<InitExport> m_fun_init;
  std::function<InitBlockExport> m_fun_init_block;
  std::function<HeaderExport> m_fun_header;
  std::function<StreamExport> m_fun_stream;
  std::function<ImagePathExport> m_fun_preview;
  std::function<ImagePathExport> m_fun_label;
  std::function<DeleteExport> m_fun_del;
  std::function<UnInitExport> m_fun_uninit;
  cv::Mat m_image;
  std::string m_path;
  IMAGE_INFO_STRUCT m_handle{};
  SharedPixels m_buffer;
  std::int32_t m_bufferLen = 0;
  std::int32_t m_width = 0;
  std::int32_t m_height = 0;
  std::int32_t m_blockSize = 256;
  std::int32_t m_readScale = 20;
  bool m_readAll = false;
  strata::platform::ModuleHandle m_module = nullptr;
};

}  // namespace lumora

#endif  // ZTXREADER_ZTX_READER_H_
