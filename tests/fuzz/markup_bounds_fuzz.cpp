// Bounds arbitrary text as markup and parses the result: no crash, nothing added, and a text
// within the bounds comes back as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "page/html_builder.h"
#include "page/markup_bounds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string storage;
  std::string_view bounded = gm::BoundMarkup(text, &storage);
  if (bounded.size() > text.size()) std::abort();
  if (bounded.data() != text.data() && bounded.size() == text.size()) std::abort();
  gm::ParseHtmlUtf8(bounded);
  return 0;
}
