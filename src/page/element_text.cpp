#include "page/element_text.h"

#include <algorithm>

#include "page/color.h"

namespace gm {

namespace {

const std::wstring& Str(const std::wstring* s) {
  static const std::wstring kEmpty;
  return s ? *s : kEmpty;
}

bool IsVisible(const CDomNode* e) {
  const std::wstring& v = Str(e->Style().visibility);
  return v != L"hidden" && v != L"collapse";
}

bool IsCollapsibleSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f';
}

// Elements whose children are not laid out as text (controls and embedded content).
bool RendersNoChildren(const CDomNode* e) {
  const std::wstring& n = e->Name();
  return n == L"TEXTAREA" || n == L"IFRAME" || n == L"CANVAS" || n == L"VIDEO" || n == L"AUDIO" ||
         n == L"FRAME";
}

bool IsRowGroup(const CDomNode* e) {
  const std::wstring& d = Str(e->Style().display);
  return d == L"table-row-group" || d == L"table-header-group" || d == L"table-footer-group";
}

bool IsLastCell(const CDomNode* cell) {
  for (const CDomNode* n = cell->Next(); n; n = n->Next()) {
    if (n->IsElement() && n->Style().display_kind == DisplayKind::kTableCell) return false;
  }
  return true;
}

bool IsLastRow(const CDomNode* row) {
  for (const CDomNode* n = row->Next(); n; n = n->Next()) {
    if (n->IsElement() && n->Style().display_kind == DisplayKind::kTableRow) return false;
  }
  const CDomNode* group = row->ParentElement();
  if (!group || !IsRowGroup(group)) return true;
  for (const CDomNode* g = group->Next(); g; g = g->Next()) {
    if (!g->IsElement()) continue;
    if (g->Style().display_kind == DisplayKind::kTableRow) return false;
    if (IsRowGroup(g)) {
      for (const CDomNode* r = g->FirstChild(); r; r = r->Next()) {
        if (r->IsElement() && r->Style().display_kind == DisplayKind::kTableRow) return false;
      }
    }
  }
  return true;
}

class Renderer {
 public:
  // Without sources only the text is written (innerText needs no source per character).
  Renderer(CRenderedText* out, bool with_sources) : out_(out), with_sources_(with_sources) {}

  void Text(const CDomNode* node, const std::wstring& white_space) {
    bool keep_spaces =
        white_space == L"pre" || white_space == L"pre-wrap" || white_space == L"break-spaces";
    bool keep_newlines = keep_spaces || white_space == L"pre-line";
    for (wchar_t c : node->Value()) {
      if (c == L'\n' && keep_newlines) {
        Newline(node);
      } else if (c == L'\r' && keep_newlines) {
        continue;
      } else if (!keep_spaces && IsCollapsibleSpace(c)) {
        if (!at_line_start_) {
          pending_space_ = true;
          space_source_ = node;
        }
      } else {
        Content(c, node);
      }
    }
  }
  void Newline(const CDomNode* source) {
    FlushBreaks();
    pending_space_ = false;
    Put(L'\n', source);
    at_line_start_ = true;
  }
  void Tab() {
    FlushBreaks();
    pending_space_ = false;
    Put(L'\t', nullptr);
    at_line_start_ = true;
  }
  void RequireBreaks(int count) { pending_breaks_ = std::max(pending_breaks_, count); }

 private:
  void Put(wchar_t c, const CDomNode* source) {
    out_->text.push_back(c);
    if (with_sources_) out_->sources.push_back(source);
    trailing_newlines_ = c == L'\n' ? trailing_newlines_ + 1 : 0;
  }
  void FlushBreaks() {
    if (pending_breaks_ > 0 && !out_->text.empty()) {
      for (int i = trailing_newlines_; i < pending_breaks_; ++i) Put(L'\n', nullptr);
      at_line_start_ = true;
      pending_space_ = false;
    }
    pending_breaks_ = 0;
  }
  void Content(wchar_t c, const CDomNode* source) {
    FlushBreaks();
    if (pending_space_ && !at_line_start_) Put(L' ', space_source_);
    pending_space_ = false;
    Put(c, source);
    at_line_start_ = false;
  }

  CRenderedText* out_;
  const bool with_sources_;
  int pending_breaks_ = 0;
  int trailing_newlines_ = 0;
  bool pending_space_ = false;
  bool at_line_start_ = true;
  const CDomNode* space_source_ = nullptr;
};

void Enter(Renderer* r, const CDomNode* e) {
  if (!IsVisible(e)) return;
  if (e->Name() == L"BR") {
    r->Newline(nullptr);
    return;
  }
  if (e->Style().display_kind == DisplayKind::kBlock) r->RequireBreaks(e->Name() == L"P" ? 2 : 1);
}

void Leave(Renderer* r, const CDomNode* e) {
  if (!IsVisible(e)) return;
  switch (e->Style().display_kind) {
    case DisplayKind::kBlock:
      r->RequireBreaks(e->Name() == L"P" ? 2 : 1);
      break;
    case DisplayKind::kTableCell:
      if (!IsLastCell(e)) r->Tab();
      break;
    case DisplayKind::kTableRow:
      if (!IsLastRow(e)) r->Newline(nullptr);
      break;
    default:
      break;
  }
}

bool IsRendered(const CDomNode* e) {
  for (const CDomNode* n = e; n; n = n->ParentElement()) {
    if (n->Style().display_kind == DisplayKind::kNone) return false;
  }
  return true;
}

}  // namespace

std::wstring TextContent(const CDomNode* node) {
  std::wstring out;
  for (const CDomNode* n = node; n; n = NextInTree(n, node)) {
    if (n->IsText()) out += n->Value();
  }
  return out;
}

namespace {

void Render(const CDomNode* element, CRenderedText* out, bool with_sources) {
  out->text.clear();
  out->sources.clear();
  if (!element || !element->IsElement()) return;
  if (!IsRendered(element)) {
    for (const CDomNode* n = element; n; n = NextInTree(n, element)) {
      if (!n->IsText()) continue;
      out->text += n->Value();
      if (with_sources) out->sources.insert(out->sources.end(), n->Value().size(), n);
    }
    return;
  }
  // Walk the subtree in document order without recursion: Enter on the way down, Leave once
  // the children are done. The element itself contributes no breaks of its own.
  Renderer r(out, with_sources);
  const CDomNode* n = element->FirstChild();
  while (n) {
    bool descend = false;
    if (n->IsText()) {
      const CDomNode* parent = n->Parent();
      if (parent->IsElement() ? IsVisible(parent) : true)
        r.Text(n, Str(parent->Style().white_space));
    } else if (n->IsElement() && n->Style().display_kind != DisplayKind::kNone) {
      Enter(&r, n);
      descend = n->FirstChild() && !RendersNoChildren(n) && n->Name() != L"BR";
      if (!descend) Leave(&r, n);
    }
    if (descend) {
      n = n->FirstChild();
      continue;
    }
    while (n != element && !n->Next()) {
      n = n->Parent();
      if (n != element) Leave(&r, n);
    }
    if (n == element) break;
    n = n->Next();
  }
}

}  // namespace

void RenderText(const CDomNode* element, CRenderedText* out) {
  Render(element, out, true);
}

std::wstring InnerText(const CDomNode* element) {
  CRenderedText r;
  Render(element, &r, false);
  return std::move(r.text);
}

bool IsFilteredHiddenText(const CDomNode* e) {
  if (!e || !e->IsElement()) return false;
  const CComputedStyle& s = e->Style();
  if (Str(s.display) == L"none") return true;
  const std::wstring& size = Str(s.font_size);
  if (!size.empty() && size[0] == L'0') return true;
  return ParseColor(Str(s.color)) == ParseColor(Str(s.background_color));
}

std::wstring ElementText(const CDomNode* element, bool filter_hidden_text) {
  if (!element || !element->IsElement()) return std::wstring();
  if (filter_hidden_text && IsFilteredHiddenText(element)) return std::wstring();
  return InnerText(element);
}

}  // namespace gm
