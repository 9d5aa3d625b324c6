// Placeholder: the ZTX reader lands here.
#include "strata/ztx/ztx_data_file.h"

CZTXDataFile::CZTXDataFile() = default;
CZTXDataFile::~CZTXDataFile() = default;
int CZTXDataFile::LoadFile() { return -1; }
int CZTXDataFile::LoadFileBlock(int, int, int, int, float) { return -1; }
CDataHeader* CZTXDataFile::GetHeader() { return nullptr; }
CLabelDataBlock* CZTXDataFile::GetLabelBlock() { return nullptr; }
CPreViewDataBlock* CZTXDataFile::GetPreviewBlock() { return nullptr; }
CDataBlock* CZTXDataFile::CreateTileBlock() { return nullptr; }
CThumDataBlock* CZTXDataFile::GetThumbBlock() { return nullptr; }
int CZTXDataFile::CloseFile() { return 0; }
unsigned char* CZTXDataFile::ReadTileStream(float, int, int, int& length, unsigned char**) {
  length = 0;
  return nullptr;
}
unsigned char* CZTXDataFile::ReadTilePixels(float, int, int, int&, int&, int&, unsigned char**) {
  return nullptr;
}
bool CZTXDataFile::ReadScanTimeDuration(int&, int&, int&, int&, int&, int&, int&, int&, int&) {
  return false;
}
int CZTXDataFile::ProbeVersion() { return -1; }
int CZTXDataFile::LoadTileIndex(ByteBuffer&) { return -1; }
const TileInfo* CZTXDataFile::FindTile(float, int, int) const { return nullptr; }
float CZTXDataFile::SelectSourceScale(float) { return 0.0f; }
bool CZTXDataFile::ComposeMissingLevelTile(float, int, int, int&, unsigned char**) { return false; }
int CZTXDataFile::ReadTileBytes(std::int64_t, std::int64_t, int, unsigned char**) { return 0; }
bool CZTXDataFile::ReadStoredTile(const TileInfo&, std::vector<unsigned char>&) { return false; }
bool CZTXDataFile::TilesAreBmp() { return false; }
