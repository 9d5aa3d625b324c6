// Commands that compose regions and rewrite slides in place: region,
// set-label, compress-index, expand-index.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "strata/slide.h"
#include "strata/slide/image_codec.h"
#include "strata/slide/slide_maintenance.h"
#include "tools/command.h"
#include "tools/image_output.h"
#include "tools/pending_output.h"
#include "tools/slide_handle.h"

namespace strata::tools {
namespace {

int RunRegion(const Arguments& arguments) {
  const std::string path = arguments.positional()[0];
  const std::string output = arguments.Text("-o");
  const PictureKind kind = PictureKindOf(output);
  float scale = 0;
  int x = 0, y = 0, width = 0, height = 0;
  std::string error;
  if (kind != PictureKind::kPng && kind != PictureKind::kJpeg) {
    return ReportUsageError("-o " + output + ": the name must end in .png, .jpg or .jpeg");
  }
  if (!arguments.Float("--scale", 0, 1e-6f, 1e6f, &scale, &error) ||
      !arguments.Int("--x", 0, -(1 << 30), 1 << 30, &x, &error) ||
      !arguments.Int("--y", 0, -(1 << 30), 1 << 30, &y, &error) ||
      !arguments.Int("--width", 0, 1, 1 << 20, &width, &error) ||
      !arguments.Int("--height", 0, 1, 1 << 20, &height, &error)) {
    return ReportUsageError(error);
  }
  std::unique_ptr<Slide> slide;
  const Status opened = Slide::Open(path, &slide);
  if (!opened.ok()) return ReportError(CannotOpen(path, opened.message()));
  Image rgb;
  const Status read = slide->ReadScaled(scale, x, y, width, height, &rgb);
  if (!read.ok()) {
    return ReportError("no region " + std::to_string(width) + " x " + std::to_string(height) +
                       " at (" + std::to_string(x) + ", " + std::to_string(y) + ") in " + path +
                       ": " + read.message());
  }
  if (!WritePixelPicture(output, rgb.pixels.data(), rgb.width, rgb.height, &error)) {
    return ReportError(error);
  }
  std::printf("wrote %s (%d x %d, %s)\n", output.c_str(), width, height, PictureKindName(kind));
  return kExitSuccess;
}

int RunSetLabel(const Arguments& arguments) {
  const std::string slide = arguments.positional()[0];
  const std::string label = arguments.positional()[1];
  const Status replaced = maintenance::ReplaceLabel(slide, label);
  if (!replaced.ok()) {
    return ReportError("label of " + slide + " not replaced: " + replaced.message());
  }
  std::printf("replaced the label of %s\n", slide.c_str());
  return kExitSuccess;
}

int RunCompressIndex(const Arguments& arguments) {
  const std::string slide = arguments.positional()[0];
  const Status done = maintenance::CompressTileIndex(slide);
  if (!done.ok()) return ReportError("tile index not compressed: " + done.message());
  std::printf("tile index of %s is compressed\n", slide.c_str());
  return kExitSuccess;
}

int RunExpandIndex(const Arguments& arguments) {
  const std::string slide = arguments.positional()[0];
  const Status done = maintenance::ExpandTileIndex(slide);
  if (!done.ok()) return ReportError("tile index not expanded: " + done.message());
  std::printf("tile index of %s is plain\n", slide.c_str());
  return kExitSuccess;
}

}  // namespace

std::vector<Command> MaintenanceCommands() {
  const char* inPlace =
      "The slide is rewritten in place through a rollback journal: an interrupted rewrite is "
      "undone at the next open. Only local, writable ZTX slides are rewritten.";
  return {
      {"region",
       "SLIDE --scale S [--x X] [--y Y] --width W --height H -o OUT.png|OUT.jpg",
       "compose a region at any scale (white outside the slide)",
       1,
       {"--scale", "--x", "--y", "--width", "--height", "-o"},
       {},
       {"--scale", "--width", "--height", "-o"},
       "X, Y, W and H are pixels in the grid of scale S (at the slide's scan scale, level-0 "
       "pixels; at half of it, pixels of the slide halved; a slide that records no objective "
       "power has scale 1 at level 0). X and Y default to 0 and may lie outside the slide. Any "
       "format the library opens. The output's suffix decides its encoding.",
       RunRegion},
      {"set-label",
       "SLIDE LABEL.jpg|LABEL.bmp",
       "replace the label picture in place (a JPEG or BMP no longer than the old label)",
       2,
       {},
       {},
       {},
       std::string("The new label's width and height are recorded with it. ") + inPlace,
       RunSetLabel},
      {"compress-index",
       "SLIDE",
       "zlib-compress the tile index in place",
       1,
       {},
       {},
       {},
       std::string("Version 1.0 slides keep their plain index. ") + inPlace,
       RunCompressIndex},
      {"expand-index",
       "SLIDE",
       "restore the plain tile index in place",
       1,
       {},
       {},
       {},
       inPlace,
       RunExpandIndex},
  };
}

}  // namespace strata::tools
