// HTTP responses (status lines, headers, short and over-long bodies) through
// the range reader and its libcurl callbacks, without a network: every
// connection is one end of a socket pair that already holds the response.
// The first four bytes choose the read's offset and length.
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>
#include <cstdint>
#include <cstring>

#include "strata/model/byte_buffer.h"
#include "strata/model/http_file_operation_tool.h"

namespace {

struct CannedResponse {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

CannedResponse response;

// A connected socket whose peer has written the response and hung up.
int OpenCannedConnection(void*) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return -1;
  fcntl(ends[1], F_SETFL, O_NONBLOCK);
  std::size_t sent = 0;
  while (sent < response.size) {
    const ssize_t put = write(ends[1], response.data + sent, response.size - sent);
    if (put <= 0) break;  // beyond the socket buffer: the rest is cut off
    sent += static_cast<std::size_t>(put);
  }
  close(ends[1]);
  return ends[0];
}

CHTTPFileOperationTool& Reader() {
  static CHTTPFileOperationTool* reader = [] {
    CHTTPFileOperationTool::SetConnectionOpenerForTesting(OpenCannedConnection, nullptr);
    auto* made = new CHTTPFileOperationTool();
    made->Open("http://127.0.0.1/slide.ztx");
    return made;
  }();
  return *reader;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4 || size > 16384) return 0;
  const std::uint64_t offset = static_cast<std::uint64_t>(data[0]) << 8 | data[1];
  const int length = (data[2] << 8 | data[3]) & 0x3FFF;
  response.data = data + 4;
  response.size = size - 4;
  ByteBuffer buffer;
  if (Reader().Read(offset, length, &buffer)) {
    volatile std::size_t filled = buffer.Filled();
    (void)filled;
  }
  return 0;
}
