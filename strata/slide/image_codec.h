// The library's image routines for the programs on top of it: JPEG and BMP
// coding, bilinear resizing and the buffers they hand out
// (strata/model/image_codec.h, pixel_ops.h and image_buffer.h).
#ifndef STRATA_SLIDE_IMAGE_CODEC_H_
#define STRATA_SLIDE_IMAGE_CODEC_H_

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/model/pixel_ops.h"

#endif  // STRATA_SLIDE_IMAGE_CODEC_H_
