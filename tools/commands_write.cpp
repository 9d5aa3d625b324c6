// Commands that write slides: convert (from a PNG or JPEG picture, or from any
// slide Strata opens), synth (a synthetic stained-tissue slide) and synth-svs
// (a synthetic SVS slide).
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "strata/slide.h"
#include "strata/slide/image_codec.h"
#include "strata/slide/slide_writer.h"
#include "strata/slide/system.h"
#include "tools/command.h"
#include "tools/image_input.h"
#include "tools/image_output.h"
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

writer::StoredImage EncodeStoredImage(const std::vector<unsigned char>& rgb, int width, int height,
                                      bool bmp) {
  writer::StoredImage image;
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

bool ParseWriterOptions(const Arguments& arguments, writer::ZtxWriterOptions* options,
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
  options->encoding =
      arguments.Has("--bmp") ? writer::TileEncoding::kBmp : writer::TileEncoding::kJpeg;
  return true;
}

// Writes through a temporary file that is renamed when complete.
int WriteSlide(const std::string& target, const writer::ZtxWriterOptions& options, int width,
               int height, const writer::RowSource& source) {
  std::string error;
  PendingOutput output(target);
  if (!output.Begin(&error)) return ReportError(error);
  writer::ZtxLayout layout;
  ProgressBar progress("writing " + target);
  writer::ZtxWriter writer(options);
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

// Items the writer derives from its own options; a copy would contradict them.
bool WriterDerivesItem(int identifier) {
  constexpr int kLevelModeItem = 33;
  constexpr int kChannelCountItem = 40;
  constexpr int kFirstChannelNameItem = 49;
  constexpr int kLastChannelNameItem = 54;
  return identifier == kLevelModeItem || identifier == kChannelCountItem ||
         (identifier >= kFirstChannelNameItem && identifier <= kLastChannelNameItem);
}

bool IsWholeNumber(const std::string& text) {
  if (text.empty() || text.size() > 11) return false;
  std::size_t start = text[0] == '-' ? 1 : 0;
  if (start == text.size() || (text[start] == '0' && text.size() > start + 1)) return false;
  for (std::size_t i = start; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  const long long value = std::stoll(text);
  return value >= INT32_MIN && value <= INT32_MAX;
}

// The property items of a ZTX slide ("ztx.item.N"), numbers as numbers.
std::vector<writer::PropertyItem> SlideItems(const Slide& slide) {
  const std::string prefix = "ztx.item.";
  std::vector<writer::PropertyItem> items;
  for (const auto& [key, value] : slide.Properties()) {
    if (key.rfind(prefix, 0) != 0) continue;
    const int identifier = std::atoi(key.c_str() + prefix.size());
    if (identifier <= 0 || WriterDerivesItem(identifier)) continue;
    items.push_back(IsWholeNumber(value) ? writer::PropertyItem::Int(identifier, std::stoi(value))
                                         : writer::PropertyItem::Text(identifier, value));
  }
  return items;
}

// An associated image of an open slide as the writer stores it (JPEG).
writer::StoredImage SlideImage(const Slide& slide, const std::string& name) {
  const auto& names = slide.AssociatedImageNames();
  if (std::find(names.begin(), names.end(), name) == names.end()) return {};
  Image rgb;
  if (!slide.ReadAssociatedImage(name, &rgb).ok() || rgb.channels != 3) return {};
  return EncodeStoredImage(std::vector<unsigned char>(rgb.pixels.begin(), rgb.pixels.end()),
                           rgb.width, rgb.height, false);
}

// The facts a converted slide keeps: scan scale, capture resolution, scan
// time and duration, property items, label and preview.
bool KeepSlideFacts(const Slide& slide, const Arguments& arguments,
                    writer::ZtxWriterOptions* options, std::string* error) {
  const SlideFacts& facts = slide.Facts();
  if (!arguments.Has("--scale")) {
    if (facts.objectivePower < 1) {
      *error = slide.Location() + " records no objective power: give it with --scale S";
      return false;
    }
    options->scanScale = static_cast<int>(std::lround(facts.objectivePower));
  }
  options->captureResolution = static_cast<float>(facts.micronsPerPixelX);
  if (facts.hasScanTime) options->scanTime = facts.scanTime;
  options->spendTimeMs =
      static_cast<std::uint32_t>(std::min(4e9, std::max(0.0, facts.scanDurationSeconds * 1000)));
  if (options->version > 1.15f) options->items = SlideItems(slide);
  options->label = SlideImage(slide, "label");
  options->preview = SlideImage(slide, "macro");
  return true;
}

// Streams level 0 of an open slide into a ZTX file, one band of block-size
// rows at a time (read in strips of at most kBandStripWidth columns), so the
// slide is never held in memory whole.
int ConvertSlide(const Slide& slide, const std::string& target, const Arguments& arguments,
                 writer::ZtxWriterOptions options) {
  std::string error;
  if (!KeepSlideFacts(slide, arguments, &options, &error)) return ReportUsageError(error);
  const SlideFacts& facts = slide.Facts();
  if (facts.width > kMaxSlideSide || facts.height > kMaxSlideSide) {
    return ReportError(slide.Location() + " is larger than a ZTX slide can be");
  }
  const int width = static_cast<int>(facts.width);
  const int height = static_cast<int>(facts.height);
  // Level 0's magnification in the façade's scaled reads.
  const double scale = facts.objectivePower > 0 ? facts.objectivePower : 1.0;
  if (options.version > 1.05f) {
    // The thumbnail is the slide halved until it fits, as for pictures.
    int w = 0, h = 0;
    FitByHalving(width, height, kThumbnailLimit, &w, &h);
    Image small;
    if (slide.ReadScaled(scale * w / width, 0, 0, w, h, &small).ok()) {
      options.thumbnail =
          EncodeStoredImage(std::vector<unsigned char>(small.pixels.begin(), small.pixels.end()), w,
                            h, options.encoding == writer::TileEncoding::kBmp);
    }
  }
  const writer::RowSource source = [&slide, width, scale](int top, int rows, unsigned char* rgb) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    Image strip;
    for (int left = 0; left < width; left += kBandStripWidth) {
      const int columns = std::min(kBandStripWidth, width - left);
      if (!slide.ReadScaled(scale, left, top, columns, rows, &strip).ok()) return false;
      const std::size_t stripBytes = static_cast<std::size_t>(columns) * 3;
      for (int row = 0; row < rows; ++row) {
        std::memcpy(
            rgb + rowBytes * static_cast<std::size_t>(row) + static_cast<std::size_t>(left) * 3,
            strip.pixels.data() + stripBytes * static_cast<std::size_t>(row), stripBytes);
      }
    }
    return true;
  };
  return WriteSlide(target, options, width, height, source);
}

bool EndsWithZtx(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".ztx") == 0;
}

bool NamesAPicture(const std::string& path) {
  const PictureKind kind = PictureKindOf(path);
  return kind == PictureKind::kPng || kind == PictureKind::kJpeg;
}

int ConvertPicture(const std::string& input, const std::string& target,
                   writer::ZtxWriterOptions options) {
  std::string error;
  RgbImage picture;
  if (!ReadPictureFile(input, &picture, &error)) return ReportError(error);

  const bool bmp = options.encoding == writer::TileEncoding::kBmp;
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
  const writer::RowSource source = [&picture, rowBytes](int top, int rows, unsigned char* rgb) {
    std::memcpy(rgb, picture.pixels.data() + rowBytes * static_cast<std::size_t>(top),
                rowBytes * static_cast<std::size_t>(rows));
    return true;
  };
  return WriteSlide(target, options, picture.width, picture.height, source);
}

int RunConvert(const Arguments& arguments) {
  const std::string input = arguments.positional()[0];
  const std::string target = arguments.positional()[1];
  if (!EndsWithZtx(target)) {
    return ReportUsageError(target + ": the output of convert is a ZTX slide and must end in .ztx");
  }
  if (input == target || system::IsSameFile(input, target)) {
    return ReportUsageError("the output " + target + " is the input: convert writes a new file");
  }
  writer::ZtxWriterOptions options;
  std::string error;
  if (!ParseWriterOptions(arguments, &options, &error)) return ReportUsageError(error);
  std::unique_ptr<Slide> slide;
  const Status opened = Slide::Open(input, &slide);
  if (opened.ok()) return ConvertSlide(*slide, target, arguments, options);
  if (NamesAPicture(input)) return ConvertPicture(input, target, options);
  return ReportError(CannotOpen(input, opened.message()) + " (nor is it a PNG or JPEG picture)");
}

int RunSynth(const Arguments& arguments) {
  const std::string target = arguments.positional()[0];
  writer::ZtxWriterOptions options;
  std::string error;
  int width = 0, height = 0, seed = 1;
  if (!EndsWithZtx(target)) return ReportUsageError(target + ": the output must end in .ztx");
  if (!ParseWriterOptions(arguments, &options, &error) ||
      !arguments.Int("--width", 0, 1, kMaxSlideSide, &width, &error) ||
      !arguments.Int("--height", 0, 1, kMaxSlideSide, &height, &error) ||
      !arguments.Int("--seed", 1, 0, 1 << 30, &seed, &error)) {
    return ReportUsageError(error);
  }
  const SyntheticTissue tissue(width, height, static_cast<std::uint32_t>(seed));
  const bool bmp = options.encoding == writer::TileEncoding::kBmp;

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
    options.items.push_back(writer::PropertyItem::Text(29, "SYNTH-" + std::to_string(seed)));
  }
  const writer::RowSource source = [&tissue](int top, int rows, unsigned char* rgb) {
    return tissue.FillRows(top, rows, rgb);
  };
  return WriteSlide(target, options, width, height, source);
}

int RunSynthSvs(const Arguments& arguments) {
  const std::string target = arguments.positional()[0];
  SvsOptions options;
  std::string error;
  const std::string suffix = target.size() > 4 ? target.substr(target.size() - 4) : "";
  if (suffix != ".svs" && suffix != ".tif") {
    return ReportUsageError(target + ": the output must end in .svs or .tif");
  }
  if (!arguments.Int("--width", 0, 1, 1 << 20, &options.width, &error) ||
      !arguments.Int("--height", 0, 1, 1 << 20, &options.height, &error) ||
      !arguments.Int("--level-factor", 4, 2, 16, &options.levelFactor, &error)) {
    return ReportUsageError(error);
  }
  options.label = FramedPicture(400, 200, 235, 225, 140);
  options.macro = FramedPicture(600, 200, 150, 110, 170);
  PendingOutput output(target);
  if (!output.Begin(&error)) return ReportError(error);
  ProgressBar progress("writing " + target);
  options.progress = [&progress](std::int64_t done, std::int64_t total) {
    progress.Update(done, total);
  };
  const bool written = WriteSvs(output.temporaryPath(), options, FillSvsTestPattern, &error);
  progress.Finish();
  if (!written || !output.Commit(&error)) return ReportError(error);
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
  const std::string writerDetails =
      "--version: the ZTX version written, 1.0 to 2.0 (1.3). --quality: JPEG quality 1-100 (90). "
      "--tile-size: tile side in pixels (256). --scale: the scan scale (objective power) of "
      "level 0. --level-mode: 0 halves each level, 1 and 2 skip levels. --compress-index: a "
      "zlib tile index (1.1 and later). --bmp: uncompressed BMP tiles. --long-magic: the long "
      "file marker (1.3 and later). The file appears only when complete; progress goes to "
      "standard error (a line every few seconds when it is not a terminal).";
  return {
      {"convert",
       "INPUT OUT.ztx " + writerUsage,
       "write a ZTX slide from a PNG or JPEG picture, or from any slide the library opens",
       2,
       kWriterValueOptions,
       kWriterFlags,
       {},
       "A slide keeps its scan scale (objective power; a slide that records none needs --scale), "
       "capture resolution (micrometres per pixel), scan time and duration, property items, "
       "label and preview; its level 0 is read band by band and the pyramid built anew. OUT must "
       "end in .ztx and must not be INPUT. " +
           writerDetails,
       RunConvert},
      {"synth-svs",
       "OUT.svs --width W --height H [--level-factor F]",
       "write a synthetic SVS slide with label and macro images",
       1,
       {"--width", "--height", "--level-factor"},
       {},
       {"--width", "--height"},
       "The Aperio layout: a tiled JPEG pyramid (each level F times smaller, 4 by default) with "
       "a thumbnail after level 0, then the label and the macro, each described with its own "
       "size. Objective power 20x, 0.5 micrometres per pixel.",
       RunSynthSvs},
      {"synth",
       "OUT.ztx --width W --height H [--seed N] " + writerUsage,
       "write a synthetic stained-tissue slide with label, preview and thumbnail",
       1,
       synthOptions,
       kWriterFlags,
       {"--width", "--height"},
       writerDetails,
       RunSynth},
  };
}

}  // namespace strata::tools
