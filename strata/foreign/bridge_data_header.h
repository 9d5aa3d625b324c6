// Headers of bridge slides: ZTX 1.3 header objects whose values come from the
// bridge's "GetHeaderInfoFunc" instead of a file. They hold no property
// items, read nothing and report version 0.0.
#ifndef STRATA_FOREIGN_BRIDGE_DATA_HEADER_H_
#define STRATA_FOREIGN_BRIDGE_DATA_HEADER_H_

#include "strata/foreign/bridge_library.h"
#include "strata/ztx/ztx_header.h"

namespace strata::foreign {

// True when the facts describe a slide: positive width, height and scan
// scale, and (when `needBlockSize`) a positive block size.
bool PlausibleBridgeFacts(const BridgeHeaderFacts& facts, bool needBlockSize);

}  // namespace strata::foreign

// MDS: the bridge's block size.
class CMOTICDataHeader : public CZTXDataHeader1300 {
 public:
  explicit CMOTICDataHeader(const strata::foreign::BridgeHeaderFacts& facts);
  ~CMOTICDataHeader() override;

  int LoadRecord() override;
  float GetVersion() override;
};

// DMETRIX: tiles are always 256 pixels square.
class CDMETRIXDataHeader : public CZTXDataHeader1300 {
 public:
  explicit CDMETRIXDataHeader(const strata::foreign::BridgeHeaderFacts& facts);
  ~CDMETRIXDataHeader() override;

  int LoadRecord() override;
  float GetVersion() override;
  int GetBlockSize() override;
};

#endif  // STRATA_FOREIGN_BRIDGE_DATA_HEADER_H_
