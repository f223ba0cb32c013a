#include "page/dom.h"

#include <algorithm>

namespace gm {

namespace {

bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x += 32;
    if (y >= L'A' && y <= L'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

std::wstring ToUpperAscii(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) {
    if (c >= L'a' && c <= L'z') c -= 32;
  }
  return out;
}

}  // namespace

CDomNode* CDomNode::ParentElement() const {
  CDomNode* p = parent_;
  return p && p->IsElement() ? p : nullptr;
}

const std::wstring* CDomNode::FindAttribute(std::wstring_view name) const {
  for (const CDomAttribute& a : attributes_) {
    if (EqualsIgnoringAsciiCase(a.name, name)) return &a.value;
  }
  return nullptr;
}

void CDomNode::SetAttribute(std::wstring name, std::wstring value) {
  for (CDomAttribute& a : attributes_) {
    if (a.name == name) {
      a.value = std::move(value);
      return;
    }
  }
  attributes_.push_back({std::move(name), std::move(value)});
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

CDomDocument::CDomDocument() {
  root_ = NewNode(DomNodeKind::kDocument);
  root_->name_ = root_->local_name_ = Intern(L"#document");
  text_name_ = Intern(L"#text");
  comment_name_ = Intern(L"#comment");
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
  CDomNode& node = nodes_.emplace_back(CDomNode());
  node.kind_ = kind;
  node.document_ = this;
  return &node;
}

CDomNode* CDomDocument::CreateElement(std::wstring_view local_name, DomNamespace ns) {
  return CreateElement(Intern(local_name), Intern(ToUpperAscii(local_name)), ns);
}

CDomNode* CDomDocument::CreateElement(const std::wstring* local_name, const std::wstring* name,
                                      DomNamespace ns) {
  CDomNode* node = NewNode(DomNodeKind::kElement);
  node->namespace_ = ns;
  node->local_name_ = local_name;
  node->name_ = name;
  node->ignorable_ = *name == L"SCRIPT" || *name == L"STYLE";
  return node;
}

CDomNode* CDomDocument::CreateText(std::wstring value) {
  CDomNode* node = NewNode(DomNodeKind::kText);
  node->name_ = node->local_name_ = text_name_;
  node->ignorable_ = true;
  node->value_ = std::move(value);
  return node;
}

CDomNode* CDomDocument::CreateComment(std::wstring value) {
  CDomNode* node = NewNode(DomNodeKind::kComment);
  node->name_ = node->local_name_ = comment_name_;
  node->ignorable_ = true;
  node->value_ = std::move(value);
  return node;
}

CDomDocument* CDomDocument::CreateContentDocument(CDomNode* frame_element) {
  auto doc = std::make_unique<CDomDocument>();
  doc->host_frame_ = frame_element;
  frame_element->content_document_ = doc.get();
  frame_documents_.push_back(std::move(doc));
  return frame_documents_.back().get();
}

const std::wstring* CDomDocument::Intern(std::wstring_view text) {
  // unordered_set nodes never move, so the address of an element is stable.
  auto it = strings_.find(text);
  if (it == strings_.end()) it = strings_.emplace(text).first;
  return &*it;
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
