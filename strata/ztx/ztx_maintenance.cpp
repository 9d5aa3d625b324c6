// Placeholder: in-place label replacement and index compression land here.
#include "strata/interface/image_operation_manager.h"

bool CImageOperationManager::ChangeLabelInfo(const char*, const char*) { return false; }
bool CImageOperationManager::CompressBlockDataInfo(const char*) { return false; }
bool CImageOperationManager::UnCompressBlockDataInfo(const char*) { return false; }
