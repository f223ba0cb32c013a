// innerHTML and outerHTML of DOM nodes, serialised as HTML5 serialises a fragment: lower-case
// tag names, attributes in document order with "&", U+00A0 and '"' escaped, text with "&",
// U+00A0, "<" and ">" escaped except inside raw-text elements (SCRIPT, STYLE, ...), no end tag
// for void elements. A browser snapshot of the same tree gives the same strings.
#pragma once

#include <string>

#include "page/dom.h"

namespace gm {

// Markup of the node's children; empty for a node that is not an element.
std::wstring InnerHtml(const CDomNode* node);
// Markup of the element itself; empty for a node that is not an element.
std::wstring OuterHtml(const CDomNode* node);

// Appends the serialisation of one node and its subtree (any kind) to *out.
void SerializeNode(const CDomNode* node, std::wstring* out);

}  // namespace gm
