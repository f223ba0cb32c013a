#include "page/noscript_text.h"

#include <algorithm>
#include <cstring>

namespace gm {
namespace {

constexpr char kNoscript[] = "noscript";
constexpr size_t kNameLength = 8;
static_assert(sizeof("noframes") - 1 == kNameLength && sizeof("noembed ") - 1 == kNameLength);

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// True when the bytes at `at` spell "noscript" in any letter case.
bool IsNoscriptName(std::string_view text, size_t at) {
  if (at + kNameLength > text.size()) return false;
  for (size_t i = 0; i < kNameLength; ++i) {
    if (LowerAscii(text[at + i]) != kNoscript[i]) return false;
  }
  return true;
}

// The offset of the "</noscript" that ends raw text begun at `from` (a tag name ends at white
// space, "/" or ">"), or npos.
size_t FindEndTag(std::string_view text, size_t from) {
  for (size_t at = text.find("</", from); at != std::string_view::npos;
       at = text.find("</", at + 2)) {
    size_t after = at + 2 + kNameLength;
    if (after < text.size() && IsNoscriptName(text, at + 2) &&
        std::strchr("\t\n\f\r />", text[after]) && text[after] != '\0') {
      return at;
    }
  }
  return std::string_view::npos;
}

struct Found {
  size_t offset;  // of the start tag's "<"
  size_t tag_length;
  bool in_head;
};

// The NOSCRIPT elements that gumbo built from start tags in the text, in source order.
std::vector<Found> NoscriptElements(const GumboOutput& output, std::string_view text) {
  std::vector<Found> found;
  std::vector<const GumboNode*> stack{output.document};
  while (!stack.empty()) {
    const GumboNode* node = stack.back();
    stack.pop_back();
    const GumboVector* children = nullptr;
    if (node->type == GUMBO_NODE_DOCUMENT) {
      children = &node->v.document.children;
    } else if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
      const GumboElement& e = node->v.element;
      children = &e.children;
      const char* tag = e.original_tag.data;
      if (e.tag == GUMBO_TAG_NOSCRIPT && e.tag_namespace == GUMBO_NAMESPACE_HTML && tag &&
          e.original_tag.length > kNameLength && tag >= text.data() &&
          tag < text.data() + text.size()) {
        const GumboNode* parent = node->parent;
        bool in_head =
            parent && parent->type == GUMBO_NODE_ELEMENT && parent->v.element.tag == GUMBO_TAG_HEAD;
        found.push_back({static_cast<size_t>(tag - text.data()), e.original_tag.length, in_head});
      }
    }
    if (!children) continue;
    for (unsigned i = children->length; i-- > 0;) {
      stack.push_back(static_cast<const GumboNode*>(children->data[i]));
    }
  }
  std::sort(found.begin(), found.end(),
            [](const Found& a, const Found& b) { return a.offset < b.offset; });
  return found;
}

}  // namespace

bool MayHoldNoscript(std::string_view utf8) {
  for (size_t at = utf8.find('<'); at != std::string_view::npos; at = utf8.find('<', at + 1)) {
    if (IsNoscriptName(utf8, at + 1)) return true;
  }
  return false;
}

bool RewriteNoscripts(const GumboOutput& output, std::string* utf8, std::vector<size_t>* renamed) {
  std::string_view text(*utf8);
  bool rewrote = false;
  size_t covered = 0;  // raw text of a NOSCRIPT rewritten in this pass ends here
  for (const Found& f : NoscriptElements(output, text)) {
    if (f.offset < covered || !IsNoscriptName(text, f.offset + 1)) continue;
    const char* name = f.in_head ? "noframes" : "noembed ";
    utf8->replace(f.offset + 1, kNameLength, name);
    size_t end = FindEndTag(text, f.offset + f.tag_length);
    if (end != std::string_view::npos) utf8->replace(end + 2, kNameLength, name);
    covered = end == std::string_view::npos ? text.size() : end + 2 + kNameLength;
    renamed->insert(std::upper_bound(renamed->begin(), renamed->end(), f.offset), f.offset);
    rewrote = true;
    // What follows a NOSCRIPT in HEAD may sit elsewhere once its content is text.
    if (f.in_head) break;
  }
  return rewrote;
}

}  // namespace gm
