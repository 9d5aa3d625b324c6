// What OpenSlide itself returns for a request, through the conversion rule:
// the tests' reference for slides read through the OpenSlide adapters.
#ifndef STRATA_TESTS_FOREIGN_OPENSLIDE_REFERENCE_H_
#define STRATA_TESTS_FOREIGN_OPENSLIDE_REFERENCE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "foreign/foreign_test_util.h"
#include "strata/foreign/openslide_library.h"
#include "strata/strata.h"

namespace strata::test {

// An OpenSlide handle of its own, opened through the same binding.
class DirectSlide {
 public:
  explicit DirectSlide(const std::string& path);
  ~DirectSlide();
  DirectSlide(const DirectSlide&) = delete;
  DirectSlide& operator=(const DirectSlide&) = delete;

  bool ok() const { return slide_ != nullptr; }
  int LevelCount() const { return library_.LevelCount(slide_); }
  double Downsample(int level) const { return library_.LevelDownsample(slide_, level); }
  void LevelSize(int level, std::int64_t& w, std::int64_t& h) const {
    library_.LevelDimensions(slide_, level, &w, &h);
  }
  // RGB of a w x h window of `level` at level-0 position (x, y), alpha below
  // 250 white (these slides have no background colour).
  std::vector<unsigned char> Pixels(int level, std::int64_t x, std::int64_t y, int w, int h) const;
  std::vector<unsigned char> AssociatedImage(const char* name, int& w, int& h) const;

 private:
  foreign::OpenSlideLibrary library_;
  foreign::OpenSlideHandle slide_ = nullptr;
};

// Every tile of every level OpenSlide reports for `path`, fetched at the
// level's scale through the exports, equals the JPEG the library makes of
// OpenSlide's own pixels; a tile at a level's right edge gives no stream.
void ExpectEveryTileIsOpenSlides(const std::string& path, IMAGE_INFO_STRUCT& handle,
                                 double scanScale);

// A region through the exports; empty when the call fails.
std::vector<unsigned char> RegionPixels(IMAGE_INFO_STRUCT handle, float scale, int x, int y, int w,
                                        int h);

}  // namespace strata::test

#endif  // STRATA_TESTS_FOREIGN_OPENSLIDE_REFERENCE_H_
