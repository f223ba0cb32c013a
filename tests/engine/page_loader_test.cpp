// Page text as the page loader hands it to the page model: the error silencer leaves the
// document mode and the element paths of the page as they are.
#include "engine/page_loader.h"

#include <gtest/gtest.h>

#include "doc/text_codec.h"
#include "page/element_path.h"
#include "page/html_builder.h"

namespace gm {
namespace {

// The paths of every element that paths can name, in document order.
std::vector<std::wstring> ElementPaths(std::wstring_view text) {
  auto doc = ParseHtml(text);
  std::vector<std::wstring> out;
  for (const CDomNode* n = doc->DocumentElement(); n; n = NextInTree(n, doc->Root())) {
    if (n->IsElement() && !n->IsIgnorable()) out.push_back(BuildPath(n));
  }
  return out;
}

TEST(PageLoaderTest, ErrorSilencerKeepsTheDocumentModeAndPaths) {
  const wchar_t* tail =
      L"<html><head><title>t</title></head><body><p>Intro<table><tr><td>c"
      L"</td></tr></table></body></html>";
  const std::wstring pages[] = {
      std::wstring(L"<!DOCTYPE html>") + tail,
      std::wstring(L"\xFEFF  \r\n<!doctype html>\n") + tail,
      std::wstring(L"<!-- first --><!DOCTYPE html><!-- after -->") + tail,
      std::wstring(L"<!--><!---><!-- a --!><!DOCTYPE html>") + tail,
      std::wstring(L"<?xml version=\"1.0\"?>\n<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 "
                   L"Strict//EN\" \"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\">") +
          tail,
      tail,  // no doctype: quirks mode, which the silencer must keep too
      L"<p>Intro<table><tr><td>c</td></tr></table>",
      L"<!-- never closed <!DOCTYPE html><p>x",
      L"",
  };
  for (const std::wstring& page : pages) {
    std::wstring loaded = WithErrorSilencer(page);
    EXPECT_NE(loaded.find(L"window.onerror"), std::wstring::npos);
    EXPECT_EQ(ElementPaths(loaded), ElementPaths(page)) << ToUtf8(page);
  }
  // In standards mode a table closes the paragraph; in quirks mode it does not.
  std::vector<std::wstring> standard = ElementPaths(WithErrorSilencer(pages[0]));
  EXPECT_NE(std::find(standard.begin(), standard.end(), L"HTML@HEAD#BODY@P#TABLE"), standard.end());
  std::vector<std::wstring> quirks = ElementPaths(WithErrorSilencer(pages[5]));
  EXPECT_NE(std::find(quirks.begin(), quirks.end(), L"HTML@HEAD#BODY@P@TABLE"), quirks.end());
}

}  // namespace
}  // namespace gm
