// The crawl model: the in-memory form of a task's page levels (CLocation), data items
// (CItemDef), auto-click targets (CAutoClick) and paging definitions (CAutoPage).
//
// Ownership: a CLocation owns its items, its first child and its next sibling; a CItemDef owns
// its nested tree, its auto-click chain and its paging definition. Parent, owner and node
// pointers are not owned. Nothing here is shared between threads: a runner's thread owns the
// tree it built, the editor owns its own.
//
// Besides the persistent definition (read from and written to the task element), locations and
// items carry run state that the engine keeps while it walks a page: the element located for
// each level and the page model of a tree's first top-level location (both opaque handles of
// the page layer, released by resetting them), the base address of an item's level and the
// paging position of nested tasks.
//
// Nesting is bounded: levels (including the trees of LINKTASK items) deeper than
// kMaxLocationNesting are not read, so a hostile task file cannot exhaust the stack. Sibling
// chains of any length are handled without recursion.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "doc/xml_node.h"

namespace gm {

class CItemDef;

inline constexpr int kMaxLocationNesting = 200;

class CAutoClick {
 public:
  CAutoClick() = default;
  CAutoClick(const CAutoClick&) = delete;
  CAutoClick& operator=(const CAutoClick&) = delete;
  ~CAutoClick();

  int method = 0;  // 0 direct, non-zero marker text
  int submatch = 0;
  std::wstring tag;      // shown to the user only
  std::wstring pattern;  // marker regular expression
  std::wstring objpath;  // direct: target path; marker: ancestor to marker element
  std::wstring relpath;  // marker: ancestor to target
  std::unique_ptr<CAutoClick> next;
};

class CAutoPage {
 public:
  int type = 0;  // 0 none, 1 next-page link, 2 scripts
  int repeat = 0;
  int maxpass = 0;
  int skipfirst = 0;
  int onlyfirst = 0;
  int skiplast = 0;
  int onlylast = 0;
  int skipfirst2 = 0;
  int onlyfirst2 = 0;
  int skiplast2 = 0;
  int onlylast2 = 0;
  std::wstring nextlink;
  std::vector<std::wstring> scripts;
};

class CLocation {
 public:
  CLocation() = default;
  CLocation(const CLocation&) = delete;
  CLocation& operator=(const CLocation&) = delete;
  // Releases the element, empties the page, destroys items, child chain and sibling chain.
  ~CLocation();

  CLocation* parent = nullptr;  // not owned; null at the top of a tree
  std::wstring path;
  std::wstring step;  // empty: one element per page at this level
  std::vector<std::unique_ptr<CItemDef>> items;
  std::unique_ptr<CLocation> firstChild;
  std::unique_ptr<CLocation> nextSibling;

  // Run state (page-layer handles; reset() releases them).
  std::shared_ptr<void> element;
  std::shared_ptr<void> page;
};

class CItemDef {
 public:
  CItemDef() = default;
  CItemDef(const CItemDef&) = delete;
  CItemDef& operator=(const CItemDef&) = delete;
  ~CItemDef();

  CXmlNode* node = nullptr;    // the data element read from; not owned
  CLocation* owner = nullptr;  // not owned
  std::wstring path;
  std::wstring name;
  int method = 0;
  int submatch = 0;
  int dlimage = 0;
  int dlmedia = 0;
  int replace = 0;
  int firstonly = 0;
  int order = 0;
  int option = 0;
  std::wstring type = L"INNERTEXT";
  std::wstring attr;
  std::wstring timeformat;
  std::wstring pattern;
  std::wstring regreg;
  std::wstring output;
  std::wstring locpath;
  std::wstring relpath;
  std::unique_ptr<CLocation> nested;       // LINKTASK: the nested task's tree
  std::unique_ptr<CAutoClick> autoClicks;  // LINKTASK: the nested task's clicks
  std::unique_ptr<CAutoPage> autoPage;     // LINKTASK: the nested task's paging

  bool IsLinkTask() const { return type == L"LINKTASK"; }

  // Run state.
  std::wstring baseUrl;
  int scriptIndex = 0;
  int pass = 0;
};

// Builds the tree rooted at a "location" element, with its following "location" siblings;
// null for a null node.
std::unique_ptr<CLocation> ReadLocation(const CXmlNode* node, CLocation* parent);
// Writes the tree as new "location" elements appended to `parent`: one per location of the
// sibling chain, in chain order (a free-standing element cannot own its siblings here).
void WriteLocation(const CLocation& location, CXmlNode* parent);

// The editor's save of its items: removes every "location" child of `owner` (a task or a
// LINKTASK data element) and appends the tree written anew (nothing for a null tree).
void ReplaceLocations(CXmlNode* owner, const CLocation* tree);

std::unique_ptr<CItemDef> ReadItem(const CXmlNode* node, CLocation* owner);
std::unique_ptr<CXmlNode> WriteItem(const CItemDef& item);

// From the first "autoclk" element of a chain (null gives null); to new "autoclk" elements,
// one per target in chain order, appended to `parent`.
std::unique_ptr<CAutoClick> ReadAutoClicks(const CXmlNode* first);
void WriteAutoClicks(const CAutoClick& first, CXmlNode* parent);

std::unique_ptr<CAutoPage> ReadAutoPage(const CXmlNode* node);
std::unique_ptr<CXmlNode> WriteAutoPage(const CAutoPage& page);

// Convenience for a task (or a LINKTASK data element): the first child "location", "autoclk"
// or "autopage" element, read as above.
std::unique_ptr<CLocation> ReadTaskLocations(const CXmlNode& owner);
std::unique_ptr<CAutoClick> ReadTaskAutoClicks(const CXmlNode& owner);
std::unique_ptr<CAutoPage> ReadTaskAutoPage(const CXmlNode& owner);

// Number of levels of the tree (nested LINKTASK trees count from their item's level); 0 for null.
int LocationDepth(const CLocation* location);

// Appends the tree's items in record order, each LINKTASK item replaced by its nested items.
void FlattenItems(const CLocation* location, std::vector<CItemDef*>* out);

// True when an item of the tree (not of nested trees) is a LINKTASK with bit 0 of option set.
bool NeedsBrowserForLinks(const CLocation* location);

// Releases every located element of the tree, descending into children, siblings and nested
// LINKTASK trees, and empties the page models of the nested trees.
void ClearRunState(CLocation* location);

// Index of the first item whose name equals `name` exactly; -1 when none does.
int FindItemIndex(const std::vector<CItemDef*>& items, std::wstring_view name);

// The display names of item types, from the DIGDAT_ITEMTYPE text: "CODE#display|CODE#display".
class ItemTypeList {
 public:
  struct Entry {
    std::wstring code;
    std::wstring display;
  };
  explicit ItemTypeList(std::wstring_view text);
  // Empty when nothing matches.
  std::wstring DisplayOf(std::wstring_view code) const;
  std::wstring CodeOf(std::wstring_view display) const;
  const std::vector<Entry>& Entries() const { return entries_; }

 private:
  std::vector<Entry> entries_;
};

}  // namespace gm
