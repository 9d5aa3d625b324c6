// Placeholder: region composition, lookup-table adjustment and channel output land here.
#include "strata/ztx/ztx_data_file.h"

int CZTXDataFile::ReadRegion(float, int, int, int, int, unsigned char** out, int&, bool) {
  if (out != nullptr) *out = nullptr;
  return 0;
}
int CZTXDataFile::ReadRegionMax(float, int, int, int, int, unsigned char** out, int&, bool) {
  if (out != nullptr) *out = nullptr;
  return 0;
}
bool CZTXDataFile::CanReadRegionMax(float, int, int, int, int) { return false; }
unsigned char* CZTXDataFile::ReadTileAdjusted(float, int, int, int& length, unsigned char**,
                                              float, float, float, float, float, float) {
  length = 0;
  return nullptr;
}
int CZTXDataFile::ReadRegionChannels(float, int, int, int, int, unsigned char** out, int&, bool,
                                     bool, bool, bool, bool, bool, bool) {
  if (out != nullptr) *out = nullptr;
  return 0;
}
unsigned char* CZTXDataFile::ReadTileChannels(float, int, int, int& length, unsigned char**,
                                              bool, bool, bool, bool, bool, bool) {
  length = 0;
  return nullptr;
}
unsigned char* CZTXDataFile::ReadTileAdjustedChannels(float, int, int, int& length,
                                                      unsigned char**, float, float, float,
                                                      float, float, float, bool, bool, bool,
                                                      bool, bool, bool) {
  length = 0;
  return nullptr;
}
