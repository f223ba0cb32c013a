// Feeds arbitrary bytes to the response parser as a server would send them, split where the
// first byte says, then ends the connection: no crash, no leak, and the parser's promises hold
// (a complete response has its body followed by 4 zero bytes, a failed one has a code).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/http_response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t step = 1 + data[0] % 97;
  bool limit = data[1] & 1;
  const char* p = reinterpret_cast<const char*>(data + 2);
  size -= 2;
  gm::CHttpResponse r;
  if (limit) r.SetMaxBody(4096);
  r.Reset();
  for (size_t at = 0; at < size; at += step) {
    if (!r.Feed(p + at, std::min(step, size - at))) break;
  }
  r.Closed();
  if (r.complete() && r.error() == 0) {
    if (std::memcmp(r.Data() + r.Body().size(), "\0\0\0\0", 4) != 0) std::abort();
    if (limit && r.BodySize() > 4096) std::abort();
    r.Status();
    r.Header(L"Content-Type");
  } else if (r.error() == 0) {
    std::abort();  // after the close a response is either complete or failed
  }
  return 0;
}
