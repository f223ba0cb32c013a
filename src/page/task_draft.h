// CTaskDraft: the task being edited, as the editor holds it between opening and OK: its name,
// a working copy of its "address" element, and its item chains. The editor's windows read and
// edit the draft; the stored task element is written only by SaveTo. A draft is complete from
// the moment it is built, so every window sees the task's items whichever one is shown first.
//
// A draft is read from a task element or from the data element of a LINKTASK item (its nested
// task); for the latter only the chains are edited, and SaveTo writes nothing else.
//
// Nothing here is shared between threads: the editor's thread owns its draft.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "doc/xml_node.h"
#include "page/item_chain.h"

namespace gm {

class CTaskDraft {
 public:
  // Reads the name, the "address" element and the chains of `task` (not kept).
  explicit CTaskDraft(const CXmlNode& task);

  const std::wstring& Name() const { return name_; }
  void SetName(std::wstring_view name) { name_ = name; }
  // The address (the url of the working "address" element).
  std::wstring Url() const;
  void SetUrl(std::wstring_view url);
  // The working copy of the task's "address" element (the advanced options edit it in place;
  // call MarkAddressChanged after).
  CXmlNode& Address() { return *address_; }
  const CXmlNode& Address() const { return *address_; }
  void MarkAddressChanged() { address_changed_ = true; }

  // The item chains in item-list order; call MarkItemsChanged after editing them.
  std::vector<CItemChain>& Chains() { return chains_; }
  const std::vector<CItemChain>& Chains() const { return chains_; }
  void MarkItemsChanged() { items_changed_ = true; }
  // The items as a run writes their fields (ChainItems).
  std::vector<CChainItem> Items() const { return ChainItems(chains_); }

  bool ItemsChanged() const { return items_changed_; }
  // True when SaveTo would write something.
  bool Changed() const;

  // `task` (the element the draft was read from) as SaveTo would leave it; null when a chain is
  // broken.
  std::unique_ptr<CXmlNode> WorkingTask(const CXmlNode& task) const;
  // Writes what changed into `task`: the name, the address, the location trees. False when
  // nothing changed or a chain is broken (then the location trees are left as they were).
  bool SaveTo(CXmlNode* task) const;

 private:
  // Writes the name and the address when they changed.
  void WriteHead(CXmlNode* task) const;

  std::wstring name_;
  std::wstring stored_name_;
  std::wstring stored_url_;
  std::unique_ptr<CXmlNode> address_;  // never null
  std::vector<CItemChain> chains_;
  bool address_changed_ = false;
  bool items_changed_ = false;
};

}  // namespace gm
