// Reading a picture file (PNG or JPEG) into RGB pixels for `strata convert`.
#ifndef STRATA_TOOLS_IMAGE_INPUT_H_
#define STRATA_TOOLS_IMAGE_INPUT_H_

#include <string>
#include <vector>

namespace strata::tools {

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;  // width * height * 3, rows top-down
};

// Reads a PNG (any colour type; transparency is composed onto white) or a
// JPEG, chosen by the file's first bytes. False with *error on failure.
bool ReadPictureFile(const std::string& path, RgbImage* image, std::string* error);

}  // namespace strata::tools

#endif  // STRATA_TOOLS_IMAGE_INPUT_H_
