// A slide of the class tree behind the slide façade, for formats whose
// outside library answers only scale-addressed calls (the bridges and the
// TMAP SDK): levels halve from the scan scale down to one tile, tiles are
// the library's streams at a level's scale, regions at any scale are the
// library's own, associated images its label, preview and thumbnail.
// The outside libraries expect one call at a time, so calls are serialised.
#ifndef STRATA_MODEL_DATA_FILE_SLIDE_FORMAT_H_
#define STRATA_MODEL_DATA_FILE_SLIDE_FORMAT_H_

#include <memory>
#include <string>

#include "strata/model/data_file.h"
#include "strata/model/slide_format.h"
#include "strata/status.h"

namespace strata {

// Opens and loads `slide` at `path` and describes it as format `name`.
Status OpenDataFileSlide(std::unique_ptr<CDataFile> slide, const std::string& path,
                         const std::string& name, std::unique_ptr<SlideFormat>* format);

}  // namespace strata

#endif  // STRATA_MODEL_DATA_FILE_SLIDE_FORMAT_H_
