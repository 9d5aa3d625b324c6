#include "strata/model/file_operation_tool.h"

CFileOperationTool::~CFileOperationTool() = default;

bool CFileOperationTool::Read(std::uint64_t, int, ByteBuffer*) { return false; }
bool CFileOperationTool::Open(const char*) { return true; }
bool CFileOperationTool::Close() { return true; }
std::int64_t CFileOperationTool::Size() { return -1; }
