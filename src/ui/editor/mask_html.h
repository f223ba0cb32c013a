// CMaskHtml: the picking browser of the task editor. A browser view (CHtmlCtrl) with a
// transparent layer over it that takes the mouse, so that a click picks the element under it
// instead of acting on the page; it frames the picked element and every element of the selected
// item chain, and shows the load progress. Shift lets the mouse through to the page (links,
// fields); in browser mode (picking off) the page gets the mouse without it.
//
// Elements are named by the paths of the page model (BuildPath on the snapshot of the live page):
// the paths a browser-mode run resolves. The element under a point and element boxes come from
// the snapshot agent of the browser layer.
//
// Draws the item chains of the task being edited (held by the editor's draft, in item-list
// order); it never changes them.
//
// Interface thread only.
#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QString>
#include <vector>

#include "page/item_chain.h"
#include "ui/editor/html_ctrl.h"

class QTimer;
class QWebEngineView;

namespace gm::ui {

class CMaskLayer;

enum class PickMove { kParent, kFirstChild, kPrevious, kNext };

class CMaskHtml : public CHtmlCtrl {
  Q_OBJECT

 public:
  // After a resize, the frames are read again once the size has settled this long.
  static constexpr int kReframeDelayMs = 150;

  // progress_text: the load progress text with one "%d" for the percentage.
  CMaskHtml(const QString& progress_text, QWidget* parent = nullptr);
  ~CMaskHtml() override;

  // --- Picking ---
  // The element under a point of the view (through same-origin frames); null for none.
  const CDomNode* PickAt(QPoint point);
  // Makes the element the picked one (null clears the pick) and redraws; true when the pick
  // changed. Emits Picked for a non-null element.
  bool SetPicked(const CDomNode* element);
  void ClearPick() { SetPicked(nullptr); }
  // The picked element in the current model (null when none, or it left the page).
  const CDomNode* PickedNode() const;
  const std::wstring& PickedPath() const { return picked_path_; }
  void MovePick(PickMove move);
  // Picking on (default) or browser mode.
  void SetPicking(bool on);
  bool Picking() const { return picking_; }
  // Clicks the picked element in the page.
  bool ClickPicked();

  // --- Chains ---
  // The chains drawn (empty when none were given).
  const std::vector<CItemChain>& Chains() const;
  // The chains to draw; they must outlive the view or be replaced. Clears the selection.
  void SetChains(const std::vector<CItemChain>* chains);
  // Highlights the chain's elements (-1: none).
  void SelectChain(int index);
  int SelectedChain() const { return selected_; }
  // The element paths of a chain on the page now shown.
  std::vector<std::wstring> ChainElements(int index) const;
  // Reads the page again and redraws the pick and the selected chain.
  void RefreshHighlight();

  // --- Drawing (for the layer and for tests) ---
  // The element's box in page coordinates (the view's box plus the page's scroll position),
  // enlarged by 2 pixels on each side; empty when it has none.
  QRect ElementRect(const CDomNode* element) const;
  const QRect& PickedRect() const { return picked_rect_; }
  const std::vector<QRect>& HighlightRects() const { return highlight_; }
  QPoint ScrollOffset() const;
  QString ProgressText() const;
  QColor PickColour() const { return pick_colour_; }
  CMaskLayer* Layer() const { return layer_; }

 signals:
  void Picked();
  // A right click on the layer, at a global position.
  void ContextMenuRequested(QPoint global_pos);

 protected:
  void OnModelChanged() override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  friend class CMaskLayer;
  void LayoutLayer();
  std::vector<QRect> Rects(const std::vector<const CDomNode*>& elements) const;
  void UpdatePickedRect();
  void UpdateHighlight();

  CMaskLayer* layer_ = nullptr;
  QString progress_text_;
  std::wstring picked_path_;
  QRect picked_rect_;
  QColor pick_colour_{0, 0, 255};
  std::vector<QRect> highlight_;
  const std::vector<CItemChain>* chains_ = nullptr;
  int selected_ = -1;
  bool picking_ = true;
  QTimer* reframe_ = nullptr;  // reads the frames again after the view was resized
  bool busy_ = false;  // a pick is waiting for the page: mouse presses meanwhile are dropped
};

// The transparent layer over the view.
class CMaskLayer : public QWidget {
  Q_OBJECT

 public:
  explicit CMaskLayer(CMaskHtml* owner);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Hands a mouse or wheel event to the page (Shift held, or scrolling).
  void PassToPage(QEvent* event);
  CMaskHtml* owner_;
  bool passing_ = false;  // a Shift press went to the page: its moves and release follow
};

}  // namespace gm::ui
