#include "strata/model/file_operation_tool.h"

#include <cstring>
#include <new>

#include "strata/model/http_file_operation_tool.h"
#include "strata/model/local_file_operation_tool.h"

CFileOperationTool::~CFileOperationTool() = default;

bool CFileOperationTool::Read(std::uint64_t, int, ByteBuffer*) { return false; }
bool CFileOperationTool::Open(const char*) { return true; }
bool CFileOperationTool::Close() { return true; }
std::int64_t CFileOperationTool::Size() { return -1; }

void CFileOperationTool::EnterLock() { lock_.Enter(); }
void CFileOperationTool::LeaveLock() { lock_.Leave(); }
void CFileOperationTool::DeleteLock() {}

CFileOperationTool* CreateFileOperationTool(const char* path) {
  if (path == nullptr) return nullptr;
  if (std::strstr(path, "http://") != nullptr) {
    return new (std::nothrow) CHTTPFileOperationTool();
  }
  return new (std::nothrow) CLocalFileOperationTool();
}
