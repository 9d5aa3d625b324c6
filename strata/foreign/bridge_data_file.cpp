#include "strata/foreign/bridge_data_file.h"

CMOTICDataFile::~CMOTICDataFile() = default;

int CMOTICDataFile::LoadFile() { return -1; }

CDMETRIXDataFile::~CDMETRIXDataFile() = default;

int CDMETRIXDataFile::LoadFile() { return -1; }
