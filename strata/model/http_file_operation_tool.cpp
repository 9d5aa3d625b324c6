#include "strata/model/http_file_operation_tool.h"

#include <cstring>

// Placeholder until the libcurl transfer lands: URLs are remembered, reads fail.
CHTTPFileOperationTool::CHTTPFileOperationTool() { std::memset(urlBuffer_, 0, sizeof urlBuffer_); }

CHTTPFileOperationTool::~CHTTPFileOperationTool() = default;

bool CHTTPFileOperationTool::Open(const char* url) {
  if (url == nullptr) return false;
  std::string escaped;
  for (const char* p = url; *p != '\0'; ++p) {
    if (*p == ' ') {
      escaped += "%20";
    } else {
      escaped += *p;
    }
  }
  if (escaped.size() >= sizeof urlBuffer_) return false;
  urlText_ = escaped;
  std::memcpy(urlBuffer_, urlText_.c_str(), urlText_.size() + 1);
  return true;
}

bool CHTTPFileOperationTool::Close() { return true; }

bool CHTTPFileOperationTool::Read(std::uint64_t, int, ByteBuffer*) { return false; }
