// The page DOM: one tree model for every page the system reads, whether it was built from page
// text (html_builder.h) or handed in by the browser as a snapshot of a live page. Every reading
// operation (element paths, element text, attributes, text search, fingerprints) is written
// against this model only.
//
// Node names are the browser's: upper-case tag names for elements (SVG and MathML names too,
// whichever builder made the tree), "#text", "#comment" and "#document". The doctype is not a
// node of the tree (paths start at "HTML").
//
// Ownership: a CDomDocument owns all of its nodes (and, for live pages, the documents of its
// frames). Nodes are handed out as plain pointers that stay valid for the life of the document;
// a node is never freed before its document. Identity is the pointer: two pointers to the same
// node compare equal. A document is used by one thread at a time (the thread that owns the page
// model); nothing here locks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "page/dom_arena.h"

namespace gm {

class CDomDocument;

enum class DomNodeKind : uint8_t { kDocument, kElement, kText, kComment };
enum class DomNamespace : uint8_t { kHtml, kSvg, kMathMl };

// The display value reduced to what text rendering needs.
enum class DisplayKind : uint8_t {
  kNone,
  kInline,
  kBlock,  // block, list-item, flex, grid, flow-root, table, table-caption: a line of its own
  kTableRow,
  kTableCell,
  kOther,  // inline-block, table-row-group, table-column and the like: no line of its own
};

// The computed style values that the reading operations use, as strings in the form the
// original HTML engine reported them: colours as names, "#rrggbb" or "transparent", font sizes
// as written ("12pt", "0px", "0.5em"). Values are interned in the owning document.
struct CComputedStyle {
  const std::wstring* display = nullptr;
  const std::wstring* visibility = nullptr;
  const std::wstring* font_size = nullptr;
  const std::wstring* color = nullptr;
  const std::wstring* background_color = nullptr;
  const std::wstring* white_space = nullptr;
  DisplayKind display_kind = DisplayKind::kInline;
};

// An attribute of an element. Both strings belong to the element's document (the name is
// interned there) and stay valid as long as it.
struct CDomAttribute {
  std::wstring_view name;  // as the parser gives it (lower case for HTML elements)
  std::wstring_view value;
};

// The two names of an element, interned once per document and tag.
struct CDomName {
  std::wstring local;  // as markup spells it: "div", "foreignObject"
  std::wstring upper;  // the node name: "DIV", "FOREIGNOBJECT"
};

// The attributes of an element as a contiguous range.
class CDomAttributes {
 public:
  CDomAttributes(const CDomAttribute* begin, size_t size) : begin_(begin), size_(size) {}
  const CDomAttribute* begin() const { return begin_; }
  const CDomAttribute* end() const { return begin_ + size_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const CDomAttribute& front() const { return *begin_; }
  const CDomAttribute& operator[](size_t i) const { return begin_[i]; }

 private:
  const CDomAttribute* begin_;
  size_t size_;
};

// A node of the tree. Nodes are small (a page may hold millions): names and computed styles
// are interned in the document, texts and attribute arrays live in the document's arena.
class CDomNode {
 public:
  DomNodeKind Kind() const { return kind_; }
  bool IsElement() const { return kind_ == DomNodeKind::kElement; }
  bool IsText() const { return kind_ == DomNodeKind::kText; }
  // SCRIPT, STYLE, #comment and #text: element paths never name these and skip over them.
  bool IsIgnorable() const { return ignorable_; }

  // "DIV", "#text", "#comment", "#document".
  const std::wstring& Name() const { return name_->upper; }
  // Elements: the tag name as markup spells it ("div", "svg"); others: same as Name().
  const std::wstring& LocalName() const { return name_->local; }
  DomNamespace Namespace() const { return namespace_; }
  // Text and comment data; empty for elements and documents. Valid as long as the document.
  std::wstring_view Value() const {
    return IsElement() ? std::wstring_view() : std::wstring_view(text_, size_);
  }
  void AppendValue(std::wstring_view more);

  CDomNode* Parent() const { return parent_; }
  CDomNode* FirstChild() const { return first_child_; }
  CDomNode* LastChild() const { return last_child_; }
  CDomNode* Next() const { return next_; }
  CDomNode* Previous() const { return previous_; }
  // The nearest ancestor that is an element; null at the document element.
  CDomNode* ParentElement() const;
  CDomDocument* Document() const { return document_; }

  CDomAttributes Attributes() const {
    return IsElement() ? CDomAttributes(attributes_, size_) : CDomAttributes(nullptr, 0);
  }
  // The attribute's value, names compared without regard to ASCII letter case; null if absent.
  const std::wstring_view* FindAttribute(std::wstring_view name) const;
  void SetAttribute(std::wstring_view name, std::wstring_view value);
  // For builders whose source has no duplicate names: appends without looking.
  void AppendAttribute(std::wstring_view name, std::wstring_view value);
  // Room for `count` attributes, so that appending them does not move the array.
  void ReserveAttributes(size_t count);

  const CComputedStyle& Style() const { return *style_; }
  // Interned in the document; every element with equal values shares one copy.
  void SetStyle(const CComputedStyle& style);

  // Live pages only: the document shown by this FRAME or IFRAME element (owned by this node's
  // document); null for pages built from text.
  CDomDocument* ContentDocument() const;
  // Number given by the browser snapshot, by which actions on the live page name the node;
  // -1 for pages built from text.
  int32_t SnapshotId() const { return snapshot_id_; }
  void SetSnapshotId(int32_t id) { snapshot_id_ = id; }

  void AppendChild(CDomNode* child);

 private:
  friend class CDomDocument;
  CDomNode() = default;

  DomNodeKind kind_ = DomNodeKind::kElement;
  DomNamespace namespace_ = DomNamespace::kHtml;
  bool ignorable_ = false;
  bool has_content_document_ = false;
  int32_t snapshot_id_ = -1;
  const CDomName* name_ = nullptr;
  CDomNode* parent_ = nullptr;
  CDomNode* first_child_ = nullptr;
  CDomNode* last_child_ = nullptr;
  CDomNode* next_ = nullptr;
  CDomNode* previous_ = nullptr;
  CDomDocument* document_ = nullptr;
  const CComputedStyle* style_ = nullptr;
  // Text and comment nodes: their characters; elements: their attribute array.
  union {
    const wchar_t* text_ = nullptr;
    CDomAttribute* attributes_;
  };
  uint32_t size_ = 0;      // characters of the text, or attributes in the array
  uint32_t capacity_ = 0;  // elements: room in the attribute array
};

class CDomDocument {
 public:
  CDomDocument();
  CDomDocument(const CDomDocument&) = delete;
  CDomDocument& operator=(const CDomDocument&) = delete;
  ~CDomDocument();

  // The "#document" node; always present.
  CDomNode* Root() const { return root_; }
  // The "HTML" element (the first element child of the document node); null when absent.
  CDomNode* DocumentElement() const;
  // The BODY element, or the FRAMESET of a frameset page; null when absent.
  CDomNode* Body() const;

  // Builders create unattached nodes and link them with CDomNode::AppendChild.
  CDomNode* CreateElement(std::wstring_view local_name, DomNamespace ns = DomNamespace::kHtml);
  // The same with a name already interned in this document (InternName).
  CDomNode* CreateElement(const CDomName* name, DomNamespace ns);
  CDomNode* CreateText(std::wstring_view value);
  CDomNode* CreateComment(std::wstring_view value);
  // Live pages: creates the document of a frame element, owned by this document, and links it
  // (the frame element becomes the new document's host).
  CDomDocument* CreateContentDocument(CDomNode* frame_element);

  // Live pages only: the address the browser shows and, for a frame document, the FRAME or
  // IFRAME element of the parent document that shows it. Both empty for pages built from text.
  const std::wstring& LiveUrl() const { return live_url_; }
  void SetLiveUrl(std::wstring url) { live_url_ = std::move(url); }
  CDomNode* HostFrame() const { return host_frame_; }

  // Interns a string for names and style values; the pointer lives as long as the document.
  const std::wstring* Intern(std::wstring_view text);
  // The names of an element with this local name (the node name is it in ASCII upper case).
  const CDomName* InternName(std::wstring_view local_name);
  // Characters kept by the document for as long as it lives.
  std::wstring_view Store(std::wstring_view text);

  size_t NodeCount() const { return node_count_; }
  // Bytes of the document's arena (nodes, texts, attributes), for measurements.
  size_t ArenaBytes() const { return arena_.Reserved(); }

 private:
  friend class CDomNode;
  struct StringHash {
    using is_transparent = void;
    size_t operator()(std::wstring_view s) const { return std::hash<std::wstring_view>()(s); }
  };
  struct StyleHash {
    size_t operator()(const CComputedStyle& s) const;
  };
  struct StyleEqual {
    bool operator()(const CComputedStyle& a, const CComputedStyle& b) const;
  };

  CDomNode* NewNode(DomNodeKind kind);
  CDomNode* NewTextNode(DomNodeKind kind, std::wstring_view value);
  const CComputedStyle* InternStyle(const CComputedStyle& style);

  CDomArena arena_;
  size_t node_count_ = 0;
  std::unordered_set<std::wstring, StringHash, std::equal_to<>> strings_;
  std::unordered_map<std::wstring_view, std::unique_ptr<CDomName>, StringHash, std::equal_to<>>
      names_;
  std::unordered_set<CComputedStyle, StyleHash, StyleEqual> styles_;
  std::vector<std::unique_ptr<CDomDocument>> frame_documents_;
  std::unordered_map<const CDomNode*, CDomDocument*> content_documents_;
  CDomNode* root_ = nullptr;
  CDomNode* host_frame_ = nullptr;
  const CDomName* text_name_ = nullptr;
  const CDomName* comment_name_ = nullptr;
  std::wstring live_url_;
};

// Walking helpers; all take null and give null at the ends.
// Pre-order successor of a node within the subtree of `scope` (null when the walk is done).
const CDomNode* NextInTree(const CDomNode* node, const CDomNode* scope);
// Skips the subtree of the node: the next node in pre-order after all of its descendants.
const CDomNode* NextSkippingChildren(const CDomNode* node, const CDomNode* scope);

// True when both are null, or both are the same node.
inline bool SameNode(const CDomNode* a, const CDomNode* b) {
  return a == b;
}
// The deepest last descendant of the previous sibling, or, without a previous sibling, the
// parent.
const CDomNode* PreviousInOrder(const CDomNode* node);
// The deepest first descendant of the next sibling, or, without a next sibling, the parent.
const CDomNode* NextAfterSubtree(const CDomNode* node);

// The node with this snapshot number in a live page's document or in the documents of its
// frames; null when there is none.
const CDomNode* NodeBySnapshotId(const CDomDocument* document, int32_t id);

// All elements with this node name ("FRAME") in document order, below `scope`.
std::vector<const CDomNode*> ElementsByName(const CDomNode* scope, std::wstring_view name);

}  // namespace gm
