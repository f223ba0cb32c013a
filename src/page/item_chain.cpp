#include "page/item_chain.h"

#include <set>
#include <utility>

#include "page/element_path.h"

namespace gm {
namespace {

std::unique_ptr<CXmlNode> NewData() {
  auto data = std::make_unique<CXmlNode>(L"data", XmlElement);
  data->SetAttribute(L"path", L"");
  data->SetAttribute(L"type", L"INNERTEXT");
  return data;
}

// The first `n` characters of `s` (all of it for n past its end, none for n below 0).
std::wstring Head(std::wstring_view s, std::ptrdiff_t n) {
  if (n <= 0) return std::wstring();
  return std::wstring(s.substr(0, static_cast<size_t>(n)));
}

std::ptrdiff_t Len(std::wstring_view s) { return static_cast<std::ptrdiff_t>(s.size()); }

// The item path below the deepest level.
void ResetItemPath(CItemChain* chain) {
  chain->SetItemPath(std::wstring_view(chain->fullPath).substr(chain->levelPaths.front().size()));
}

}  // namespace

CItemChain::CItemChain() : data_(NewData()) {}

CItemChain::CItemChain(std::unique_ptr<CXmlNode> data)
    : data_(data ? std::move(data) : NewData()) {}

CItemChain::CItemChain(const CItemChain& other)
    : fullPath(other.fullPath),
      steps(other.steps),
      levelPaths(other.levelPaths),
      data_(std::make_unique<CXmlNode>(*other.data_)) {}

CItemChain& CItemChain::operator=(const CItemChain& other) {
  if (this != &other) {
    fullPath = other.fullPath;
    steps = other.steps;
    levelPaths = other.levelPaths;
    data_ = std::make_unique<CXmlNode>(*other.data_);
  }
  return *this;
}

CItemChain::~CItemChain() = default;

std::wstring CItemChain::ItemPath() const { return data_->GetAttribute(L"path").value_or(L""); }

void CItemChain::SetItemPath(std::wstring_view path) { data_->SetAttribute(L"path", path); }

std::unique_ptr<CItemDef> CItemChain::Item() const { return ReadItem(data_.get(), nullptr); }

void CItemChain::SetItem(const CItemDef& item) { SetData(WriteItem(item)); }

void CItemChain::SetData(std::unique_ptr<CXmlNode> data) {
  std::wstring path = ItemPath();
  data_ = data ? std::move(data) : NewData();
  SetItemPath(path);
}

bool ChainHolds(const CItemChain& chain) {
  const std::wstring item = chain.ItemPath();
  if (chain.steps.size() != chain.levelPaths.size()) return false;
  if (chain.fullPath.empty()) return chain.levelPaths.empty() && item.empty();
  if (chain.levelPaths.empty()) return chain.fullPath.ends_with(item);
  for (size_t j = 0; j + 1 < chain.levelPaths.size(); ++j) {
    if (!chain.levelPaths[j].starts_with(chain.levelPaths[j + 1])) return false;
  }
  const std::wstring& deepest = chain.levelPaths.front();
  return chain.fullPath.starts_with(deepest) && chain.fullPath.substr(deepest.size()) == item;
}

bool AddElement(CItemChain* chain, std::wstring_view path) {
  if (path.empty()) return false;
  if (chain->fullPath.empty()) {
    chain->fullPath = std::wstring(path);
    chain->steps.clear();
    chain->levelPaths.clear();
    chain->SetItemPath(L"");
    return true;
  }
  CPathSplit split = SplitPaths(path, chain->fullPath);
  if (split.prefix.empty() || split.middle.empty()) return false;
  for (size_t j = 0; j < chain->levelPaths.size(); ++j) {
    // The same level twice would repeat every element of it once more.
    if (chain->levelPaths[j] == split.prefix && chain->steps[j] == split.middle) return false;
  }
  size_t pos = 0;
  while (pos < chain->levelPaths.size() && chain->levelPaths[pos].size() >= split.prefix.size())
    ++pos;
  chain->levelPaths.insert(chain->levelPaths.begin() + static_cast<std::ptrdiff_t>(pos),
                           split.prefix);
  chain->steps.insert(chain->steps.begin() + static_cast<std::ptrdiff_t>(pos), split.middle);
  ResetItemPath(chain);
  return true;
}

bool RemoveElement(CItemChain* chain, std::wstring_view path) {
  if (chain->fullPath.empty()) return false;
  if (path == chain->fullPath) {
    chain->fullPath.clear();
    chain->steps.clear();
    chain->levelPaths.clear();
    chain->SetItemPath(L"");
    return true;
  }
  CPathSplit split = SplitPaths(path, chain->fullPath);
  if (split.prefix.empty() || split.middle.empty()) return false;
  // The level the element adds; by its step alone when no level starts where it does.
  size_t found = chain->steps.size();
  for (size_t j = 0; j < chain->steps.size() && found == chain->steps.size(); ++j) {
    if (chain->steps[j] == split.middle && chain->levelPaths[j] == split.prefix) found = j;
  }
  for (size_t j = 0; j < chain->steps.size() && found == chain->steps.size(); ++j) {
    if (chain->steps[j] == split.middle) found = j;
  }
  if (found == chain->steps.size()) return false;
  chain->steps.erase(chain->steps.begin() + static_cast<std::ptrdiff_t>(found));
  chain->levelPaths.erase(chain->levelPaths.begin() + static_cast<std::ptrdiff_t>(found));
  if (!chain->levelPaths.empty()) ResetItemPath(chain);
  return true;
}

namespace {

struct ListBuilder {
  const CPageModel& model;
  const std::vector<std::wstring>& levels;  // deepest first
  const std::vector<std::wstring>& steps;
  const std::wstring& item;
  size_t limit;
  size_t budget;  // resolutions left: bounds the work on pages where nothing resolves deeper
  std::vector<std::wstring> out;
  std::set<std::wstring> seen;

  void Add(std::wstring path) {
    if (out.size() < limit && seen.insert(path).second) out.push_back(std::move(path));
  }

  // The repetitions of level j, starting at its element `el` with absolute path `path`.
  void Expand(size_t j, const CDomNode* el, std::wstring path) {
    while (el && out.size() < limit && budget > 0) {
      --budget;
      if (j == 0) {
        Add(path + item);
      } else {
        std::wstring_view rel = std::wstring_view(levels[j - 1]).substr(levels[j].size());
        if (const CDomNode* inner = ResolvePath(model, el, rel)) Expand(j - 1, inner, path + std::wstring(rel));
      }
      if (steps[j].empty()) break;
      el = ResolvePath(model, el, steps[j]);
      path += steps[j];
    }
  }
};

// The chain's paths moved to where the item's marker is on this page; false without marker.
bool Reanchor(const CItemDef& item, const CPageModel& model, std::wstring* full,
              std::vector<std::wstring>* levels) {
  std::optional<std::wstring> marker = MarkerText(model, item.pattern, item.submatch);
  if (!marker) return false;
  const CDomNode* shown = model.FindTextElement(model.BodyNode(), *marker);
  if (!shown) return false;
  std::wstring p = BuildPath(shown);
  std::wstring predicted = Head(p, Len(p) - Len(item.locpath)) + item.relpath;
  for (std::wstring& level : *levels)
    level = Head(predicted, Len(predicted) - (Len(*full) - Len(level)));
  *full = std::move(predicted);
  return true;
}

}  // namespace

namespace {

// `path` moved into the first element of each level of `chain` it lies in (outermost first);
// `levels` gets the indexes of those levels.
std::wstring IntoFirstRepetition(std::wstring path, const CItemChain& chain,
                                 std::vector<size_t>* levels) {
  for (size_t j = chain.levelPaths.size(); j-- > 0;) {
    const std::wstring& level = chain.levelPaths[j];
    const std::wstring& step = chain.steps[j];
    if (!path.starts_with(level)) continue;
    std::wstring_view rest = std::wstring_view(path).substr(level.size());
    while (!step.empty() && rest.starts_with(step)) rest.remove_prefix(step.size());
    if (!rest.empty() && rest.front() != L'@') continue;  // beside the level, not in it
    path = level + std::wstring(rest);
    levels->push_back(j);
  }
  return path;
}

}  // namespace

CItemChain NewChainAt(std::wstring_view path, const std::vector<CItemChain>& existing) {
  CItemChain chain;
  const CItemChain* around = nullptr;
  std::vector<size_t> levels;
  std::wstring first(path);
  for (const CItemChain& other : existing) {
    std::vector<size_t> found;
    std::wstring moved = IntoFirstRepetition(std::wstring(path), other, &found);
    if (found.size() > levels.size()) {
      around = &other;
      levels = std::move(found);
      first = std::move(moved);
    }
  }
  if (!AddElement(&chain, first)) return chain;
  for (size_t j : levels) {
    const std::wstring& level = around->levelPaths[j];
    AddElement(&chain, level + around->steps[j] + first.substr(level.size()));
  }
  return chain;
}

std::vector<std::wstring> ElementList(const CItemChain& chain, const CPageModel& model,
                                      size_t limit) {
  std::wstring full = chain.fullPath;
  std::vector<std::wstring> levels = chain.levelPaths;
  if (full.empty() || !ChainHolds(chain)) return {};
  std::unique_ptr<CItemDef> item = chain.Item();
  if (item->method == 1 && !Reanchor(*item, model, &full, &levels)) return {};
  std::wstring item_path = levels.empty() ? std::wstring() : full.substr(levels.front().size());
  ListBuilder b{model, levels, chain.steps, item_path, limit, limit * 8, {}, {}};
  b.Add(full);
  if (!levels.empty()) {
    const CDomNode* top = ResolvePath(model, model.DocumentElement(), levels.back());
    b.Expand(levels.size() - 1, top, levels.back());
  }
  return std::move(b.out);
}

namespace {

struct LoadFrame {
  std::wstring full;
  std::vector<std::wstring> steps;
  std::vector<std::wstring> levels;
};

void LoadLocation(const CXmlNode& location, const LoadFrame& outer, int nesting,
                  std::vector<CItemChain>* out) {
  if (nesting > kMaxLocationNesting) return;
  LoadFrame here = outer;
  here.full += location.GetAttribute(L"path").value_or(L"");
  here.steps.insert(here.steps.begin(), location.GetAttribute(L"step").value_or(L""));
  here.levels.insert(here.levels.begin(), here.full);
  for (const CXmlNode* c = location.FirstChild(); c; c = c->Next()) {
    if (c->Type() != XmlElement) continue;
    if (c->Name() == L"location") {
      LoadLocation(*c, here, nesting + 1, out);
    } else if (c->Name() == L"data") {
      CItemChain chain(std::make_unique<CXmlNode>(*c));
      chain.fullPath = here.full + chain.ItemPath();
      chain.steps = here.steps;
      chain.levelPaths = here.levels;
      if (chain.steps.size() == 1 && chain.steps.front().empty()) {
        chain.steps.clear();
        chain.levelPaths.clear();
      }
      out->push_back(std::move(chain));
    }
  }
}

std::unique_ptr<CXmlNode> NewLocation(std::wstring_view path, std::wstring_view step) {
  auto e = std::make_unique<CXmlNode>(L"location", XmlElement);
  e->SetAttribute(L"path", path);
  e->SetAttribute(L"step", step);
  return e;
}

// The chain's location tree, outermost element returned.
std::unique_ptr<CXmlNode> ChainTree(const CItemChain& chain, int order) {
  auto data = std::make_unique<CXmlNode>(chain.Data());
  data->SetAttributeInt(L"order", order);
  const auto& levels = chain.levelPaths;
  if (levels.empty()) {
    auto loc = NewLocation(Head(chain.fullPath, Len(chain.fullPath) - Len(chain.ItemPath())), L"");
    loc->AppendChild(std::move(data));
    return loc;
  }
  std::unique_ptr<CXmlNode> inner;
  for (size_t j = 0; j < levels.size(); ++j) {
    bool outermost = j + 1 == levels.size();
    auto loc = NewLocation(outermost ? std::wstring_view(levels[j])
                                     : std::wstring_view(levels[j]).substr(levels[j + 1].size()),
                           chain.steps[j]);
    loc->AppendChild(inner ? std::move(inner) : std::move(data));
    inner = std::move(loc);
  }
  return inner;
}

}  // namespace

std::vector<CItemChain> LoadChains(const CXmlNode& owner) {
  std::vector<CItemChain> out;
  for (const CXmlNode* c = owner.FirstChild(); c; c = c->Next()) {
    if (c->Type() == XmlElement && c->Name() == L"location") LoadLocation(*c, LoadFrame{}, 0, &out);
  }
  return out;
}

bool SaveChains(const std::vector<CItemChain>& chains, CXmlNode* owner) {
  for (const CItemChain& chain : chains) {
    if (!ChainHolds(chain)) return false;
  }
  ReplaceLocations(owner, nullptr);
  for (size_t i = 0; i < chains.size(); ++i)
    owner->AppendChild(ChainTree(chains[i], static_cast<int>(i)));
  return true;
}

std::unique_ptr<CXmlNode> TaskWithChains(const CXmlNode& task,
                                         const std::vector<CItemChain>& chains) {
  auto copy = std::make_unique<CXmlNode>(task);
  if (!SaveChains(chains, copy.get())) return nullptr;
  return copy;
}

std::vector<CChainItem> ChainItems(const std::vector<CItemChain>& chains) {
  CXmlNode owner(L"task", XmlElement);
  std::vector<CChainItem> out;
  if (!SaveChains(chains, &owner)) return out;
  std::unique_ptr<CLocation> tree = ReadTaskLocations(owner);
  std::vector<CItemDef*> items;
  FlattenItems(tree.get(), &items);
  for (const CItemDef* item : items) {
    out.push_back({item->name, item->node ? item->node->GetAttribute(L"type").value_or(item->type)
                                          : item->type});
  }
  return out;
}

}  // namespace gm
