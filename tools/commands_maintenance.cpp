// Commands that compose regions and rewrite slides in place: region,
// set-label, compress-index, expand-index.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/strata.h"
#include "tools/command.h"
#include "tools/pending_output.h"
#include "tools/png_encoding.h"
#include "tools/slide_handle.h"

namespace strata::tools {
namespace {

bool EndsWith(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    const char c = text[text.size() - suffix.size() + i];
    if (static_cast<char>(c | 0x20) != suffix[i] && c != suffix[i]) return false;
  }
  return true;
}

enum class OutputKind { kPng, kJpeg, kUnknown };

OutputKind KindOf(const std::string& path) {
  if (EndsWith(path, ".png")) return OutputKind::kPng;
  if (EndsWith(path, ".jpg") || EndsWith(path, ".jpeg")) return OutputKind::kJpeg;
  return OutputKind::kUnknown;
}

// RGB pixels to a PNG file.
bool WritePng(const std::string& path, const unsigned char* rgb, int width, int height,
              std::string* error) {
  std::string bytes;
  return EncodePngBytes(rgb, width, height, &bytes, error) &&
         WriteOutputFile(path, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                         error);
}

int RunRegion(const Arguments& arguments) {
  const std::string path = arguments.positional()[0];
  const std::string output = arguments.Text("-o");
  if (output.empty()) return ReportError("missing -o OUT.png|OUT.jpg");
  const OutputKind kind = KindOf(output);
  if (kind == OutputKind::kUnknown) return ReportError("the output must end in .png or .jpg");
  for (const char* required : {"--scale", "--width", "--height"}) {
    if (!arguments.Has(required)) return ReportError(std::string("missing ") + required);
  }
  float scale = 0;
  int x = 0, y = 0, width = 0, height = 0;
  std::string error;
  if (!arguments.Float("--scale", 0, 1e-6f, 1e6f, &scale, &error) ||
      !arguments.Int("--x", 0, -(1 << 30), 1 << 30, &x, &error) ||
      !arguments.Int("--y", 0, -(1 << 30), 1 << 30, &y, &error) ||
      !arguments.Int("--width", 0, 1, 1 << 20, &width, &error) ||
      !arguments.Int("--height", 0, 1, 1 << 20, &height, &error)) {
    return ReportError(error);
  }
  SlideHandle slide;
  if (!slide.Open(path)) return ReportError("cannot open " + path + " as a slide");
  unsigned char* data = nullptr;
  int length = 0;
  const bool jpeg = kind == OutputKind::kJpeg;
  const bool ok =
      GetImageDataRoiFunc(slide.get(), scale, x, y, width, height, &data, &length, jpeg);
  OwnedBuffer buffer(data);
  if (!ok || buffer == nullptr || length <= 0) {
    return ReportError("no region " + std::to_string(width) + " x " + std::to_string(height) +
                       " at (" + std::to_string(x) + ", " + std::to_string(y) + ") in " + path +
                       " (outside the slide, or too large)");
  }
  const bool written =
      jpeg ? WriteOutputFile(output, buffer.get(), static_cast<std::size_t>(length), &error)
           : WritePng(output, buffer.get(), width, height, &error);
  if (!written) return ReportError(error);
  std::printf("wrote %s (%d x %d, %s)\n", output.c_str(), width, height, jpeg ? "JPEG" : "PNG");
  return 0;
}

int RunSetLabel(const Arguments& arguments) {
  const std::string slide = arguments.positional()[0];
  const std::string label = arguments.positional()[1];
  if (!ChangeLabelInfoFunc(slide.c_str(), label.c_str())) {
    return ReportError("label of " + slide + " not replaced (unreadable files, or the new " +
                       "label is longer than the space of the old one)");
  }
  std::printf("replaced the label of %s\n", slide.c_str());
  return 0;
}

int RunCompressIndex(const Arguments& arguments) {
  const std::string slide = arguments.positional()[0];
  if (!CompressBlockDataInfoFunc(slide.c_str())) {
    return ReportError("tile index of " + slide + " not compressed");
  }
  std::printf("tile index of %s is compressed\n", slide.c_str());
  return 0;
}

int RunExpandIndex(const Arguments& arguments) {
  const std::string slide = arguments.positional()[0];
  if (!UnCompressBlockDataInfoFunc(slide.c_str())) {
    return ReportError("tile index of " + slide + " not expanded");
  }
  std::printf("tile index of %s is plain\n", slide.c_str());
  return 0;
}

}  // namespace

std::vector<Command> MaintenanceCommands() {
  return {
      {"region",
       "SLIDE --scale S --x X --y Y --width W --height H -o OUT.png|OUT.jpg",
       "compose a region at any scale (white outside the slide)",
       1,
       {"--scale", "--x", "--y", "--width", "--height", "-o"},
       {},
       RunRegion},
      {"set-label",
       "SLIDE LABEL",
       "replace the label stream in place (no longer than the old)",
       2,
       {},
       {},
       RunSetLabel},
      {"compress-index",
       "SLIDE",
       "zlib-compress the tile index in place",
       1,
       {},
       {},
       RunCompressIndex},
      {"expand-index", "SLIDE", "restore the plain tile index in place", 1, {}, {}, RunExpandIndex},
  };
}

}  // namespace strata::tools
