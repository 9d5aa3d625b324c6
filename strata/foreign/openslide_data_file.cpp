#include "strata/foreign/openslide_data_file.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>

#include "strata/foreign/openslide_regions.h"
#include "strata/model/lookup_table.h"
#include "strata/model/pixel_ops.h"
#include "strata/model/region_composer.h"
#include "strata/model/region_geometry.h"
#include "strata/platform/file_io.h"

using strata::PixelBuffer;
using strata::Status;
using strata::foreign::OpenSlideLevel;
using strata::foreign::ToLevel0;

namespace {

constexpr int kTileSize = 256;

// A level's own scale: the request is within 0.1 % of it.
bool IsLevelScale(double requested, double levelScale) {
  return std::fabs(requested / levelScale - 1.0) <= 1e-3;
}



}  // namespace

COpenSlideDataFile::~COpenSlideDataFile() { CloseFile(); }

bool COpenSlideDataFile::OpenFile(const char* path) {
  if (path == nullptr) return false;
  const std::size_t length = std::strlen(path);
  if (length == 0 || length > static_cast<std::size_t>(kMaxPathLength)) return false;
  std::memcpy(path_, path, length + 1);
  // OpenSlide opens the path itself later; a path that names no file is not
  // reported as opened (a block open loads nothing that would notice).
  return strata::platform::FileExists(path_);
}

bool COpenSlideDataFile::UsableObjectivePower(const char* text) {
  if (text == nullptr) return false;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  return end != text && std::isfinite(value) && std::atoi(text) > 0;
}

Status COpenSlideDataFile::NoObjectivePower() {
  return Status::Unsupported("no objective power recorded; the C interface needs one");
}

int COpenSlideDataFile::OpenSource(bool requireObjectivePower) {
  CloseFile();
  library_ = strata::foreign::OpenSlideLibrary::Current();
  slide_ = library_.Open(path_);
  // A slide OpenSlide recognised but could not read comes back in an error
  // state; it is kept for CloseFile to close.
  if (!library_.Loaded()) return Fail(-1, Status::Unsupported("OpenSlide is not available"));
  if (slide_ == nullptr) {
    return Fail(-1, Status::UnsupportedFormat("OpenSlide does not recognise the file"));
  }
  if (const char* error = library_.Error(slide_)) {
    return Fail(-1, Status::Damaged(std::string("OpenSlide: ") + error));
  }
  std::unique_ptr<COpenSlideDataHeader> header = NewHeader(library_, slide_);
  if (!header->Build()) return Fail(-1, Status::Damaged("OpenSlide reports unusable levels"));
  if (requireObjectivePower && !UsableObjectivePower(header->ObjectivePower())) {
    return Fail(-1, NoObjectivePower());
  }
  header_ = std::move(header);
  return 0;
}

int COpenSlideDataFile::LoadFile() { return OpenSource(true); }

COpenSlideDataHeader* COpenSlideDataFile::GetHeader() { return header_.get(); }

int COpenSlideDataFile::CloseFile() {
  header_.reset();
  if (slide_ != nullptr) library_.Close(slide_);
  slide_ = nullptr;
  return 0;
}

std::unique_ptr<COpenSlideDataHeader> COpenSlideDataFile::NewHeader(
    const strata::foreign::OpenSlideLibrary& library,
    strata::foreign::OpenSlideHandle slide) const {
  return std::make_unique<COpenSlideDataHeader>(library, slide);
}

void COpenSlideDataFile::ShiftToLibrary(std::int64_t&, std::int64_t&) const {}

void CMIRAXDataFile::ShiftToLibrary(std::int64_t& x, std::int64_t& y) const {
  const COpenSlideDataHeader* header = Header();
  if (header == nullptr) return;
  x += header->BoundsX();
  y += header->BoundsY();
}

void CBIFDataFile::ShiftToLibrary(std::int64_t& x, std::int64_t& y) const {
  const COpenSlideDataHeader* header = Header();
  if (header == nullptr) return;
  x += header->SingleRegionX();
  y += header->SingleRegionY();
}

bool COpenSlideDataFile::ReadLevelInto(int level, std::int64_t x, std::int64_t y, int w, int h,
                                       bool compositeBackground,
                                       const strata::WindowTarget& target) const {
  if (slide_ == nullptr || header_ == nullptr) return false;
  strata::foreign::BackgroundColour background = header_->Background();
  if (!compositeBackground) background.present = false;
  ShiftToLibrary(x, y);
  return strata::foreign::ReadLevelRgbInto(library_, slide_, level, x, y, w, h, background,
                                           target);
}

PixelBuffer COpenSlideDataFile::ReadLevelPixels(int level, std::int64_t x, std::int64_t y, int w,
                                                int h, bool compositeBackground) const {
  std::size_t rgbBytes = 0;
  std::size_t argbBytes = 0;
  if (!strata::CheckedPixelBytes(w, h, 3, rgbBytes) ||
      !strata::CheckedPixelBytes(w, h, 4, argbBytes) ||
      !strata::FitsRegionMemoryBudget(static_cast<std::uint64_t>(argbBytes) + rgbBytes)) {
    return nullptr;
  }
  PixelBuffer rgb(strata::AllocateBuffer(rgbBytes));
  if (rgb == nullptr) return nullptr;
  const strata::WindowTarget target{rgb.get(), static_cast<std::size_t>(w) * 3, 3};
  if (!ReadLevelInto(level, x, y, w, h, compositeBackground, target)) return nullptr;
  return rgb;
}

int COpenSlideDataFile::ReadRegion(float scale, int x, int y, int width, int height,
                                   unsigned char** out, int& length, bool encode) {
  if (out == nullptr) return 0;
  *out = nullptr;
  if (header_ == nullptr) return 0;
  std::vector<double> downsamples;
  for (const OpenSlideLevel& level : header_->Levels()) downsamples.push_back(level.downsample);
  strata::foreign::LevelWindowSource source(header_->GetWidth(), header_->GetHeight(),
                                            header_->GetScanScale(), std::move(downsamples),
                                            [this](int level, std::int64_t lx, std::int64_t ly, int w, int h,
                                  const strata::WindowTarget& target) {
                             return ReadLevelInto(level, lx, ly, w, h, true, target);
                           });
  PixelBuffer pixels = strata::ComposeScaledRegion(source, scale, x, y, width, height);
  if (pixels == nullptr) return 0;
  return strata::HandOut(std::move(pixels), width, height, encode, out, length) ? 1 : 0;
}

std::int32_t COpenSlideDataFile::BestLevelFor(double downsample) const {
  return library_.BestLevelForDownsample(slide_, downsample);
}

int COpenSlideDataFile::LevelAtOwnScale(float scale) const {
  if (header_ == nullptr || !strata::IsUsableScale(scale)) return kNoLevel;
  const std::vector<OpenSlideLevel>& levels = header_->Levels();
  const double s = header_->GetScanScale();
  if (levels.empty() || s <= 0.0) return kNoLevel;
  // The level for the request lowered by 0.1 %, so that a level's own scale
  // picks that level.
  const double d = static_cast<double>(scale) - static_cast<double>(scale) / 1000.0;
  const std::int32_t level = BestLevelFor(s / d);
  if (level < 0 || static_cast<std::size_t>(level) >= levels.size()) return kNoLevel;
  return IsLevelScale(scale, s / levels[static_cast<std::size_t>(level)].downsample) ? level : -1;
}

bool COpenSlideDataFile::ReadTilePixelsAt(float scale, int x, int y, PixelBuffer& pixels,
                                          int& width, int& height) {
  if (header_ == nullptr || x < 0 || y < 0 || !strata::IsUsableScale(scale)) return false;
  const std::vector<OpenSlideLevel>& levels = header_->Levels();
  const double s = header_->GetScanScale();
  if (levels.empty() || s <= 0.0) return false;
  const int level = LevelAtOwnScale(scale);
  if (level == kNoLevel) return false;
  if (level >= 0) {
    const double f = levels[static_cast<std::size_t>(level)].downsample;
    // The level's own pixels, its last row and column of tiles narrower.
    std::int64_t levelWidth = 0;
    std::int64_t levelHeight = 0;
    header_->LevelExtent(static_cast<std::size_t>(level), levelWidth, levelHeight);
    width = static_cast<int>(std::min<std::int64_t>(kTileSize, levelWidth - x));
    height = static_cast<int>(std::min<std::int64_t>(kTileSize, levelHeight - y));
    if (width <= 0 || height <= 0) return false;
    pixels = ReadLevelPixels(level, ToLevel0(x, f), ToLevel0(y, f), width, height, true);
    return pixels != nullptr;
  }
  // Between levels (or below them all) the tile is composed at the request.
  strata::RegionClip slideAtScale;
  if (!strata::ClipRegion(header_->GetWidth(), header_->GetHeight(), static_cast<float>(s), scale,
                          x, y, kTileSize, kTileSize, slideAtScale) ||
      slideAtScale.pasteLeft != 0 || slideAtScale.pasteTop != 0) {
    return false;
  }
  width = slideAtScale.width;
  height = slideAtScale.height;
  unsigned char* raw = nullptr;
  int rawLength = 0;
  if (ReadRegion(scale, x, y, width, height, &raw, rawLength, false) == 0) return false;
  pixels.reset(raw);
  return true;
}

unsigned char* COpenSlideDataFile::ReadTileStream(float scale, int x, int y, int& length,
                                                  unsigned char** out) {
  if (out == nullptr) return nullptr;
  PixelBuffer pixels;
  int width = 0;
  int height = 0;
  if (!ReadTilePixelsAt(scale, x, y, pixels, width, height)) return nullptr;
  // HandOut writes *out and length only when it succeeds.
  strata::HandOut(std::move(pixels), width, height, true, out, length);
  return nullptr;
}

unsigned char* COpenSlideDataFile::ReadTileAdjusted(float scale, int x, int y, int& length,
                                                    unsigned char** out, float p1, float p2,
                                                    float p3, float p4, float p5, float p6) {
  if (out == nullptr) return nullptr;
  const float params[strata::kLookupParameterCount] = {p1, p2, p3, p4, p5, p6};
  PixelBuffer pixels;
  int width = 0;
  int height = 0;
  if (!ReadTilePixelsAt(scale, x, y, pixels, width, height)) return nullptr;
  if (!strata::IsNeutralAdjustment(params)) {
    int table[256][3];
    const bool keep[3] = {true, true, true};
    lookupTable_.Prepare(params, table);
    strata::ApplyLookupTable(table, keep, pixels.get(),
                             static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  }
  strata::HandOut(std::move(pixels), width, height, true, out, length);
  return nullptr;
}
