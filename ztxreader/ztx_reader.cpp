#include "ztxreader/ztx_reader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <exception>
#include <iomanip>
#include <iostream>
#include <limits>
#include <sstream>
#include <stdexcept>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "strata/platform/code_page.h"
#include "strata/platform/file_io.h"

namespace lumora {
namespace {

namespace platform = strata::platform;

constexpr const char* kLibraryName = "Strata.dll";
constexpr const char* kLibraryLocale = "zh-CN";
constexpr const char* kSlideEnding = ".ztx";
constexpr float kHeaderOnlyScale = 20.0f;
constexpr std::size_t kTileBufferBytes = 196608;  // 256 x 256 x 3
constexpr int kWorkerThreads = 4;
const cv::Scalar kWhite(255, 255, 255);

// Anchors DirectoryOfAddress to this module's file.
const char kModuleAnchor = 0;

// Float-to-int conversion that truncates towards zero like a C cast, but
// saturates instead of overflowing and maps NaN to 0.
int TruncateSaturating(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(value);
}

int SaturateToInt(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

std::int64_t Clamp(std::int64_t value, std::int64_t upper) {
  return std::max<std::int64_t>(0, std::min(value, upper));
}

// The UTF-8 test of the path step: two- and three-byte characters only; a
// character cut off by the end of the text still counts as UTF-8.
bool LooksLikeUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    std::size_t followers = 0;
    if (lead >= 0xC0 && lead <= 0xDF) {
      followers = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      followers = 2;
    } else if (lead >= 0x80) {
      return false;
    }
    for (std::size_t k = 1; k <= followers; ++k) {
      if (i + k >= text.size()) return true;
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += 1 + followers;
  }
  return true;
}

// The library expects paths in the zh-CN multibyte code page. A path that is
// UTF-8 is converted; one that does not convert becomes empty, so that it
// fails the extension test instead of opening some other file.
std::string ToLibraryPath(const std::string& path) {
  if (!LooksLikeUtf8(path)) return path;
  std::string converted;
  const std::string codePage = platform::CodePageOfLocale(kLibraryLocale);
  if (!platform::ConvertCodePage(path, "UTF-8", codePage.c_str(), converted)) return {};
  return converted;
}

bool EndsWithSlideExtension(const std::string& path) {
  const std::string ending = kSlideEnding;
  const std::string::size_type last = path.rfind(ending);
  return last != std::string::npos && last + ending.size() == path.size();
}

template <typename Signature>
std::function<Signature> BindExport(platform::ModuleHandle module, const char* name) {
  void* address = platform::FindSymbol(module, name);
  if (address == nullptr) return {};
  return reinterpret_cast<Signature*>(address);
}

cv::Mat WhiteImage(int rows, int columns) { return cv::Mat(rows, columns, CV_8UC3, kWhite); }

// Rounds a full-resolution size to `ratio` of it, half up; 0 when the ratio
// is not a usable number.
int ScaledSize(int size, float ratio) {
  const double scaled = static_cast<double>(size) * static_cast<double>(ratio) + 0.5;
  if (!std::isfinite(scaled) || scaled < 0) return 0;
  return TruncateSaturating(scaled);
}

// A buffer that the library allocated, handed back with DeleteImageDataFunc.
class LibraryBuffer {
 public:
  LibraryBuffer(unsigned char* buffer, const std::function<bool(void*)>& release)
      : buffer_(buffer), release_(release) {}
  ~LibraryBuffer() {
    if (buffer_ != nullptr && release_) release_(buffer_);
  }
  LibraryBuffer(const LibraryBuffer&) = delete;
  LibraryBuffer& operator=(const LibraryBuffer&) = delete;

 private:
  unsigned char* buffer_;
  const std::function<bool(void*)>& release_;
};

struct ImageDeleter {
  void operator()(unsigned char* pixels) const { reader::releaseImage(pixels); }
};
using OwnedImage = std::unique_ptr<unsigned char[], ImageDeleter>;

// Copies an 8-bit 3-channel image into `target`, rows back to back.
void CopyPixels(const cv::Mat& image, unsigned char* target) {
  const std::size_t rowBytes = static_cast<std::size_t>(image.cols) * 3;
  if (image.isContinuous()) {
    std::memcpy(target, image.data, rowBytes * static_cast<std::size_t>(image.rows));
    return;
  }
  for (int row = 0; row < image.rows; ++row) {
    std::memcpy(target + rowBytes * static_cast<std::size_t>(row), image.ptr(row), rowBytes);
  }
}

}  // namespace

reader::reader() {
  LoadLibrary();
  m_handle = IMAGE_INFO_STRUCT{};
  m_blockSize = 256;
  BindExports();
  m_readScale = 20;
  m_bufferLen = 0;
  m_buffer.reset();
}

reader::~reader() {
  m_buffer.reset();
  CloseSlide();
  m_bufferLen = 0;
}

// The working directory comes first; otherwise the ordinary loader search on
// this module's behalf, whose run path leads to the library in the build's
// output folder and in an installed prefix, so that the module works from any
// directory.
void reader::LoadLibrary() {
  const std::string fileName = platform::PlatformLibraryFileName(kLibraryName);
  if (platform::FileExists(fileName)) {
    m_module = platform::LoadModule(std::string("./") + kLibraryName);
  }
  if (m_module == nullptr) m_module = platform::LoadModule(kLibraryName);
  if (m_module == nullptr) {
    m_module = platform::LoadModuleFromSearchPathOf(kLibraryName, &kModuleAnchor);
  }
  if (m_module == nullptr) {
    const std::string ownDirectory = platform::DirectoryOfAddress(&kModuleAnchor);
    if (!ownDirectory.empty()) m_module = platform::LoadModule(ownDirectory + "/" + kLibraryName);
  }
  if (m_module == nullptr) std::cerr << 298 << "Load Strata.dll dll failed" << std::endl;
}

void reader::BindExports() {
  m_fun_init = BindExport<InitExport>(m_module, "InitImageFileFunc");
  m_fun_init_block = BindExport<InitBlockExport>(m_module, "InitImageFileFuncAsBlock");
  m_fun_header = BindExport<HeaderExport>(m_module, "GetHeaderInfoFunc");
  m_fun_stream = BindExport<StreamExport>(m_module, "GetImageStreamFunc");
  m_fun_preview = BindExport<ImagePathExport>(m_module, "GetPriviewInfoPathFunc");
  m_fun_del = BindExport<DeleteExport>(m_module, "DeleteImageDataFunc");
  m_fun_uninit = BindExport<UnInitExport>(m_module, "UnInitImageFileFunc");
  m_fun_label = BindExport<ImagePathExport>(m_module, "GetLableInfoPathFunc");
}

void reader::CloseSlide() {
  if (m_fun_uninit) m_fun_uninit(&m_handle);
  m_handle = IMAGE_INFO_STRUCT{};
}

bool reader::ReadInfo(const std::string& path) { return ReadInfo(path, 0.0, false); }

bool reader::ReadInfo(const std::string& path, const double scale) {
  return ReadInfo(path, scale, false);
}

bool reader::ReadInfo(const std::string& path, const double scale, bool readAll) {
  // A slide left open by an earlier whole-mode call would otherwise leak.
  if (m_handle.slide != nullptr) CloseSlide();
  m_readAll = readAll;
  m_path = ToLibraryPath(path);
  if (!EndsWithSlideExtension(m_path)) {
    std::cerr << m_path << " not a ztx file." << std::endl;
    return false;
  }
  if (!OpenSlide(readAll)) {
    ReportOpenFailure();
    return false;
  }
  int height = 0;
  int width = 0;
  float spendTime = 0.0f;
  double scanTime = 0.0;
  float captureResolution = 0.0f;
  m_fun_header(m_handle, &height, &width, &m_readScale, &spendTime, &scanTime, &captureResolution,
               &m_blockSize);
  const double wanted = scale > 0 ? scale : static_cast<double>(m_readScale);
  const float ratio = static_cast<float>(wanted) / static_cast<float>(m_readScale);
  m_width = ScaledSize(width, ratio);
  m_height = ScaledSize(height, ratio);
  if (!readAll) CloseSlide();
  return true;
}

bool reader::OpenSlide(bool readAll) {
  // The library takes a C string: a path with a zero byte inside would open
  // whatever file its first part names.
  if (m_path.find('\0') != std::string::npos) return false;
  const bool opened =
      readAll ? m_fun_init(&m_handle, m_path.c_str())
              : m_fun_init_block(&m_handle, m_path.c_str(), 0, 0, 0, 0, kHeaderOnlyScale);
  return opened && m_handle.slide != nullptr;
}

void reader::ReportOpenFailure() const {
  std::cerr << "Read " << m_path << " failed." << std::endl;
}

bool reader::CanComposeAt(double scale) const {
  if (!(scale > 0) || !std::isfinite(scale) || m_readScale <= 0 || m_blockSize <= 0) {
    return false;
  }
  const float k = static_cast<float>(static_cast<double>(m_readScale) / scale);
  return std::isfinite(k) && k > 0.0f;
}

void reader::ReadRoi(int x, int y, int w, int h, double scale, unsigned char** data, int* size) {
  if (w < 0 || h < 0) {
    throw std::invalid_argument("ReadRoi: width and height must not be negative");
  }
  const std::int64_t bytes = static_cast<std::int64_t>(w) * h * 3;
  if (bytes > INT_MAX) {
    throw std::length_error("ReadRoi: the region exceeds the 2 GiB result limit");
  }
  if (bytes == 0) {
    m_image = cv::Mat(h, w, CV_8UC3);
    PrepareResult(w, h);
  } else if (CanComposeAt(scale)) {
    ComposeScaledRegion(x, y, w, h, scale);
  } else {
    // No usable scale or slide geometry: nothing of the slide can be shown.
    PrepareResult(w, h).setTo(kWhite);
  }
  *data = m_buffer.get();
  *size = m_bufferLen;
}

void reader::ComposeScaledRegion(int x, int y, int w, int h, double scale) {
  const std::int64_t W = m_width;
  const std::int64_t H = m_height;
  const float k = static_cast<float>(static_cast<double>(m_readScale) / scale);
  const std::int64_t right = static_cast<std::int64_t>(x) + w;
  const std::int64_t bottom = static_cast<std::int64_t>(y) + h;

  const int X0 = TruncateSaturating(static_cast<float>(Clamp(x, W)) * k);
  const int Y0 = TruncateSaturating(static_cast<float>(Clamp(y, H)) * k);
  const int X1 = TruncateSaturating(static_cast<float>(Clamp(right, W)) * k);
  const int Y1 = TruncateSaturating(static_cast<float>(Clamp(bottom, H)) * k);
  const Region full{X0, Y0, X1 - X0, Y1 - Y0};
  const bool inside = x >= 0 && y >= 0 && right <= W && bottom <= H;
  const int xr = TruncateSaturating(static_cast<float>(X0) / k);
  const int yr = TruncateSaturating(static_cast<float>(Y0) / k);
  const int wr = TruncateSaturating(static_cast<float>(full.width) / k);
  const int hr = TruncateSaturating(static_cast<float>(full.height) / k);

  const BlockOpen blockOpen(*this, full);
  // The common cases write straight into the result: a region inside the
  // slide at the read scale is composed there, a scaled one resized there.
  if (inside && k == 1.0f && full.width == w && full.height == h) {
    cv::Mat result = PrepareResult(w, h);
    ComposeRegion(full, result);
    return;
  }
  ComposeRegion(full, m_image);
  if (wr == 0 || hr == 0) {
    m_image = cv::Mat(hr, wr, CV_8UC3);
  } else if (k != 1.0f && !m_image.empty()) {
    if (inside && wr == w && hr == h) {
      cv::Mat result = PrepareResult(w, h);
      cv::resize(m_image, result, cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
      return;
    }
    cv::resize(m_image, m_image, cv::Size(wr, hr), 0, 0, cv::INTER_LINEAR);
  }

  if (!inside) {
    if (m_image.empty()) {
      PrepareResult(w, h).setTo(kWhite);  // no slide pixel lies in the region
      return;
    }
    const auto limit = [](std::int64_t value, int most) {
      return static_cast<int>(std::min<std::int64_t>(most, std::max<std::int64_t>(0, value)));
    };
    const int top = limit(static_cast<std::int64_t>(yr) - y, h);
    const int below =
        limit(TruncateSaturating(static_cast<float>(bottom) - static_cast<float>(Y1) / k), h);
    const int left = limit(static_cast<std::int64_t>(xr) - x, w);
    const int beyond =
        limit(TruncateSaturating(static_cast<float>(right) - static_cast<float>(X1) / k), w);
    cv::copyMakeBorder(m_image, m_image, top, below, left, beyond, cv::BORDER_CONSTANT, kWhite);
  }
  FitResult(w, h);
  CopyPixels(m_image, PrepareResult(w, h).data);
}

// In block mode each region opens the slide restricted to its tiles plus one
// tile of margin, and closes it again however the composition ends.
reader::BlockOpen::BlockOpen(reader& owner, const Region& full) : owner_(owner) {
  if (owner_.m_readAll) return;
  if (owner_.m_handle.slide != nullptr) owner_.CloseSlide();
  active_ = true;
  if (owner_.m_path.find('\0') != std::string::npos) return;
  const std::int64_t B = owner_.m_blockSize;
  owner_.m_fun_init_block(&owner_.m_handle, owner_.m_path.c_str(), SaturateToInt(full.x - B),
                          SaturateToInt(full.y - B),
                          SaturateToInt(static_cast<std::int64_t>(full.x) + full.width + B),
                          SaturateToInt(static_cast<std::int64_t>(full.y) + full.height + B),
                          static_cast<float>(owner_.m_readScale));
}

reader::BlockOpen::~BlockOpen() {
  if (active_) owner_.CloseSlide();
}

// Composes the full-resolution region into `target` (resized to it unless it
// already has that size): every tile the region touches is fetched at the
// read scale and decoded on four threads, each writing only the part of the
// target its tile covers; parts without a usable tile are white.
void reader::ComposeRegion(const Region& region, cv::Mat& target) {
  if (region.width <= 0 || region.height <= 0) return;
  const std::int64_t B = m_blockSize;
  const TileGrid grid{region, region.x / B,
                      (region.x + static_cast<std::int64_t>(region.width) + B - 1) / B,
                      region.y / B};
  const std::int64_t endRow = (region.y + static_cast<std::int64_t>(region.height) + B - 1) / B;
  target.create(region.height, region.width, CV_8UC3);
  if (m_handle.slide == nullptr) {
    std::cout << "Empty ztx pointer" << std::flush;
    target.setTo(kWhite);
    return;
  }

  std::exception_ptr failure;
#pragma omp parallel num_threads(kWorkerThreads)
  {
    // Each thread keeps one tile buffer and one tile image for all its rows.
    std::vector<unsigned char> tileBuffer;
    cv::Mat tileImage;
#pragma omp for schedule(static)
    for (std::int64_t row = grid.firstRow; row < endRow; ++row) {
      try {
        if (tileBuffer.empty()) tileBuffer.assign(kTileBufferBytes, 0);
        ComposeRow(target, grid, row, tileBuffer, tileImage);
      } catch (...) {
#pragma omp critical(ztx_reader_failure)
        if (!failure) failure = std::current_exception();
      }
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void reader::ComposeRow(cv::Mat& target, const TileGrid& grid, std::int64_t row,
                        std::vector<unsigned char>& tileBuffer, cv::Mat& tileImage) {
  const std::int64_t B = m_blockSize;
  const float readScale = static_cast<float>(m_readScale);
  const std::int64_t tileY = B * row;
  if (tileY > INT_MAX) return;
  const Region& region = grid.region;
  for (std::int64_t column = grid.firstColumn; column < grid.endColumn; ++column) {
    const std::int64_t tileX = B * column;
    if (tileX > INT_MAX) break;
    // The part of the target this tile covers, in target coordinates.
    const std::int64_t left = std::max<std::int64_t>(tileX, region.x);
    const std::int64_t top = std::max<std::int64_t>(tileY, region.y);
    const std::int64_t right =
        std::min<std::int64_t>(tileX + B, region.x + std::int64_t{region.width});
    const std::int64_t bottom =
        std::min<std::int64_t>(tileY + B, region.y + std::int64_t{region.height});
    const cv::Rect covered(static_cast<int>(left - region.x), static_cast<int>(top - region.y),
                           static_cast<int>(right - left), static_cast<int>(bottom - top));
    cv::Mat area = target(covered);

    // Ask for the stored length first: a tile larger than the buffer (a BMP
    // tile carries a 54-byte header on top of its pixels) gets a larger one.
    int length = 0;
    unsigned char* stream = nullptr;
    m_fun_stream(&m_handle, readScale, static_cast<int>(tileX), static_cast<int>(tileY), &length,
                 &stream);
    if (stream == nullptr && length > 0) {
      if (static_cast<std::size_t>(length) > MaxTileBytes()) {
        area.setTo(kWhite);
        ReportTileError("tile stream is longer than any tile can be", region, column, row);
        continue;
      }
      if (static_cast<std::size_t>(length) > tileBuffer.size()) {
        tileBuffer.resize(static_cast<std::size_t>(length));
      }
      // A failed read leaves the buffer as it was: without its signature the
      // previous tile's bytes cannot pass for this tile.
      std::memset(tileBuffer.data(), 0, std::min<std::size_t>(16, tileBuffer.size()));
      stream = tileBuffer.data();
      length = 0;
      m_fun_stream(&m_handle, readScale, static_cast<int>(tileX), static_cast<int>(tileY), &length,
                   &stream);
    }
    // A library that hands out a buffer of its own gets it back afterwards.
    const LibraryBuffer libraryOwned(stream == tileBuffer.data() ? nullptr : stream, m_fun_del);
    const bool usable =
        stream != nullptr && length > 0 &&
        (stream != tileBuffer.data() || static_cast<std::size_t>(length) <= tileBuffer.size());
    if (!usable) {
      area.setTo(kWhite);
      continue;
    }
    try {
      PlaceTile(stream, length,
                cv::Point(static_cast<int>(left - tileX), static_cast<int>(top - tileY)), area,
                tileImage);
    } catch (const cv::Exception& error) {
      area.setTo(kWhite);
      ReportTileError(error.what(), region, column, row);
    }
  }
}

// Stored tiles longer than this are damaged records, not tiles: room for a
// block of 4-byte pixels plus headers, and never less than the usual buffer.
std::size_t reader::MaxTileBytes() const {
  const std::size_t block = static_cast<std::size_t>(m_blockSize);
  return std::max(kTileBufferBytes, block * block * 4 + 65536);
}

// Copies the part of the decoded tile that starts at `origin` (tile
// coordinates) into `area`; what the tile does not reach stays white. The
// tile image is emptied first because a stream that no decoder accepts
// leaves it untouched.
void reader::PlaceTile(const unsigned char* stream, int length, const cv::Point& origin,
                       cv::Mat& area, cv::Mat& tileImage) {
  const cv::Mat encoded(1, length, CV_8U, const_cast<unsigned char*>(stream));
  tileImage.release();
  cv::imdecode(encoded, cv::IMREAD_COLOR, &tileImage);
  if (tileImage.empty()) {
    throw cv::Exception(cv::Error::StsError, "tile stream cannot be decoded", "PlaceTile", __FILE__,
                        __LINE__);
  }
  const cv::Rect wanted(origin, area.size());
  const cv::Rect present = wanted & cv::Rect(0, 0, tileImage.cols, tileImage.rows);
  if (present != wanted) area.setTo(kWhite);
  if (present.empty()) return;
  tileImage(present).copyTo(area(cv::Rect(present.tl() - origin, present.size())));
}

void reader::ReportTileError(const char* text, const Region& region, std::int64_t column,
                             std::int64_t row) const {
  std::ostringstream line;
  line << text << "  " << m_path << std::setw(8) << region.x << std::setw(8) << region.y << '\n'
       << std::setw(8) << column << std::setw(8) << row << '\n';
  std::cerr << line.str() << std::flush;
}

// Truncation in the scale arithmetic can leave the image a pixel short of (or
// over) the requested size when the scale ratio is not whole; the edge pixels
// are repeated or the surplus dropped so the result is exactly w x h.
void reader::FitResult(int width, int height) {
  if (m_image.cols == width && m_image.rows == height) return;
  if (m_image.empty()) {
    m_image = WhiteImage(height, width);
    return;
  }
  cv::Mat kept =
      m_image(cv::Rect(0, 0, std::min(width, m_image.cols), std::min(height, m_image.rows)));
  cv::Mat fitted;
  cv::copyMakeBorder(kept, fitted, 0, height - kept.rows, 0, width - kept.cols,
                     cv::BORDER_REPLICATE);
  m_image = fitted;
}

// The result buffer is reused while it has the right size and no array
// handed out earlier still shows it. Returns an image over it.
cv::Mat reader::PrepareResult(int width, int height) {
  const std::int32_t bytes = width * height * 3;
  if (bytes != m_bufferLen || (m_buffer && m_buffer.use_count() > 1)) {
    m_buffer.reset();
    m_bufferLen = 0;
    if (bytes > 0) m_buffer = SharedPixels(new unsigned char[static_cast<std::size_t>(bytes)]);
    m_bufferLen = bytes;
  }
  if (bytes == 0) return cv::Mat(height, width, CV_8UC3);
  return cv::Mat(height, width, CV_8UC3, m_buffer.get());
}

int reader::ReadPreview(unsigned char** data, int* size) {
  return ReadAssociatedImage(m_fun_preview, true, data, size);
}

int reader::readLabelImage(unsigned char** data, int* size) {
  return ReadAssociatedImage(m_fun_label, false, data, size);
}

int reader::ReadAssociatedImage(const std::function<ImagePathExport>& fetch, bool isPreview,
                                unsigned char** data, int* size) {
  unsigned char* buff = nullptr;
  int length = 0;
  int width = 0;
  int height = 0;
  // The library takes a C string, which would end at a zero byte inside.
  if (m_path.find('\0') == std::string::npos) {
    fetch(m_path.c_str(), &buff, &length, &width, &height);
  }
  if (buff == nullptr) {
    if (isPreview) ReportMissingPreview();
    return 0;
  }
  cv::Mat decoded;
  try {
    if (length > 0) decoded = cv::imdecode(cv::Mat(1, length, CV_8U, buff), cv::IMREAD_COLOR);
  } catch (const cv::Exception&) {
    decoded.release();
  }
  // The decoded image decides the size: the library's width and height may
  // not match the stream, and the copy must stay inside the decoded pixels.
  OwnedImage pixels;
  const std::int64_t bytes = static_cast<std::int64_t>(decoded.cols) * decoded.rows * 3;
  if (!decoded.empty() && bytes <= INT_MAX) {
    pixels.reset(new unsigned char[static_cast<std::size_t>(bytes)]);
    CopyPixels(decoded, pixels.get());
  }
  const bool released = m_fun_del(buff);
  if (!released) throw std::logic_error("ztx_reader: assertion failed: m_fun_del(buff)");
  if (!pixels) {
    if (isPreview) ReportMissingPreview();
    *size = 0;
    return 0;
  }
  *data = pixels.release();
  *size = static_cast<int>(bytes);
  return decoded.cols;
}

void reader::ReportMissingPreview() const {
  std::cerr << "error occor when read preview " << std::endl
            << "ztx path is " << m_path << std::endl;
}

void reader::releaseImage(unsigned char* pixels) { delete[] pixels; }

int reader::getWidth() const { return m_width; }

int reader::getHeight() const { return m_height; }

int reader::getReadScale() { return m_readScale; }

void reader::setReadScale(float scale) { m_readScale = TruncateSaturating(scale); }

int reader::clear() {
  m_buffer.reset();
  CloseSlide();
  m_bufferLen = 0;
  return 0;
}

reader::SharedPixels reader::sharedResult() const { return m_buffer; }

}  // namespace lumora
