// What a DICOM slide says about itself, read from the data set of its
// level-0 instance: properties named after DICOM keywords, and the facts
// the façade reports (microns per pixel, objective power, scan time).
#ifndef STRATA_DICOM_DICOM_PROPERTIES_H_
#define STRATA_DICOM_DICOM_PROPERTIES_H_

#include <cstdint>
#include <map>
#include <string>

#include "strata/dicom/dicom_dataset.h"

namespace strata::dicom {

// Properties a slide reports at most, so that a data set with huge
// sequences cannot flood the map.
constexpr std::size_t kMaxProperties = 10000;

// Adds "dicom.<Keyword>" for every attribute the dictionary names that
// holds text or numbers: "dicom.Keyword[i]" for each of several values, and
// "dicom.Sequence[i].Keyword" inside sequence items. Binary values (the ICC
// profile, offset tables) are left out; text is converted to UTF-8 from the
// data set's character set (UTF-8 if it says ISO_IR 192, else Latin-1).
void AddDicomProperties(const DataSet& data, std::map<std::string, std::string>* properties);

// Microns per pixel from PixelSpacing (row, column spacing in mm) of the
// shared functional groups, else from the imaged volume's size over the
// pixel matrix; false when neither gives a positive value.
bool MicronsPerPixel(const DataSet& data, std::int64_t width, std::int64_t height, double* x,
                     double* y);

// ObjectiveLensPower of the first optical path; 0 when absent.
double ObjectivePower(const DataSet& data);

// AcquisitionDateTime (else AcquisitionDate and AcquisitionTime) as seconds
// since 1970 UTC, applying its offset or TimezoneOffsetFromUTC (UTC when
// neither is given); false when absent or not a date.
bool AcquisitionTime(const DataSet& data, std::int64_t* seconds);

}  // namespace strata::dicom

#endif  // STRATA_DICOM_DICOM_PROPERTIES_H_
