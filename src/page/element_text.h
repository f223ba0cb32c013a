// Element text: the text an element shows, rendered as a browser's innerText renders it
// (block boundaries and BR make line breaks, white space collapses by the white-space
// property, display:none content is left out, table cells are separated by tabs and rows by
// line breaks), with the optional hidden-text filter.
//
// Pure functions over a document; called on the thread that owns it.
#pragma once

#include <string>
#include <vector>

#include "page/dom.h"

namespace gm {

// The rendered text of an element and, for each character, the text node it came from (null
// for line breaks and tabs that the layout adds).
struct CRenderedText {
  std::wstring text;
  std::vector<const CDomNode*> sources;
};

// innerText of an element. An element that is not rendered (display:none on it or above it)
// gives its text content instead, as browsers do. Empty for a node that is not an element.
std::wstring InnerText(const CDomNode* element);
void RenderText(const CDomNode* element, CRenderedText* out);

// True when the hidden-text filter drops the element, judged by its own computed style only:
// display "none", a font size that begins with '0', or a colour equal to the background colour
// (ParseColor).
bool IsFilteredHiddenText(const CDomNode* element);

// The element's text: empty when filtering is on and the element counts as hidden, otherwise
// InnerText.
std::wstring ElementText(const CDomNode* element, bool filter_hidden_text);

// Text nodes below the node, concatenated.
std::wstring TextContent(const CDomNode* node);

}  // namespace gm
