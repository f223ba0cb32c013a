// One page of the task editor sheet, and what a page may ask of the sheet that holds it.
//
// The sheet owns the task element being edited and its pages. A page reads the task element the
// first time it is shown (Load), checks its values when the user leaves it or presses OK
// (CanLeave), and on OK writes only the values that differ from the stored ones (Save; only
// pages that were shown are asked). Interface thread only.
#pragma once

#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "doc/xml_node.h"

namespace gm::ui {

// One item of the task as the other pages see it: the flattened item list (items of nested
// tasks in place of their LINKTASK item), in record field order.
struct CSheetItem {
  std::wstring name;
  std::wstring type;  // INNERTEXT, LINKFILE, ... as stored
};

// What pages ask of the sheet. Implemented by the sheet (and by test fixtures that open a page on
// its own against a task element).
class CTaskSheetHost {
 public:
  virtual ~CTaskSheetHost() = default;
  // The task element being edited; stays valid while the sheet is open.
  virtual CXmlNode* Task() = 0;
  // The configuration document (interface texts, settings).
  virtual const CXmlDocument& Config() = 0;
  // The current items as page 1 holds them now (not as stored): the page-to-page query code 2.
  virtual std::vector<CSheetItem> CurrentItems() = 0;
  // Page 1 tells the other pages that the item list changed: the query code 1.
  virtual void BroadcastItemsChanged() = 0;
};

class CTaskPage : public QWidget {
  Q_OBJECT
 public:
  CTaskPage(CTaskSheetHost& host, QWidget* parent = nullptr) : QWidget(parent), host_(host) {}

  // The tab caption (the page's dialog caption, as an interface text where there is one).
  virtual QString Caption() const = 0;
  // Reads the task element into the controls; called once, before the page is first shown.
  virtual void Load() = 0;
  // Leave check, on switching pages and on OK. False: the page showed its message, put the focus
  // on the field concerned, and the sheet stays on it.
  virtual bool CanLeave() { return true; }
  // OK: writes what differs from the stored values into the task element. Called only for pages
  // that were loaded, in page order, after every loaded page accepted CanLeave.
  virtual void Save() = 0;
  // Query code 1: the item list of page 1 changed (refill item-name lists and placeholders).
  virtual void OnItemsChanged() {}

  bool Loaded() const { return loaded_; }
  void MarkLoaded() { loaded_ = true; }
  // Set by the page's own edits, or by Save when it wrote something.
  bool Changed() const { return changed_; }

 protected:
  void SetChanged() { changed_ = true; }
  CTaskSheetHost& host_;

 private:
  bool loaded_ = false;
  bool changed_ = false;
};

}  // namespace gm::ui
