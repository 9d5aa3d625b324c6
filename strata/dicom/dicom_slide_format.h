// A DICOM whole-slide series behind the slide façade: its VOLUME images as
// the levels (largest first), its LABEL, OVERVIEW and THUMBNAIL images as
// "label", "macro" and "thumbnail" (one in a transfer syntax this reader
// does not read is left out; a level in one fails the open, naming it), the
// ICC profile of the level-0 optical path, "dicom.*" properties from the
// level-0 instance, and frames as stored: JPEG frames pass through whole,
// uncompressed frames as pixels.
// Cells of a sparse level without a frame read as missing (transparent in
// regions); a frame that cannot be read fails the tile or region that
// needs it.
//
// Opens a series from one of its files, from its folder, or (one instance
// alone) from an http:// URL: see dicom_series.h.
#ifndef STRATA_DICOM_DICOM_SLIDE_FORMAT_H_
#define STRATA_DICOM_DICOM_SLIDE_FORMAT_H_

#include <memory>
#include <string>

#include "strata/model/slide_format.h"
#include "strata/status.h"

namespace strata::dicom {

Status OpenDicomSlide(const std::string& location, std::unique_ptr<SlideFormat>* format);

}  // namespace strata::dicom

#endif  // STRATA_DICOM_DICOM_SLIDE_FORMAT_H_
