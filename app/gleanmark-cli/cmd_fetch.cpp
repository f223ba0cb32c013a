// gleanmark-cli fetch URL [-i] [--post BODY] [--referer URL] [--user-agent UA]
// One transaction of the HTTP client, redirections followed as a crawl follows them; the body
// decoded to UTF-8 on standard output, with -i the status line and headers first.
#include <cstdio>
#include <string>

#include "cli.h"
#include "doc/text_codec.h"
#include "net/http_client.h"
#include "net/page_text.h"

namespace gm::cli {

int CmdFetch(const Args& input) {
  Args args = input;
  bool missing = false;
  bool show_header = TakeFlag(&args, "-i");
  auto post = TakeOption(&args, "--post", &missing);
  auto referer = TakeOption(&args, "--referer", &missing);
  auto agent = TakeOption(&args, "--user-agent", &missing);
  if (missing) return Fail("fetch: an option is missing its value");
  if (args.size() != 1 || (!args[0].empty() && args[0][0] == '-' && args[0] != "-")) {
    return Fail("usage: fetch URL [-i] [--post BODY] [--referer URL] [--user-agent UA]");
  }
  std::wstring url = FromUtf8(args[0]);
  CHttpClient client;
  client.SetTimeout(60000);
  if (agent) client.SetUserAgent(FromUtf8(*agent));
  std::wstring ref = referer ? FromUtf8(*referer) : std::wstring();
  if (post) {
    client.Post(url, ref, FromUtf8(*post));
  } else {
    client.Get(url, ref);
  }
  HttpWait result = WaitForTransaction(&client, nullptr, true);
  if (result != HttpWait::kReady) {
    int32_t code = client.Error();
    return Fail("fetch: error " + std::to_string(code) + " (" + HttpErrorText(code) + ")");
  }
  if (show_header && client.Scheme() != L"file") {
    // The header as received: each character stands for one byte.
    std::string bytes;
    for (wchar_t c : client.ResponseHeader()) bytes += static_cast<char>(c & 0xFF);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  }
  std::string body = ToUtf8(DecodeBody(client));
  std::fwrite(body.data(), 1, body.size(), stdout);
  std::fflush(stdout);
  return 0;
}

}  // namespace gm::cli
