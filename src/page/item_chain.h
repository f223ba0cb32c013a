// Item chains: the editor's working form of a task's items. Each chain is one item with the
// repeated page levels that lead to it, built by pointing at elements of a page and converted
// to and from the task's "location" trees.
//
// A chain keeps the item's "data" element itself (not a parsed copy), so that reading chains
// from a task and writing them back keeps every attribute and every nested child (the nested
// task of a LINKTASK item with its own locations, auto-click targets and paging) exactly.
//
// Invariant of a chain (ChainHolds): steps and level paths have the same length; each level
// path begins with the next outer one; full path = outermost level path + the relative level
// paths + item path (with no levels: full path ends with the item path); an empty full path
// has no levels and an empty item path.
//
// Pure functions; nothing here is shared between threads: the editor's thread owns its chains.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "doc/xml_node.h"
#include "page/page_model.h"
#include "task/crawl_model.h"

namespace gm {

class CItemChain {
 public:
  // An empty chain around a new "data" element (type INNERTEXT, empty path).
  CItemChain();
  // Takes the data element; a null one is replaced by a new empty element.
  explicit CItemChain(std::unique_ptr<CXmlNode> data);
  CItemChain(const CItemChain& other);  // deep copy of the data element
  CItemChain& operator=(const CItemChain& other);
  CItemChain(CItemChain&&) noexcept = default;
  CItemChain& operator=(CItemChain&&) noexcept = default;
  ~CItemChain();

  std::wstring fullPath;                // absolute path of the item's element
  std::vector<std::wstring> steps;      // step of each repeated level, deepest first
  std::vector<std::wstring> levelPaths; // absolute path of each level's first element, deepest first

  // The item's "data" element (never null). Its "path" attribute is the item path.
  const CXmlNode& Data() const { return *data_; }
  CXmlNode& Data() { return *data_; }
  std::wstring ItemPath() const;
  void SetItemPath(std::wstring_view path);

  // The item parsed (its node points at Data(); valid while the chain and its data live).
  std::unique_ptr<CItemDef> Item() const;
  // Replaces the data element by the item written anew (WriteItem: nested tree, clicks and
  // paging included); the item path is kept as the chain's, not taken from `item`.
  void SetItem(const CItemDef& item);
  // Replaces the data element, keeping the chain's item path.
  void SetData(std::unique_ptr<CXmlNode> data);

 private:
  std::unique_ptr<CXmlNode> data_;
};

// True when the chain satisfies the invariant above.
bool ChainHolds(const CItemChain& chain);

// Adds a repeated level through the element at absolute path `path`. False (chain unchanged)
// when the element does not fit the item: it is the item's element, it lies in another part
// of the page, or it would repeat a level the chain already has.
bool AddElement(CItemChain* chain, std::wstring_view path);

// Removes the level that the element at `path` adds; the item's own element empties the
// chain (no path, no levels). False (chain unchanged) when the element is not in the chain.
bool RemoveElement(CItemChain* chain, std::wstring_view path);

// A new item on the element at `path`, taking the repeated levels of the existing chain that
// repeats around it (the one with most such levels; the first of equals): an element picked
// in any row that another item repeats over gives an item repeated over the same rows, starting
// at the same first row. Without such a chain: a chain of the element alone.
CItemChain NewChainAt(std::wstring_view path, const std::vector<CItemChain>& existing);

// Paths of every element of the item on the page: the item's own element first, then those of
// each repetition of the levels, without duplicates. A level repeats while its next element
// resolves on `model`; a level with an empty step does not repeat. An item located by marker
// (method 1) is re-anchored on the page first; when its marker is not found the list is empty.
// `limit` bounds the list (hostile pages and deep chains stay cheap).
std::vector<std::wstring> ElementList(const CItemChain& chain, const CPageModel& model,
                                      size_t limit = 100000);

// The chains of a task (or a LINKTASK data element): one per "data" element of its location
// trees, in document order, with the levels from the top-level location down to the location
// holding it. Trees written by SaveChains give one chain per tree; a location with several
// items gives one chain for each of them. A single level with an empty step is read as no level.
std::vector<CItemChain> LoadChains(const CXmlNode& owner);

// Replaces the "location" children of `owner` by one tree per chain, in order, setting each
// item's "order" to its index. False, with `owner` unchanged, when a chain breaks the
// invariant. A chain without a full path is written as one location with empty path and step.
bool SaveChains(const std::vector<CItemChain>& chains, CXmlNode* owner);

// The items as a run writes their fields: name and stored type code, in chain order, each
// LINKTASK item replaced by the items of its nested task (FlattenItems).
struct CChainItem {
  std::wstring name;
  std::wstring type;
};
std::vector<CChainItem> ChainItems(const std::vector<CItemChain>& chains);

// A copy of `task` (a task or LINKTASK data element) whose locations are the chains'; null
// when SaveChains refuses them.
std::unique_ptr<CXmlNode> TaskWithChains(const CXmlNode& task,
                                         const std::vector<CItemChain>& chains);

}  // namespace gm
