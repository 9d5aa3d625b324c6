// Commands that read a slide: info, tile, label, preview, thumbnail.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "strata/foreign/openslide_data_file.h"
#include "strata/model/base_data.h"
#include "strata/model/data_file.h"
#include "strata/model/image_buffer.h"
#include "strata/platform/file_io.h"
#include "strata/strata.h"
#include "strata/ztx/ztx_data_file.h"
#include "strata/ztx/ztx_header.h"
#include "tools/command.h"
#include "tools/pending_output.h"
#include "tools/slide_handle.h"

namespace strata::tools {
namespace {

const char* StreamKind(const unsigned char* bytes, int length) {
  if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8) return "JPEG";
  if (length >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return "BMP";
  return "data";
}

bool IndexIsCompressed(const std::string& path) {
  platform::OwnedStream stream(platform::OpenStream(path.c_str(), "rb"));
  unsigned char marker[4] = {};
  if (stream == nullptr || std::fread(marker, 1, 4, stream.get()) != 4) return false;
  const std::uint32_t value =
      static_cast<std::uint32_t>(marker[0]) | static_cast<std::uint32_t>(marker[1]) << 8 |
      static_cast<std::uint32_t>(marker[2]) << 16 | static_cast<std::uint32_t>(marker[3]) << 24;
  return (value & ztx::kCompressedIndexBits) == ztx::kCompressedIndexBits;
}

std::string FormatScale(float scale) {
  char text[32];
  std::snprintf(text, sizeof text, "%gx", static_cast<double>(scale));
  return text;
}

std::string ItemValueText(const CZTXDataItem& item) {
  const unsigned char* value = item.GetValue();
  const int length = item.GetLength();
  if (value == nullptr || length <= 0) return "(empty)";
  bool printable = true;
  for (int i = 0; i < length; ++i) {
    if (value[i] < 0x20 || value[i] > 0x7E) printable = false;
  }
  std::string text;
  if (printable) text = "\"" + std::string(reinterpret_cast<const char*>(value), length) + "\"";
  if (length == 4) {
    std::int32_t number = 0;
    std::memcpy(&number, value, 4);
    text += (text.empty() ? "" : " / ") + std::to_string(number);
  }
  if (text.empty()) text = "(" + std::to_string(length) + " bytes of binary data)";
  return text;
}

// Levels and associated images as OpenSlide reports them.
void PrintOpenSlideLevels(COpenSlideDataFile& slide) {
  COpenSlideDataHeader* header = slide.GetHeader();
  if (header == nullptr) return;
  const double scanScale = header->GetScanScale();
  std::printf("levels:             %zu\n", header->Levels().size());
  for (const auto& level : header->Levels()) {
    std::printf("  %-10s %6" PRId64 " x %-6" PRId64 " downsample %g\n",
                FormatScale(static_cast<float>(scanScale / level.downsample)).c_str(), level.width,
                level.height, level.downsample);
  }
  std::string names;
  for (const std::string& name : slide.AssociatedImageNames()) names += " " + name;
  std::printf("associated images: %s\n", names.empty() ? " none" : names.c_str());
}

void PrintLevels(CDataFile* slide) {
  if (auto* foreign = dynamic_cast<COpenSlideDataFile*>(slide)) {
    PrintOpenSlideLevels(*foreign);
    return;
  }
  auto* ztx = dynamic_cast<CZTXDataFile*>(slide);
  if (ztx == nullptr) return;
  struct Level {
    std::set<int> xs;
    std::set<int> ys;
    std::int64_t tiles = 0;
  };
  std::map<float, Level, std::greater<float>> levels;
  for (const TileInfo& tile : ztx->Tiles()) {
    Level& level = levels[tile.scale];
    level.xs.insert(tile.x);
    level.ys.insert(tile.y);
    ++level.tiles;
  }
  std::printf("levels:             %zu (%zu tiles)\n", levels.size(), ztx->TileCount());
  for (const auto& [scale, level] : levels) {
    std::printf("  %-10s %5zu x %-5zu tiles = %" PRId64 "\n", FormatScale(scale).c_str(),
                level.xs.size(), level.ys.size(), level.tiles);
  }
}

void PrintItems(CDataFile* slide) {
  CDataHeader* header = slide->GetHeader();
  if (header == nullptr) return;
  // Only ZTX headers keep property items; other formats list none.
  auto* ztxHeader = dynamic_cast<CZTXDataHeader*>(header);
  const std::size_t count = ztxHeader == nullptr ? 0 : ztxHeader->Items().size();
  std::printf("items:              %zu\n", count);
  if (ztxHeader == nullptr) return;
  for (const auto& item : ztxHeader->Items()) {
    std::printf("  %-4d %s\n", item->GetIdentifier(), ItemValueText(*item).c_str());
  }
}

using ImageGetter = bool (*)(IMAGE_INFO_STRUCT, unsigned char**, int*, int*, int*);

void PrintAssociatedImage(IMAGE_INFO_STRUCT handle, const char* name, ImageGetter getter) {
  unsigned char* data = nullptr;
  int length = 0;
  int width = 0;
  int height = 0;
  const bool found = getter(handle, &data, &length, &width, &height);
  OwnedBuffer buffer(data);
  if (!found || buffer == nullptr || length <= 0) {
    std::printf("%-19s none\n", name);
    return;
  }
  std::printf("%-19s %d x %d, %d bytes %s\n", name, width, height, length,
              StreamKind(buffer.get(), length));
}

int RunInfo(const Arguments& arguments) {
  const std::string path = arguments.positional()[0];
  SlideHandle slide;
  if (!slide.Open(path)) return ReportError("cannot open " + path + " as a slide");
  int height = 0, width = 0, scanScale = 0, blockSize = 0;
  float spendTime = 0, captureResolution = 0, version = 0;
  double scanTime = 0;
  if (!GetHeaderInfoFunc(slide.get(), &height, &width, &scanScale, &spendTime, &scanTime,
                         &captureResolution, &blockSize)) {
    return ReportError("cannot read the header of " + path);
  }
  GetVersionInfoFunc(&slide.get(), &version);

  std::printf("slide:              %s\n", path.c_str());
  const bool ztx = dynamic_cast<CZTXDataFile*>(slide.get().slide) != nullptr;
  std::printf("version:            %.1f%s\n", static_cast<double>(version),
              ztx && IndexIsCompressed(path) ? " (compressed tile index)" : "");
  std::printf("size:               %d x %d pixels\n", width, height);
  std::printf("scan scale:         %dx\n", scanScale);
  std::printf("block size:         %d\n", blockSize);
  std::printf("capture resolution: %g\n", static_cast<double>(captureResolution));
  // Formats without a scan time report success and write nothing.
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, hours = 0, minutes = 0,
      seconds = 0;
  if (GetScanTimeDurationFunc(&slide.get(), &year, &month, &day, &hour, &minute, &second, &hours,
                              &minutes, &seconds) &&
      year > 0) {
    std::printf("scanned:            %04d-%02d-%02d %02d:%02d:%02d, took %d:%02d:%02d\n", year,
                month, day, hour, minute, second, hours, minutes, seconds);
  }
  PrintLevels(slide.get().slide);
  PrintItems(slide.get().slide);
  PrintAssociatedImage(slide.get(), "label:", GetLableInfoFunc);
  PrintAssociatedImage(slide.get(), "preview:", GetPriviewInfoFunc);
  PrintAssociatedImage(slide.get(), "thumbnail:", GetThumnailImageFunc);
  return 0;
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
  if (output.empty()) return ReportError("missing -o FILE");
  float scale = 0;
  int x = 0, y = 0;
  std::string error;
  if (!arguments.Has("--scale")) return ReportError("missing --scale S");
  if (!arguments.Float("--scale", 0, 1e-6f, 1e6f, &scale, &error) ||
      !arguments.Int("--x", 0, 0, 1 << 30, &x, &error) ||
      !arguments.Int("--y", 0, 0, 1 << 30, &y, &error)) {
    return ReportError(error);
  }
  SlideHandle slide;
  if (!slide.Open(path)) return ReportError("cannot open " + path + " as a slide");
  std::vector<unsigned char> bytes;
  if (!FetchTile(slide.get(), scale, x, y, &bytes)) {
    return ReportError("no tile at scale " + FormatScale(scale) + ", x " + std::to_string(x) +
                       ", y " + std::to_string(y) + " in " + path);
  }
  if (!WriteOutputFile(output, bytes.data(), bytes.size(), &error)) return ReportError(error);
  std::printf("wrote %s (%zu bytes, %s)\n", output.c_str(), bytes.size(),
              StreamKind(bytes.data(), static_cast<int>(bytes.size())));
  return 0;
}

int ExtractImage(const Arguments& arguments, const char* name, ImageGetter getter) {
  const std::string path = arguments.positional()[0];
  const std::string output = arguments.Text("-o");
  if (output.empty()) return ReportError("missing -o FILE");
  SlideHandle slide;
  if (!slide.Open(path)) return ReportError("cannot open " + path + " as a slide");
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  const bool found = getter(slide.get(), &data, &length, &width, &height);
  OwnedBuffer buffer(data);
  if (!found || buffer == nullptr || length <= 0) {
    return ReportError(std::string(path) + " has no " + name);
  }
  std::string error;
  if (!WriteOutputFile(output, buffer.get(), static_cast<std::size_t>(length), &error)) {
    return ReportError(error);
  }
  std::printf("wrote %s (%s, %d x %d, %d bytes %s)\n", output.c_str(), name, width, height, length,
              StreamKind(buffer.get(), length));
  return 0;
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

}  // namespace

std::vector<Command> InfoCommands() {
  return {
      {"info",
       "SLIDE",
       "version, size, scan scale, block size, levels, items, associated images",
       1,
       {},
       {},
       RunInfo},
      {"tile",
       "SLIDE --scale S --x X --y Y -o FILE",
       "write one stored tile as it is stored",
       1,
       {"--scale", "--x", "--y", "-o"},
       {},
       RunTile},
      {"label", "SLIDE -o FILE", "write the label image", 1, {"-o"}, {}, RunLabel},
      {"preview", "SLIDE -o FILE", "write the preview image", 1, {"-o"}, {}, RunPreview},
      {"thumbnail", "SLIDE -o FILE", "write the thumbnail image", 1, {"-o"}, {}, RunThumbnail},
  };
}

}  // namespace strata::tools
