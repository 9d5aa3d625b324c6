// Commands that read a slide: info, tile, label, preview, thumbnail.
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "strata/slide.h"
#include "strata/slide/image_codec.h"
#include "strata/slide/slide_writer.h"
#include "strata/slide/system.h"
#include "strata/strata.h"
#include "tools/command.h"
#include "tools/image_output.h"
#include "tools/slide_handle.h"

namespace strata::tools {
namespace {

bool IndexIsCompressed(const std::string& path) {
  system::OwnedStream stream(system::OpenStream(path.c_str(), "rb"));
  unsigned char marker[4] = {};
  if (stream == nullptr || std::fread(marker, 1, 4, stream.get()) != 4) return false;
  const std::uint32_t value =
      static_cast<std::uint32_t>(marker[0]) | static_cast<std::uint32_t>(marker[1]) << 8 |
      static_cast<std::uint32_t>(marker[2]) << 16 | static_cast<std::uint32_t>(marker[3]) << 24;
  return (value & writer::kCompressedIndexBits) == writer::kCompressedIndexBits;
}

std::string FormatScale(double scale) {
  char text[32];
  std::snprintf(text, sizeof text, "%gx", scale);
  return text;
}

std::string Property(const Slide& slide, const std::string& key) {
  const auto found = slide.Properties().find(key);
  return found == slide.Properties().end() ? std::string() : found->second;
}

std::string UtcTime(std::int64_t seconds) {
  std::tm parts{};
  char text[32] = "";
  if (system::ToUniversalTime(seconds, parts)) {
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  }
  return text;
}

std::string Duration(double seconds) {
  const long long whole = static_cast<long long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  return text;
}

void PrintFacts(const Slide& slide) {
  const SlideFacts& facts = slide.Facts();
  const bool ztx = facts.format == "ztx";
  std::printf("slide:              %s\n", slide.Location().c_str());
  std::printf("format:             %s\n", facts.format.c_str());
  if (facts.version > 0) {
    std::printf("version:            %.1f%s\n", static_cast<double>(facts.version),
                ztx && IndexIsCompressed(slide.Location()) ? " (compressed tile index)" : "");
  }
  std::printf("size:               %" PRId64 " x %" PRId64 " pixels\n", facts.width, facts.height);
  if (facts.objectivePower > 0) {
    std::printf("scan scale:         %s\n", FormatScale(facts.objectivePower).c_str());
  } else {
    std::printf("scan scale:         not recorded\n");
  }
  if (ztx) std::printf("block size:         %s\n", Property(slide, "ztx.block-size").c_str());
  if (facts.micronsPerPixelX > 0) {
    std::printf("capture resolution: %g x %g micrometres per pixel\n", facts.micronsPerPixelX,
                facts.micronsPerPixelY > 0 ? facts.micronsPerPixelY : facts.micronsPerPixelX);
  }
  if (facts.hasScanTime) {
    std::printf("scanned:            %s", UtcTime(facts.scanTime).c_str());
    if (facts.scanDurationSeconds > 0) {
      std::printf(", took %s", Duration(facts.scanDurationSeconds).c_str());
    }
    std::printf("\n");
  }
}

void PrintLevels(const Slide& slide) {
  const std::string tiles = Property(slide, "ztx.tile-count");
  std::printf("levels:             %zu%s\n", slide.Levels().size(),
              tiles.empty() ? "" : (" (" + tiles + " tiles)").c_str());
  const double power = slide.Facts().objectivePower;
  for (const SlideLevel& level : slide.Levels()) {
    const std::string scale = power > 0 ? FormatScale(power / level.downsample) : "-";
    std::printf("  %-10s %6" PRId64 " x %-6" PRId64 " downsample %g", scale.c_str(), level.width,
                level.height, level.downsample);
    if (level.tileWidth > 0) {
      const std::int64_t columns = (level.width + level.tileWidth - 1) / level.tileWidth;
      const std::int64_t rows = (level.height + level.tileHeight - 1) / level.tileHeight;
      std::printf(", tiles %d x %d (%" PRId64 " x %" PRId64 ")", level.tileWidth, level.tileHeight,
                  columns, rows);
    }
    std::printf("\n");
  }
}

// ZTX property items, by identifier.
void PrintItems(const Slide& slide) {
  if (slide.Facts().format != "ztx") return;
  const std::string prefix = "ztx.item.";
  std::vector<std::pair<std::string, std::string>> items;
  for (const auto& [key, value] : slide.Properties()) {
    if (key.rfind(prefix, 0) == 0) items.emplace_back(key.substr(prefix.size()), value);
  }
  std::printf("items:              %zu\n", items.size());
  for (const auto& [identifier, value] : items) {
    std::printf("  %-4s \"%s\"\n", identifier.c_str(), value.c_str());
  }
}

void PrintAssociatedImages(const Slide& slide) {
  std::string names;
  for (const std::string& name : slide.AssociatedImageNames()) names += " " + name;
  std::printf("associated images: %s\n", names.empty() ? " none" : names.c_str());
  for (const std::string& name : slide.AssociatedImageNames()) {
    Image image;
    const Status read = slide.ReadAssociatedImage(name, &image);
    if (read.ok()) {
      std::printf("  %-17s %d x %d\n", name.c_str(), image.width, image.height);
    } else {
      std::printf("  %-17s unreadable: %s\n", name.c_str(), read.message().c_str());
    }
  }
  if (!slide.IccProfile().empty()) {
    std::printf("icc profile:        %zu bytes\n", slide.IccProfile().size());
  }
}

void PrintProperties(const Slide& slide) {
  std::printf("properties:         %zu\n", slide.Properties().size());
  for (const auto& [key, value] : slide.Properties()) {
    std::printf("  %s = %s\n", key.c_str(), value.c_str());
  }
}

int RunInfo(const Arguments& arguments) {
  const std::string path = arguments.positional()[0];
  std::unique_ptr<Slide> slide;
  const Status opened = Slide::Open(path, &slide);
  if (!opened.ok()) return ReportError(CannotOpen(path, opened.message()));
  PrintFacts(*slide);
  PrintLevels(*slide);
  PrintItems(*slide);
  PrintAssociatedImages(*slide);
  if (arguments.Has("--properties")) PrintProperties(*slide);
  return kExitSuccess;
}

// Refuses an output name whose suffix asks for no picture encoding.
bool CheckPictureName(const std::string& output, std::string* error) {
  if (PictureKindOf(output) != PictureKind::kNone) return true;
  *error = "-o " + output + ": the name must end in .jpg, .jpeg, .png or .bmp";
  return false;
}

// Fetches one tile through the caller-buffer contract: the size query
// reports the length of a stored tile or of one composed for a level the
// file leaves out, and the second call copies it into a buffer of that size.
bool FetchTile(IMAGE_INFO_STRUCT& handle, float scale, int x, int y,
               std::vector<unsigned char>* bytes) {
  unsigned char* none = nullptr;
  int length = 0;
  GetImageStreamFunc(&handle, scale, x, y, &length, &none);
  OwnedBuffer made(none);
  if (made != nullptr && length > 0) {
    // Slides read through OpenSlide make every tile into a new buffer.
    bytes->assign(made.get(), made.get() + length);
    return true;
  }
  if (length <= 0) return false;
  std::vector<unsigned char> storage(static_cast<std::size_t>(length));
  unsigned char* buffer = storage.data();
  int copied = 0;
  GetImageStreamFunc(&handle, scale, x, y, &copied, &buffer);
  if (buffer != storage.data()) {
    OwnedBuffer unexpected(buffer);
    return false;
  }
  if (copied != length) return false;
  bytes->swap(storage);
  return true;
}

int RunTile(const Arguments& arguments) {
  const std::string path = arguments.positional()[0];
  const std::string output = arguments.Text("-o");
  float scale = 0;
  int x = 0, y = 0;
  std::string error;
  if (!arguments.Float("--scale", 0, 1e-6f, 1e6f, &scale, &error) ||
      !arguments.Int("--x", 0, 0, 1 << 30, &x, &error) ||
      !arguments.Int("--y", 0, 0, 1 << 30, &y, &error) || !CheckPictureName(output, &error)) {
    return ReportUsageError(error);
  }
  SlideHandle slide;
  if (!slide.Open(path, &error)) return ReportError(error);
  std::vector<unsigned char> bytes;
  if (!FetchTile(slide.get(), scale, x, y, &bytes)) {
    return ReportError("no tile at scale " + FormatScale(scale) + ", x " + std::to_string(x) +
                       ", y " + std::to_string(y) + " in " + path);
  }
  if (!WriteEncodedPicture(output, bytes.data(), bytes.size(), &error)) return ReportError(error);
  const PictureKind stored = StreamKindOf(bytes.data(), bytes.size());
  const PictureKind written = PictureKindOf(output);
  std::printf("wrote %s (%s%s)\n", output.c_str(), PictureKindName(written),
              stored == written ? ", as stored" : ", re-encoded");
  return kExitSuccess;
}

using ImageGetter = bool (*)(IMAGE_INFO_STRUCT, unsigned char**, int*, int*, int*);

int ExtractImage(const Arguments& arguments, const char* name, ImageGetter getter) {
  const std::string path = arguments.positional()[0];
  const std::string output = arguments.Text("-o");
  std::string error;
  if (!CheckPictureName(output, &error)) return ReportUsageError(error);
  SlideHandle slide;
  if (!slide.Open(path, &error)) return ReportError(error);
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  const bool found = getter(slide.get(), &data, &length, &width, &height);
  OwnedBuffer buffer(data);
  if (!found || buffer == nullptr || length <= 0) {
    return ReportError(std::string(path) + " has no " + name);
  }
  if (!WriteEncodedPicture(output, buffer.get(), static_cast<std::size_t>(length), &error)) {
    return ReportError(error);
  }
  std::printf("wrote %s (%s, %d x %d, %s)\n", output.c_str(), name, width, height,
              PictureKindName(PictureKindOf(output)));
  return kExitSuccess;
}

int RunLabel(const Arguments& arguments) {
  return ExtractImage(arguments, "label", GetLableInfoFunc);
}
int RunPreview(const Arguments& arguments) {
  return ExtractImage(arguments, "preview", GetPriviewInfoFunc);
}
int RunThumbnail(const Arguments& arguments) {
  return ExtractImage(arguments, "thumbnail", GetThumnailImageFunc);
}

const char* kPictureNames =
    "The output's suffix decides its encoding: .jpg or .jpeg (JPEG), .png, .bmp. A picture "
    "stored in that encoding is written byte for byte; any other is decoded and re-encoded.";

Command PictureCommand(const char* name, const char* summary, int (*run)(const Arguments&)) {
  return {name, "SLIDE -o FILE.jpg|png|bmp", summary, 1, {"-o"}, {}, {"-o"}, kPictureNames, run};
}

}  // namespace

std::vector<Command> InfoCommands() {
  return {
      {"info",
       "SLIDE [--properties]",
       "format, size, scan scale, capture resolution, scan time, levels, items, associated images",
       1,
       {},
       {"--properties"},
       {},
       "SLIDE is a file of any format the library opens, or an http:// URL of a ZTX slide. "
       "--properties also lists every property the format's reader reports.",
       RunInfo},
      {"tile",
       "SLIDE --scale S --x X --y Y -o FILE.jpg|png|bmp",
       "write the tile whose top-left is (X, Y) in the pixel grid of scale S",
       1,
       {"--scale", "--x", "--y", "-o"},
       {},
       {"--scale", "--x", "--y", "-o"},
       std::string("A ZTX tile is written as stored. A tile of an SVS or TIFF slide is its stored "
                   "JPEG tile where the native reader passes it through, otherwise it is "
                   "composed and encoded; a scale the slide does not store is composed from the "
                   "next finer level. ") +
           kPictureNames,
       RunTile},
      PictureCommand("label", "write the label image", RunLabel),
      PictureCommand("preview", "write the preview (macro) image", RunPreview),
      PictureCommand("thumbnail", "write the thumbnail image", RunThumbnail),
  };
}

}  // namespace strata::tools
