#include "net/html_scan.h"

#include <array>
#include <vector>

#include "doc/text_codec.h"

namespace gm {

namespace {

// Sorted; searched by halving with the name lower-cased.
constexpr std::array<std::wstring_view, 78> kContainers = {
    L"a",        L"abbr",       L"acronym", L"address",  L"applet",   L"b",        L"bdo",
    L"big",      L"blockquote", L"body",    L"button",   L"caption",  L"center",   L"cite",
    L"code",     L"colgroup",   L"dd",      L"del",      L"dfn",      L"dir",      L"div",
    L"dl",       L"dt",         L"em",      L"fieldset", L"font",     L"form",     L"frameset",
    L"h1",       L"h2",         L"h3",      L"h4",       L"h5",       L"h6",       L"head",
    L"html",     L"i",          L"iframe",  L"ins",      L"kbd",      L"label",    L"legend",
    L"li",       L"map",        L"menu",    L"noframes", L"noscript", L"object",   L"ol",
    L"optgroup", L"option",     L"p",       L"pre",      L"q",        L"s",        L"samp",
    L"script",   L"select",     L"small",   L"span",     L"strike",   L"strong",   L"style",
    L"sub",      L"sup",        L"table",   L"tbody",    L"td",       L"textarea", L"tfoot",
    L"th",       L"thead",      L"title",   L"tr",       L"tt",       L"u",        L"ul",
    L"var"};

wchar_t LowerAscii(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool IsAsciiLetter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

bool NameEq(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

int ContainerIndex(std::wstring_view name) {
  if (name.empty() || name.size() > 10) return -1;
  wchar_t buf[10];
  for (size_t i = 0; i < name.size(); ++i) buf[i] = LowerAscii(name[i]);
  std::wstring_view lower(buf, name.size());
  int lo = 0, hi = static_cast<int>(kContainers.size()) - 1;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int c = lower.compare(kContainers[mid]);
    if (c == 0) return mid;
    if (c < 0)
      hi = mid - 1;
    else
      lo = mid + 1;
  }
  return -1;
}

bool IsTag(const HtmlScanNode* n) {
  return n->Kind() == HtmlNodeKind::kStartTag || n->Kind() == HtmlNodeKind::kEndTag;
}

// Where a text node starting at p ends: the next "<" followed by a letter, "!" or "/".
const wchar_t* TextEnd(const wchar_t* p, const wchar_t* end) {
  for (; p < end; ++p) {
    if (*p == L'<' && p + 1 < end && (IsAsciiLetter(p[1]) || p[1] == L'!' || p[1] == L'/')) {
      return p;
    }
  }
  return end;
}

const wchar_t* NameEnd(const wchar_t* p, const wchar_t* end) {
  while (p < end && *p != L'>' && !IsSpace(*p)) ++p;
  return p;
}

// The raw content of a script or style element: up to "</" + name, quoted strings skipped.
const wchar_t* RawTextEnd(const wchar_t* p, const wchar_t* end, std::wstring_view name) {
  while (p < end) {
    wchar_t c = *p;
    if (c == L'"' || c == L'\'') {
      ++p;
      while (p < end && *p != c) {
        if (*p == L'\\') ++p;
        if (p < end) ++p;
      }
      if (p < end) ++p;
      continue;
    }
    if (c == L'<' && p + 1 < end && p[1] == L'/' &&
        static_cast<size_t>(end - (p + 2)) >= name.size() &&
        NameEq(std::wstring_view(p + 2, name.size()), name)) {
      return p;
    }
    ++p;
  }
  return end;
}

}  // namespace

bool CHtmlScan::IsContainerName(std::wstring_view name) {
  return ContainerIndex(name) >= 0;
}

HtmlScanNode* CHtmlScan::NewNode() {
  return &nodes_.emplace_back();
}

HtmlScanNode* CHtmlScan::ReadNode(const wchar_t*& p, const wchar_t* end, HtmlScanNode* parent) {
  HtmlScanNode* n = NewNode();
  n->parent = parent;
  n->begin = p;
  auto text_node = [&](const wchar_t* from) {
    n->end = TextEnd(from, end);
    n->name_start = n->begin;
    n->name_end = n->end;
  };
  if (*p != L'<') {
    text_node(p);
  } else if (end - p >= 4 && p[1] == L'!' && p[2] == L'-' && p[3] == L'-') {
    const wchar_t* q = p + 4;
    n->end = n->name_end = end;
    while (q < end) {
      if (q + 1 < end && q[0] == L'-' && q[1] == L'-') {
        if (q + 2 < end && q[2] == L'>') {
          n->name_end = q;
          n->end = q + 3;
          break;
        }
        q += 2;
      } else {
        ++q;
      }
    }
    n->name_start = p + 4;
  } else if (end - p >= 2 && p[1] == L'/') {
    n->name_start = p + 2;
    n->name_end = NameEnd(p + 2, end);
    const wchar_t* gt = n->name_end;
    while (gt < end && *gt != L'>') ++gt;
    n->end = gt < end ? gt + 1 : end;
  } else if (end - p >= 2 && (p[1] == L'!' || IsAsciiLetter(p[1]))) {
    n->name_start = p + 1;
    n->name_end = NameEnd(p + 1, end);
    const wchar_t* gt = n->name_end;
    while (gt < end && *gt != L'>') ++gt;
    n->end = gt < end ? gt + 1 : end;
  } else {
    text_node(p + 1);
  }
  p = n->end;
  return n;
}

void CHtmlScan::ScanHtml(std::wstring_view text) {
  nodes_.clear();
  first_ = nullptr;
  const wchar_t* p = text.data();
  const wchar_t* const end = p + text.size();
  HtmlScanNode* top_last = nullptr;

  struct Frame {
    HtmlScanNode* element;
    HtmlScanNode* last_child;
    int container;
  };
  std::vector<Frame> open;                           // elements whose content is being read
  std::array<int, kContainers.size()> open_names{};  // how many of each name are open

  auto hand_up = [&](HtmlScanNode* end_tag) {
    if (!open.empty()) {
      open.back().element->pending = end_tag;
    } else {
      // Nothing above to take it: it stays in the tree at the top level.
      if (!top_last)
        first_ = end_tag;
      else
        top_last->next = end_tag;
      top_last = end_tag;
      while (top_last->next) top_last = top_last->next;
    }
  };
  auto close_top = [&]() -> HtmlScanNode* {
    Frame f = open.back();
    open.pop_back();
    --open_names[f.container];
    return f.element;
  };

  while (true) {
    HtmlScanNode* n = nullptr;
    if (p >= end) {
      if (open.empty()) break;
      n = close_top();  // unclosed: its content ends with the text
      n->end = end;
    } else {
      n = ReadNode(p, end, open.empty() ? nullptr : open.back().element);
      if (n->Kind() == HtmlNodeKind::kStartTag && n->end[-1] == L'>' && n->end[-2] != L'/') {
        int idx = ContainerIndex(n->Name());
        if (idx >= 0 && n->name_start[0] != L'!') {
          open.push_back({n, nullptr, idx});
          ++open_names[idx];
          if (NameEq(n->Name(), L"script") || NameEq(n->Name(), L"style")) {
            HtmlScanNode* t = NewNode();
            t->parent = n;
            t->begin = t->name_start = p;
            t->end = t->name_end = RawTextEnd(p, end, n->Name());
            p = t->end;
            n->first_child = t;
            open.back().last_child = t;
          }
          continue;
        }
      }
    }
    // n is complete: hand it to the element whose content is being read.
    while (true) {
      if (open.empty()) {
        if (!top_last)
          first_ = n;
        else
          top_last->next = n;
        top_last = n;
        while (top_last->next) top_last = top_last->next;
        break;
      }
      Frame& f = open.back();
      HtmlScanNode* e = f.element;
      bool same_name = IsTag(n) && NameEq(n->Name(), e->Name());
      if (same_name && (n->Kind() == HtmlNodeKind::kEndTag ||
                        !(NameEq(n->Name(), L"div") || NameEq(n->Name(), L"span")))) {
        // A repeated p, li, td... closes the open one; its own end tag closes it too.
        close_top();
        e->next = n;
        e->end = n->Kind() == HtmlNodeKind::kEndTag ? n->end : n->begin;
        if (HtmlScanNode* handed = e->pending) {
          e->pending = nullptr;
          hand_up(handed);
        }
        n = e;
        continue;
      }
      if (n->Kind() == HtmlNodeKind::kEndTag) {
        int idx = ContainerIndex(n->Name());
        if (idx >= 0 && open_names[idx] > 0) {
          // Closes an enclosing element: e ends here, the end tag goes up.
          close_top();
          e->end = n->begin;
          hand_up(n);
          n = e;
          continue;
        }
      }
      if (!f.last_child)
        e->first_child = n;
      else
        f.last_child->next = n;
      f.last_child = n;
      while (f.last_child->next) f.last_child = f.last_child->next;
      if (HtmlScanNode* handed = e->pending) {
        e->pending = nullptr;
        close_top();
        if (NameEq(handed->Name(), e->Name())) {
          e->next = handed;
          e->end = handed->end;
        } else {
          e->end = handed->begin;
          hand_up(handed);
        }
        n = e;
        continue;
      }
      break;
    }
  }
}

HtmlScanNode* CHtmlScan::FindNode(HtmlScanNode* cur, std::wstring_view path) {
  size_t i = 0;
  if (!cur) return nullptr;
  while (i < path.size()) {
    wchar_t c = path[i];
    if (c == L'@') {
      cur = cur->first_child;
      ++i;
    } else if (c == L'#') {
      cur = cur->next;
      ++i;
    } else {
      size_t e = i;
      while (e < path.size() && path[e] != L'@' && path[e] != L'#') ++e;
      std::wstring_view name = path.substr(i, e - i);
      while (cur && !(cur->IsElement() && NameEq(cur->Name(), name))) cur = cur->next;
      i = e;
    }
    if (!cur) return nullptr;
  }
  return cur;
}

std::wstring CHtmlScan::TagAttribute(const HtmlScanNode* tag, std::wstring_view wanted) {
  if (!tag || !tag->IsElement()) return {};
  const wchar_t* q = tag->name_end;
  const wchar_t* lim = tag->end;
  while (true) {
    while (q < lim && IsSpace(*q)) ++q;
    if (q >= lim || *q == L'>') return {};
    const wchar_t* nb = q;
    while (q < lim && *q != L'>' && *q != L'=' && !IsSpace(*q)) ++q;
    std::wstring_view name(nb, static_cast<size_t>(q - nb));
    while (q < lim && IsSpace(*q)) ++q;
    if (q >= lim || *q != L'=') continue;  // no value
    ++q;
    while (q < lim && *q != L'>' && IsSpace(*q)) ++q;
    if (q >= lim || *q == L'>') return {};
    const wchar_t* vb;
    const wchar_t* ve;
    if (*q == L'"' || *q == L'\'') {
      wchar_t quote = *q++;
      vb = q;
      while (q < lim && *q != quote && *q != L'>') {
        if (*q == L'\\' && q + 1 < lim) ++q;
        ++q;
      }
      ve = q;
      if (q < lim && *q == quote) ++q;
    } else {
      vb = q;
      while (q < lim && !IsSpace(*q) && *q != L'>') ++q;
      ve = q;
    }
    if (NameEq(name, wanted)) return std::wstring(vb, ve);
  }
}

}  // namespace gm
