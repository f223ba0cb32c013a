#include "page/html_builder.h"

#include <gumbo.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "doc/text_codec.h"
#include "page/css_style.h"
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

// Bump allocation for gumbo: its many small blocks are dropped together when the parse is
// done, which is much cheaper than freeing them one by one (and frees deep trees without
// recursion).
class Arena {
 public:
  ~Arena() {
    for (char* block : blocks_) std::free(block);
    // Whole blocks go back to this thread's spares for the next page: fresh blocks of this
    // size come from the kernel as new pages, whose faults cost more than the parse itself.
    std::vector<char*>& spares = Spares();
    for (char* block : whole_blocks_) {
      if (spares.size() < kSpareBlocks) {
        spares.push_back(block);
      } else {
        std::free(block);
      }
    }
  }
  static void* Allocate(void* self, size_t size) { return static_cast<Arena*>(self)->Take(size); }
  static void Deallocate(void*, void*) {}

 private:
  static constexpr size_t kBlock = 1 << 20;
  static constexpr size_t kSpareBlocks = 4;
  static std::vector<char*>& Spares() {
    struct Holder {
      ~Holder() {
        for (char* block : blocks) std::free(block);
      }
      std::vector<char*> blocks;
    };
    thread_local Holder holder;
    return holder.blocks;
  }
  void* Take(size_t size) {
    size = (size + 15) & ~size_t{15};
    if (size > kBlock / 4) {
      char* own = static_cast<char*>(std::malloc(size));
      if (own) blocks_.push_back(own);
      return own;
    }
    if (!current_ || used_ + size > kBlock) {
      std::vector<char*>& spares = Spares();
      if (!spares.empty()) {
        current_ = spares.back();
        spares.pop_back();
      } else {
        current_ = static_cast<char*>(std::malloc(kBlock));
        if (!current_) return nullptr;
      }
      whole_blocks_.push_back(current_);
      used_ = 0;
    }
    void* p = current_ + used_;
    used_ += size;
    return p;
  }
  std::vector<char*> blocks_;        // large single allocations
  std::vector<char*> whole_blocks_;  // blocks of kBlock bytes
  char* current_ = nullptr;
  size_t used_ = 0;
};

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

// Copies gumbo's tree below `source` into `target`, depth first with an explicit stack.
void CopyChildren(CDomDocument* doc, const GumboNode* source, CDomNode* target,
                  const Renamed& renamed) {
  const CDomName* tags[GUMBO_TAG_LAST + 1] = {};  // interned names of the known tags
  Widener widen;
  struct Frame {
    const GumboVector* children;
    unsigned int index;
    CDomNode* parent;
  };
  std::vector<Frame> stack;
  stack.push_back({&source->v.document.children, 0, target});
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.index >= top.children->length) {
      stack.pop_back();
      continue;
    }
    const auto* child = static_cast<const GumboNode*>(top.children->data[top.index++]);
    CDomNode* parent = top.parent;
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
        // A template's content is not part of the tree that a browser's DOM walk sees.
        if (child->type == GUMBO_NODE_ELEMENT && e.children.length > 0)
          stack.push_back({&e.children, 0, node});
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
  }
}

}  // namespace

namespace {

// Parses a page into an arena; everything gumbo allocated goes with the arena (no
// gumbo_destroy_output).
GumboOutput* Parse(std::string_view utf8, Arena* arena) {
  GumboOptions options = kGumboDefaultOptions;
  options.max_errors = 0;  // error records are not used and cost time on sloppy pages
  options.allocator = &Arena::Allocate;
  options.deallocator = &Arena::Deallocate;
  options.userdata = arena;
  return gumbo_parse_with_options(&options, utf8.data(), utf8.size());
}

// Parses until the NOSCRIPT content is text (noscript_text.h), at most kMaxNoscriptPasses
// times; a page that needs more keeps the rest of its NOSCRIPT elements as gumbo built them.
void BuildWithNoscriptText(std::string_view utf8, CDomDocument* doc) {
  constexpr int kMaxNoscriptPasses = 8;
  std::string text(utf8);
  Renamed renamed;
  for (int pass = 1;; ++pass) {
    Arena arena;
    GumboOutput* output = Parse(text, &arena);
    if (!output) return;
    if (pass == kMaxNoscriptPasses || !RewriteNoscripts(*output, &text, &renamed.offsets)) {
      renamed.text = text.data();
      CopyChildren(doc, output->document, doc->Root(), renamed);
      return;
    }
  }
}

void BuildInto(std::string_view page, CDomDocument* doc) {
  std::string bounded;
  std::string_view utf8 = BoundMarkup(page, &bounded);
  if (MayHoldNoscript(utf8)) {
    BuildWithNoscriptText(utf8, doc);
  } else {
    Arena arena;
    GumboOutput* output = Parse(utf8, &arena);
    if (output) CopyChildren(doc, output->document, doc->Root(), Renamed());
  }
  ComputeStyles(doc);
}

}  // namespace

std::unique_ptr<CDomDocument> ParseHtmlUtf8(std::string_view utf8) {
  auto doc = std::make_unique<CDomDocument>();
  BuildInto(utf8, doc.get());
  return doc;
}

void ParseHtmlInto(std::wstring_view text, CDomDocument* document) {
  BuildInto(ToUtf8(text), document);
}

std::unique_ptr<CDomDocument> ParseHtml(std::wstring_view text) {
  return ParseHtmlUtf8(ToUtf8(text));
}

}  // namespace gm
