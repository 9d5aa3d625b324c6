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
#include "strata/slide.h"
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
  EXPECT_NE(run.out.find("  label             240 x 120"), std::string::npos);
  EXPECT_NE(run.out.find("  macro             320 x 160"), std::string::npos);
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

// The folder every failure case runs in: a slide, a copy of it that may not
// be written, a text file named as a picture and as a slide, a label too
// large for the slide, and a folder.
const std::vector<std::string> kFailureFolder = {"junk.png", "slide.ztx", "locked.ztx",
                                                 "text.ztx", "large.bmp", "folder"};

void MakeFailureFolder(const TempDir& dir) {
  const Bytes text{'{', '"', 'a', '"', ':', ' ', '1', '}', '\n', '\n'};
  WriteFileBytes(dir.File("junk.png"), text);
  WriteFileBytes(dir.File("text.ztx"), text);
  SlideRecipe recipe;
  recipe.fileName = "slide.ztx";
  MakeSlide(dir, recipe);
  fs::copy_file(dir.File("slide.ztx"), dir.File("locked.ztx"));
  fs::permissions(dir.File("locked.ztx"), fs::perms::owner_read | fs::perms::group_read);
  const Bytes large = ExpectedBaseImage(700, 700);
  unsigned char* raw = nullptr;
  int length = 0;
  ASSERT_TRUE(EncodeBmp24(large.data(), 700, 700, &raw, length));
  Pixels owned(raw);
  WriteFileBytes(dir.File("large.bmp"), Bytes(raw, raw + length));
  fs::create_directory(dir.File("folder"));
}

TEST_P(StrataCliFailure, ExitsWithOneLineThatSaysWhyAndLeavesNothing) {
  const FailureCase& param = GetParam();
  TempDir dir;
  MakeFailureFolder(dir);
  const Bytes slideBefore = ReadFileBytes(dir.File("slide.ztx"));
  std::vector<std::string> arguments;
  for (const std::string& argument : param.arguments) {
    arguments.push_back(!argument.empty() && argument[0] == '@' ? dir.path() + argument.substr(1)
                                                                : argument);
  }
  const RunResult run = RunStrata(dir, arguments);
  EXPECT_EQ(run.status, param.status) << run.err;
  EXPECT_EQ(run.err.rfind("strata: ", 0), 0u) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find(param.message), std::string::npos) << run.err;
  EXPECT_TRUE(OtherFiles(dir, kFailureFolder).empty());
  EXPECT_EQ(ReadFileBytes(dir.File("slide.ztx")), slideBefore);
}

const std::vector<std::string> kSynth = {"synth", "@/out.ztx", "--width", "300", "--height", "300"};

std::vector<std::string> With(std::vector<std::string> words,
                              const std::vector<std::string>& more) {
  words.insert(words.end(), more.begin(), more.end());
  return words;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StrataCliFailure,
    ::testing::Values(
        // Wrong command lines: status 2.
        FailureCase{"UnknownCommand", {"frobnicate"}, 2, "unknown command"},
        FailureCase{"UnknownOption", With(kSynth, {"--colour", "red"}), 2,
                    "unknown option --colour"},
        FailureCase{"BadQuality", With(kSynth, {"--quality", "0"}), 2, "--quality must be"},
        FailureCase{"MissingSize", {"synth", "@/out.ztx", "--width", "300"}, 2, "missing --height"},
        FailureCase{"OptionWithoutValue", {"tile", "@/slide.ztx", "--scale"}, 2, "needs a value"},
        FailureCase{"OptionTwice", With(kSynth, {"--width=400"}), 2, "--width is given twice"},
        FailureCase{"FlagWithValue", With(kSynth, {"--bmp=yes"}), 2, "--bmp takes no value"},
        FailureCase{"TileWithoutY",
                    {"tile", "@/slide.ztx", "--scale", "20", "--x", "0", "-o", "@/t.jpg"},
                    2,
                    "missing --y"},
        FailureCase{"TileToText",
                    {"tile", "@/slide.ztx", "--scale=20", "--x=0", "--y=0", "-o", "@/t.txt"},
                    2,
                    "must end in .jpg, .jpeg, .png or .bmp"},
        FailureCase{"LabelToGif", {"label", "@/slide.ztx", "-o", "@/label.gif"}, 2, "must end in"},
        FailureCase{"RegionToBmp",
                    {"region", "@/slide.ztx", "--scale", "5", "--width", "9", "--height", "9", "-o",
                     "@/r.bmp"},
                    2,
                    "must end in .png, .jpg or .jpeg"},
        FailureCase{
            "ConvertOntoItself", {"convert", "@/slide.ztx", "@/./slide.ztx"}, 2, "is the input"},
        FailureCase{
            "ConvertIntoTheInput", {"convert", "@/slide.ztx", "@/slide.ztx"}, 2, "is the input"},
        FailureCase{
            "ConvertToTiff", {"convert", "@/slide.ztx", "@/out.tif"}, 2, "must end in .ztx"},
        FailureCase{"SynthSvsToPng",
                    {"synth-svs", "@/out.png", "--width", "9", "--height", "9"},
                    2,
                    "must end in .svs or .tif"},
        FailureCase{
            "SetLabelWithoutLabel", {"set-label", "@/slide.ztx"}, 2, "usage: strata set-label"},
        // Failures: status 1, with the reason.
        FailureCase{"MissingPicture", {"convert", "@/absent.png", "@/out.ztx"}, 1, "cannot read"},
        FailureCase{
            "NotAPicture", {"convert", "@/junk.png", "@/out.ztx"}, 1, "neither a PNG nor a JPEG"},
        FailureCase{"RefusedByTheWriter", With(kSynth, {"--version", "1.0", "--compress-index"}), 1,
                    "compressed tile index needs version 1.1"},
        FailureCase{"UnknownVersion", With(kSynth, {"--version", "1.25"}), 1,
                    "unsupported version"},
        FailureCase{
            "NoSuchTile",
            {"tile", "@/slide.ztx", "--scale", "20", "--x", "9984", "--y", "0", "-o", "@/t.jpg"},
            1,
            "no tile at scale 20x"},
        FailureCase{"InfoOfAMissingFile", {"info", "@/absent.ztx"}, 1, "no such file"},
        FailureCase{"InfoOfAFolder", {"info", "@/folder"}, 1, "is a directory"},
        FailureCase{"InfoOfNothing", {"info", ""}, 1, "cannot open \"\""},
        FailureCase{"InfoOfText", {"info", "@/text.ztx"}, 1, "cannot open"},
        FailureCase{
            "TileOfText",
            {"tile", "@/text.ztx", "--scale", "20", "--x", "0", "--y", "0", "-o", "@/t.jpg"},
            1,
            "cannot open"},
        FailureCase{"ConvertAFolder", {"convert", "@/folder", "@/out.ztx"}, 1, "is a directory"},
        FailureCase{"SetLabelToText",
                    {"set-label", "@/slide.ztx", "@/junk.png"},
                    1,
                    "is not a JPEG or BMP picture"},
        FailureCase{"SetLabelTooLarge",
                    {"set-label", "@/slide.ztx", "@/large.bmp"},
                    1,
                    "the new label has 1470054 bytes; the space of the old one holds"},
        FailureCase{
            "SetLabelOfText", {"set-label", "@/text.ztx", "@/large.bmp"}, 1, "not replaced"},
        FailureCase{"CompressReadOnly", {"compress-index", "@/locked.ztx"}, 1, "is read-only"},
        FailureCase{"ExpandAPicture", {"expand-index", "@/junk.png"}, 1, "only ZTX slides"},
        FailureCase{"UnwritableOutput",
                    {"synth", "@/missing/out.ztx", "--width", "300", "--height", "300"},
                    1,
                    "cannot create"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

Bytes ReadPngRgb(const std::string& path, int* width, int* height) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGB;
  Bytes rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
  *width = static_cast<int>(image.width);
  *height = static_cast<int>(image.height);
  return rgb;
}

// info and region on every kind of slide the command line meets: the
// region's pixels are the slide façade's scaled read, byte for byte.
class StrataCliFormats : public ::testing::TestWithParam<const char*> {};

TEST_P(StrataCliFormats, InfoAndRegionReadTheSlide) {
  UseStandinLibraries();
  TempDir dir;
  const std::string kind = GetParam();
  std::string path;
  if (kind == std::string("ztx")) {
    path = MakeSlide(dir, SlideRecipe{});
  } else if (kind == std::string("svs")) {
    path = dir.File("s.svs");
    ASSERT_EQ(RunStrata(dir, {"synth-svs", path, "--width=900", "--height=700"}).status, 0);
  } else if (kind == std::string("tiff")) {
    path = dir.File("plain.tiff");
    const std::string fixture = fs::path(StrataProgram()).parent_path() / "tiff_fixture";
    ASSERT_EQ(
        std::system((Quote(fixture) + " tiff " + Quote(path) + " 900 700 > /dev/null").c_str()), 0);
  } else {
    path = dir.File("case.dmetrix");
    WriteFileBytes(path, {});
  }
  const RunResult info = RunStrata(dir, {"info", path});
  ASSERT_EQ(info.status, 0) << info.err;
  std::unique_ptr<Slide> slide;
  ASSERT_TRUE(Slide::Open(path, &slide).ok());
  const std::string size = std::to_string(slide->Facts().width) + " x " +
                           std::to_string(slide->Facts().height) + " pixels";
  EXPECT_NE(info.out.find(size), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("levels:             " + std::to_string(slide->Levels().size())),
            std::string::npos)
      << info.out;

  const double half = (slide->Facts().objectivePower > 0 ? slide->Facts().objectivePower : 1) / 2;
  char scale[32];
  std::snprintf(scale, sizeof scale, "%g", half);
  const RunResult region = RunStrata(dir, {"region", path, "--scale", scale, "--x=37", "--y=21",
                                           "--width=64", "--height=48", "-o", dir.File("r.png")});
  ASSERT_EQ(region.status, 0) << region.err;
  int width = 0, height = 0;
  const Bytes written = ReadPngRgb(dir.File("r.png"), &width, &height);
  Image expected;
  ASSERT_TRUE(slide->ReadScaled(half, 37, 21, 64, 48, &expected).ok());
  ASSERT_EQ(width, 64);
  ASSERT_EQ(height, 48);
  EXPECT_EQ(written, Bytes(expected.pixels.begin(), expected.pixels.end()));
}

INSTANTIATE_TEST_SUITE_P(Kinds, StrataCliFormats,
                         ::testing::Values("ztx", "svs", "tiff", "dmetrix"));

TEST(StrataCli, EveryCommandExplainsItselfWithHelp) {
  TempDir dir;
  const RunResult list = RunStrata(dir, {"help"});
  ASSERT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("exit status: 0 success, 1 failure"), std::string::npos) << list.out;
  std::size_t commands = 0;
  for (std::size_t at = list.out.find("\n  strata "); at != std::string::npos;
       at = list.out.find("\n  strata ", at + 1)) {
    const std::size_t start = at + 10;
    const std::string name = list.out.substr(start, list.out.find(' ', start) - start);
    const RunResult help = RunStrata(dir, {name, "--help"});
    EXPECT_EQ(help.status, 0) << name;
    EXPECT_EQ(help.out.rfind("usage: strata " + name + " ", 0), 0u) << help.out;
    ++commands;
  }
  EXPECT_GE(commands, 11u);
}

TEST(StrataCli, TilesAndPicturesTakeTheEncodingTheirNameAsks) {
  TempDir dir;
  SlideRecipe recipe;
  const std::string path = MakeSlide(dir, recipe);
  for (const char* name : {"t.png", "t.bmp", "t.jpeg"}) {
    const RunResult run =
        RunStrata(dir, {"tile", path, "--scale=20", "--x=256", "--y=0", "-o", dir.File(name)});
    ASSERT_EQ(run.status, 0) << run.err;
  }
  const Bytes png = ReadFileBytes(dir.File("t.png"));
  const Bytes bmp = ReadFileBytes(dir.File("t.bmp"));
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
  int width = 0, height = 0;
  Pixels fromBmp(DecodeBmp24(bmp.data(), static_cast<int>(bmp.size()), width, height));
  const Bytes jpeg = ReadFileBytes(dir.File("t.jpeg"));
  int jpegWidth = 0, jpegHeight = 0;
  Pixels fromJpeg(DecodeJpeg(jpeg.data(), static_cast<int>(jpeg.size()), jpegWidth, jpegHeight));
  ASSERT_NE(fromBmp, nullptr);
  ASSERT_NE(fromJpeg, nullptr);
  ASSERT_EQ(width, jpegWidth);
  ASSERT_EQ(height, jpegHeight);
  // The BMP holds the stored JPEG tile's pixels, decoded once.
  EXPECT_EQ(
      std::memcmp(fromBmp.get(), fromJpeg.get(), static_cast<std::size_t>(width) * height * 3), 0);
  ASSERT_EQ(RunStrata(dir, {"label", path, "-o", dir.File("label.png")}).status, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("label.png"))[1], 'P');
}

TEST(StrataCli, SetLabelRecordsTheNewLabelsSize) {
  TempDir dir;
  SlideRecipe recipe;
  const std::string path = MakeSlide(dir, recipe);
  const Bytes small = ExpectedBaseImage(64, 32);
  unsigned char* raw = nullptr;
  int length = 0;
  ASSERT_TRUE(EncodeJpegWithQuality(small.data(), 64, 32, 3, 80, &raw, length));
  Pixels stream(raw);
  const Bytes label(raw, raw + length);
  WriteFileBytes(dir.File("new.jpg"), label);
  const RunResult run = RunStrata(dir, {"set-label", path, dir.File("new.jpg")});
  ASSERT_EQ(run.status, 0) << run.err;
  OpenHandle slide(path);
  ASSERT_TRUE(slide.opened);
  unsigned char* data = nullptr;
  int got = 0, width = 0, height = 0;
  ASSERT_TRUE(GetLableInfoFunc(slide.handle, &data, &got, &width, &height));
  Pixels owned(data);
  EXPECT_EQ(width, 64);
  EXPECT_EQ(height, 32);
  EXPECT_EQ(Bytes(data, data + got), label);
}

TEST(StrataCli, ConvertKeepsTheSlidesFacts) {
  TempDir dir;
  ASSERT_EQ(RunStrata(dir, {"synth", dir.File("a.ztx"), "--width=900", "--height=700", "--scale=40",
                            "--version=1.5", "--seed=9"})
                .status,
            0);
  ASSERT_EQ(
      RunStrata(dir, {"convert", dir.File("a.ztx"), dir.File("b.ztx"), "--version=2.0"}).status, 0);
  std::unique_ptr<Slide> a, b;
  ASSERT_TRUE(Slide::Open(dir.File("a.ztx"), &a).ok());
  ASSERT_TRUE(Slide::Open(dir.File("b.ztx"), &b).ok());
  EXPECT_EQ(b->Facts().objectivePower, 40);
  EXPECT_FLOAT_EQ(static_cast<float>(b->Facts().micronsPerPixelX), 0.25f);
  EXPECT_TRUE(b->Facts().hasScanTime);
  EXPECT_EQ(b->Facts().scanTime, a->Facts().scanTime);
  EXPECT_EQ(b->Facts().scanDurationSeconds, a->Facts().scanDurationSeconds);
  EXPECT_EQ(b->Properties().at("ztx.item.29"), "SYNTH-9");
  EXPECT_EQ(b->AssociatedImageNames(), a->AssociatedImageNames());
}

TEST(StrataCli, ProgressIsReportedOffATerminalToo) {
  TempDir dir;
  setenv("STRATA_PROGRESS_SECONDS", "0", 1);
  const RunResult run =
      RunStrata(dir, {"synth-svs", dir.File("p.svs"), "--width=1200", "--height=900"});
  unsetenv("STRATA_PROGRESS_SECONDS");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("writing " + dir.File("p.svs") + ": 100% ("), std::string::npos)
      << run.err;
}

// Slides of the bridge and SDK formats, served by the stand-in libraries.
TEST(StrataCli, ReadsBridgeAndSdkSlides) {
  UseStandinLibraries();
  TempDir dir;
  // The stand-ins serve any name; the files only need to be there.
  for (const char* name : {"case.dmetrix", "case.mds", "case.TMAP"})
    WriteFileBytes(dir.File(name), {});
  const RunResult info = RunStrata(dir, {"info", dir.File("case.dmetrix")});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("size:               1000 x 700 pixels"), std::string::npos);
  EXPECT_NE(info.out.find("  thumbnail         250 x 175"), std::string::npos) << info.out;
  // The bridge's header carries the scan time (1700000000.5 s, 1000 ms).
  EXPECT_NE(info.out.find("scanned:            2023-11-14 22:13:20 UTC, took 0:00:01"),
            std::string::npos)
      << info.out;

  ASSERT_EQ(RunStrata(dir, {"tile", dir.File("case.dmetrix"), "--scale", "20", "--x", "256", "--y",
                            "0", "-o", dir.File("tile.bmp")})
                .status,
            0);
  EXPECT_EQ(ReadFileBytes(dir.File("tile.bmp")),
            standin::EncodeBmp(standin::LevelWindow(standin::kDmetrixSlide, 2, 256, 0, 256, 256),
                               256, 256));
  ASSERT_EQ(RunStrata(dir, {"region", dir.File("case.mds"), "--scale", "10", "--width", "40",
                            "--height", "30", "-o", dir.File("region.png")})
                .status,
            0);
  ASSERT_EQ(RunStrata(dir, {"thumbnail", dir.File("case.mds"), "-o", dir.File("thumb.bmp")}).status,
            0);
  EXPECT_EQ(ReadFileBytes(dir.File("thumb.bmp")).size(), 54u + 96 * 64 * 3);
  const RunResult tmap = RunStrata(dir, {"tile", dir.File("case.TMAP"), "--scale", "40", "--x", "0",
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
