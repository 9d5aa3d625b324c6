// A slide read through OpenSlide behind the slide façade, presented as
// OpenSlide presents it: its levels, dimensions and coordinates unshifted,
// every property OpenSlide reports, its associated images by OpenSlide's
// names, and regions as OpenSlide paints them. Unlike the class-tree
// adapters it opens slides without an objective power (a plain tiled TIFF).
#ifndef STRATA_FOREIGN_OPENSLIDE_SLIDE_FORMAT_H_
#define STRATA_FOREIGN_OPENSLIDE_SLIDE_FORMAT_H_

#include <memory>
#include <string>

#include "strata/model/slide_format.h"
#include "strata/status.h"

namespace strata::foreign {

Status OpenOpenSlideSlide(const std::string& path, std::unique_ptr<SlideFormat>* format);

// The vendor OpenSlide sees in the file ("aperio", "generic-tiff", ...);
// "" when it sees none or the library is missing.
std::string OpenSlideVendorOf(const std::string& path);

}  // namespace strata::foreign

#endif  // STRATA_FOREIGN_OPENSLIDE_SLIDE_FORMAT_H_
