// RGB pixels to PNG bytes in memory (libpng's simplified interface), for the
// command line's region output and for the viewer server's PNG regions.
#ifndef STRATA_TOOLS_PNG_ENCODING_H_
#define STRATA_TOOLS_PNG_ENCODING_H_

#include <string>

namespace strata::tools {

// Encodes `height` rows of `width` RGB pixels (no padding) into *out. False
// on failure, with the reason in *error when it is given.
bool EncodePngBytes(const unsigned char* rgb, int width, int height, std::string* out,
                    std::string* error = nullptr);

}  // namespace strata::tools

#endif  // STRATA_TOOLS_PNG_ENCODING_H_
