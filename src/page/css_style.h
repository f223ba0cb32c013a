// Computed styles for pages built from text: the small CSS subset that hidden-text filtering
// and text rendering need. Sources, lowest priority first: the engine's defaults per tag,
// presentational attributes (FONT color, BODY text, bgcolor, hidden), the page's <style> elements
// with simple selectors (type, class, id, attribute, descendant and child combinators, comma lists)
// by specificity and order, inline style attributes, and !important declarations. The
// properties are display, visibility, font-size, color, background-color and white-space;
// color, font-size, visibility and white-space are inherited. Colours given as rgb()/rgba() are
// reported as "#rrggbb" (or "transparent" when fully transparent), the form the filter reads.
#pragma once

#include <string>
#include <string_view>

#include "page/dom.h"
#include "page/stop_poll.h"

namespace gm {

// Fills CComputedStyle of every element of the document. With `stop` (may be null), polls it
// every few thousand elements and ends early, styles unfinished, when it says stop.
void ComputeStyles(CDomDocument* document, CStopPoll* stop = nullptr);

// Computed values as a browser reports them (for example getComputedStyle in a snapshot of a
// live page): "block", "visible", "16px", "rgb(0, 0, 0)", "rgba(0, 0, 0, 0)", "normal".
struct CStyleStrings {
  std::wstring_view display;
  std::wstring_view visibility;
  std::wstring_view font_size;
  std::wstring_view color;
  std::wstring_view background_color;
  std::wstring_view white_space;
};
// Sets an element's computed style from such values; colours are stored in the form the
// hidden-text filter reads (NormalizeColor).
void SetComputedStyle(CDomNode* element, const CStyleStrings& values);

// The display kind that text rendering uses for a CSS display value.
DisplayKind DisplayKindOf(std::wstring_view display);

// A colour value in the form the filter reads: lower case, rgb()/rgba() as "#rrggbb" or
// "transparent"; other values unchanged apart from letter case and surrounding white space.
std::wstring NormalizeColor(std::wstring_view value);

}  // namespace gm
