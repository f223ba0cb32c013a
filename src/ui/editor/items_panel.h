// CItemsPanel: the part of the task editor's items page that the nested-task dialog shares: the
// picking browser with its buttons (browser mode, auto-click, paging, the four arrows) and its
// context menu, the views of the current object, the item list with its commands, and a live
// preview of the records that the items give on the page now open.
//
// It edits the item chains of a draft (of a task, or of the temporary task of a nested
// definition); the draft's owner writes them. The auto-click and paging dialogs edit the owner
// element directly, as their callers expect.
//
// Interface thread only.
#pragma once

#include <QWidget>
#include <functional>
#include <vector>

#include "doc/xml_node.h"
#include "page/dom.h"
#include "page/task_draft.h"

class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabBar;
class QTableWidget;
class QTreeWidget;

namespace gm::ui {

class CMaskHtml;

// Dialogs that the items page opens but that live with the other pages of the editor. Each
// returns true when it changed something. Unset ones leave their buttons disabled.
struct CEditorDialogs {
  // Auto-click targets of `owner`, with the picked element (its path; empty: none) as the
  // target.
  std::function<bool(QWidget* parent, const CXmlDocument& config, CXmlNode* owner,
                     CMaskHtml* browser, const std::wstring& target_path)>
      autoclick;
  // Paging of `owner`.
  std::function<bool(QWidget* parent, const CXmlDocument& config, CXmlNode* owner,
                     CMaskHtml* browser)>
      autopage;
  // Advanced options of a working copy of the task's "address" element, with the picking
  // browser's page for the script test; `login_changed` set when the login settings changed.
  std::function<bool(QWidget* parent, const CXmlDocument& config, CXmlNode* address,
                     CMaskHtml* browser, bool* login_changed)>
      advanced;
};
CEditorDialogs& EditorDialogs();

class CItemsPanel : public QWidget {
  Q_OBJECT

 public:
  enum ObjectView { kText, kLink, kInnerHtml, kOuterHtml, kDescription };

  // `owner` is the element `draft` was read from; both must outlive the panel.
  CItemsPanel(const CXmlDocument& config, CXmlNode* owner, CTaskDraft* draft,
              QWidget* parent = nullptr);
  ~CItemsPanel() override;

  // Fills the item list from the draft's chains (done on construction).
  void Load();
  // The owner with the chains as they are now (for the other pages and the recovery file).
  std::unique_ptr<CXmlNode> OwnerWithChains() const;
  int ItemCount() const;
  bool ItemsChanged() const { return draft_->ItemsChanged(); }

  CMaskHtml* Browser() const { return browser_; }
  QTreeWidget* ItemList() const { return list_; }
  QTableWidget* Preview() const { return preview_; }
  QPlainTextEdit* ObjectText() const { return object_text_; }
  // The button of a command (33703..33709 and the item commands), for tests and shortcuts.
  QPushButton* Button(int command) const;

  // Commands of the page and the browser menu (ids 33700..33713).
  void RunCommand(int command);
  bool CommandEnabled(int command) const;

  void NewItem();
  void ModifyItem();
  void DeleteItem();
  void MoveItem(int delta);
  void AddToItem();
  void RemoveFromItem();
  void RefreshPreview();

 signals:
  // The item list changed (query code 1): names, types, order or elements.
  void ItemListChanged();
  // Something else of the owner changed (auto-click or paging).
  void OwnerChanged();
  // The user wants the browser's address in the address box (33712).
  void CopyAddressRequested(const QString& address);

 private:
  void Build();
  QWidget* BuildBrowserButtons();
  QWidget* BuildObjectViews();
  QWidget* BuildItemList();
  void FillRow(int index);
  void RenumberFrom(int index);
  void SelectRow(int index);
  int SelectedRow() const;
  void OnPicked();
  void OnRowSelected();
  void UpdateButtons();
  void ShowObject(const CDomNode* element);
  void ShowObjectView();
  void ShowContextMenu(QPoint global_pos);
  void MarkItemsChanged();
  // The picked element is one of the selected chain's elements (index in its element list).
  int PickedIndexInChain() const;

  const CXmlDocument& config_;
  CXmlNode* owner_;
  CTaskDraft* draft_;
  QString object_views_[5];

  CMaskHtml* browser_ = nullptr;
  QPushButton* browser_mode_ = nullptr;
  QPushButton* autoclick_ = nullptr;
  QPushButton* autopage_ = nullptr;
  QPushButton* arrows_[4] = {};
  QLabel* object_label_ = nullptr;
  QTabBar* object_tabs_ = nullptr;
  QPlainTextEdit* object_text_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QPushButton* new_item_ = nullptr;
  QPushButton* modify_item_ = nullptr;
  QPushButton* delete_item_ = nullptr;
  QPushButton* add_to_item_ = nullptr;
  QPushButton* remove_from_item_ = nullptr;
  QPushButton* up_ = nullptr;
  QPushButton* down_ = nullptr;
  QTableWidget* preview_ = nullptr;
  QMenu* menu_ = nullptr;
};

}  // namespace gm::ui
