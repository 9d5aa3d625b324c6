// The slide matrix's formats: one row per format the façade opens, each with
// the fixture it makes at test time, what the slide must say about itself,
// and an independent expectation of its pixels.
#ifndef STRATA_TESTS_SLIDE_SLIDE_FORMATS_H_
#define STRATA_TESTS_SLIDE_SLIDE_FORMATS_H_

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "strata/slide.h"

namespace strata::test {

// RGBA bytes, rows top-down, not premultiplied.
using Rgba = std::vector<unsigned char>;

// Where a row's expected pixels come from.
enum class Reference {
  kOpenSlide,          // Debian's openslide_read_region on the same file
  kOpenSlideStandin,   // the colours the OpenSlide stand-in paints
  kWrittenPyramid,     // the fixture pattern the ZTX writer pyramids
  kWrittenDicom,       // the frames the DICOM writer stored
  kBridgePattern,      // the synthetic slide the bridge stand-ins serve
  kNone,               // no independent picture (see `regionCaveat`)
};

enum class Route { kDirect, kOpenSlideFallback, kOpenSlideStandin, kBridgeStandin };

struct SlideCase {
  std::string name;
  std::string (*make)();  // the location, made once per program
  Route route;
  std::string format;     // Facts().format
  std::string detected;   // DetectFormat by content ("" when content cannot tell)
  std::vector<std::string> vendorKeys;  // keys of the format's own reader
  std::vector<std::string> images;      // associated images, in order
  std::string iccProfile;
  Reference reference;
  // Mean absolute difference allowed against the reference: 0 is byte for
  // byte; JPEG tiles of the written pattern are only close to it.
  double tolerance = 0;
  // Why regions and tiles cannot be compared with the reference (kNone).
  const char* regionCaveat = nullptr;
  // False where the reader paints positions outside the slide (why).
  const char* paintsOutside = nullptr;
};

inline void PrintTo(const SlideCase& c, std::ostream* out) { *out << c.name; }

const std::vector<SlideCase>& SlideCases();

// Opens the row's slide on its route; fails the test when it does not open.
std::unique_ptr<Slide> OpenCase(const SlideCase& c);
// DetectFormat for the row, on its route.
std::string DetectCase(const SlideCase& c);

// The expected RGBA of a level-`level` window of w x h at level-0 (x, y);
// empty for Reference::kNone.
Rgba ExpectedRegion(const SlideCase& c, const Slide& slide, int level, std::int64_t x,
                    std::int64_t y, int w, int h);
// The expected RGB of an associated image; empty when only its presence is known.
Image ExpectedAssociatedImage(const SlideCase& c, const std::string& name);
// Debian's OpenSlide's levels and properties for kOpenSlide rows.
std::vector<SlideLevel> ReferenceLevels(const SlideCase& c);
std::map<std::string, std::string> ReferenceProperties(const SlideCase& c);

}  // namespace strata::test

#endif  // STRATA_TESTS_SLIDE_SLIDE_FORMATS_H_
