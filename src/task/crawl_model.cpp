#include "task/crawl_model.h"

#include <algorithm>

#include "task/task_settings.h"

namespace gm {
namespace {

std::unique_ptr<CXmlNode> NewElement(const wchar_t* name) {
  return std::make_unique<CXmlNode>(name, XmlElement);
}

std::unique_ptr<CLocation> ReadChain(const CXmlNode* node, CLocation* parent, int nesting);

// Appends children in order without walking the child chain for every node.
class Appender {
 public:
  explicit Appender(CXmlNode* parent) : parent_(parent) {}
  CXmlNode* Append(std::unique_ptr<CXmlNode> node) {
    last_ = last_ ? last_->AppendSibling(node.release()) : parent_->AppendChild(std::move(node));
    return last_;
  }

 private:
  CXmlNode* parent_;
  CXmlNode* last_ = nullptr;
};

void WriteChain(const CLocation& location, Appender* out);
void WriteClicks(const CAutoClick& first, Appender* out);

std::unique_ptr<CItemDef> ReadItemAt(const CXmlNode* node, CLocation* owner, int nesting) {
  if (!node) return nullptr;
  auto item = std::make_unique<CItemDef>();
  item->node = const_cast<CXmlNode*>(node);
  item->owner = owner;
  item->path = ReadString(*node, L"path");
  item->name = ReadString(*node, L"name");
  item->method = ReadInt(*node, L"method", 0);
  item->submatch = ReadInt(*node, L"submatch", 0);
  item->dlimage = ReadInt(*node, L"dlimage", 0);
  item->dlmedia = ReadInt(*node, L"dlmedia", 0);
  item->replace = ReadInt(*node, L"replace", 0);
  item->firstonly = ReadInt(*node, L"firstonly", 0);
  item->order = ReadInt(*node, L"order", 0);
  item->option = ReadInt(*node, L"option", 0);
  item->type = ReadString(*node, L"type", kTypeInnerText);  // the default when absent
  item->attr = ReadString(*node, L"attr");
  item->timeformat = ReadString(*node, L"timeformat");
  item->pattern = ReadString(*node, L"pattern");
  item->regreg = ReadString(*node, L"regreg");
  item->output = ReadString(*node, L"output");
  item->locpath = ReadString(*node, L"locpath");
  item->relpath = ReadString(*node, L"relpath");
  item->nested = ReadChain(node->Find(L"@location"), nullptr, nesting + 1);
  item->autoClicks = ReadAutoClicks(node->Find(L"@autoclk"));
  item->autoPage = ReadAutoPage(node->Find(L"@autopage"));
  item->type = ItemTypeFromStored(item->type);
  return item;
}

std::unique_ptr<CLocation> ReadChain(const CXmlNode* node, CLocation* parent, int nesting) {
  if (nesting > kMaxLocationNesting) return nullptr;
  std::unique_ptr<CLocation> head;
  std::unique_ptr<CLocation>* tail = &head;
  for (const CXmlNode* n = node; n; n = n->Find(L"#location")) {
    auto loc = std::make_unique<CLocation>();
    loc->parent = parent;
    loc->path = ReadString(*n, L"path");
    loc->step = ReadString(*n, L"step");
    for (const CXmlNode* d = n->Find(L"@data"); d; d = d->Find(L"#data")) {
      loc->items.push_back(ReadItemAt(d, loc.get(), nesting));
    }
    loc->firstChild = ReadChain(n->Find(L"@location"), loc.get(), nesting + 1);
    *tail = std::move(loc);
    tail = &(*tail)->nextSibling;
  }
  return head;
}

}  // namespace

CAutoClick::~CAutoClick() {
  std::unique_ptr<CAutoClick> rest = std::move(next);
  while (rest) rest = std::move(rest->next);
}

CLocation::~CLocation() {
  element.reset();
  page.reset();
  items.clear();
  firstChild.reset();
  std::unique_ptr<CLocation> rest = std::move(nextSibling);
  while (rest) rest = std::move(rest->nextSibling);
}

CItemDef::~CItemDef() = default;

std::unique_ptr<CLocation> ReadLocation(const CXmlNode* node, CLocation* parent) {
  return ReadChain(node, parent, 0);
}

std::unique_ptr<CItemDef> ReadItem(const CXmlNode* node, CLocation* owner) {
  return ReadItemAt(node, owner, 0);
}

namespace {

void WriteChain(const CLocation& location, Appender* out) {
  for (const CLocation* l = &location; l; l = l->nextSibling.get()) {
    CXmlNode* e = out->Append(NewElement(L"location"));
    e->SetAttribute(L"path", l->path);
    e->SetAttribute(L"step", l->step);
    Appender children(e);
    if (l->firstChild) WriteChain(*l->firstChild, &children);
    for (const auto& item : l->items) children.Append(WriteItem(*item));
  }
}

void WriteClicks(const CAutoClick& first, Appender* out) {
  for (const CAutoClick* c = &first; c; c = c->next.get()) {
    CXmlNode* e = out->Append(NewElement(L"autoclk"));
    e->SetAttributeInt(L"method", c->method);
    e->SetAttributeInt(L"submatch", c->submatch);
    e->SetAttribute(L"tag", c->tag);
    e->SetAttribute(L"pattern", c->pattern);
    e->SetAttribute(L"objpath", c->objpath);
    e->SetAttribute(L"relpath", c->relpath);
  }
}

}  // namespace

void WriteLocation(const CLocation& location, CXmlNode* parent) {
  Appender out(parent);
  WriteChain(location, &out);
}

void ReplaceLocations(CXmlNode* owner, const CLocation* tree) {
  RemoveChildren(owner, L"location");
  if (tree) WriteLocation(*tree, owner);
}

std::unique_ptr<CXmlNode> WriteItem(const CItemDef& item) {
  auto e = NewElement(L"data");
  e->SetAttribute(L"path", item.path);
  e->SetAttribute(L"name", item.name);
  e->SetAttribute(L"type", item.type);
  e->SetAttribute(L"attr", item.attr);
  e->SetAttribute(L"timeformat", item.timeformat);
  e->SetAttributeInt(L"method", item.method);
  e->SetAttribute(L"pattern", item.pattern);
  e->SetAttributeInt(L"submatch", item.submatch);
  e->SetAttribute(L"locpath", item.locpath);
  e->SetAttribute(L"relpath", item.relpath);
  e->SetAttributeInt(L"dlimage", item.dlimage);
  e->SetAttributeInt(L"dlmedia", item.dlmedia);
  e->SetAttributeInt(L"replace", item.replace);
  e->SetAttribute(L"regreg", item.regreg);
  e->SetAttribute(L"output", item.output);
  e->SetAttributeInt(L"firstonly", item.firstonly);
  e->SetAttributeInt(L"order", item.order);
  e->SetAttributeInt(L"option", item.option);
  Appender children(e.get());
  if (item.nested) WriteChain(*item.nested, &children);
  if (item.autoClicks) WriteClicks(*item.autoClicks, &children);
  if (item.autoPage) children.Append(WriteAutoPage(*item.autoPage));
  return e;
}

std::unique_ptr<CAutoClick> ReadAutoClicks(const CXmlNode* first) {
  std::unique_ptr<CAutoClick> head;
  std::unique_ptr<CAutoClick>* tail = &head;
  for (const CXmlNode* n = first; n; n = n->Find(L"#autoclk")) {
    auto c = std::make_unique<CAutoClick>();
    c->method = ReadInt(*n, L"method", 0);
    c->submatch = ReadInt(*n, L"submatch", 0);
    c->tag = ReadString(*n, L"tag");
    c->pattern = ReadString(*n, L"pattern");
    c->objpath = ReadString(*n, L"objpath");
    c->relpath = ReadString(*n, L"relpath");
    *tail = std::move(c);
    tail = &(*tail)->next;
  }
  return head;
}

void WriteAutoClicks(const CAutoClick& first, CXmlNode* parent) {
  Appender out(parent);
  WriteClicks(first, &out);
}

std::unique_ptr<CAutoPage> ReadAutoPage(const CXmlNode* n) {
  if (!n) return nullptr;
  auto p = std::make_unique<CAutoPage>();
  p->type = ReadInt(*n, L"type", 0);
  p->repeat = ReadInt(*n, L"repeat", 0);
  p->maxpass = ReadInt(*n, L"maxpass", 0);
  p->skipfirst = ReadInt(*n, L"skipfirst", 0);
  p->onlyfirst = ReadInt(*n, L"onlyfirst", 0);
  p->skiplast = ReadInt(*n, L"skiplast", 0);
  p->onlylast = ReadInt(*n, L"onlylast", 0);
  p->skipfirst2 = ReadInt(*n, L"skipfirst2", 0);
  p->onlyfirst2 = ReadInt(*n, L"onlyfirst2", 0);
  p->skiplast2 = ReadInt(*n, L"skiplast2", 0);
  p->onlylast2 = ReadInt(*n, L"onlylast2", 0);
  p->nextlink = ReadString(*n, L"nextlink");
  p->scripts = ReadAttributeList(*n, L"postvar", L"script");
  return p;
}

std::unique_ptr<CXmlNode> WriteAutoPage(const CAutoPage& p) {
  auto e = NewElement(L"autopage");
  e->SetAttributeInt(L"type", p.type);
  e->SetAttributeInt(L"repeat", p.repeat);
  e->SetAttributeInt(L"maxpass", p.maxpass);
  e->SetAttributeInt(L"skipfirst", p.skipfirst);
  e->SetAttributeInt(L"onlyfirst", p.onlyfirst);
  e->SetAttributeInt(L"skiplast", p.skiplast);
  e->SetAttributeInt(L"onlylast", p.onlylast);
  e->SetAttributeInt(L"skipfirst2", p.skipfirst2);
  e->SetAttributeInt(L"onlyfirst2", p.onlyfirst2);
  e->SetAttributeInt(L"skiplast2", p.skiplast2);
  e->SetAttributeInt(L"onlylast2", p.onlylast2);
  e->SetAttribute(L"nextlink", p.nextlink);
  WriteAttributeList(e.get(), L"postvar", L"script", p.scripts);
  return e;
}

std::unique_ptr<CLocation> ReadTaskLocations(const CXmlNode& owner) {
  return ReadLocation(owner.Find(L"@location"), nullptr);
}

std::unique_ptr<CAutoClick> ReadTaskAutoClicks(const CXmlNode& owner) {
  return ReadAutoClicks(owner.Find(L"@autoclk"));
}

std::unique_ptr<CAutoPage> ReadTaskAutoPage(const CXmlNode& owner) {
  return ReadAutoPage(owner.Find(L"@autopage"));
}

int LocationDepth(const CLocation* location) {
  int depth = 0;
  for (const CLocation* l = location; l; l = l->nextSibling.get()) {
    int d = 1 + LocationDepth(l->firstChild.get());
    for (const auto& item : l->items) {
      if (item->IsLinkTask() && item->nested) d = std::max(d, LocationDepth(item->nested.get()));
    }
    depth = std::max(depth, d);
  }
  return depth;
}

void FlattenItems(const CLocation* location, std::vector<CItemDef*>* out) {
  for (const CLocation* l = location; l; l = l->nextSibling.get()) {
    FlattenItems(l->firstChild.get(), out);
    for (const auto& item : l->items) {
      if (item->IsLinkTask()) {
        FlattenItems(item->nested.get(), out);
      } else {
        out->push_back(item.get());
      }
    }
  }
}

bool NeedsBrowserForLinks(const CLocation* location) {
  for (const CLocation* l = location; l; l = l->nextSibling.get()) {
    for (const auto& item : l->items) {
      if (item->IsLinkTask() && (item->option & 1)) return true;
    }
    if (NeedsBrowserForLinks(l->firstChild.get())) return true;
  }
  return false;
}

void ClearRunState(CLocation* location) {
  for (CLocation* l = location; l; l = l->nextSibling.get()) {
    ClearRunState(l->firstChild.get());
    l->element.reset();
    for (const auto& item : l->items) {
      if (!item->IsLinkTask() || !item->nested) continue;
      ClearRunState(item->nested.get());
      for (CLocation* n = item->nested.get(); n; n = n->nextSibling.get()) n->page.reset();
    }
  }
}

int FindItemIndex(const std::vector<CItemDef*>& items, std::wstring_view name) {
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i]->name == name) return static_cast<int>(i);
  }
  return -1;
}

ItemTypeList::ItemTypeList(std::wstring_view text) {
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t bar = text.find(L'|', pos);
    if (bar == std::wstring_view::npos) bar = text.size();
    std::wstring_view entry = text.substr(pos, bar - pos);
    size_t hash = entry.find(L'#');
    if (hash != std::wstring_view::npos) {
      entries_.push_back(
          {std::wstring(entry.substr(0, hash)), std::wstring(entry.substr(hash + 1))});
    }
    pos = bar + 1;
  }
}

std::wstring ItemTypeList::DisplayOf(std::wstring_view code) const {
  for (const Entry& e : entries_) {
    if (e.code == code) return e.display;
  }
  return {};
}

std::wstring ItemTypeList::CodeOf(std::wstring_view display) const {
  for (const Entry& e : entries_) {
    if (e.display == display) return e.code;
  }
  return {};
}

}  // namespace gm
