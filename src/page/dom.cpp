#include "page/dom.h"

#include <algorithm>
#include <new>
#include <type_traits>

#include "doc/text_compare.h"

namespace gm {

namespace {

std::wstring ToUpperAscii(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) {
    if (c >= L'a' && c <= L'z') c -= 32;
  }
  return out;
}

}  // namespace

// The style of nodes that were given none (text, comments, elements before styles are computed).
const CComputedStyle kNoStyle;

CDomNode* CDomNode::ParentElement() const {
  CDomNode* p = parent_;
  return p && p->IsElement() ? p : nullptr;
}

void CDomNode::AppendValue(std::wstring_view more) {
  if (IsElement() || more.empty()) return;
  CDomArena& arena = document_->arena_;
  const wchar_t* end = text_ + size_;
  if (size_ > 0 && arena.Extend(end, more.size() * sizeof(wchar_t))) {
    std::copy(more.begin(), more.end(), const_cast<wchar_t*>(end));
  } else {
    wchar_t* joined = arena.AllocateArray<wchar_t>(size_ + more.size());
    std::copy(text_, text_ + size_, joined);
    std::copy(more.begin(), more.end(), joined + size_);
    text_ = joined;
  }
  size_ += static_cast<uint32_t>(more.size());
}

const std::wstring_view* CDomNode::FindAttribute(std::wstring_view name) const {
  for (const CDomAttribute& a : Attributes()) {
    if (EqualsIgnoringAsciiCase(a.name, name)) return &a.value;
  }
  return nullptr;
}

void CDomNode::ReserveAttributes(size_t count) {
  if (!IsElement() || count <= capacity_) return;
  CDomAttribute* grown = document_->arena_.AllocateArray<CDomAttribute>(count);
  std::copy(attributes_, attributes_ + size_, grown);
  attributes_ = grown;
  capacity_ = static_cast<uint32_t>(count);
}

void CDomNode::AppendAttribute(std::wstring_view name, std::wstring_view value) {
  if (!IsElement()) return;
  if (size_ == capacity_) ReserveAttributes(capacity_ < 4 ? 4 : capacity_ * 2);
  attributes_[size_++] = {*document_->Intern(name), document_->Store(value)};
}

void CDomNode::SetAttribute(std::wstring_view name, std::wstring_view value) {
  for (uint32_t i = 0; IsElement() && i < size_; ++i) {
    if (attributes_[i].name == name) {
      attributes_[i].value = document_->Store(value);
      return;
    }
  }
  AppendAttribute(name, value);
}

void CDomNode::SetStyle(const CComputedStyle& style) {
  style_ = document_->InternStyle(style);
}

CDomDocument* CDomNode::ContentDocument() const {
  if (!has_content_document_) return nullptr;
  auto it = document_->content_documents_.find(this);
  return it == document_->content_documents_.end() ? nullptr : it->second;
}

void CDomNode::AppendChild(CDomNode* child) {
  child->parent_ = this;
  child->previous_ = last_child_;
  child->next_ = nullptr;
  if (last_child_) {
    last_child_->next_ = child;
  } else {
    first_child_ = child;
  }
  last_child_ = child;
}

size_t CDomDocument::StyleHash::operator()(const CComputedStyle& s) const {
  std::hash<const void*> h;
  size_t v = static_cast<size_t>(s.display_kind);
  for (const void* p :
       {static_cast<const void*>(s.display), static_cast<const void*>(s.visibility),
        static_cast<const void*>(s.font_size), static_cast<const void*>(s.color),
        static_cast<const void*>(s.background_color), static_cast<const void*>(s.white_space)}) {
    v = v * 1000003u ^ h(p);
  }
  return v;
}

bool CDomDocument::StyleEqual::operator()(const CComputedStyle& a, const CComputedStyle& b) const {
  return a.display == b.display && a.visibility == b.visibility && a.font_size == b.font_size &&
         a.color == b.color && a.background_color == b.background_color &&
         a.white_space == b.white_space && a.display_kind == b.display_kind;
}

CDomDocument::CDomDocument() {
  text_name_ = InternName(L"#text");
  comment_name_ = InternName(L"#comment");
  root_ = NewNode(DomNodeKind::kDocument);
  root_->name_ = InternName(L"#document");
}

CDomDocument::~CDomDocument() = default;

CDomNode* CDomDocument::DocumentElement() const {
  for (CDomNode* n = root_->FirstChild(); n; n = n->Next()) {
    if (n->IsElement()) return n;
  }
  return nullptr;
}

CDomNode* CDomDocument::Body() const {
  CDomNode* html = DocumentElement();
  if (!html) return nullptr;
  for (CDomNode* n = html->FirstChild(); n; n = n->Next()) {
    if (n->IsElement() && (n->Name() == L"BODY" || n->Name() == L"FRAMESET")) return n;
  }
  return nullptr;
}

CDomNode* CDomDocument::NewNode(DomNodeKind kind) {
  static_assert(std::is_trivially_destructible_v<CDomNode>, "nodes are freed with the arena");
  CDomNode* node = new (arena_.Allocate(sizeof(CDomNode), alignof(CDomNode))) CDomNode();
  node->kind_ = kind;
  node->document_ = this;
  node->style_ = &kNoStyle;
  ++node_count_;
  return node;
}

CDomNode* CDomDocument::NewTextNode(DomNodeKind kind, std::wstring_view value) {
  CDomNode* node = NewNode(kind);
  node->name_ = kind == DomNodeKind::kText ? text_name_ : comment_name_;
  node->ignorable_ = true;
  std::wstring_view stored = Store(value);
  node->text_ = stored.data();
  node->size_ = static_cast<uint32_t>(stored.size());
  return node;
}

CDomNode* CDomDocument::CreateElement(std::wstring_view local_name, DomNamespace ns) {
  return CreateElement(InternName(local_name), ns);
}

CDomNode* CDomDocument::CreateElement(const CDomName* name, DomNamespace ns) {
  CDomNode* node = NewNode(DomNodeKind::kElement);
  node->namespace_ = ns;
  node->name_ = name;
  node->ignorable_ = name->upper == L"SCRIPT" || name->upper == L"STYLE";
  node->attributes_ = nullptr;
  return node;
}

CDomNode* CDomDocument::CreateText(std::wstring_view value) {
  return NewTextNode(DomNodeKind::kText, value);
}

CDomNode* CDomDocument::CreateComment(std::wstring_view value) {
  return NewTextNode(DomNodeKind::kComment, value);
}

CDomDocument* CDomDocument::CreateContentDocument(CDomNode* frame_element) {
  auto doc = std::make_unique<CDomDocument>();
  doc->host_frame_ = frame_element;
  frame_element->has_content_document_ = true;
  content_documents_[frame_element] = doc.get();
  frame_documents_.push_back(std::move(doc));
  return frame_documents_.back().get();
}

const std::wstring* CDomDocument::Intern(std::wstring_view text) {
  // unordered_set nodes never move, so the address of an element is stable.
  auto it = strings_.find(text);
  if (it == strings_.end()) it = strings_.emplace(text).first;
  return &*it;
}

const CDomName* CDomDocument::InternName(std::wstring_view local_name) {
  auto it = names_.find(local_name);
  if (it != names_.end()) return it->second.get();
  auto name = std::make_unique<CDomName>();
  name->local = std::wstring(local_name);
  name->upper =
      local_name.empty() || local_name[0] == L'#' ? name->local : ToUpperAscii(local_name);
  const CDomName* stored = name.get();
  names_.emplace(std::wstring_view(stored->local), std::move(name));
  return stored;
}

std::wstring_view CDomDocument::Store(std::wstring_view text) {
  if (text.empty()) return std::wstring_view();
  wchar_t* copy = arena_.AllocateArray<wchar_t>(text.size());
  std::copy(text.begin(), text.end(), copy);
  return std::wstring_view(copy, text.size());
}

const CComputedStyle* CDomDocument::InternStyle(const CComputedStyle& style) {
  return &*styles_.insert(style).first;
}

const CDomNode* NextInTree(const CDomNode* node, const CDomNode* scope) {
  if (!node) return nullptr;
  if (node->FirstChild()) return node->FirstChild();
  return NextSkippingChildren(node, scope);
}

const CDomNode* NextSkippingChildren(const CDomNode* node, const CDomNode* scope) {
  while (node && node != scope) {
    if (node->Next()) return node->Next();
    node = node->Parent();
  }
  return nullptr;
}

const CDomNode* PreviousInOrder(const CDomNode* node) {
  if (!node) return nullptr;
  const CDomNode* prev = node->Previous();
  if (!prev) return node->Parent();
  while (prev->LastChild()) prev = prev->LastChild();
  return prev;
}

const CDomNode* NextAfterSubtree(const CDomNode* node) {
  if (!node) return nullptr;
  const CDomNode* next = node->Next();
  if (!next) return node->Parent();
  while (next->FirstChild()) next = next->FirstChild();
  return next;
}

const CDomNode* NodeBySnapshotId(const CDomDocument* document, int32_t id) {
  // Frame documents are searched through an explicit list, so nesting costs no stack.
  std::vector<const CDomDocument*> pending{document};
  while (!pending.empty()) {
    const CDomDocument* doc = pending.back();
    pending.pop_back();
    if (!doc) continue;
    const CDomNode* root = doc->Root();
    for (const CDomNode* n = root; n; n = NextInTree(n, root)) {
      if (n->SnapshotId() == id) return n;
      if (n->ContentDocument()) pending.push_back(n->ContentDocument());
    }
  }
  return nullptr;
}

std::vector<const CDomNode*> ElementsByName(const CDomNode* scope, std::wstring_view name) {
  std::vector<const CDomNode*> out;
  for (const CDomNode* n = scope; n; n = NextInTree(n, scope)) {
    if (n->IsElement() && n->Name() == name) out.push_back(n);
  }
  return out;
}

}  // namespace gm
