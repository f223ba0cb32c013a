// Helpers for tests of the HTTP client: a wait that cannot hang and a plain 200 response.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "net/http_client.h"

namespace gm::test {

// Waits for the transaction with a 15-second guard, so that a fault fails instead of hanging.
inline HttpWait Await(CHttpClient* c, bool follow = false) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  return WaitForTransaction(
      c, [&] { return std::chrono::steady_clock::now() > deadline; }, follow, 20);
}

// "HTTP/1.1 200 OK" with a Content-Length, the `extra` header lines (each ending in CR LF) and
// the body.
inline std::string Ok(std::string_view body, std::string_view extra = "") {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
         std::string(extra) + "\r\n" + std::string(body);
}

}  // namespace gm::test
