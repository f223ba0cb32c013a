#include "page/element_path.h"

#include <algorithm>
#include <boost/regex.hpp>
#include <exception>
#include <vector>

#include "page/element_text.h"
#include "task/crawl_model.h"

namespace gm {

namespace {

bool IsSeparator(wchar_t c) {
  return c == L'@' || c == L'#';
}

// The character at k, 0 at and after the end.
wchar_t At(std::wstring_view s, size_t k) {
  return k < s.size() ? s[k] : 0;
}

std::wstring Head(std::wstring_view s, std::ptrdiff_t length) {
  if (length <= 0) return std::wstring();
  return std::wstring(s.substr(0, std::min<size_t>(length, s.size())));
}

}  // namespace

const CDomNode* ResolvePath(const CPageModel& model, const CDomNode* start,
                            std::wstring_view path) {
  const CDomNode* n = start;
  const bool live = model.LiveFrames();
  size_t pos = 0;
  while (n) {
    if (pos >= path.size()) return n;
    wchar_t c = path[pos];
    if (IsSeparator(c)) {
      ++pos;
      // On a live page a separator must not be followed by another separator.
      if (live && pos < path.size() && IsSeparator(path[pos])) return nullptr;
      if (c == L'#') {
        n = n->Next();
      } else if (n->Name() == L"FRAME" || n->Name() == L"IFRAME") {
        n = model.FrameDocumentElement(n);
      } else {
        n = n->FirstChild();
      }
      continue;
    }
    size_t end = pos;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    std::wstring_view name = path.substr(pos, end - pos);
    while (n && n->IsIgnorable()) n = n->Next();
    if (!n || n->Name() != name) return nullptr;
    pos = end;
  }
  return nullptr;
}

std::wstring BuildPath(const CDomNode* node) {
  // Collected from the node upwards as names and separators, then reversed once.
  std::vector<std::wstring_view> parts;
  const CDomNode* n = node;
  while (n) {
    parts.push_back(n->Name());
    for (const CDomNode* s = n->Previous(); s; s = s->Previous()) {
      if (s->IsIgnorable()) continue;
      parts.push_back(L"#");
      parts.push_back(s->Name());
    }
    const CDomNode* p = n->Parent();
    if (!p) break;
    if (p->Kind() == DomNodeKind::kDocument) p = p->Document()->HostFrame();
    if (!p) break;
    parts.push_back(L"@");
    n = p;
  }
  std::wstring path;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) path.append(*it);
  return path;
}

// prefix: the longest common start of both paths, cut back to the separator that begins the
// first differing step (unless one path is a prefix of the other); suffix: the longest common
// end that begins at a separator of x (or x's end); middle: what the path with nothing between
// the two has more than the other, else nothing.
CPathSplit SplitPaths(std::wstring_view x, std::wstring_view y) {
  size_t i = 0;
  while (i < x.size() && i < y.size() && x[i] == y[i]) ++i;
  if (i < x.size() && i < y.size()) {
    while (i > 0 && !IsSeparator(x[i])) --i;
  }
  size_t rx = x.size(), ry = y.size();
  if (rx > i && ry > i) {
    --rx;
    --ry;
    while (At(x, rx) == At(y, ry) && rx > i && ry > i) {
      --rx;
      --ry;
    }
    if (At(x, rx) != At(y, ry)) {
      ++rx;
      ++ry;
    }
    while (At(x, rx) != 0 && !IsSeparator(At(x, rx))) {
      ++rx;
      ++ry;
    }
  }
  CPathSplit out;
  out.prefix = std::wstring(x.substr(0, i));
  out.suffix = std::wstring(x.substr(std::min(rx, x.size())));
  if (rx == i) {
    out.middle = std::wstring(y.substr(i, ry > i ? ry - i : 0));
  } else if (ry == i) {
    out.middle = std::wstring(x.substr(i, rx > i ? rx - i : 0));
  }
  return out;
}

std::optional<std::wstring> MarkerText(const CPageModel& model, std::wstring_view pattern,
                                       int index) {
  if (pattern.empty() || index < 0) return std::nullopt;
  try {
    boost::wregex re(pattern.begin(), pattern.end());
    std::wstring text = model.ElementText(model.BodyNode());
    boost::wsmatch m;
    if (!boost::regex_search(text, m, re)) return std::nullopt;
    if (static_cast<size_t>(index) >= m.size()) return std::nullopt;
    return m[index].matched ? m[index].str() : std::wstring();
  } catch (const std::exception&) {
    // An invalid pattern, or one too complex to run, finds nothing.
    return std::nullopt;
  }
}

CMarkerTest TestMarker(const CPageModel& model, std::wstring_view pattern, int index) {
  CMarkerTest out;
  if (pattern.empty() || index < 0) return out;
  try {
    boost::wregex re(pattern.begin(), pattern.end());
    if (static_cast<size_t>(index) > re.mark_count()) return out;
    std::wstring text = model.ElementText(model.BodyNode());
    boost::wsregex_iterator it(text.begin(), text.end(), re), end;
    for (; it != end && out.matches < 2; ++it) {
      if (++out.matches == 1) out.text = (*it)[index].matched ? (*it)[index].str() : std::wstring();
    }
  } catch (const std::exception&) {
    return CMarkerTest{};
  }
  if (out.matches == 1) out.element = model.FindTextElement(model.BodyNode(), out.text);
  return out;
}

CMarkerFragments MarkerFragments(const CDomNode* marker, const CDomNode* target) {
  CMarkerFragments out;
  if (!marker || !target) return out;
  std::wstring m = BuildPath(marker), t = BuildPath(target);
  size_t common = SplitPaths(m, t).prefix.size();
  out.marker = m.substr(std::min(common, m.size()));
  out.target = t.substr(std::min(common, t.size()));
  return out;
}

const CDomNode* AnchorLocation(const CPageModel& model, const CDomNode* start,
                               const CLocation& location) {
  const CLocation* deepest = &location;
  while (deepest->firstChild) deepest = deepest->firstChild.get();
  if (deepest->items.empty() || deepest->items.front()->method == 0)
    return ResolvePath(model, start, location.path);
  const CItemDef& item = *deepest->items.front();
  std::optional<std::wstring> marker = MarkerText(model, item.pattern, item.submatch);
  if (!marker) return nullptr;
  const CDomNode* shown = model.FindTextElement(model.BodyNode(), *marker);
  if (!shown) return nullptr;
  std::wstring p = BuildPath(shown);
  std::wstring predicted_item = Head(p, static_cast<std::ptrdiff_t>(p.size()) -
                                            static_cast<std::ptrdiff_t>(item.locpath.size())) +
                                item.relpath;
  std::wstring below;
  for (const CLocation* l = location.firstChild.get(); l; l = l->firstChild.get()) below += l->path;
  below += item.path;
  std::wstring predicted = Head(predicted_item, static_cast<std::ptrdiff_t>(predicted_item.size()) -
                                                    static_cast<std::ptrdiff_t>(below.size()));
  return ResolvePath(model, model.DocumentElement(), predicted);
}

const CDomNode* LocateClickTarget(const CPageModel& model, const CAutoClick& click, ClickCut cut) {
  const CDomNode* start = model.DocumentElement();
  if (click.method == 0) return ResolvePath(model, start, click.objpath);
  std::optional<std::wstring> marker = MarkerText(model, click.pattern, click.submatch);
  if (!marker) return nullptr;
  const CDomNode* shown = model.FindTextElement(model.BodyNode(), *marker);
  if (!shown) return nullptr;
  std::wstring p = BuildPath(shown);
  std::wstring base;
  if (cut == ClickCut::kByLength) {
    base = Head(p, static_cast<std::ptrdiff_t>(p.size()) -
                       static_cast<std::ptrdiff_t>(click.objpath.size()));
  } else {
    base = SplitPaths(p, click.objpath).middle;
  }
  return ResolvePath(model, start, base + click.relpath);
}

}  // namespace gm
