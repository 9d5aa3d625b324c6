// Slides read through the run-time loaded OpenSlide-compatible library:
// NDPI/VMS/VMU, SVS/TIF, MRXS and BIF. The subclasses differ only in how they
// find associated images and shift region reads.
#ifndef STRATA_FOREIGN_OPENSLIDE_DATA_FILE_H_
#define STRATA_FOREIGN_OPENSLIDE_DATA_FILE_H_

#include "strata/model/data_file.h"

class COpenSlideDataFile : public CDataFile {
 public:
  COpenSlideDataFile() = default;
  ~COpenSlideDataFile() override;

  // Format support is not available in this build: a full load fails. A block
  // load keeps the base behaviour (success, nothing loaded).
  int LoadFile() override;
};

class CNDPIDataFile : public COpenSlideDataFile {};
class CSVSDataFile : public COpenSlideDataFile {};
class CMIRAXDataFile : public COpenSlideDataFile {};
class CBIFDataFile : public COpenSlideDataFile {};

#endif  // STRATA_FOREIGN_OPENSLIDE_DATA_FILE_H_
