#include "strata/foreign/bridge_data_header.h"

#include <cmath>
#include <cstdint>

namespace {

using strata::foreign::BridgeHeaderFacts;

// Whole milliseconds of the bridge's spend time; 0 when no int holds it.
int SpendMilliseconds(float spendTime) {
  if (!std::isfinite(spendTime) || spendTime <= -2147483648.0f || spendTime >= 2147483648.0f) {
    return 0;
  }
  return static_cast<int>(spendTime);
}

// Whole seconds of the bridge's scan time; 0 when no 64-bit integer holds it.
std::int64_t ScanSeconds(double scanTime) {
  if (!std::isfinite(scanTime) || std::fabs(scanTime) >= 9.2e18) return 0;
  return static_cast<std::int64_t>(scanTime);
}

void Fill(CZTXDataHeader1300& header, const BridgeHeaderFacts& facts) {
  header.SetSlideFacts(facts.height, facts.width, facts.scanScale, facts.captureResolution);
  header.SetSpendTime(SpendMilliseconds(facts.spendTime));
  header.SetScanTime(ScanSeconds(facts.scanTime));
  header.SetBlockSize(facts.blockSize);
}

}  // namespace

namespace strata::foreign {

bool PlausibleBridgeFacts(const BridgeHeaderFacts& facts, bool needBlockSize) {
  return facts.width > 0 && facts.height > 0 && facts.scanScale > 0 &&
         (!needBlockSize || facts.blockSize > 0);
}

}  // namespace strata::foreign

CMOTICDataHeader::CMOTICDataHeader(const BridgeHeaderFacts& facts) { Fill(*this, facts); }
CMOTICDataHeader::~CMOTICDataHeader() = default;
int CMOTICDataHeader::LoadRecord() { return 0; }
float CMOTICDataHeader::GetVersion() { return 0.0f; }

CDMETRIXDataHeader::CDMETRIXDataHeader(const BridgeHeaderFacts& facts) { Fill(*this, facts); }
CDMETRIXDataHeader::~CDMETRIXDataHeader() = default;
int CDMETRIXDataHeader::LoadRecord() { return 0; }
float CDMETRIXDataHeader::GetVersion() { return 0.0f; }
int CDMETRIXDataHeader::GetBlockSize() { return 256; }
