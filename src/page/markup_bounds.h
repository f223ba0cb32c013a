// Bounds on what page text may ask of the HTML parser, applied before it: at most
// kMaxAttributes attributes per start tag (the rest are left out) and at most kMaxDepth open
// elements (deeper start tags are left out, so their content joins the deepest allowed
// element, as browsers cap the depth of their trees). Ordinary pages pass unchanged; pages
// built to make the parser's work grow faster than their size are cut down to linear work.
// Pure function; any thread.
#pragma once

#include <string>
#include <string_view>

#include "page/stop_poll.h"

namespace gm {

constexpr size_t kMaxAttributes = 1000;
constexpr size_t kMaxDepth = 512;

// The text to parse: `utf8` itself when it is within the bounds, else a bounded copy made in
// *storage. With `stop` (may be null), the scan polls it every few thousand tags and ends
// early when it says stop; the result is then not to be used.
std::string_view BoundMarkup(std::string_view utf8, std::string* storage,
                             CStopPoll* stop = nullptr);

}  // namespace gm
