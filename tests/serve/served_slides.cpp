#include "serve/served_slides.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "support/slide_fixtures.h"
#include "tools/svs_writer.h"

namespace strata::test {
namespace {

using Owned = OwnedBuffer;

void DamageTile(const std::string& path, const ztx::ZtxLayout& layout, int x, int y) {
  for (const ztx::WrittenTile& tile : layout.tiles) {
    if (tile.x != x || tile.y != y || tile.scale != 20.0f) continue;
    std::vector<unsigned char> bytes = ReadFileBytes(path);
    const std::size_t at = static_cast<std::size_t>(layout.indexOffset + tile.offset);
    for (int i = 2; i < tile.length - 2; ++i) bytes[at + i] = static_cast<unsigned char>(i * 37);
    WriteFileBytes(path, bytes);
    return;
  }
  ADD_FAILURE() << "no tile at " << x << ", " << y;
}

}  // namespace

const std::vector<SizedSlide>& ServedSlides::GeometrySlides() {
  static const std::vector<SizedSlide> slides = {{"g1001x703.ztx", 1001, 703},
                                                 {"g257x255.ztx", 257, 255},
                                                 {"g3x2.ztx", 3, 2},
                                                 {"g1500x17.ztx", 1500, 17}};
  return slides;
}

ServedSlides& ServedSlides::Get() {
  static ServedSlides slides;
  return slides;
}

ServedSlides::ServedSlides() {
  SlideRecipe odd;
  odd.width = 1001;
  odd.height = 703;
  odd.fileName = "odd.ztx";
  odd.captureResolution = 0.5f;
  odd.scanTime = kScanTime;
  MakeSlide(dir_, odd);
  tools::SvsOptions svs;
  svs.width = 1000;
  svs.height = 700;
  std::string error;
  EXPECT_TRUE(tools::WriteSvs(Path("aperio.svs"), svs, tools::FillSvsTestPattern, &error)) << error;
  SlideRecipe mode1;
  mode1.width = 1500;
  mode1.height = 900;
  mode1.levelMode = 1;
  mode1.smallestLevel = 128;
  mode1.fileName = "mode1.ztx";
  MakeSlide(dir_, mode1);
  SlideRecipe bmp;
  bmp.width = 600;
  bmp.height = 400;
  bmp.encoding = ztx::TileEncoding::kBmp;
  bmp.fileName = "bmp.ztx";
  MakeSlide(dir_, bmp);
  SlideRecipe damaged;
  damaged.fileName = "damaged.ztx";
  ztx::ZtxLayout layout;
  DamageTile(MakeSlide(dir_, damaged, &layout), layout, kDamagedX, kDamagedY);
  for (const SizedSlide& sized : GeometrySlides()) {
    SlideRecipe recipe;
    recipe.width = sized.width;
    recipe.height = sized.height;
    recipe.fileName = sized.name;
    recipe.withLabel = recipe.withPreview = recipe.withThumbnail = false;
    MakeSlide(dir_, recipe);
  }
  std::filesystem::create_directories(dir_.File("shelf/deep"));
  SlideRecipe inner;
  inner.width = 300;
  inner.height = 200;
  inner.fileName = "shelf/deep/inner.ztx";
  MakeSlide(dir_, inner);
  WriteFileBytes(dir_.File("shelf/notes.txt"), {'h', 'i'});
  std::filesystem::create_symlink(dir_.File("odd.ztx"), dir_.File("shelf/escape.ztx"));

  std::vector<std::string> arguments = {Path("odd.ztx"), Path("mode1.ztx"), Path("bmp.ztx"),
                                        Path("damaged.ztx"), Path("aperio.svs")};
  for (const SizedSlide& sized : GeometrySlides()) arguments.push_back(Path(sized.name));
  arguments.push_back(Path("shelf"));
  server_ = std::make_unique<ServeProcess>(arguments);
}

LibrarySlide::LibrarySlide(const std::string& path) { InitImageFileFunc(&handle_, path.c_str()); }

LibrarySlide::~LibrarySlide() { UnInitImageFileFunc(&handle_); }

std::string LibrarySlide::StoredTile(float scale, int x, int y) {
  unsigned char* none = nullptr;
  int length = 0;
  GetImageStreamFunc(&handle_, scale, x, y, &length, &none);
  Owned unexpected(none);
  if (length <= 0 || none != nullptr) return "";
  std::string bytes(static_cast<std::size_t>(length), '\0');
  unsigned char* buffer = reinterpret_cast<unsigned char*>(&bytes[0]);
  GetImageStreamFunc(&handle_, scale, x, y, &length, &buffer);
  return bytes;
}

std::string LibrarySlide::Region(float scale, int x, int y, int width, int height, bool encode) {
  unsigned char* out = nullptr;
  int length = 0;
  const bool made = GetImageDataRoiFunc(handle_, scale, x, y, width, height, &out, &length, encode);
  Owned owned(out);
  if (!made || out == nullptr) return "";
  return std::string(reinterpret_cast<const char*>(out), static_cast<std::size_t>(length));
}

std::string LibrarySlide::Label() {
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  GetLableInfoFunc(handle_, &data, &length, &width, &height);
  Owned owned(data);
  return data == nullptr ? "" : std::string(reinterpret_cast<const char*>(data), length);
}

std::string TileTarget(const std::string& slide, int level, int column, int row) {
  return "/dz/" + slide + "_files/" + std::to_string(level) + "/" + std::to_string(column) + "_" +
         std::to_string(row) + ".jpeg";
}

std::vector<unsigned char> DecodeJpegBytes(const std::string& jpeg, int* width, int* height) {
  Owned pixels(DecodeJpeg(reinterpret_cast<const unsigned char*>(jpeg.data()),
                          static_cast<int>(jpeg.size()), *width, *height));
  if (pixels == nullptr) return {};
  return std::vector<unsigned char>(pixels.get(),
                                    pixels.get() + static_cast<std::size_t>(*width) * *height * 3);
}

}  // namespace strata::test

namespace strata::test {

double MeanDifference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
  if (a.size() != b.size() || a.empty()) return 255;
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += std::abs(int{a[i]} - int{b[i]});
  return sum / static_cast<double>(a.size());
}

}  // namespace strata::test
