#include "page/html_serializer.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace gm {

namespace {

bool IsVoidElement(const CDomNode* e) {
  static constexpr std::array<std::wstring_view, 18> kVoid = {
      L"area", L"base",  L"basefont", L"bgsound", L"br",   L"col",   L"embed",  L"frame", L"hr",
      L"img",  L"input", L"keygen",   L"link",    L"meta", L"param", L"source", L"track", L"wbr"};
  if (e->Namespace() != DomNamespace::kHtml) return false;
  return std::find(kVoid.begin(), kVoid.end(), e->LocalName()) != kVoid.end();
}

bool IsRawTextParent(const CDomNode* p) {
  static constexpr std::array<std::wstring_view, 8> kRaw = {
      L"style", L"script", L"xmp", L"iframe", L"noembed", L"noframes", L"plaintext", L"noscript"};
  if (!p || !p->IsElement() || p->Namespace() != DomNamespace::kHtml) return false;
  return std::find(kRaw.begin(), kRaw.end(), p->LocalName()) != kRaw.end();
}

void AppendEscaped(std::wstring_view text, bool attribute, std::wstring* out) {
  for (wchar_t c : text) {
    switch (c) {
      case L'&':
        out->append(L"&amp;");
        break;
      case 0xA0:
        out->append(L"&nbsp;");
        break;
      case L'"':
        if (attribute)
          out->append(L"&quot;");
        else
          out->push_back(c);
        break;
      case L'<':
        if (!attribute)
          out->append(L"&lt;");
        else
          out->push_back(c);
        break;
      case L'>':
        if (!attribute)
          out->append(L"&gt;");
        else
          out->push_back(c);
        break;
      default:
        out->push_back(c);
    }
  }
}

void AppendStartTag(const CDomNode* e, std::wstring* out) {
  out->push_back(L'<');
  out->append(e->LocalName());
  for (const CDomAttribute& a : e->Attributes()) {
    out->push_back(L' ');
    out->append(a.name);
    out->append(L"=\"");
    AppendEscaped(a.value, true, out);
    out->push_back(L'"');
  }
  out->push_back(L'>');
}

void AppendEndTag(const CDomNode* e, std::wstring* out) {
  if (IsVoidElement(e)) return;
  out->append(L"</");
  out->append(e->LocalName());
  out->push_back(L'>');
}

void AppendLeaf(const CDomNode* n, std::wstring* out) {
  switch (n->Kind()) {
    case DomNodeKind::kText:
      if (IsRawTextParent(n->Parent())) {
        out->append(n->Value());
      } else {
        AppendEscaped(n->Value(), false, out);
      }
      break;
    case DomNodeKind::kComment:
      out->append(L"<!--");
      out->append(n->Value());
      out->append(L"-->");
      break;
    default:
      break;
  }
}

// Serialises the children of `scope` without recursion: start tags on the way down, end tags on
// the way back up through the parent links.
void SerializeChildren(const CDomNode* scope, std::wstring* out) {
  const CDomNode* n = scope->FirstChild();
  while (n) {
    if (n->IsElement()) {
      AppendStartTag(n, out);
      if (n->FirstChild() && !IsVoidElement(n)) {
        n = n->FirstChild();
        continue;
      }
      AppendEndTag(n, out);
    } else {
      AppendLeaf(n, out);
    }
    while (n != scope && !n->Next()) {
      n = n->Parent();
      if (n != scope) AppendEndTag(n, out);
    }
    if (n == scope) break;
    n = n->Next();
  }
}

}  // namespace

void SerializeNode(const CDomNode* node, std::wstring* out) {
  if (!node) return;
  if (node->IsElement()) {
    AppendStartTag(node, out);
    if (!IsVoidElement(node)) {
      SerializeChildren(node, out);
      AppendEndTag(node, out);
    }
  } else if (node->Kind() == DomNodeKind::kDocument) {
    SerializeChildren(node, out);
  } else {
    AppendLeaf(node, out);
  }
}

std::wstring InnerHtml(const CDomNode* node) {
  std::wstring out;
  if (node && node->IsElement() && !IsVoidElement(node)) SerializeChildren(node, &out);
  return out;
}

std::wstring OuterHtml(const CDomNode* node) {
  std::wstring out;
  if (node && node->IsElement()) SerializeNode(node, &out);
  return out;
}

}  // namespace gm
