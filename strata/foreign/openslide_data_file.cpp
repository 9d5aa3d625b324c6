#include "strata/foreign/openslide_data_file.h"

COpenSlideDataFile::~COpenSlideDataFile() = default;

int COpenSlideDataFile::LoadFile() { return -1; }
