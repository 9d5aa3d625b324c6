// The property item identifiers behind the header facts the C interface
// reports. Every format answers them through its header's item operations
// (GetIntItem, GetTextItem); CDataHeader's named facts ask for them.
#ifndef STRATA_MODEL_HEADER_ITEMS_H_
#define STRATA_MODEL_HEADER_ITEMS_H_

namespace strata {

constexpr int kMachineSerialItem = 29;
constexpr int kScanLevelSecondItem = 31;
constexpr int kScanLevelFirstItem = 32;
constexpr int kChannelCountItem = 40;
// Channel identifier texts: six items from 49 on.
constexpr int kFirstChannelIdentifierItem = 49;
constexpr int kChannelIdentifierItems = 6;

}  // namespace strata

#endif  // STRATA_MODEL_HEADER_ITEMS_H_
