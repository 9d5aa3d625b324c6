#include "strata/foreign/unici_data_file.h"

CUNICIDataFile::~CUNICIDataFile() = default;

int CUNICIDataFile::LoadFile() { return -1; }
