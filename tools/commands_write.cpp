// Commands that write slides: convert (from a PNG or JPEG picture, or from any
// slide Strata opens), synth (a synthetic stained-tissue slide) and synth-svs
// (a synthetic SVS slide).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/model/pixel_ops.h"
#include "strata/platform/file_io.h"
#include "strata/ztx/ztx_writer.h"
#include "tools/command.h"
#include "tools/image_input.h"
#include "tools/pending_output.h"
#include "tools/progress_bar.h"
#include "tools/slide_handle.h"
#include "tools/svs_writer.h"
#include "tools/synthetic_tissue.h"

namespace strata::tools {
namespace {

constexpr int kThumbnailLimit = 1024;  // longest thumbnail side
constexpr int kPreviewLimit = 800;
constexpr int kLabelWidth = 600;
constexpr int kLabelHeight = 300;
constexpr int kMaxSlideSide = 1 << 24;

using CodecBuffer = OwnedBuffer;

const std::set<std::string> kWriterValueOptions = {"--version", "--quality", "--tile-size",
                                                   "--scale", "--level-mode"};
const std::set<std::string> kWriterFlags = {"--compress-index", "--bmp", "--long-magic"};

// Halves the slide size until both sides fit `limit`; the reader hands out a
// stored thumbnail of exactly such a size unchanged.
void FitByHalving(int width, int height, int limit, int* outWidth, int* outHeight) {
  double w = width;
  double h = height;
  while (w > limit || h > limit) {
    w *= 0.5;
    h *= 0.5;
  }
  *outWidth = std::max(1, static_cast<int>(w));
  *outHeight = std::max(1, static_cast<int>(h));
}

ztx::StoredImage EncodeStoredImage(const std::vector<unsigned char>& rgb, int width, int height,
                                   bool bmp) {
  ztx::StoredImage image;
  unsigned char* raw = nullptr;
  int length = 0;
  const bool encoded = bmp ? EncodeBmp24(rgb.data(), width, height, &raw, length)
                           : EncodeJpegWithQuality(rgb.data(), width, height, 3, 90, &raw, length);
  CodecBuffer buffer(raw);
  if (!encoded || buffer == nullptr || length <= 0) return image;
  image.stream.assign(buffer.get(), buffer.get() + length);
  image.width = width;
  image.height = height;
  return image;
}

bool ParseWriterOptions(const Arguments& arguments, ztx::ZtxWriterOptions* options,
                        std::string* error) {
  float version = 1.3f;
  int quality = 90, tileSize = 256, scale = 20, levelMode = 0;
  if (!arguments.Float("--version", 1.3f, 1.0f, 2.0f, &version, error) ||
      !arguments.Int("--quality", 90, 1, 100, &quality, error) ||
      !arguments.Int("--tile-size", 256, 16, 8192, &tileSize, error) ||
      !arguments.Int("--scale", 20, 1, 1000, &scale, error) ||
      !arguments.Int("--level-mode", 0, 0, 2, &levelMode, error)) {
    return false;
  }
  options->version = version;
  options->jpegQuality = quality;
  options->blockSize = tileSize;
  options->scanScale = scale;
  options->levelMode = levelMode;
  options->compressIndex = arguments.Has("--compress-index");
  options->longMagic = arguments.Has("--long-magic");
  options->encoding = arguments.Has("--bmp") ? ztx::TileEncoding::kBmp : ztx::TileEncoding::kJpeg;
  return true;
}

// Writes through a temporary file that is renamed when complete.
int WriteSlide(const std::string& target, const ztx::ZtxWriterOptions& options, int width,
               int height, const ztx::RowSource& source) {
  std::string error;
  PendingOutput output(target);
  if (!output.Begin(&error)) return ReportError(error);
  ztx::ZtxLayout layout;
  ProgressBar progress("writing " + target);
  ztx::ZtxWriter writer(options);
  const bool written = writer.Write(
      output.temporaryPath(), width, height, source, &error, &layout,
      [&progress](std::int64_t done, std::int64_t total) { progress.Update(done, total); });
  progress.Finish();
  if (!written) return ReportError(error);
  if (!output.Commit(&error)) return ReportError(error);
  std::printf("wrote %s: %d x %d pixels, %zu levels, %zu tiles, %.1f MB\n", target.c_str(), width,
              height, layout.levelScales.size(), layout.tiles.size(),
              static_cast<double>(layout.fileSize) / (1024.0 * 1024.0));
  return 0;
}

// Widest band a slide is read in at once; wider slides are read in strips.
constexpr int kBandStripWidth = 4096;

// An associated image of an open slide as the writer stores it (JPEG).
using HandleImageGetter = bool (*)(IMAGE_INFO_STRUCT, unsigned char**, int*, int*, int*);
ztx::StoredImage SlideImage(IMAGE_INFO_STRUCT handle, HandleImageGetter getter) {
  ztx::StoredImage image;
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  const bool found = getter(handle, &data, &length, &width, &height);
  OwnedBuffer owned(data);
  if (!found || owned == nullptr || length <= 0 || data[0] != 0xFF) return image;
  image.stream.assign(data, data + length);
  image.width = width;
  image.height = height;
  return image;
}

// Streams level 0 of an open slide into a ZTX file, one band of block-size
// rows at a time (read in strips of at most kBandStripWidth columns), so the
// slide is never held in memory whole.
int ConvertSlide(SlideHandle& slide, const std::string& input, const std::string& target,
                 const Arguments& arguments, ztx::ZtxWriterOptions options) {
  int height = 0, width = 0, scanScale = 0, block = 0;
  float spend = 0, resolution = 0;
  double when = 0;
  if (!GetHeaderInfoFunc(slide.get(), &height, &width, &scanScale, &spend, &when, &resolution,
                         &block) ||
      width <= 0 || height <= 0 || scanScale <= 0) {
    return ReportError("cannot read the size and scan scale of " + input);
  }
  if (!arguments.Has("--scale")) options.scanScale = scanScale;
  options.label = SlideImage(slide.get(), GetLableInfoFunc);
  options.preview = SlideImage(slide.get(), GetPriviewInfoFunc);
  const float scale = static_cast<float>(scanScale);
  if (options.version > 1.05f) {
    // The thumbnail is the slide halved until it fits, as for pictures.
    int w = 0, h = 0;
    FitByHalving(width, height, kThumbnailLimit, &w, &h);
    unsigned char* out = nullptr;
    int length = 0;
    const bool read = GetImageDataRoiFunc(slide.get(), scale * static_cast<float>(w) / width, 0, 0,
                                          w, h, &out, &length, false);
    OwnedBuffer pixels(out);
    if (read && length == w * h * 3) {
      options.thumbnail = EncodeStoredImage(std::vector<unsigned char>(out, out + length), w, h,
                                            options.encoding == ztx::TileEncoding::kBmp);
    }
  }
  IMAGE_INFO_STRUCT handle = slide.get();
  const ztx::RowSource source = [handle, width, scale](int top, int rows, unsigned char* rgb) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    for (int left = 0; left < width; left += kBandStripWidth) {
      const int strip = std::min(kBandStripWidth, width - left);
      unsigned char* out = nullptr;
      int length = 0;
      if (!GetImageDataRoiFunc(handle, scale, left, top, strip, rows, &out, &length, false)) {
        return false;
      }
      OwnedBuffer pixels(out);
      const std::size_t stripBytes = static_cast<std::size_t>(strip) * 3;
      if (static_cast<std::size_t>(length) != stripBytes * static_cast<std::size_t>(rows)) {
        return false;
      }
      for (int row = 0; row < rows; ++row) {
        std::memcpy(
            rgb + rowBytes * static_cast<std::size_t>(row) + static_cast<std::size_t>(left) * 3,
            pixels.get() + stripBytes * static_cast<std::size_t>(row), stripBytes);
      }
    }
    return true;
  };
  return WriteSlide(target, options, width, height, source);
}

int RunConvert(const Arguments& arguments) {
  const std::string input = arguments.positional()[0];
  const std::string target = arguments.positional()[1];
  ztx::ZtxWriterOptions options;
  std::string error;
  if (!ParseWriterOptions(arguments, &options, &error)) return ReportError(error);
  SlideHandle slide;
  if (slide.Open(input)) return ConvertSlide(slide, input, target, arguments, options);
  RgbImage picture;
  if (!ReadPictureFile(input, &picture, &error)) return ReportError(error);

  const bool bmp = options.encoding == ztx::TileEncoding::kBmp;
  int w = 0, h = 0;
  FitByHalving(picture.width, picture.height, kThumbnailLimit, &w, &h);
  CodecBuffer small(ResizeBilinear(picture.pixels.data(), picture.width, picture.height, w, h));
  if (small == nullptr) return ReportError("cannot scale " + input + " down for its thumbnail");
  const std::vector<unsigned char> thumbnail(small.get(),
                                             small.get() + static_cast<std::size_t>(w) * h * 3);
  if (options.version > 1.05f) options.thumbnail = EncodeStoredImage(thumbnail, w, h, bmp);
  FitByHalving(picture.width, picture.height, kPreviewLimit, &w, &h);
  CodecBuffer preview(ResizeBilinear(picture.pixels.data(), picture.width, picture.height, w, h));
  if (preview != nullptr) {
    options.preview =
        EncodeStoredImage(std::vector<unsigned char>(
                              preview.get(), preview.get() + static_cast<std::size_t>(w) * h * 3),
                          w, h, false);
  }

  const std::size_t rowBytes = static_cast<std::size_t>(picture.width) * 3;
  const ztx::RowSource source = [&picture, rowBytes](int top, int rows, unsigned char* rgb) {
    std::memcpy(rgb, picture.pixels.data() + rowBytes * static_cast<std::size_t>(top),
                rowBytes * static_cast<std::size_t>(rows));
    return true;
  };
  return WriteSlide(target, options, picture.width, picture.height, source);
}

int RunSynth(const Arguments& arguments) {
  const std::string target = arguments.positional()[0];
  ztx::ZtxWriterOptions options;
  std::string error;
  int width = 0, height = 0, seed = 1;
  if (!arguments.Has("--width") || !arguments.Has("--height")) {
    return ReportError("missing --width W or --height H");
  }
  if (!ParseWriterOptions(arguments, &options, &error) ||
      !arguments.Int("--width", 0, 1, kMaxSlideSide, &width, &error) ||
      !arguments.Int("--height", 0, 1, kMaxSlideSide, &height, &error) ||
      !arguments.Int("--seed", 1, 0, 1 << 30, &seed, &error)) {
    return ReportError(error);
  }
  const SyntheticTissue tissue(width, height, static_cast<std::uint32_t>(seed));
  const bool bmp = options.encoding == ztx::TileEncoding::kBmp;

  options.label = EncodeStoredImage(
      RenderLabelPicture(kLabelWidth, kLabelHeight, static_cast<std::uint32_t>(seed)), kLabelWidth,
      kLabelHeight, false);
  int w = 0, h = 0;
  FitByHalving(width, height, kPreviewLimit, &w, &h);
  options.preview = EncodeStoredImage(tissue.Overview(w, h), w, h, false);
  if (options.version > 1.05f) {
    FitByHalving(width, height, kThumbnailLimit, &w, &h);
    options.thumbnail = EncodeStoredImage(tissue.Overview(w, h), w, h, bmp);
  }
  options.scanTime = 1700000000 + seed;
  options.spendTimeMs = static_cast<std::uint32_t>(
      std::min<double>(4e9, static_cast<double>(width) * height / 50000.0 * 1000.0));
  options.captureResolution = 0.25f * 40.0f / static_cast<float>(options.scanScale);
  if (options.version > 1.15f) {
    options.items.push_back(ztx::PropertyItem::Text(29, "SYNTH-" + std::to_string(seed)));
  }
  const ztx::RowSource source = [&tissue](int top, int rows, unsigned char* rgb) {
    return tissue.FillRows(top, rows, rgb);
  };
  return WriteSlide(target, options, width, height, source);
}

int RunSynthSvs(const Arguments& arguments) {
  const std::string target = arguments.positional()[0];
  SvsOptions options;
  std::string error;
  if (!arguments.Has("--width") || !arguments.Has("--height")) {
    return ReportError("missing --width W or --height H");
  }
  if (!arguments.Int("--width", 0, 1, 1 << 20, &options.width, &error) ||
      !arguments.Int("--height", 0, 1, 1 << 20, &options.height, &error) ||
      !arguments.Int("--level-factor", 4, 2, 16, &options.levelFactor, &error)) {
    return ReportError(error);
  }
  options.label = FramedPicture(400, 200, 235, 225, 140);
  options.macro = FramedPicture(600, 200, 150, 110, 170);
  PendingOutput output(target);
  if (!output.Begin(&error)) return ReportError(error);
  if (!WriteSvs(output.temporaryPath(), options, FillSvsTestPattern, &error) ||
      !output.Commit(&error)) {
    return ReportError(error);
  }
  std::printf("wrote %s: %d x %d pixels, %zu levels\n", target.c_str(), options.width,
              options.height, SvsLevelSizes(options).size());
  return 0;
}

}  // namespace

std::vector<Command> WriteCommands() {
  std::set<std::string> synthOptions = kWriterValueOptions;
  synthOptions.insert({"--width", "--height", "--seed"});
  const std::string writerUsage =
      "[--version V] [--quality Q] [--tile-size N] [--scale S] [--level-mode M] "
      "[--compress-index] [--bmp] [--long-magic]";
  return {
      {"convert", "INPUT OUT.ztx " + writerUsage,
       "write a slide from a PNG or JPEG picture, or from any slide (SVS, NDPI, MRXS, BIF, ZTX)", 2,
       kWriterValueOptions, kWriterFlags, RunConvert},
      {"synth-svs",
       "OUT.svs --width W --height H [--level-factor F]",
       "write a synthetic SVS slide with label and macro images",
       1,
       {"--width", "--height", "--level-factor"},
       {},
       RunSynthSvs},
      {"synth", "OUT.ztx --width W --height H [--seed N] " + writerUsage,
       "write a synthetic stained-tissue slide with label, preview and thumbnail", 1, synthOptions,
       kWriterFlags, RunSynth},
  };
}

}  // namespace strata::tools
