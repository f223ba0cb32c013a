#include "doc/xml_node.h"

#include <cerrno>
#include <climits>
#include <cwchar>
#include <vector>

namespace gm {
namespace {

bool IsPathSeparator(wchar_t c) {
  return c == L'@' || c == L'#' || c == L'*';
}

void ReplaceAll(std::wstring* s, std::wstring_view from, std::wstring_view to) {
  size_t pos = 0;
  while ((pos = s->find(from, pos)) != std::wstring::npos) {
    s->replace(pos, from.size(), to);
    pos += to.size();
  }
}

void AppendEscaped(std::wstring* out, std::wstring_view s) {
  for (wchar_t c : s) {
    switch (c) {
      case L'<':
        out->append(L"&lt;");
        break;
      case L'>':
        out->append(L"&gt;");
        break;
      case L'"':
        out->append(L"&quot;");
        break;
      default:
        out->push_back(c);
    }
  }
}

std::wstring Unescape(std::wstring_view s) {
  std::wstring r(s);
  if (r.find(L'&') == std::wstring::npos) return r;
  ReplaceAll(&r, L"&lt;", L"<");
  ReplaceAll(&r, L"&gt;", L">");
  ReplaceAll(&r, L"&quot;", L"\"");
  return r;
}

// The text up to its first zero code unit.
std::wstring_view Terminated(std::wstring_view text) {
  size_t z = text.find(L'\0');
  return z == std::wstring_view::npos ? text : text.substr(0, z);
}

size_t SkipSpace(std::wstring_view t, size_t p) {
  while (p < t.size() && IsSpace(t[p])) ++p;
  return p;
}

// Reads a start tag's attributes; returns the position of ">" or the end.
size_t ParseAttributes(CXmlNode* node, std::wstring_view t, size_t p) {
  for (;;) {
    p = SkipSpace(t, p);
    if (p >= t.size() || t[p] == L'>') return p;
    size_t start = p;
    while (p < t.size() && t[p] != L'>' && t[p] != L'=' && !IsSpace(t[p])) ++p;
    if (p < t.size() && IsSpace(t[p])) continue;  // a bare word
    if (p >= t.size() || t[p] == L'>') return p;
    std::wstring_view name = t.substr(start, p - start);
    ++p;  // past '='
    if (name.empty() || p >= t.size() || t[p] != L'"') continue;
    ++p;
    size_t close = t.find(L'"', p);
    if (close == std::wstring_view::npos) return t.size();  // unterminated: attribute dropped
    node->SetAttribute(name, Unescape(t.substr(p, close - p)));
    p = close + 1;
  }
}

}  // namespace

// Reads one node's own syntax (not its children). Sets *open when the node is an element
// whose children follow at the returned position.
size_t CXmlNode::ParseHead(CXmlNode* node, std::wstring_view t, size_t p, bool* open) {
  *open = false;
  p = SkipSpace(t, p);
  if (p >= t.size() || t[p] != L'<') {
    size_t lt = t.find(L'<', p);
    if (lt == std::wstring_view::npos) lt = t.size();
    node->type_ = XmlText;
    node->name_ = Unescape(t.substr(p, lt - p));
    return lt;
  }
  if (t.substr(p + 1, 4) == L"?xml") {
    size_t end = t.find(L"?>", p + 5);
    return end == std::wstring_view::npos ? t.size() : end + 2;
  }
  auto name_end = [&](size_t q) {
    while (q < t.size() && t[q] != L'>' && !IsSpace(t[q])) ++q;
    return q;
  };
  if (p + 1 < t.size() && t[p + 1] == L'/') {
    size_t q = name_end(p + 2);
    node->type_ = XmlEndTag;
    node->name_ = Unescape(t.substr(p + 2, q - p - 2));
    return (q < t.size() && t[q] == L'>') ? q + 1 : q;
  }
  size_t q = name_end(p + 1);
  node->SetName(Unescape(t.substr(p + 1, q - p - 1)));
  if (q >= t.size()) return q;
  q = ParseAttributes(node, t, q);
  if (q >= t.size()) return q;
  if (t[q - 1] == L'/') return q + 1;
  *open = true;
  return q + 1;
}

CXmlNode::CXmlNode(std::wstring name, XmlNodeType type) : type_(type), name_(std::move(name)) {}

CXmlNode::CXmlNode(const CXmlNode& source) {
  std::wstring text;
  WriteText(&source, &text, 0);
  ParseNode(text, 0);
}

CXmlNode::~CXmlNode() {
  DeleteChildren();
}

void CXmlNode::DeleteChildren() {
  std::vector<CXmlNode*> work;
  for (CXmlNode* c = first_child_; c; c = c->next_) work.push_back(c);
  first_child_ = nullptr;
  while (!work.empty()) {
    CXmlNode* n = work.back();
    work.pop_back();
    for (CXmlNode* c = n->first_child_; c; c = c->next_) work.push_back(c);
    n->first_child_ = nullptr;
    delete n;
  }
}

CXmlNode* CXmlNode::Find(std::wstring_view path) const {
  const CXmlNode* cur = this;
  size_t i = 0;
  while (i < path.size()) {
    wchar_t c = path[i];
    if (c == L'*') break;
    if (c == L'@') {
      cur = cur->first_child_;
      ++i;
    } else if (c == L'#') {
      cur = cur->next_;
      ++i;
    } else {
      size_t end = i;
      while (end < path.size() && !IsPathSeparator(path[end])) ++end;
      std::wstring_view name = path.substr(i, end - i);
      while (cur && !(cur->type_ == XmlElement && cur->name_ == name)) cur = cur->next_;
      i = end;
    }
    if (!cur) return nullptr;
  }
  return const_cast<CXmlNode*>(cur);
}

CXmlNode* CXmlNode::FindChild(std::wstring_view name) const {
  for (CXmlNode* c = first_child_; c; c = c->next_) {
    if (c->name_ == name) return c;
  }
  return nullptr;
}

std::optional<std::wstring> CXmlNode::GetText() const {
  for (CXmlNode* c = first_child_; c; c = c->next_) {
    if (c->type_ == XmlText) return c->name_;
  }
  return std::nullopt;
}

std::optional<std::wstring> CXmlNode::GetChildText(std::wstring_view name) const {
  CXmlNode* child = FindChild(name);
  if (!child || !child->first_child_) return std::nullopt;
  return child->first_child_->name_;
}

std::optional<std::wstring> CXmlNode::GetAttribute(std::wstring_view name) const {
  auto it = attributes_.find(name);
  if (it == attributes_.end()) return std::nullopt;
  return it->second;
}

int32_t CXmlNode::GetAttributeInt(std::wstring_view name, int32_t default_value) const {
  auto it = attributes_.find(name);
  if (it == attributes_.end() || it->second.empty()) return default_value;
  const wchar_t* s = it->second.c_str();
  wchar_t* end = nullptr;
  errno = 0;
  long v = std::wcstol(s, &end, 0);
  if (end == s) return default_value;
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

void CXmlNode::SetAttribute(std::wstring_view name, std::wstring_view value) {
  auto it = attributes_.find(name);
  if (it != attributes_.end()) {
    it->second.assign(value);
  } else {
    attributes_.emplace(std::wstring(name), std::wstring(value));
  }
}

void CXmlNode::SetAttributeInt(std::wstring_view name, int32_t value) {
  SetAttribute(name, std::to_wstring(value));
}

bool CXmlNode::RemoveAttribute(std::wstring_view name) {
  auto it = attributes_.find(name);
  if (it == attributes_.end()) return false;
  attributes_.erase(it);
  return true;
}

void CXmlNode::SetText(std::wstring_view text) {
  if (!first_child_) {
    AppendChild(new CXmlNode(std::wstring(text), XmlText));
  } else if (first_child_->type_ == XmlText) {
    first_child_->name_.assign(text);
  } else {
    // An element whose first child is an element: the text goes in front of the children.
    auto* t = new CXmlNode(std::wstring(text), XmlText);
    t->parent_ = this;
    t->next_ = first_child_;
    first_child_ = t;
  }
}

void CXmlNode::SetChildText(std::wstring_view name, std::wstring_view text) {
  CXmlNode* child = FindChild(name);
  if (child) {
    if (child->first_child_) {
      child->first_child_->name_.assign(text);
    } else {
      child->AppendChild(new CXmlNode(std::wstring(text), XmlText));
    }
    return;
  }
  child = AppendChild(new CXmlNode(std::wstring(name), XmlElement));
  child->AppendChild(new CXmlNode(std::wstring(text), XmlText));
}

CXmlNode* CXmlNode::AppendChild(CXmlNode* node) {
  node->parent_ = this;
  node->next_ = nullptr;
  if (!first_child_) {
    first_child_ = node;
  } else {
    CXmlNode* last = first_child_;
    while (last->next_) last = last->next_;
    last->next_ = node;
  }
  return node;
}

CXmlNode* CXmlNode::AppendSibling(CXmlNode* node) {
  CXmlNode* last = this;
  while (last->next_) last = last->next_;
  last->next_ = node;
  node->next_ = nullptr;
  node->parent_ = parent_;
  return node;
}

std::unique_ptr<CXmlNode> CXmlNode::DetachChild(CXmlNode* node) {
  if (!node) return nullptr;
  CXmlNode** link = &first_child_;
  while (*link && *link != node) link = &(*link)->next_;
  if (!*link) return nullptr;
  *link = node->next_;
  node->next_ = nullptr;
  node->parent_ = nullptr;
  return std::unique_ptr<CXmlNode>(node);
}

void CXmlNode::RemoveChild(CXmlNode* node) {
  DetachChild(node);
}

void CXmlNode::WriteText(const CXmlNode* node, std::wstring* out, int depth) {
  struct Frame {
    const CXmlNode* node;
    int depth;
    bool close;
  };
  std::vector<Frame> stack{{node, depth, false}};
  std::vector<const CXmlNode*> children;
  while (!stack.empty()) {
    Frame f = stack.back();
    stack.pop_back();
    const CXmlNode* n = f.node;
    if (f.close) {
      if (n->first_child_->type_ != XmlText) {
        out->append(L"\r\n");
        out->append(f.depth, L'\t');
      }
      out->append(L"</");
      AppendEscaped(out, n->name_);
      out->push_back(L'>');
      continue;
    }
    if (n->type_ == XmlText) {
      AppendEscaped(out, n->name_);
      continue;
    }
    out->append(L"\r\n");
    out->append(f.depth, L'\t');
    out->push_back(L'<');
    AppendEscaped(out, n->name_);
    for (const auto& [name, value] : n->attributes_) {
      out->push_back(L' ');
      AppendEscaped(out, name);
      out->append(L"=\"");
      AppendEscaped(out, value);
      out->push_back(L'"');
    }
    out->push_back(L'>');
    if (!n->first_child_) {
      out->append(L"</");
      AppendEscaped(out, n->name_);
      out->push_back(L'>');
      continue;
    }
    stack.push_back({n, f.depth, true});
    children.clear();
    for (const CXmlNode* c = n->first_child_; c; c = c->next_) children.push_back(c);
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      stack.push_back({*it, f.depth + 1, false});
    }
  }
}

void CXmlNode::WriteTextWithSiblings(const CXmlNode* node, std::wstring* out, int depth) {
  for (; node; node = node->next_) WriteText(node, out, depth);
}

size_t CXmlNode::ParseNode(std::wstring_view text, size_t pos) {
  std::wstring_view t = Terminated(text);
  DeleteChildren();
  attributes_.clear();
  type_ = XmlElement;
  name_.clear();
  bool open = false;
  size_t p = ParseHead(this, t, pos, &open);
  if (!open) return p;
  // The open elements, innermost last, each with its last child so far (appending stays
  // constant-time however many siblings there are). Any end tag closes the innermost element.
  struct Open {
    CXmlNode* node;
    CXmlNode* last;
  };
  std::vector<Open> stack{{this, nullptr}};
  while (!stack.empty()) {
    p = SkipSpace(t, p);
    if (p >= t.size()) break;  // the end of the text closes every open element
    auto child = std::make_unique<CXmlNode>();
    p = ParseHead(child.get(), t, p, &open);
    if (child->type_ == XmlEndTag) {
      stack.pop_back();
      continue;
    }
    CXmlNode* added = child.release();
    Open& top = stack.back();
    added->parent_ = top.node;
    if (top.last)
      top.last->next_ = added;
    else
      top.node->first_child_ = added;
    top.last = added;
    if (open) stack.push_back({added, nullptr});
  }
  return p;
}

void CXmlDocument::Parse(std::wstring_view text) {
  Clear();
  std::wstring_view t = Terminated(text);
  size_t p = 0;
  CXmlNode* last = nullptr;
  while (p < t.size()) {
    auto* node = new CXmlNode();
    size_t next = node->ParseNode(t, p);
    if (last) {
      last->next_ = node;
    } else {
      first_ = node;
    }
    last = node;
    p = next;
  }
}

std::wstring CXmlDocument::ToText() const {
  std::wstring out;
  CXmlNode::WriteTextWithSiblings(first_, &out, 0);
  return out;
}

CXmlNode* CXmlDocument::FindTop(std::wstring_view name) const {
  for (CXmlNode* n = first_; n; n = n->next_) {
    if (n->name_ == name) return n;
  }
  return nullptr;
}

CXmlNode* CXmlDocument::AppendTop(CXmlNode* node) {
  node->parent_ = nullptr;
  node->next_ = nullptr;
  if (!first_) {
    first_ = node;
  } else {
    CXmlNode* last = first_;
    while (last->next_) last = last->next_;
    last->next_ = node;
  }
  return node;
}

void CXmlDocument::RemoveTop(CXmlNode* node) {
  if (!node) return;
  CXmlNode** link = &first_;
  while (*link && *link != node) link = &(*link)->next_;
  if (!*link) return;
  *link = node->next_;
  node->next_ = nullptr;
  delete node;
}

void CXmlDocument::Clear() {
  while (first_) {
    CXmlNode* n = first_;
    first_ = n->next_;
    n->next_ = nullptr;
    delete n;
  }
}

}  // namespace gm
