#include "tiff/tiff_reference.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace strata::test {
namespace {

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

tools::SvsOptions Options(int width, int height, int tile, tools::SvsTileCoding coding,
                          int levelFactor) {
  tools::SvsOptions options;
  options.width = width;
  options.height = height;
  options.tileSize = tile;
  options.coding = coding;
  options.levelFactor = levelFactor;
  return options;
}

}  // namespace

std::vector<TiffRecipe> TiffRecipes() {
  std::vector<TiffRecipe> recipes;
  // 2300 x 1700: levels 575 x 425 and 143 x 106 (downsample 16.04...).
  tools::SvsOptions ycbcr = Options(2300, 1700, 256, tools::SvsTileCoding::kJpegYcbcr, 4);
  ycbcr.label = tools::FramedPicture(300, 150, 200, 180, 40);
  ycbcr.macro = tools::FramedPicture(400, 160, 40, 90, 200);
  ycbcr.iccProfile = std::string("test ICC\0profile bytes", 22);
  ycbcr.textTags = {{TIFFTAG_MAKE, "Strata tests"}, {TIFFTAG_SOFTWARE, "svs writer"},
                    {TIFFTAG_DATETIME, "2024:05:06 07:08:09"}};
  ycbcr.pixelsPerCentimetre = 20000.5;
  ycbcr.mpp = "0.2526";
  recipes.push_back({"ycbcr-256.svs", ycbcr});
  // Odd sizes, tiles of 240, RGB-coded JPEG, downsamples 3.0... in BigTIFF.
  tools::SvsOptions rgb = Options(1999, 1201, 240, tools::SvsTileCoding::kJpegRgb, 3);
  rgb.bigTiff = true;
  rgb.appMag = "40";
  recipes.push_back({"rgb-240.svs", rgb});
  tools::SvsOptions deflate = Options(1500, 1100, 256, tools::SvsTileCoding::kDeflate, 2);
  deflate.aperioDescription = false;
  recipes.push_back({"deflate-256.tif", deflate});
  tools::SvsOptions lzw = Options(1300, 901, 240, tools::SvsTileCoding::kLzw, 4);
  lzw.aperioDescription = false;
  lzw.horizontalPredictor = true;
  lzw.bigTiff = true;
  recipes.push_back({"lzw-240.tif", lzw});
  return recipes;
}

std::vector<TiffRecipe> TiffRecipesWhere(bool (*keep)(const TiffRecipe&)) {
  std::vector<TiffRecipe> recipes = TiffRecipes();
  recipes.erase(std::remove_if(recipes.begin(), recipes.end(),
                               [keep](const TiffRecipe& recipe) { return !keep(recipe); }),
                recipes.end());
  return recipes;
}

bool IsJpeg(const TiffRecipe& recipe) {
  return recipe.options.coding == tools::SvsTileCoding::kJpegRgb ||
         recipe.options.coding == tools::SvsTileCoding::kJpegYcbcr;
}

bool IsAperio(const TiffRecipe& recipe) { return recipe.options.aperioDescription; }

std::string RecipeName(const ::testing::TestParamInfo<TiffRecipe>& info) {
  std::string name = info.param.name;
  std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
  return name;
}

std::string WriteTiffSlide(const TempDir& dir, const TiffRecipe& recipe) {
  const std::string path = dir.File(recipe.name);
  std::string error;
  if (!tools::WriteSvs(path, recipe.options, tools::FillSvsTestPattern, &error)) {
    ADD_FAILURE() << recipe.name << ": " << error;
    return "";
  }
  return path;
}

const std::string& TiffSlidePath(const TiffRecipe& recipe) {
  static TempDir* dir = new TempDir();
  static std::map<std::string, std::string>* paths = new std::map<std::string, std::string>();
  auto found = paths->find(recipe.name);
  if (found == paths->end()) {
    found = paths->emplace(recipe.name, WriteTiffSlide(*dir, recipe)).first;
  }
  return found->second;
}

std::vector<unsigned char> WrittenLevel(const tools::SvsOptions& options, int level) {
  const auto size = tools::SvsLevelSizes(options)[static_cast<std::size_t>(level)];
  std::vector<unsigned char> rgb(static_cast<std::size_t>(size.first) * size.second * 3);
  tools::FillSvsTestPattern(0, 0, size.first, size.second,
                            static_cast<double>(options.width) / size.first, rgb.data());
  return rgb;
}

ReferenceSlide::ReferenceSlide(const std::string& path)
    : library_(foreign::OpenSlideLibrary::Current()), slide_(library_.Open(path.c_str())) {}

ReferenceSlide::~ReferenceSlide() { library_.Close(slide_); }

std::map<std::string, std::string> ReferenceSlide::Properties() const {
  std::map<std::string, std::string> properties;
  if (const char* const* names = library_.PropertyNames(slide_)) {
    for (; *names != nullptr; ++names) {
      const char* value = library_.PropertyValue(slide_, *names);
      properties[*names] = value == nullptr ? "" : value;
    }
  }
  return properties;
}

std::vector<SlideLevel> ReferenceSlide::Levels() const {
  std::vector<SlideLevel> levels;
  for (int n = 0; n < library_.LevelCount(slide_); ++n) {
    SlideLevel level;
    library_.LevelDimensions(slide_, n, &level.width, &level.height);
    level.downsample = library_.LevelDownsample(slide_, n);
    levels.push_back(level);
  }
  return levels;
}

std::vector<std::string> ReferenceSlide::AssociatedImageNames() const {
  std::vector<std::string> names;
  if (const char* const* listed = library_.AssociatedImageNames(slide_)) {
    for (; *listed != nullptr; ++listed) names.emplace_back(*listed);
  }
  return names;
}

Image ReferenceSlide::AssociatedImage(const std::string& name) const {
  std::int64_t width = 0, height = 0;
  library_.AssociatedImageDimensions(slide_, name.c_str(), &width, &height);
  std::vector<std::uint32_t> argb(static_cast<std::size_t>(width * height));
  library_.ReadAssociatedImage(slide_, name.c_str(), argb.data());
  Image rgb;
  rgb.width = static_cast<int>(width);
  rgb.height = static_cast<int>(height);
  rgb.channels = 3;
  for (const std::uint32_t pixel : argb) {
    rgb.pixels.push_back(static_cast<unsigned char>(pixel >> 16));
    rgb.pixels.push_back(static_cast<unsigned char>(pixel >> 8));
    rgb.pixels.push_back(static_cast<unsigned char>(pixel));
  }
  return rgb;
}

std::vector<std::uint32_t> ReferenceSlide::Argb(int level, std::int64_t x, std::int64_t y, int w,
                                                int h) const {
  std::vector<std::uint32_t> argb(static_cast<std::size_t>(w) * h);
  library_.ReadRegion(slide_, argb.data(), x, y, level, w, h);
  return argb;
}

bool StoredTiffTile(const std::string& path, int directory, std::uint32_t index,
                    std::vector<unsigned char>* tile, std::string* tables) {
  std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(path.c_str(), "r"));
  if (tiff == nullptr || !TIFFSetDirectory(tiff.get(), static_cast<tdir_t>(directory))) return false;
  std::uint64_t* counts = nullptr;
  if (!TIFFGetField(tiff.get(), TIFFTAG_TILEBYTECOUNTS, &counts) ||
      index >= TIFFNumberOfTiles(tiff.get())) {
    return false;
  }
  tile->resize(counts[index]);
  if (TIFFReadRawTile(tiff.get(), index, tile->data(), static_cast<tmsize_t>(tile->size())) !=
      static_cast<tmsize_t>(tile->size())) {
    return false;
  }
  std::uint32_t count = 0;
  void* data = nullptr;
  tables->clear();
  if (TIFFGetField(tiff.get(), TIFFTAG_JPEGTABLES, &count, &data) && data != nullptr) {
    tables->assign(static_cast<const char*>(data), count);
  }
  return true;
}

bool RewriteDescription(const std::string& path, const std::string& description) {
  std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(path.c_str(), "r+"));
  return tiff != nullptr && TIFFSetField(tiff.get(), TIFFTAG_IMAGEDESCRIPTION, description.c_str()) &&
         TIFFRewriteDirectory(tiff.get());
}

}  // namespace strata::test
