// What the tiff suite compares with: slides written at test time with the
// project's SVS writer, Debian's OpenSlide reading the same files (raw
// premultiplied ARGB, its properties and images), the writer's own pixels
// for lossless tiles, and the stored tile bytes as libtiff finds them.
#ifndef STRATA_TESTS_TIFF_TIFF_REFERENCE_H_
#define STRATA_TESTS_TIFF_TIFF_REFERENCE_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "strata/foreign/openslide_library.h"
#include "strata/slide_types.h"
#include "support/test_files.h"
#include "tools/svs_writer.h"

namespace strata::test {

struct TiffRecipe {
  std::string name;  // also the file name
  tools::SvsOptions options;
};

// The suite's slides: SVS with YCbCr and with RGB-coded JPEG (tiles of 256
// and 240, odd sizes, levels whose downsample is not whole), generic tiled
// TIFF with deflate and with LZW and the predictor (BigTIFF).
std::vector<TiffRecipe> TiffRecipes();
// The recipes `keep` says yes to.
std::vector<TiffRecipe> TiffRecipesWhere(bool (*keep)(const TiffRecipe&));
bool IsJpeg(const TiffRecipe& recipe);
bool IsAperio(const TiffRecipe& recipe);
// A test name for a recipe parameter.
std::string RecipeName(const ::testing::TestParamInfo<TiffRecipe>& info);

// Writes the slide into `dir`; its path ("" and a test failure when the
// writer fails).
std::string WriteTiffSlide(const TempDir& dir, const TiffRecipe& recipe);

// The slide's files are written once per test program into one folder.
const std::string& TiffSlidePath(const TiffRecipe& recipe);

// A level's pixels as the writer made them (exact for lossless tiles).
std::vector<unsigned char> WrittenLevel(const tools::SvsOptions& options, int level);

// OpenSlide on a file, through the library's own binding.
class ReferenceSlide {
 public:
  explicit ReferenceSlide(const std::string& path);
  ~ReferenceSlide();
  ReferenceSlide(const ReferenceSlide&) = delete;
  ReferenceSlide& operator=(const ReferenceSlide&) = delete;

  bool ok() const { return slide_ != nullptr; }
  std::map<std::string, std::string> Properties() const;
  std::vector<SlideLevel> Levels() const;  // sizes and downsamples
  std::vector<std::string> AssociatedImageNames() const;
  Image AssociatedImage(const std::string& name) const;  // RGB
  // OpenSlide's premultiplied ARGB words of a region.
  std::vector<std::uint32_t> Argb(int level, std::int64_t x, std::int64_t y, int w, int h) const;

 private:
  foreign::OpenSlideLibrary library_;
  foreign::OpenSlideHandle slide_ = nullptr;
};

// The stored bytes of tile `index` of TIFF directory `directory` and that
// directory's JPEGTables, as libtiff reads them.
bool StoredTiffTile(const std::string& path, int directory, std::uint32_t index,
                    std::vector<unsigned char>* tile, std::string* tables);

// Rewrites the ImageDescription of the first directory in place.
bool RewriteDescription(const std::string& path, const std::string& description);

}  // namespace strata::test

#endif  // STRATA_TESTS_TIFF_TIFF_REFERENCE_H_
