// The strata command line, run as a separate program: exit statuses, error
// lines, outputs that match the slide's stored bytes, conversions that keep
// pixels, and no half-written files.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "standins/synthetic_slide.h"
#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/strata.h"
#include "support/slide_fixtures.h"
#include "support/slide_owners.h"
#include "support/standin_libraries.h"

namespace strata::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

using Pixels = strata::OwnedBuffer;

std::string StrataProgram() {
  if (const char* dir = std::getenv("STRATA_TEST_OUTPUT")) return std::string(dir) + "/strata";
  return (fs::read_symlink("/proc/self/exe").parent_path() / "strata").string();
}

std::string Quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadText(const std::string& path) {
  const Bytes bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

RunResult RunStrata(const TempDir& dir, const std::vector<std::string>& arguments) {
  std::string command = Quote(StrataProgram());
  for (const std::string& argument : arguments) command += " " + Quote(argument);
  const std::string out = dir.File("stdout.txt");
  const std::string err = dir.File("stderr.txt");
  command += " > " + Quote(out) + " 2> " + Quote(err) + " < /dev/null";
  RunResult run;
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadText(out);
  run.err = ReadText(err);
  fs::remove(out);
  fs::remove(err);
  return run;
}

// Names in `dir` other than the given ones (leftover temporary files).
std::vector<std::string> OtherFiles(const TempDir& dir, const std::vector<std::string>& known) {
  std::vector<std::string> others;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (std::find(known.begin(), known.end(), name) == known.end()) others.push_back(name);
  }
  return others;
}

void WritePng(const std::string& path, const Bytes& rgb, int width, int height) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr));
}

Bytes StoredTile(const Bytes& file, const ztx::ZtxLayout& layout, float scale, int x, int y) {
  for (const ztx::WrittenTile& tile : layout.tiles) {
    if (tile.scale == scale && tile.x == x && tile.y == y) {
      return Bytes(file.begin() + layout.indexOffset + tile.offset,
                   file.begin() + layout.indexOffset + tile.offset + tile.length);
    }
  }
  return {};
}

TEST(StrataCli, SynthWritesAnOpenableSlideAndNothingElse) {
  TempDir dir;
  const RunResult run = RunStrata(dir, {"synth", dir.File("s.ztx"), "--width", "1200", "--height",
                                        "900", "--scale", "40", "--version", "1.2", "--seed", "5"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("1200 x 900"), std::string::npos) << run.out;
  EXPECT_TRUE(OtherFiles(dir, {"s.ztx"}).empty());

  OpenHandle slide(dir.File("s.ztx"));
  ASSERT_TRUE(slide.opened);
  int height = 0, width = 0, scale = 0, blockSize = 0;
  float spend = 0, resolution = 0;
  double scanTime = 0;
  ASSERT_TRUE(GetHeaderInfoFunc(slide.handle, &height, &width, &scale, &spend, &scanTime,
                                &resolution, &blockSize));
  EXPECT_EQ(width, 1200);
  EXPECT_EQ(height, 900);
  EXPECT_EQ(scale, 40);
  unsigned char* label = nullptr;
  int length = 0, labelWidth = 0, labelHeight = 0;
  ASSERT_TRUE(GetLableInfoFunc(slide.handle, &label, &length, &labelWidth, &labelHeight));
  DeleteImageDataFunc(label);
  EXPECT_GT(length, 0);
  EXPECT_EQ(labelWidth, 600);
}

TEST(StrataCli, SynthIsDeterministicPerSeed) {
  TempDir dir;
  const std::vector<std::string> size = {"--width", "700", "--height", "500"};
  auto synth = [&](const std::string& name, const std::string& seed) {
    std::vector<std::string> arguments = {"synth", dir.File(name), "--seed", seed};
    arguments.insert(arguments.end(), size.begin(), size.end());
    EXPECT_EQ(RunStrata(dir, arguments).status, 0);
    return ReadFileBytes(dir.File(name));
  };
  const Bytes first = synth("a.ztx", "3");
  EXPECT_EQ(first, synth("b.ztx", "3"));
  EXPECT_NE(first, synth("c.ztx", "4"));
}

TEST(StrataCli, InfoReportsHeaderLevelsItemsAndImages) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.version = 1.5f;
  recipe.levelMode = 1;
  recipe.width = 1100;
  recipe.height = 600;
  recipe.items = {ztx::PropertyItem::Text(29, "SN-77")};
  const std::string path = MakeSlide(dir, recipe);
  const RunResult run = RunStrata(dir, {"info", path});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("version:            1.5"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("size:               1100 x 600 pixels"), std::string::npos);
  EXPECT_NE(run.out.find("scan scale:         20x"), std::string::npos);
  // 20x (5 x 3 tiles), 5x (2 x 1) and 1.25x (1); 10x and 2.5x are left out.
  EXPECT_NE(run.out.find("levels:             3 (18 tiles)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"SN-77\""), std::string::npos);
  EXPECT_NE(run.out.find("label:              240 x 120"), std::string::npos);
  EXPECT_NE(run.out.find("preview:            320 x 160"), std::string::npos);
}

TEST(StrataCli, TileAndAssociatedImagesAreTheStoredBytes) {
  TempDir dir;
  SlideRecipe recipe;
  ztx::ZtxLayout layout;
  const std::string path = MakeSlide(dir, recipe, &layout);
  const Bytes file = ReadFileBytes(path);

  ASSERT_EQ(RunStrata(dir, {"tile", path, "--scale", "20", "--x", "256", "--y", "512", "-o",
                            dir.File("tile.jpg")})
                .status,
            0);
  const Bytes stored = StoredTile(file, layout, 20.0f, 256, 512);
  ASSERT_FALSE(stored.empty());
  EXPECT_EQ(ReadFileBytes(dir.File("tile.jpg")), stored);

  const ztx::ZtxWriterOptions options = OptionsFor(recipe);
  ASSERT_EQ(RunStrata(dir, {"label", path, "-o", dir.File("label.jpg")}).status, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("label.jpg")), options.label.stream);
  ASSERT_EQ(RunStrata(dir, {"preview", path, "-o", dir.File("preview.jpg")}).status, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("preview.jpg")), options.preview.stream);
  ASSERT_EQ(RunStrata(dir, {"thumbnail", path, "-o", dir.File("thumbnail.jpg")}).status, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("thumbnail.jpg")), options.thumbnail.stream);
}

TEST(StrataCli, ConvertPngToBmpSlideKeepsEveryPixel) {
  TempDir dir;
  const int width = 300;
  const int height = 270;
  const Bytes source = ExpectedBaseImage(width, height);
  WritePng(dir.File("in.png"), source, width, height);
  const RunResult run = RunStrata(dir, {"convert", dir.File("in.png"), dir.File("out.ztx"), "--bmp",
                                        "--version", "1.2", "--scale", "10"});
  ASSERT_EQ(run.status, 0) << run.err;

  OpenHandle slide(dir.File("out.ztx"));
  ASSERT_TRUE(slide.opened);
  for (int y = 0; y < height; y += 256) {
    for (int x = 0; x < width; x += 256) {
      std::vector<unsigned char> storage(54 + 256 * 256 * 3);
      unsigned char* buffer = storage.data();
      int length = 0;
      GetImageStreamFunc(&slide.handle, 10.0f, x, y, &length, &buffer);
      ASSERT_EQ(length, static_cast<int>(storage.size()));
      int tileWidth = 0, tileHeight = 0;
      Pixels pixels(DecodeBmp24(storage.data(), length, tileWidth, tileHeight));
      ASSERT_NE(pixels, nullptr);
      for (int row = 0; row < 256; ++row) {
        for (int column = 0; column < 256; ++column) {
          const unsigned char* got = pixels.get() + (row * 256 + column) * 3;
          const bool inside = x + column < width && y + row < height;
          for (int c = 0; c < 3; ++c) {
            const unsigned char expected =
                inside ? source[((static_cast<std::size_t>(y + row) * width) + x + column) * 3 + c]
                       : 255;
            ASSERT_EQ(got[c], expected) << "x " << x + column << " y " << y + row;
          }
        }
      }
    }
  }
}

TEST(StrataCli, ConvertReadsJpegPictures) {
  TempDir dir;
  const Bytes source = ExpectedBaseImage(400, 300);
  unsigned char* raw = nullptr;
  int length = 0;
  ASSERT_TRUE(EncodeJpegWithQuality(source.data(), 400, 300, 3, 95, &raw, length));
  Pixels stream(raw);
  WriteFileBytes(dir.File("in.jpg"), Bytes(stream.get(), stream.get() + length));
  const RunResult run = RunStrata(dir, {"convert", dir.File("in.jpg"), dir.File("out.ztx")});
  ASSERT_EQ(run.status, 0) << run.err;
  OpenHandle slide(dir.File("out.ztx"));
  ASSERT_TRUE(slide.opened);
  int height = 0, width = 0, scale = 0, blockSize = 0;
  float spend = 0, resolution = 0;
  double scanTime = 0;
  ASSERT_TRUE(GetHeaderInfoFunc(slide.handle, &height, &width, &scale, &spend, &scanTime,
                                &resolution, &blockSize));
  EXPECT_EQ(width, 400);
  EXPECT_EQ(height, 300);
  EXPECT_EQ(scale, 20);
}

struct FailureCase {
  const char* name;
  std::vector<std::string> arguments;  // "@" stands for the temporary folder
  int status;
  const char* message;
};

class StrataCliFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(StrataCliFailure, ExitsNonZeroWithOneLineAndLeavesNothing) {
  const FailureCase& param = GetParam();
  TempDir dir;
  WriteFileBytes(dir.File("junk.png"), Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'g'});
  SlideRecipe recipe;
  recipe.fileName = "slide.ztx";
  MakeSlide(dir, recipe);
  std::vector<std::string> arguments;
  for (const std::string& argument : param.arguments) {
    arguments.push_back(argument[0] == '@' ? dir.path() + argument.substr(1) : argument);
  }
  const RunResult run = RunStrata(dir, arguments);
  EXPECT_EQ(run.status, param.status) << run.err;
  EXPECT_EQ(run.err.rfind("strata: ", 0), 0u) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find(param.message), std::string::npos) << run.err;
  EXPECT_TRUE(OtherFiles(dir, {"junk.png", "slide.ztx"}).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StrataCliFailure,
    ::testing::Values(
        FailureCase{"UnknownCommand", {"frobnicate"}, 2, "unknown command"},
        FailureCase{"MissingInput", {"convert", "@/absent.png", "@/out.ztx"}, 1, "cannot read"},
        FailureCase{
            "NotAPicture", {"convert", "@/junk.png", "@/out.ztx"}, 1, "neither a PNG nor a JPEG"},
        FailureCase{"BadQuality",
                    {"synth", "@/out.ztx", "--width", "300", "--height", "300", "--quality", "0"},
                    1,
                    "--quality must be"},
        FailureCase{"RefusedByTheWriter",
                    {"synth", "@/out.ztx", "--width", "300", "--height", "300", "--version", "1.0",
                     "--compress-index"},
                    1,
                    "compressed tile index needs version 1.1"},
        FailureCase{
            "UnknownVersion",
            {"synth", "@/out.ztx", "--width", "300", "--height", "300", "--version", "1.25"},
            1,
            "unsupported version"},
        FailureCase{"MissingSize", {"synth", "@/out.ztx", "--width", "300"}, 1, "--height"},
        FailureCase{"OptionWithoutValue", {"tile", "@/slide.ztx", "--scale"}, 1, "needs a value"},
        FailureCase{
            "NoSuchTile",
            {"tile", "@/slide.ztx", "--scale", "20", "--x", "9984", "--y", "0", "-o", "@/t.jpg"},
            1,
            "no tile at scale 20x"},
        FailureCase{"NotASlide", {"info", "@/junk.png"}, 1, "cannot open"},
        FailureCase{"UnwritableOutput",
                    {"synth", "@/missing/out.ztx", "--width", "300", "--height", "300"},
                    1,
                    "cannot create"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// Slides of the bridge and SDK formats, served by the stand-in libraries.
TEST(StrataCli, ReadsBridgeAndSdkSlides) {
  UseStandinLibraries();
  TempDir dir;
  const RunResult info = RunStrata(dir, {"info", "/slides/case.dmetrix"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("size:               1000 x 700 pixels"), std::string::npos);
  EXPECT_NE(info.out.find("thumbnail:          250 x 175"), std::string::npos) << info.out;
  // No scan time is known for these formats: no line, nothing made up.
  EXPECT_EQ(info.out.find("scanned:"), std::string::npos) << info.out;

  ASSERT_EQ(RunStrata(dir, {"tile", "/slides/case.dmetrix", "--scale", "20", "--x", "256", "--y",
                            "0", "-o", dir.File("tile.bmp")})
                .status,
            0);
  EXPECT_EQ(ReadFileBytes(dir.File("tile.bmp")),
            standin::EncodeBmp(standin::LevelWindow(standin::kDmetrixSlide, 2, 256, 0, 256, 256),
                               256, 256));
  ASSERT_EQ(RunStrata(dir, {"region", "/slides/case.mds", "--scale", "10", "--width", "40",
                            "--height", "30", "-o", dir.File("region.png")})
                .status,
            0);
  ASSERT_EQ(RunStrata(dir, {"thumbnail", "/slides/case.mds", "-o", dir.File("thumb.bmp")}).status,
            0);
  EXPECT_EQ(ReadFileBytes(dir.File("thumb.bmp")).size(), 54u + 96 * 64 * 3);
  const RunResult tmap = RunStrata(dir, {"tile", "/slides/case.TMAP", "--scale", "40", "--x", "0",
                                         "--y", "0", "-o", dir.File("tmap.jpg")});
  ASSERT_EQ(tmap.status, 0) << tmap.err;
  int width = 0, height = 0;
  const Bytes jpeg = ReadFileBytes(dir.File("tmap.jpg"));
  Pixels pixels(DecodeJpeg(jpeg.data(), static_cast<int>(jpeg.size()), width, height));
  EXPECT_NE(pixels, nullptr);
  EXPECT_EQ(width, 100);
  EXPECT_EQ(height, 100);
}

}  // namespace
}  // namespace strata::test

namespace strata::test {
namespace {

// A slide read through OpenSlide: written by synth-svs, shown by info,
// served by tile / label / thumbnail and converted to a ZTX slide whose
// pixels stay close to the original (both are JPEG).
TEST(StrataCliOpenSlide, SvsIsShownServedAndConvertedToZtx) {
  TempDir dir;
  const std::string svs = dir.File("s.svs");
  const std::string ztx = dir.File("s.ztx");
  ASSERT_EQ(RunStrata(dir, {"synth-svs", svs, "--width", "1300", "--height", "900"}).status, 0);
  const RunResult info = RunStrata(dir, {"info", svs});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("1300 x 900 pixels"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("5x            325 x 225    downsample 4"), std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("label macro thumbnail"), std::string::npos) << info.out;
  for (const char* command : {"label", "preview", "thumbnail"}) {
    EXPECT_EQ(RunStrata(dir, {command, svs, "-o", dir.File("image.jpg")}).status, 0) << command;
  }
  EXPECT_EQ(RunStrata(dir, {"tile", svs, "--scale", "5", "--x", "256", "--y", "0", "-o",
                            dir.File("tile.jpg")})
                .status,
            0);
  ASSERT_EQ(RunStrata(dir, {"convert", svs, ztx}).status, 0);

  OpenHandle original(svs);
  OpenHandle converted(ztx);
  ASSERT_TRUE(original.opened);
  ASSERT_TRUE(converted.opened);
  for (float scale : {20.0f, 5.0f}) {
    unsigned char* a = nullptr;
    unsigned char* b = nullptr;
    int lengthA = 0, lengthB = 0;
    ASSERT_TRUE(GetImageDataRoiFunc(original.handle, scale, 0, 0, 300, 200, &a, &lengthA, false));
    Pixels ownedA(a);
    ASSERT_TRUE(GetImageDataRoiFunc(converted.handle, scale, 0, 0, 300, 200, &b, &lengthB, false));
    Pixels ownedB(b);
    ASSERT_EQ(lengthA, lengthB);
    double difference = 0;
    for (int i = 0; i < lengthA; ++i) difference += std::abs(int(a[i]) - int(b[i]));
    EXPECT_LT(difference / lengthA, 4.0) << scale;
  }
}

}  // namespace
}  // namespace strata::test
