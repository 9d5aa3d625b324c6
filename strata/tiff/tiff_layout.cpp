#include "strata/tiff/tiff_layout.h"

#include <algorithm>
#include <cctype>

namespace strata::tiff {
namespace {

constexpr std::uint16_t kJpeg2000YCbCr = 33003;
constexpr std::uint16_t kJpeg2000Rgb = 33005;

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

std::string Where(const TiffDirectory& directory) {
  return "TIFF directory " + std::to_string(directory.index);
}

Status NotRead(const std::string& why) { return Status::Unsupported(why); }

// The most bytes one stored tile may take: twice its pixels and a little.
std::uint64_t MaxTileBytes(const TiffDirectory& directory) {
  return static_cast<std::uint64_t>(directory.tileWidth) * directory.tileHeight * 6 + 65536;
}

Status CodingOf(const TiffDirectory& directory, TiffLevel& level) {
  const std::string where = Where(directory);
  if (directory.compression == kJpeg2000YCbCr || directory.compression == kJpeg2000Rgb) {
    return NotRead(where + " holds JPEG 2000 tiles");
  }
  if (directory.bitsPerSample != 8 || directory.samplesPerPixel != 3 ||
      directory.planarConfig != PLANARCONFIG_CONTIG || directory.sampleFormat != 1 ||
      directory.extraSamples != 0) {
    return NotRead(where + " is not 8-bit RGB with contiguous samples");
  }
  const bool rgb = directory.hasPhotometric && directory.photometric == PHOTOMETRIC_RGB;
  switch (directory.compression) {
    case COMPRESSION_JPEG:
      if (!rgb && !(directory.hasPhotometric && directory.photometric == PHOTOMETRIC_YCBCR)) {
        return NotRead(where + " has JPEG tiles in neither RGB nor YCbCr");
      }
      level.coding = TileCoding::kJpeg;
      level.rgbJpeg = rgb;
      return Status::Ok();
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      level.coding = TileCoding::kDeflate;
      break;
    case COMPRESSION_LZW:
      level.coding = TileCoding::kLzw;
      break;
    case COMPRESSION_NONE:
      level.coding = TileCoding::kUncompressed;
      break;
    default:
      return NotRead(where + " has tiles of compression " + std::to_string(directory.compression));
  }
  if (!rgb) return NotRead(where + " is not RGB");
  if (directory.predictor != PREDICTOR_NONE &&
      !(directory.predictor == PREDICTOR_HORIZONTAL && level.coding != TileCoding::kUncompressed)) {
    return NotRead(where + " uses predictor " + std::to_string(directory.predictor));
  }
  return Status::Ok();
}

Status CheckTiles(const TiffDirectory& directory, std::int64_t sourceSize) {
  const std::uint64_t limit = MaxTileBytes(directory);
  for (std::size_t n = 0; n < directory.tileByteCounts.size(); ++n) {
    const std::uint64_t offset = directory.tileOffsets[n];
    const std::uint64_t count = directory.tileByteCounts[n];
    if (count == 0) return NotRead(Where(directory) + " misses tile " + std::to_string(n));
    if (count > limit) {
      return Status::Damaged(Where(directory) + ": tile " + std::to_string(n) + " claims " +
                             std::to_string(count) + " bytes");
    }
    if (sourceSize >= 0 && (offset > static_cast<std::uint64_t>(sourceSize) ||
                            count > static_cast<std::uint64_t>(sourceSize) - offset)) {
      return Status::Damaged(Where(directory) + ": tile " + std::to_string(n) + " (" +
                             std::to_string(count) + " bytes at " + std::to_string(offset) +
                             ") lies beyond the end of the file at " + std::to_string(sourceSize));
    }
  }
  return Status::Ok();
}

Status LevelOf(const TiffDirectory& directory, std::int64_t sourceSize, TiffLevel* level) {
  if (!directory.codecConfigured) {
    return NotRead(Where(directory) + " has compression " +
                   std::to_string(directory.compression) + ", which libtiff cannot decode");
  }
  if (directory.width == 0 || directory.height == 0) {
    return Status::Damaged(Where(directory) + " has no pixels");
  }
  Status coded = CodingOf(directory, *level);
  if (coded.ok()) coded = CheckTiles(directory, sourceSize);
  if (!coded.ok()) return coded;
  level->directory = directory.index;
  level->width = directory.width;
  level->height = directory.height;
  level->tileWidth = static_cast<int>(directory.tileWidth);
  level->tileHeight = static_cast<int>(directory.tileHeight);
  return Status::Ok();
}

// Downsamples as the reference computes them: the mean of the two ratios.
Status FinishLevels(std::vector<TiffLevel>& levels) {
  if (levels.empty()) return NotRead("the file has no tiled image");
  const TiffLevel& base = levels.front();
  for (std::size_t n = 0; n < levels.size(); ++n) {
    TiffLevel& level = levels[n];
    level.downsample = (static_cast<double>(base.width) / static_cast<double>(level.width) +
                        static_cast<double>(base.height) / static_cast<double>(level.height)) /
                       2.0;
    if (n > 0 && (level.width > levels[n - 1].width || level.height > levels[n - 1].height ||
                  level.downsample < levels[n - 1].downsample)) {
      return NotRead("the levels are not ordered from the largest");
    }
  }
  return Status::Ok();
}

// The name an Aperio associated image gives itself: the first word of its
// description's second line (lines end at CR or LF); "" leaves it unnamed.
bool AperioImageName(const TiffDirectory& directory, std::string* name) {
  if (!directory.description) return false;
  const std::string& text = *directory.description;
  const std::size_t end = text.find_first_of("\r\n");
  if (end == std::string::npos) return false;
  const std::string line = text.substr(end + 1, text.find_first_of("\r\n", end + 1) - end - 1);
  if (line.empty()) return false;
  *name = line.substr(0, line.find(' '));
  return true;
}

Status AddAssociatedImage(const TiffDirectory& directory, const std::string& name,
                          TiffLayout* layout) {
  if (!directory.codecConfigured) {
    return NotRead(Where(directory) + " (the " + name + " image) has compression " +
                   std::to_string(directory.compression) + ", which libtiff cannot decode");
  }
  auto& images = layout->associatedImages;
  // A later image of the same name replaces the earlier one.
  images.erase(std::remove_if(images.begin(), images.end(),
                              [&](const TiffAssociatedImage& image) { return image.name == name; }),
               images.end());
  images.push_back({name, directory.index, directory.width, directory.height});
  return Status::Ok();
}

Status PlanAperio(const std::vector<TiffDirectory>& directories, std::int64_t sourceSize,
                  TiffLayout* layout) {
  layout->vendor = "aperio";
  for (const TiffDirectory& directory : directories) {
    if (directory.tiled) {
      TiffLevel level;
      const Status accepted = LevelOf(directory, sourceSize, &level);
      if (!accepted.ok()) return accepted;
      layout->levels.push_back(level);
      continue;
    }
    std::string name = "thumbnail";
    if (directory.index != 1 && !AperioImageName(directory, &name)) continue;
    const Status added = AddAssociatedImage(directory, name, layout);
    if (!added.ok()) return added;
  }
  return FinishLevels(layout->levels);
}

// Other vendors write TIFF too; their files are theirs to interpret.
Status CheckGenericDialect(const TiffDirectory& first) {
  if (first.description) {
    const std::string& text = *first.description;
    const auto start = std::find_if(text.begin(), text.end(),
                                    [](unsigned char c) { return !std::isspace(c); });
    if ((start != text.end() && *start == '<') || text.find("<?xml") != std::string::npos) {
      return NotRead("the image description is XML, another vendor's dialect");
    }
  }
  const auto software = first.texts.find("Software");
  if (software != first.texts.end() && StartsWith(software->second, "MedScan")) {
    return NotRead("the file is a Trestle slide");
  }
  const auto make = first.texts.find("Make");
  if (make != first.texts.end() && StartsWith(make->second, "Hamamatsu")) {
    return NotRead("the file is a Hamamatsu slide");
  }
  if (first.hasXmp) return NotRead("the file carries XMP, another vendor's dialect");
  return Status::Ok();
}

Status PlanGeneric(const std::vector<TiffDirectory>& directories, std::int64_t sourceSize,
                   TiffLayout* layout) {
  layout->vendor = "generic-tiff";
  const Status dialect = CheckGenericDialect(directories.front());
  if (!dialect.ok()) return dialect;
  for (const TiffDirectory& directory : directories) {
    if (!directory.tiled) continue;
    if (directory.index != 0 &&
        (!directory.subfileType || (*directory.subfileType & FILETYPE_REDUCEDIMAGE) == 0)) {
      continue;
    }
    TiffLevel level;
    const Status accepted = LevelOf(directory, sourceSize, &level);
    if (!accepted.ok()) return accepted;
    layout->levels.push_back(level);
  }
  std::stable_sort(layout->levels.begin(), layout->levels.end(),
                   [](const TiffLevel& a, const TiffLevel& b) { return a.width > b.width; });
  return FinishLevels(layout->levels);
}

}  // namespace

Status PlanTiffSlide(const std::vector<TiffDirectory>& directories, std::int64_t sourceSize,
                     TiffLayout* layout) {
  *layout = TiffLayout();
  if (directories.empty() || !directories.front().tiled) {
    return NotRead("the first TIFF directory is not tiled");
  }
  const TiffDirectory& first = directories.front();
  const Status planned = first.description && StartsWith(*first.description, "Aperio")
                             ? PlanAperio(directories, sourceSize, layout)
                             : PlanGeneric(directories, sourceSize, layout);
  if (!planned.ok()) return planned;
  std::sort(layout->associatedImages.begin(), layout->associatedImages.end(),
            [](const TiffAssociatedImage& a, const TiffAssociatedImage& b) {
              return a.name < b.name;
            });
  return Status::Ok();
}

}  // namespace strata::tiff
