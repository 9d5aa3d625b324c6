// A ZTX slide behind the slide façade: its stored pyramid (the levels its
// tile index holds), its header facts and property items as properties,
// tiles as stored (JPEG or BMP streams), regions composed as the C exports
// compose them, and its label, preview ("macro") and thumbnail.
#ifndef STRATA_ZTX_ZTX_SLIDE_FORMAT_H_
#define STRATA_ZTX_ZTX_SLIDE_FORMAT_H_

#include <memory>
#include <string>

#include "strata/model/slide_format.h"
#include "strata/status.h"

namespace strata::ztx {

// Opens and loads the ZTX slide at `location` (path or URL).
Status OpenZtxSlide(const std::string& location, std::unique_ptr<SlideFormat>* format);

}  // namespace strata::ztx

#endif  // STRATA_ZTX_ZTX_SLIDE_FORMAT_H_
