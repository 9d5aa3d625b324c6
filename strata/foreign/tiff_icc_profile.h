// The ICC colour profile a TIFF-family file carries (SVS, generic tiled
// TIFF, NDPI, BIF, ...): the TIFFTAG_ICCPROFILE bytes of its first
// directory, read with libtiff. Standalone, so that any reader of a
// TIFF-based format can ask for it.
//
// Safe on any file: libtiff's messages are kept quiet, its allocations are
// bounded, and a file that is no TIFF or cannot be read simply has no
// profile. May run on several threads at once.
#ifndef STRATA_FOREIGN_TIFF_ICC_PROFILE_H_
#define STRATA_FOREIGN_TIFF_ICC_PROFILE_H_

#include <string>

namespace strata::foreign {

// The profile's bytes; empty when the file has none (or is no readable
// TIFF, or the profile is larger than any real one: 16 MiB).
std::string ReadTiffIccProfile(const std::string& path);

}  // namespace strata::foreign

#endif  // STRATA_FOREIGN_TIFF_ICC_PROFILE_H_
