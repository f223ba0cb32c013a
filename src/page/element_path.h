// Element paths: strings of node names joined by "@" (first child) and "#" (next sibling) that
// name an element from the document element (absolute) or from a start element (relative,
// beginning with "@" or "#"). Ignorable nodes (SCRIPT, STYLE, #comment, #text) are skipped by
// name steps and never written. Paths stored in task files depend on the exact rules here.
//
// Also: location by marker text (a regular expression searched in the page's text) and the
// path arithmetic that turns the element showing the marker into the target element.
//
// Pure functions over a page model; called on the thread that owns the model.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "page/dom.h"
#include "page/page_model.h"

namespace gm {

class CAutoClick;
class CLocation;

// Follows `path` from `start`. A FRAME/IFRAME followed by "@" enters the frame's document:
// through the model's frame map when its frames are stored, through the snapshot's frame
// documents when they are live (where two separators in a row find nothing). Null when the
// path does not match the tree exactly (apart from ignorable nodes) or start is null.
const CDomNode* ResolvePath(const CPageModel& model, const CDomNode* start, std::wstring_view path);

// The absolute path of a node. Inside a frame document of a live page the path goes through
// the hosting FRAME/IFRAME element; for pages built from text it starts at the frame
// document's own "HTML".
std::wstring BuildPath(const CDomNode* node);

// Step-aligned common prefix and suffix of two paths, and the middle part that one has beyond
// the other (see the definition in element_path.cpp).
struct CPathSplit {
  std::wstring prefix;
  std::wstring middle;
  std::wstring suffix;
};
CPathSplit SplitPaths(std::wstring_view x, std::wstring_view y);

// The text of sub-match `index` of the first match of `pattern` (Perl syntax) in the element
// text of the page's BODY; nothing when the pattern is empty or invalid, nothing matches, or
// the index is outside 0..number of groups. A group that took no part gives "".
std::optional<std::wstring> MarkerText(const CPageModel& model, std::wstring_view pattern,
                                       int index);

// The editor's test of a marker: how many times `pattern` matches in the BODY's element text
// (0 when `index` is beyond the expression's groups or the pattern does not compile), and, for
// exactly one match, the element showing the selected sub-match (null when none shows it).
struct CMarkerTest {
  int matches = 0;
  std::wstring text;
  const CDomNode* element = nullptr;
};
CMarkerTest TestMarker(const CPageModel& model, std::wstring_view pattern, int index);

// What the editor stores for marker location: the marker element's and the target's paths
// without their common step-aligned prefix.
struct CMarkerFragments {
  std::wstring marker;  // data "locpath", autoclk "objpath"
  std::wstring target;  // "relpath"
};
CMarkerFragments MarkerFragments(const CDomNode* marker, const CDomNode* target);

// The element of a top-level location: by its path, or, when the first item of its deepest
// first-child level uses marker location, predicted from the element that shows the marker.
const CDomNode* AnchorLocation(const CPageModel& model, const CDomNode* start,
                               const CLocation& location);

enum class ClickCut {
  kByLength,  // the marker element's path without the last length(objpath) characters
  kBySplit,   // the middle part of SplitPaths(marker path, objpath)
};
// The element an auto-click target names, from the document element of the page.
const CDomNode* LocateClickTarget(const CPageModel& model, const CAutoClick& click, ClickCut cut);

}  // namespace gm
