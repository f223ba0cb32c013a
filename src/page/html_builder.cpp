#include "page/html_builder.h"

#include <gumbo.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "doc/text_codec.h"
#include "page/css_style.h"
#include "page/gumbo_arena.h"
#include "page/markup_bounds.h"
#include "page/noscript_text.h"

namespace gm {

namespace {

std::wstring Widen(const char* text, size_t length) {
  return FromUtf8(std::string_view(text, length));
}

std::wstring ElementName(const GumboElement& e) {
  if (e.tag_namespace == GUMBO_NAMESPACE_SVG && e.original_tag.length > 0) {
    GumboStringPiece piece = e.original_tag;
    gumbo_tag_from_original_text(&piece);
    if (const char* svg = gumbo_normalize_svg_tagname(&piece)) return Widen(svg, std::strlen(svg));
  }
  if (e.tag != GUMBO_TAG_UNKNOWN) {
    const char* name = gumbo_normalized_tagname(e.tag);
    return Widen(name, std::strlen(name));
  }
  GumboStringPiece piece = e.original_tag;
  gumbo_tag_from_original_text(&piece);
  std::wstring name = Widen(piece.data, piece.length);
  if (e.tag_namespace != GUMBO_NAMESPACE_SVG) {
    for (wchar_t& c : name) {
      if (c >= L'A' && c <= L'Z') c += 32;
    }
  }
  return name;
}

DomNamespace NamespaceOf(GumboNamespaceEnum ns) {
  switch (ns) {
    case GUMBO_NAMESPACE_SVG:
      return DomNamespace::kSvg;
    case GUMBO_NAMESPACE_MATHML:
      return DomNamespace::kMathMl;
    default:
      return DomNamespace::kHtml;
  }
}

// UTF-8 from gumbo to characters, through a buffer reused for every piece.
class Widener {
 public:
  std::wstring_view operator()(const char* text) { return (*this)(text, std::strlen(text)); }
  std::wstring_view operator()(const char* text, size_t length) {
    if (buffer_.size() < length) buffer_.resize(length);
    return std::wstring_view(buffer_.data(),
                             FromUtf8Into(std::string_view(text, length), buffer_.data()));
  }

 private:
  std::wstring buffer_;
};

// The NOSCRIPT elements that the text gives gumbo under another name (noscript_text.h): the
// offsets of their start tags in the text that was parsed.
struct Renamed {
  const char* text = nullptr;
  std::vector<size_t> offsets;

  GumboTag TagOf(const GumboElement& e) const {
    if ((e.tag != GUMBO_TAG_NOFRAMES && e.tag != GUMBO_TAG_NOEMBED) || offsets.empty())
      return e.tag;
    size_t offset = static_cast<size_t>(e.original_tag.data - text);
    return std::binary_search(offsets.begin(), offsets.end(), offset) ? GUMBO_TAG_NOSCRIPT : e.tag;
  }
};

// Adds the attributes of a gumbo element to `node`.
void CopyAttributes(CDomDocument* doc, const GumboElement& e, CDomNode* node, Widener* widen) {
  if (e.attributes.length == 0) return;
  node->ReserveAttributes(e.attributes.length);
  std::wstring prefixed;
  for (unsigned int i = 0; i < e.attributes.length; ++i) {
    const auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
    // Foreign attributes keep their prefix, as the browser's DOM names them.
    const wchar_t* prefix = nullptr;
    if (a->attr_namespace == GUMBO_ATTR_NAMESPACE_XLINK) {
      prefix = L"xlink:";
    } else if (a->attr_namespace == GUMBO_ATTR_NAMESPACE_XML) {
      prefix = L"xml:";
    } else if (a->attr_namespace == GUMBO_ATTR_NAMESPACE_XMLNS && std::strcmp(a->name, "xmlns")) {
      prefix = L"xmlns:";
    }
    std::wstring_view name = (*widen)(a->name);
    if (prefix) {
      prefixed.assign(prefix);
      prefixed.append(name);
      name = prefixed;
    }
    // The name is interned before the buffer is reused for the value.
    std::wstring_view interned = *doc->Intern(name);
    node->AppendAttribute(interned, (*widen)(a->value));
  }
}

// The walk over gumbo's tree that the copy makes, depth first with an explicit stack, children
// in order, template contents left out. Calls visit(child, parent frame's payload, number) for
// every node below the document in that order (numbers from 1); visit returns the payload of
// the child's own frame, or nullopt when the walk is not to go below it. False when visit
// asked to end the walk (by `stop`).
struct WalkFrame {
  GumboVector children;  // a copy: gumbo's node need not be read again
  unsigned int index;
  CDomNode* parent;
};

template <typename Visit>
bool WalkGumbo(const GumboNode* document, CDomNode* target, Visit&& visit) {
  std::vector<WalkFrame> stack;
  stack.push_back({document->v.document.children, 0, target});
  uint64_t number = 0;
  while (!stack.empty()) {
    WalkFrame& top = stack.back();
    if (top.index >= top.children.length) {
      stack.pop_back();
      continue;
    }
    const auto* child = static_cast<const GumboNode*>(top.children.data[top.index++]);
    CDomNode* node = nullptr;
    if (!visit(child, top, ++number, &node)) return false;
    // A template's content is not part of the tree that a browser's DOM walk sees.
    if (node && child->type == GUMBO_NODE_ELEMENT && child->v.element.children.length > 0)
      stack.push_back({child->v.element.children, 0, node});
  }
  return true;
}

// Tells the arena until which visit of the copy each piece of gumbo's tree is read.
void MarkNeeds(const GumboNode* document, CGumboArena* arena) {
  static CDomNode* const kAny = reinterpret_cast<CDomNode*>(1);  // only "go below" matters
  WalkGumbo(document, kAny,
            [arena](const GumboNode* child, const WalkFrame& frame, uint64_t n, CDomNode** node) {
              arena->Need(frame.children.data, n);
              arena->Need(child, n);
              if (child->type == GUMBO_NODE_ELEMENT || child->type == GUMBO_NODE_TEMPLATE) {
                const GumboElement& e = child->v.element;
                arena->Need(e.attributes.data, n);
                for (unsigned int i = 0; i < e.attributes.length; ++i) {
                  const auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
                  arena->Need(a, n);
                  arena->Need(a->name, n);
                  arena->Need(a->value, n);
                }
                *node = kAny;
              } else if (child->type != GUMBO_NODE_DOCUMENT) {
                arena->Need(child->v.text.text, n);
              }
              return true;
            });
  arena->StartRelease();
}

// Copies gumbo's tree below `source` into `target`. With an arena whose tree is large, gumbo's
// memory is given back as the copy goes; the stop poll (may be null) ends the copy (false).
bool CopyChildren(CDomDocument* doc, const GumboNode* source, CDomNode* target,
                  const Renamed& renamed, CGumboArena* arena, CStopPoll* stop) {
  constexpr uint64_t kStepNodes = 4096;  // release and stop check this often
  bool release = arena && arena->LargeTree();
  if (release) MarkNeeds(source, arena);
  const CDomName* tags[GUMBO_TAG_LAST + 1] = {};  // interned names of the known tags
  Widener widen;
  auto copy = [&](const GumboNode* child, const WalkFrame& frame, uint64_t n, CDomNode** out) {
    if (n % kStepNodes == 0) {
      if (release) arena->ReleaseUpTo(n - 1);
      if (stop && stop->Poll()) return false;
    }
    CDomNode* parent = frame.parent;
    switch (child->type) {
      case GUMBO_NODE_ELEMENT:
      case GUMBO_NODE_TEMPLATE: {
        const GumboElement& e = child->v.element;
        CDomNode* node;
        if (e.tag_namespace == GUMBO_NAMESPACE_HTML && e.tag < GUMBO_TAG_UNKNOWN) {
          GumboTag tag = renamed.TagOf(e);
          if (!tags[tag]) tags[tag] = doc->InternName(widen(gumbo_normalized_tagname(tag)));
          node = doc->CreateElement(tags[tag], DomNamespace::kHtml);
        } else {
          node = doc->CreateElement(ElementName(e), NamespaceOf(e.tag_namespace));
        }
        CopyAttributes(doc, e, node, &widen);
        parent->AppendChild(node);
        *out = node;
        break;
      }
      case GUMBO_NODE_TEXT:
      case GUMBO_NODE_CDATA:
      case GUMBO_NODE_WHITESPACE: {
        std::wstring_view value = widen(child->v.text.text);
        // The parser may give adjacent text pieces (text then white space); a browser's tree
        // holds one text node for them.
        CDomNode* last = parent->LastChild();
        if (last && last->IsText()) {
          last->AppendValue(value);
        } else {
          parent->AppendChild(doc->CreateText(value));
        }
        break;
      }
      case GUMBO_NODE_COMMENT:
        parent->AppendChild(doc->CreateComment(widen(child->v.text.text)));
        break;
      default:
        break;
    }
    return true;
  };
  return WalkGumbo(source, target, copy);
}

}  // namespace

namespace {

// Parses until the NOSCRIPT content is text (noscript_text.h), at most kMaxNoscriptPasses
// times; a page that needs more keeps the rest of its NOSCRIPT elements as gumbo built them.
// False when stopped.
bool BuildWithNoscriptText(std::string_view utf8, CDomDocument* doc, CStopPoll* stop) {
  constexpr int kMaxNoscriptPasses = 8;
  std::string text(utf8);
  Renamed renamed;
  for (int pass = 1;; ++pass) {
    CGumboArena arena(stop);
    GumboOutput* output = arena.Parse(text);
    if (!output) return false;
    if (pass == kMaxNoscriptPasses || !RewriteNoscripts(*output, &text, &renamed.offsets)) {
      renamed.text = text.data();
      return CopyChildren(doc, output->document, doc->Root(), renamed, &arena, stop);
    }
  }
}

// False when `should_stop` (may be null or empty) said stop.
bool BuildInto(std::string_view page, CDomDocument* doc, const std::function<bool()>* should_stop) {
  CStopPoll stop(should_stop);
  std::string bounded;
  std::string_view utf8 = BoundMarkup(page, &bounded, &stop);
  if (stop.Stopped()) return false;
  if (MayHoldNoscript(utf8)) {
    if (!BuildWithNoscriptText(utf8, doc, &stop)) return false;
  } else {
    CGumboArena arena(&stop);
    GumboOutput* output = arena.Parse(utf8);
    if (!output || !CopyChildren(doc, output->document, doc->Root(), Renamed(), &arena, &stop))
      return false;
  }
  ComputeStyles(doc, &stop);
  return !stop.Stopped();
}

}  // namespace

std::unique_ptr<CDomDocument> ParseHtmlUtf8(std::string_view utf8,
                                            const std::function<bool()>& should_stop) {
  auto doc = std::make_unique<CDomDocument>();
  if (!BuildInto(utf8, doc.get(), &should_stop)) return nullptr;
  return doc;
}

void ParseHtmlInto(std::wstring_view text, CDomDocument* document) {
  BuildInto(ToUtf8(text), document, nullptr);
}

std::unique_ptr<CDomDocument> ParseHtml(std::wstring_view text,
                                        const std::function<bool()>& should_stop) {
  return ParseHtmlUtf8(ToUtf8(text), should_stop);
}

}  // namespace gm
