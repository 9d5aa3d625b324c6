// The properties of a TIFF slide, key for key and number for number as the
// field's reference reader reports them for Aperio and generic TIFF files:
// "tiff.*" from the first directory, "aperio.*" from an Aperio
// description, and "openslide.*" (vendor, comment, objective power, pixel
// size, levels, quick hash).
#ifndef STRATA_TIFF_TIFF_PROPERTIES_H_
#define STRATA_TIFF_TIFF_PROPERTIES_H_

#include <map>
#include <string>
#include <vector>

#include "strata/model/file_operation_tool.h"
#include "strata/status.h"
#include "strata/tiff/tiff_directory.h"
#include "strata/tiff/tiff_layout.h"

namespace strata::tiff {

// The smallest level's stored tiles are hashed only up to this many bytes;
// a slide with more has no quick hash.
constexpr std::uint64_t kQuickHashTileLimit = 5u << 20;

// A number as the reference writes it: "%.17g" with a decimal point.
std::string ReferenceNumber(double value);

// The quick hash: SHA-256 of the smallest level's stored tiles (read
// through `reader`) and the first directory's text fields. Empty, with
// success, when those tiles exceed kQuickHashTileLimit.
Status ComputeQuickHash(CFileOperationTool& reader, const std::vector<TiffDirectory>& directories,
                        const TiffLayout& layout, std::string* hash);

// Every property; the quick hash is left out when `quickHash` is empty.
std::map<std::string, std::string> DescribeTiffProperties(
    const std::vector<TiffDirectory>& directories, const TiffLayout& layout,
    const std::string& quickHash);

}  // namespace strata::tiff

#endif  // STRATA_TIFF_TIFF_PROPERTIES_H_
