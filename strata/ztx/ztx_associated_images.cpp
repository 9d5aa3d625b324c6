// Placeholder: label, preview and thumbnail access lands here.
#include "strata/ztx/ztx_data_file.h"

bool CZTXDataFile::GetThumbnailFromPath(const char*, unsigned char**, int&, int&, int&) {
  return false;
}
int CZTXDataFile::GetThumbnail(unsigned char**, int&, int&, int&) { return 0; }
bool CZTXDataFile::GetLabelFromPath(const char*, unsigned char**, int&, int&, int&) {
  return false;
}
bool CZTXDataFile::GetLabel(unsigned char**, int&, int&, int&) { return false; }
bool CZTXDataFile::GetPreviewFromPath(const char*, unsigned char**, int&, int&, int&) {
  return false;
}
bool CZTXDataFile::GetPreview(unsigned char**, int&, int&, int&) { return false; }
bool CZTXDataFile::GetThumbnailOnlyFromPath(const char*, unsigned char**, int&, int&, int&) {
  return false;
}
bool CZTXDataFile::ReadSectionBytes(std::int64_t, std::int64_t, int, unsigned char**) {
  return false;
}
