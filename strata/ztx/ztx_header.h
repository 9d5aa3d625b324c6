// The fixed 96-byte header of a ZTX file and, from version 1.2 on, its list of
// numbered property items. One class per header layout:
//   CZTXDataHeader      1.0
//   CZTXDataHeader1100  1.1
//   CZTXDataHeader1200  1.2
//   CZTXDataHeader1300  1.3 to 2.0
// Each class appends its virtual operations after its base's. Field positions
// come from the layout table of ztx_format.h.
#ifndef STRATA_ZTX_ZTX_HEADER_H_
#define STRATA_ZTX_ZTX_HEADER_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "strata/model/base_data.h"
#include "strata/ztx/ztx_data_item.h"
#include "strata/ztx/ztx_format.h"

// Version 1.0: no thumbnail, 256-pixel tiles, no property items.
class CZTXDataHeader : public CDataHeader {
 public:
  CZTXDataHeader() = default;
  ~CZTXDataHeader() override;

  // Reads 1024 bytes at offset 0 and decodes the header; 0 or -1 (short
  // file, wrong marker or magic, version above the class's own).
  int LoadRecord() override;

  int GetWidth() override;
  int GetHeight() override;
  int GetScanScale() override;
  int GetSpendTime() override;
  std::int64_t GetScanTime() override;
  float GetCaptureResolution() override;
  float GetVersion() override;
  int GetBlockSize() override;
  // First four value bytes, little-endian; bytes a short value lacks count as 0.
  int GetIntItem(int identifier) override;
  // Never null.
  const char* GetTextItem(int identifier) override;

  // The first item with this identifier, or null. Owned by the header.
  virtual CZTXDataItem* FindItem(int identifier);

  virtual int GetTileCount();
  virtual void SetTileCount(int count);
  virtual int GetPreviewPos();
  virtual int GetLabelPos();
  virtual std::int64_t GetIndexOffset();
  // Copy the in-memory text (without terminator) to dst; false when the
  // version has no such text or it was never set. dst must be large enough.
  virtual bool GetExtraTextA(char* dst);
  virtual bool GetExtraTextB(char* dst);
  virtual void SetExtraTextA(const char* text);
  virtual void SetExtraTextB(const char* text);
  virtual int GetLabelOffset();
  virtual int GetPreviewOffset();
  virtual std::int64_t GetThumbnailOffset();
  // The 8 tag bytes as stored (not necessarily terminated within them; the
  // object keeps a ninth zero byte).
  virtual const char* GetImageFormat();
  virtual std::uint32_t GetScanDuration();
  virtual float GetFloatItem(int identifier);

  // The header owns its items, in file order.
  void AppendItem(std::unique_ptr<CZTXDataItem> item) { items_.push_back(std::move(item)); }
  const std::vector<std::unique_ptr<CZTXDataItem>>& Items() const { return items_; }

  // For headers filled from elsewhere than a file (the bridge formats).
  void SetSlideFacts(int height, int width, int scanScale, float captureResolution);

 protected:
  // Reads the first 1024 bytes and takes marker, magic and version. A 1.3+
  // class also accepts the long magic "ZTXL\0". False on any failure.
  bool TakeIdentity(ByteBuffer& buffer, bool acceptLongMagic);
  // The fields every layout shares: tile count, height, width, scan scale,
  // image format.
  bool TakeCommonFields(ByteBuffer& buffer);
  // The layout's own fields, at the offsets of its table row.
  bool TakeLayoutFields(ByteBuffer& buffer, strata::ztx::HeaderLayout layout);
  // The second read: the property area between offset 96 and previewOffset.
  int LoadPropertyArea();

  std::uint32_t marker_ = 0;
  unsigned char magic_[8] = {};
  float version_ = 0.0f;
  std::int32_t tileCount_ = 0;
  std::int32_t height_ = 0;
  std::int32_t width_ = 0;
  std::int32_t scanScale_ = 0;
  char imageFormat_[9] = {};
  std::uint32_t spendTime_ = 0;
  std::int64_t scanTime_ = 0;
  std::int32_t previewOffset_ = 0;
  std::int32_t labelOffset_ = 0;
  std::int64_t thumbnailOffset_ = 0;
  std::int64_t indexOffset_ = 0;
  float captureResolution_ = 0.0f;
  std::int32_t blockSize_ = 0;
  std::vector<std::unique_ptr<CZTXDataItem>> items_;

 private:
  // The value bytes of an item padded to four, or false without an item.
  bool ItemWord(int identifier, unsigned char word[4]);
};

// Version 1.1: thumbnail section and block size; bytes 40-51 carry nothing
// the library uses.
class CZTXDataHeader1100 : public CZTXDataHeader {
 public:
  CZTXDataHeader1100() = default;
  ~CZTXDataHeader1100() override;

  int LoadRecord() override;
  std::int64_t GetScanTime() override;
  int GetBlockSize() override;
  std::int64_t GetThumbnailOffset() override;

  virtual std::int64_t GetThumbnailPos();
  virtual void SetBlockSize(int size);
};

// Version 1.2: spend time, 64-bit scan time, property items and two extra
// in-memory texts.
class CZTXDataHeader1200 : public CZTXDataHeader1100 {
 public:
  CZTXDataHeader1200() = default;
  ~CZTXDataHeader1200() override;

  int LoadRecord() override;
  int GetSpendTime() override;
  std::int64_t GetScanTime() override;
  bool GetExtraTextA(char* dst) override;
  bool GetExtraTextB(char* dst) override;
  void SetExtraTextA(const char* text) override;
  void SetExtraTextB(const char* text) override;
  std::uint32_t GetScanDuration() override;

  virtual void SetScanTime(std::int64_t seconds);
  virtual void SetSpendTime(int milliseconds);

 private:
  static bool CopyText(const std::unique_ptr<char[]>& text, char* dst);
  static void StoreText(std::unique_ptr<char[]>& text, const char* value);

  std::unique_ptr<char[]> extraTextA_;
  std::unique_ptr<char[]> extraTextB_;
};

// Versions 1.3 to 2.0: 64-bit thumbnail and index positions; the magic may
// be "ZTXL\0".
class CZTXDataHeader1300 : public CZTXDataHeader1200 {
 public:
  CZTXDataHeader1300() = default;
  ~CZTXDataHeader1300() override;

  int LoadRecord() override;
};

#endif  // STRATA_ZTX_ZTX_HEADER_H_
