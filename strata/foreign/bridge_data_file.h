// MDS (MOTIC) and DMETRIX slides, served by run-time loaded bridge libraries
// that export functions under the names of this library's own exports.
#ifndef STRATA_FOREIGN_BRIDGE_DATA_FILE_H_
#define STRATA_FOREIGN_BRIDGE_DATA_FILE_H_

#include "strata/model/data_file.h"

class CMOTICDataFile : public CDataFile {
 public:
  CMOTICDataFile() = default;
  ~CMOTICDataFile() override;

  // Format support is not available in this build: a full load fails. A block
  // load keeps the base behaviour (success, nothing loaded).
  int LoadFile() override;
};

class CDMETRIXDataFile : public CDataFile {
 public:
  CDMETRIXDataFile() = default;
  ~CDMETRIXDataFile() override;

  // As for CMOTICDataFile.
  int LoadFile() override;
};

#endif  // STRATA_FOREIGN_BRIDGE_DATA_FILE_H_
