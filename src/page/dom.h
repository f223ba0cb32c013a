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
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

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

struct CDomAttribute {
  std::wstring name;  // as the parser gives it (lower case for HTML elements)
  std::wstring value;
};

class CDomNode {
 public:
  DomNodeKind Kind() const { return kind_; }
  bool IsElement() const { return kind_ == DomNodeKind::kElement; }
  bool IsText() const { return kind_ == DomNodeKind::kText; }
  // SCRIPT, STYLE, #comment and #text: element paths never name these and skip over them.
  bool IsIgnorable() const { return ignorable_; }

  // "DIV", "#text", "#comment", "#document".
  const std::wstring& Name() const { return *name_; }
  // Elements: the tag name as markup spells it ("div", "svg"); others: same as Name().
  const std::wstring& LocalName() const { return *local_name_; }
  DomNamespace Namespace() const { return namespace_; }
  // Text and comment data; empty for elements and documents.
  const std::wstring& Value() const { return value_; }
  void AppendValue(std::wstring_view more) { value_.append(more); }

  CDomNode* Parent() const { return parent_; }
  CDomNode* FirstChild() const { return first_child_; }
  CDomNode* LastChild() const { return last_child_; }
  CDomNode* Next() const { return next_; }
  CDomNode* Previous() const { return previous_; }
  // The nearest ancestor that is an element; null at the document element.
  CDomNode* ParentElement() const;
  CDomDocument* Document() const { return document_; }

  const std::vector<CDomAttribute>& Attributes() const { return attributes_; }
  // The attribute's value, names compared without regard to ASCII letter case; null if absent.
  const std::wstring* FindAttribute(std::wstring_view name) const;
  void SetAttribute(std::wstring name, std::wstring value);
  // For builders whose source has no duplicate names: appends without looking.
  void AppendAttribute(std::wstring name, std::wstring value) {
    attributes_.push_back({std::move(name), std::move(value)});
  }
  void ReserveAttributes(size_t count) { attributes_.reserve(count); }

  const CComputedStyle& Style() const { return style_; }
  CComputedStyle& MutableStyle() { return style_; }

  // Live pages only: the document shown by this FRAME or IFRAME element (owned by this node's
  // document); null for pages built from text.
  CDomDocument* ContentDocument() const { return content_document_; }
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
  int32_t snapshot_id_ = -1;
  const std::wstring* name_ = nullptr;
  const std::wstring* local_name_ = nullptr;
  std::wstring value_;
  CDomNode* parent_ = nullptr;
  CDomNode* first_child_ = nullptr;
  CDomNode* last_child_ = nullptr;
  CDomNode* next_ = nullptr;
  CDomNode* previous_ = nullptr;
  CDomDocument* document_ = nullptr;
  CDomDocument* content_document_ = nullptr;
  std::vector<CDomAttribute> attributes_;
  CComputedStyle style_;
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
  // The same with names already interned in this document: `name` is `local_name` in upper case.
  CDomNode* CreateElement(const std::wstring* local_name, const std::wstring* name,
                          DomNamespace ns);
  CDomNode* CreateText(std::wstring value);
  CDomNode* CreateComment(std::wstring value);
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

  size_t NodeCount() const { return nodes_.size(); }

 private:
  CDomNode* NewNode(DomNodeKind kind);

  struct StringHash {
    using is_transparent = void;
    size_t operator()(std::wstring_view s) const { return std::hash<std::wstring_view>()(s); }
  };
  std::deque<CDomNode> nodes_;
  std::unordered_set<std::wstring, StringHash, std::equal_to<>> strings_;
  std::vector<std::unique_ptr<CDomDocument>> frame_documents_;
  CDomNode* root_ = nullptr;
  CDomNode* host_frame_ = nullptr;
  const std::wstring* text_name_ = nullptr;
  const std::wstring* comment_name_ = nullptr;
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
