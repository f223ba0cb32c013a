// NOSCRIPT content as a browser with scripts on reads it. gumbo builds a page as if scripts
// were off: the content of a NOSCRIPT element becomes elements, and a NOSCRIPT in HEAD holding
// an image opens BODY early. With scripts on, the content is raw text and HEAD stays open.
//
// The builder gets that tree from gumbo by rewriting the NOSCRIPT start and end tags of the
// UTF-8 text into tags that gumbo reads as raw text in the same place: "noframes" where the
// element opens in HEAD, "noembed " elsewhere. Both have the length of "noscript", so no offset
// moves; the builder names the rewritten elements NOSCRIPT again (by the offset of their start
// tag). Each rewrite follows the tree of the latest parse, so after a rewrite in HEAD (whose
// content may have changed what follows) the text is parsed again before the next one.
// Stateless; any thread.
#pragma once

#include <gumbo.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace gm {

// False when the text holds no "<noscript" at all (the common case: nothing to rewrite).
bool MayHoldNoscript(std::string_view utf8);

// Rewrites the NOSCRIPT elements that gumbo built from *utf8 (in `output`), in source order, up
// to and including the first one in HEAD. Adds the offsets of the rewritten start tags to
// *renamed (kept sorted). False when no NOSCRIPT element was left to rewrite.
bool RewriteNoscripts(const GumboOutput& output, std::string* utf8, std::vector<size_t>* renamed);

}  // namespace gm
