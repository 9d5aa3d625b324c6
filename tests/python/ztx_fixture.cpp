// Writes fixture slides for the Python reader tests with the project's ZTX
// writer, and beside them what the tests compare against: the base level as
// raw RGB, the tile layout as JSON, the preview and label pixels.
//
// usage: ztx_fixture <slide.ztx> <width> <height> [options]
//   --bmp                BMP tiles (exact pixels) instead of JPEG
//   --scan-scale N       scan scale (default 20)
//   --block N            tile edge (default 256)
//   --version V          format version (default 1.3)
//   --no-preview, --no-label
//   --bmp-images         preview (96 x 60) and label (72 x 40) as BMP streams of
//                        known pixels
//   --preview-claims WxH store the preview with another width and height than
//                        its stream has
//   --preview-garbage    store bytes that no decoder reads as the preview
//   --level-mode N       item 33: 1 and 2 leave levels out
//   --facts              scan time, duration, capture resolution and a few
//                        property items (29 serial text, 31 and 32 numbers,
//                        60 free text)
//   --expected FILE      base level, width * height * 3 RGB bytes
//   --images FILE        preview then label pixels, RGB, as stored
//   --layout FILE        JSON: index offset and every tile record
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/ztx/ztx_writer.h"
#include "support/slide_fixtures.h"

namespace {

using strata::ztx::StoredImage;

struct Arguments {
  std::string slide;
  int width = 0;
  int height = 0;
  bool bmpTiles = false;
  int scanScale = 20;
  int blockSize = 256;
  float version = 1.3f;
  bool preview = true;
  bool label = true;
  bool bmpImages = false;
  int claimedWidth = 0;
  int claimedHeight = 0;
  bool previewGarbage = false;
  int levelMode = 0;
  bool facts = false;
  std::string expected;
  std::string images;
  std::string layout;
};

[[noreturn]] void Fail(const std::string& why) {
  std::cerr << "ztx_fixture: " << why << '\n';
  std::exit(2);
}

Arguments Parse(int argc, char** argv) {
  if (argc < 4) Fail("usage: ztx_fixture <slide.ztx> <width> <height> [options]");
  Arguments a;
  a.slide = argv[1];
  a.width = std::atoi(argv[2]);
  a.height = std::atoi(argv[3]);
  for (int i = 4; i < argc; ++i) {
    const std::string option = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) Fail(option + " needs a value");
      return argv[++i];
    };
    if (option == "--bmp") {
      a.bmpTiles = true;
    } else if (option == "--scan-scale") {
      a.scanScale = std::atoi(value().c_str());
    } else if (option == "--block") {
      a.blockSize = std::atoi(value().c_str());
    } else if (option == "--version") {
      a.version = std::strtof(value().c_str(), nullptr);
    } else if (option == "--no-preview") {
      a.preview = false;
    } else if (option == "--no-label") {
      a.label = false;
    } else if (option == "--bmp-images") {
      a.bmpImages = true;
    } else if (option == "--preview-claims") {
      if (std::sscanf(value().c_str(), "%dx%d", &a.claimedWidth, &a.claimedHeight) != 2) {
        Fail("--preview-claims wants WxH");
      }
    } else if (option == "--preview-garbage") {
      a.previewGarbage = true;
    } else if (option == "--level-mode") {
      a.levelMode = std::atoi(value().c_str());
    } else if (option == "--facts") {
      a.facts = true;
    } else if (option == "--expected") {
      a.expected = value();
    } else if (option == "--images") {
      a.images = value();
    } else if (option == "--layout") {
      a.layout = value();
    } else {
      Fail("unknown option " + option);
    }
  }
  return a;
}

// A small picture whose every pixel differs from its neighbours, so that a
// wrong stride or channel order shows. Widths stay multiples of 4: the BMP
// streams carry no row padding, which other decoders only accept then.
std::vector<unsigned char> Picture(int width, int height, int seed) {
  std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      unsigned char* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      p[0] = static_cast<unsigned char>(x * 5 + seed);
      p[1] = static_cast<unsigned char>(y * 7 + seed * 3);
      p[2] = static_cast<unsigned char>((x ^ y) + seed * 11);
    }
  }
  return rgb;
}

StoredImage BmpImage(const std::vector<unsigned char>& rgb, int width, int height) {
  unsigned char* stream = nullptr;
  int length = 0;
  if (!strata::EncodeBmp24(rgb.data(), width, height, &stream, length)) Fail("cannot encode BMP");
  StoredImage image;
  image.stream.assign(stream, stream + length);
  strata::ReleaseBuffer(stream);
  image.width = width;
  image.height = height;
  return image;
}

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) Fail("cannot write " + path);
}

void WriteLayout(const std::string& path, const strata::ztx::ZtxLayout& layout) {
  std::ofstream out(path);
  out << "{\"index_offset\": " << layout.indexOffset << ", \"file_size\": " << layout.fileSize
      << ", \"tiles\": [";
  for (std::size_t i = 0; i < layout.tiles.size(); ++i) {
    const auto& t = layout.tiles[i];
    out << (i == 0 ? "" : ", ") << "{\"scale\": " << t.scale << ", \"x\": " << t.x
        << ", \"y\": " << t.y << ", \"width\": " << t.width << ", \"height\": " << t.height
        << ", \"length\": " << t.length << ", \"offset\": " << t.offset << "}";
  }
  out << "]}\n";
  if (!out) Fail("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
  const Arguments a = Parse(argc, argv);
  strata::test::SlideRecipe recipe;
  recipe.version = a.version;
  recipe.encoding = a.bmpTiles ? strata::ztx::TileEncoding::kBmp : strata::ztx::TileEncoding::kJpeg;
  recipe.width = a.width;
  recipe.height = a.height;
  recipe.scanScale = a.scanScale;
  recipe.blockSize = a.blockSize;
  recipe.withPreview = a.preview;
  recipe.withLabel = a.label;
  recipe.levelMode = a.levelMode;
  if (a.facts) {
    recipe.scanTime = 1700000000;
    recipe.spendTimeMs = 3723456;
    recipe.captureResolution = 0.25f;
    recipe.items = {strata::ztx::PropertyItem::Text(29, "SN-4711"),
                    strata::ztx::PropertyItem::Int(31, 7), strata::ztx::PropertyItem::Int(32, 3),
                    strata::ztx::PropertyItem::Text(60, "stain H&E")};
  }
  strata::ztx::ZtxWriterOptions options = strata::test::OptionsFor(recipe);

  std::vector<unsigned char> imagePixels;
  if (a.bmpImages) {
    const auto preview = Picture(96, 60, 1);
    const auto label = Picture(72, 40, 2);
    if (a.preview) options.preview = BmpImage(preview, 96, 60);
    if (a.label) options.label = BmpImage(label, 72, 40);
    imagePixels = preview;
    imagePixels.insert(imagePixels.end(), label.begin(), label.end());
  }
  if (a.preview && a.claimedWidth > 0) {
    options.preview.width = a.claimedWidth;
    options.preview.height = a.claimedHeight;
  }
  if (a.preview && a.previewGarbage) {
    options.preview.stream.assign(400, 0x5A);
  }

  strata::ztx::ZtxLayout layout;
  std::string error;
  strata::ztx::ZtxWriter writer(options);
  if (!writer.Write(a.slide, a.width, a.height, strata::test::PatternRowSource(a.width), &error,
                    &layout)) {
    Fail("cannot write " + a.slide + ": " + error);
  }
  if (!a.expected.empty())
    WriteFile(a.expected, strata::test::ExpectedBaseImage(a.width, a.height));
  if (!a.images.empty()) WriteFile(a.images, imagePixels);
  if (!a.layout.empty()) WriteLayout(a.layout, layout);
  return 0;
}
