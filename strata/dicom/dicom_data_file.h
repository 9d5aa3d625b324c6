// DICOM slides in the class tree that the C exports drive. The C interface
// addresses a slide as one file read at scan scales; a DICOM slide is a
// series of files with a pyramid of its own, read through strata::Slide.
// Opening one through the C exports fails with that reason.
#ifndef STRATA_DICOM_DICOM_DATA_FILE_H_
#define STRATA_DICOM_DICOM_DATA_FILE_H_

#include "strata/model/data_file.h"

class CDicomDataFile : public CDataFile {
 public:
  bool OpenFile(const char* path) override;
};

#endif  // STRATA_DICOM_DICOM_DATA_FILE_H_
