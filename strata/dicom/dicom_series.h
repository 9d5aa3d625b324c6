// Finding the files of a DICOM whole-slide series. A slide is one series
// (one SeriesInstanceUID) of instances: pyramid levels, label, overview and
// thumbnail, each a file of its own.
//
// - From a file: the file and every other file of its folder (not its
//   subfolders) that belongs to the same series.
// - From a folder: the series its files hold, which must be exactly one.
// - From an http:// URL: that instance alone. HTTP has no listing of an
//   object's neighbours that could be trusted to be the series, so nothing
//   is guessed; a URL opens a slide whose levels are in that one instance.
//
// Files that are no DICOM whole-slide instances, and files of other
// series, are passed over. An instance that names the series but cannot be
// read fails the whole search, naming the file: a slide with a damaged
// part is not shown as if it had none. Copies of one SOPInstanceUID count
// once.
#ifndef STRATA_DICOM_DICOM_SERIES_H_
#define STRATA_DICOM_DICOM_SERIES_H_

#include <memory>
#include <string>
#include <vector>

#include "strata/dicom/dicom_instance.h"
#include "strata/status.h"

namespace strata::dicom {

// The instances of the series at `location`, the given file's first, the
// others in the order of their file names.
Status FindSeries(const std::string& location, std::vector<std::unique_ptr<DicomInstance>>* series);

// True when the file (path or URL) starts like a DICOM file.
bool IsDicomFile(const std::string& location);

// True when the file's meta information names the whole-slide SOP class.
bool IsWholeSlideFile(const std::string& location);

// True when some file directly inside `folder` is a whole-slide instance.
bool FolderHoldsWholeSlideFiles(const std::string& folder);

}  // namespace strata::dicom

#endif  // STRATA_DICOM_DICOM_SERIES_H_
