// Builds the page DOM from page text with gumbo (HTML5 tree construction: implied HTML, HEAD,
// BODY and TBODY elements as a browser builds them), keeping every text and comment node, and
// computes the styles of every element (css_style.h). The tree is the one a browser with
// scripts on builds (NOSCRIPT content is text), though page scripts do not run.
// Any thread; the new document belongs to the caller.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "page/dom.h"

namespace gm {

// Any input, however malformed, gives a document with HTML, HEAD and BODY (or FRAMESET).
// Deeply nested markup is handled without recursion. `should_stop` (may be empty) is asked
// about every 50 ms while a long page is built; when it says stop, the build ends within that
// time and the result is null.
std::unique_ptr<CDomDocument> ParseHtml(std::wstring_view text,
                                        const std::function<bool()>& should_stop = nullptr);
std::unique_ptr<CDomDocument> ParseHtmlUtf8(std::string_view utf8,
                                            const std::function<bool()>& should_stop = nullptr);
// Builds the tree into an empty document (for example the frame document of a live page).
void ParseHtmlInto(std::wstring_view text, CDomDocument* document);

}  // namespace gm
