// TMAP slides, served by the run-time loaded vendor SDK.
#ifndef STRATA_FOREIGN_UNICI_DATA_FILE_H_
#define STRATA_FOREIGN_UNICI_DATA_FILE_H_

#include "strata/model/data_file.h"

class CUNICIDataFile : public CDataFile {
 public:
  CUNICIDataFile() = default;
  ~CUNICIDataFile() override;

  // Format support is not available in this build: a full load fails. A block
  // load keeps the base behaviour (success, nothing loaded).
  int LoadFile() override;
};

#endif  // STRATA_FOREIGN_UNICI_DATA_FILE_H_
