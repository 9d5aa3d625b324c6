#include "strata/dicom/dicom_data_file.h"

bool CDicomDataFile::OpenFile(const char* path) {
  if (!StorePath(path)) return false;
  return Fail(false, strata::Status::Unsupported(
                         "DICOM slides are read through strata::Slide, not the C interface"));
}
