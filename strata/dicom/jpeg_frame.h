// JPEG frames as DICOM stores them, made into streams any decoder reads
// right: the stream must start and end like one (a frame cut short or
// pointing elsewhere fails here, not as a grey tile later), and frames
// whose pixels are RGB but whose stream does not say so (no JFIF or Adobe
// marker, so decoders would take them for YCbCr) get an Adobe marker that
// says "no colour transform".
#ifndef STRATA_DICOM_JPEG_FRAME_H_
#define STRATA_DICOM_JPEG_FRAME_H_

#include <string>
#include <vector>

namespace strata::dicom {

// Empty when `stream` starts with a start-of-image marker and ends (after
// any zero padding, which is dropped) with an end-of-image marker;
// otherwise what is wrong.
std::string CheckJpegFrame(std::vector<unsigned char>& stream);

// Adds an Adobe marker (transform 0) after the start of image when the
// stream's markers before its first frame header include neither a JFIF
// nor an Adobe marker.
void MarkJpegAsRgb(std::vector<unsigned char>& stream);

}  // namespace strata::dicom

#endif  // STRATA_DICOM_JPEG_FRAME_H_
