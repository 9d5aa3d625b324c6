// Byte-range reader over HTTP: every read is one GET with a Range header.
#ifndef STRATA_MODEL_HTTP_FILE_OPERATION_TOOL_H_
#define STRATA_MODEL_HTTP_FILE_OPERATION_TOOL_H_

#include <string>

#include "strata/model/file_operation_tool.h"

class CHTTPFileOperationTool : public CFileOperationTool {
 public:
  CHTTPFileOperationTool();
  ~CHTTPFileOperationTool() override;

  bool Read(std::uint64_t offset, int length, ByteBuffer* buffer) override;
  bool Open(const char* url) override;
  bool Close() override;

  // The URL every transfer uses, after space escaping.
  const char* Url() const { return urlBuffer_; }

 private:
  std::string urlText_;
  char urlBuffer_[4096];
};

#endif  // STRATA_MODEL_HTTP_FILE_OPERATION_TOOL_H_
