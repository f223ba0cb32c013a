// Scans arbitrary text as HTML: no crash, every node's span inside the text, and the attribute
// reader and path queries work on whatever tree comes out. Also the page-head charset look-up.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "doc/text_codec.h"
#include "net/html_scan.h"
#include "net/page_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::wstring text = gm::FromUtf8(bytes);
  gm::CHtmlScan scan;
  scan.ScanHtml(text);
  const wchar_t* begin = text.data();
  const wchar_t* end = text.data() + text.size();
  std::vector<gm::HtmlScanNode*> stack;
  if (scan.First()) stack.push_back(scan.First());
  size_t visited = 0;
  while (!stack.empty() && ++visited < 100000) {
    gm::HtmlScanNode* n = stack.back();
    stack.pop_back();
    if (n->begin < begin || n->end > end || n->begin > n->end) std::abort();
    if (n->IsElement()) {
      gm::CHtmlScan::TagAttribute(n, L"src");
      gm::CHtmlScan::TagAttribute(n, L"charset");
    }
    if (n->next) stack.push_back(n->next);
    if (n->first_child) stack.push_back(n->first_child);
  }
  scan.FindNode(L"html@head@meta#meta");
  gm::HeadCharset(bytes);
  return 0;
}
