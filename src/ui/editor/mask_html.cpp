#include "ui/editor/mask_html.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWheelEvent>

#include "page/element_path.h"

namespace gm::ui {

namespace {

constexpr int kScrollBarSpace = 16;   // left free for the page's scroll bars
constexpr int kOverflowSlack = 4;     // a page this much wider than the view has no bar yet
constexpr int kFrameMargin = 2;       // drawn frames lie this far outside the element
constexpr size_t kMostHighlighted = 2000;  // a chain on a huge page: the first ones are framed
const QColor kHighlightColour(0xFF, 0x00, 0xFF);

// The next element from `node` in a direction (text and comments are stepped over).
const CDomNode* Step(const CPageModel& model, const CDomNode* node, PickMove move) {
  switch (move) {
    case PickMove::kParent: {
      const CDomNode* parent = node->Parent();
      if (parent && !parent->IsElement()) {
        // Above a frame document's root: the FRAME or IFRAME element that shows it.
        return parent->Document() ? parent->Document()->HostFrame() : nullptr;
      }
      return parent;
    }
    case PickMove::kFirstChild: {
      if (const CDomNode* inner = model.FrameDocumentElement(node)) return inner;
      for (const CDomNode* c = node->FirstChild(); c; c = c->Next())
        if (c->IsElement()) return c;
      return nullptr;
    }
    case PickMove::kPrevious:
      for (const CDomNode* n = PreviousInOrder(node); n; n = PreviousInOrder(n))
        if (n->IsElement()) return n;
      return nullptr;
    case PickMove::kNext:
      for (const CDomNode* n = NextAfterSubtree(node); n; n = NextAfterSubtree(n))
        if (n->IsElement()) return n;
      return nullptr;
  }
  return nullptr;
}

}  // namespace

CMaskHtml::CMaskHtml(const QString& progress_text, QWidget* parent)
    : CHtmlCtrl(parent), progress_text_(progress_text) {
  layer_ = new CMaskLayer(this);
  if (View()) {
    QWebEnginePage* page = View()->page();
    connect(page, &QWebEnginePage::scrollPositionChanged, layer_, [this] { layer_->update(); });
    connect(page, &QWebEnginePage::contentsSizeChanged, this, [this] { LayoutLayer(); });
  }
  connect(this, &CHtmlCtrl::ProgressChanged, layer_, [this] { layer_->update(); });
  LayoutLayer();
}

CMaskHtml::~CMaskHtml() = default;

void CMaskHtml::resizeEvent(QResizeEvent* event) {
  CHtmlCtrl::resizeEvent(event);
  LayoutLayer();
  // The page lays itself out again for the new width: the frames are read anew once it has.
  if (!Model()) return;
  if (!reframe_) {
    reframe_ = new QTimer(this);
    reframe_->setSingleShot(true);
    reframe_->setInterval(kReframeDelayMs);
    connect(reframe_, &QTimer::timeout, this, [this] { RefreshHighlight(); });
  }
  reframe_->start();
}

void CMaskHtml::LayoutLayer() {
  QRect area = rect();
  if (View()) {
    QSizeF contents = View()->page()->contentsSize();
    if (contents.width() > area.width() + kOverflowSlack) area.setBottom(area.bottom() - kScrollBarSpace);
    if (contents.height() > area.height() + kOverflowSlack) area.setRight(area.right() - kScrollBarSpace);
  }
  layer_->setGeometry(area);
  layer_->raise();
}

// ---- Picking ----

const CDomNode* CMaskHtml::PickAt(QPoint point) {
  if (!Page() || !Model() || busy_) return nullptr;
  busy_ = true;
  const CDomNode* found = nullptr;
  for (int attempt = 0; attempt < 2 && !found; ++attempt) {
    int32_t id = Page()->ElementAtPoint(point.x(), point.y());
    if (id < 0) break;
    found = NodeBySnapshotId(Model()->Document(), id);
    // An element the page made after it was read: read the page again and ask once more.
    if (!found && attempt == 0 && !RefreshModel()) break;
  }
  busy_ = false;
  return found && found->IsElement() ? found : nullptr;
}

bool CMaskHtml::SetPicked(const CDomNode* element) {
  std::wstring path = element ? BuildPath(element) : std::wstring();
  bool changed = path != picked_path_;
  picked_path_ = std::move(path);
  UpdatePickedRect();
  layer_->update();
  if (element) emit Picked();
  return changed;
}

const CDomNode* CMaskHtml::PickedNode() const {
  if (picked_path_.empty() || !Model()) return nullptr;
  return ResolvePath(*Model(), Model()->DocumentElement(), picked_path_);
}

void CMaskHtml::MovePick(PickMove move) {
  const CDomNode* from = PickedNode();
  if (!from) return;
  if (const CDomNode* to = Step(*Model(), from, move)) SetPicked(to);
}

void CMaskHtml::SetPicking(bool on) {
  picking_ = on;
  layer_->setAttribute(Qt::WA_TransparentForMouseEvents, !on);
}

bool CMaskHtml::ClickPicked() {
  const CDomNode* node = PickedNode();
  return node && node->SnapshotId() > 0 && Page()->Click(node->SnapshotId());
}

// ---- Chains ----

const std::vector<CItemChain>& CMaskHtml::Chains() const {
  static const std::vector<CItemChain> kNone;
  return chains_ ? *chains_ : kNone;
}

void CMaskHtml::SetChains(const std::vector<CItemChain>* chains) {
  chains_ = chains;
  selected_ = -1;
  UpdateHighlight();
}

void CMaskHtml::SelectChain(int index) {
  selected_ = index >= 0 && index < static_cast<int>(Chains().size()) ? index : -1;
  UpdateHighlight();
  layer_->update();
}

std::vector<std::wstring> CMaskHtml::ChainElements(int index) const {
  if (!Model() || index < 0 || index >= static_cast<int>(Chains().size())) return {};
  return ElementList(Chains()[static_cast<size_t>(index)], *Model(), kMostHighlighted);
}

void CMaskHtml::RefreshHighlight() {
  RefreshModel();
  layer_->update();
}

void CMaskHtml::OnModelChanged() {
  UpdatePickedRect();
  UpdateHighlight();
  LayoutLayer();
  layer_->update();
}

// ---- Geometry ----

QPoint CMaskHtml::ScrollOffset() const {
  if (!View()) return {};
  return View()->page()->scrollPosition().toPoint();
}

std::vector<QRect> CMaskHtml::Rects(const std::vector<const CDomNode*>& elements) const {
  std::vector<QRect> out;
  if (!Page()) return out;
  std::vector<int32_t> ids;
  for (const CDomNode* e : elements)
    if (e && e->SnapshotId() > 0) ids.push_back(e->SnapshotId());
  const QPoint scroll = ScrollOffset();
  for (const CBrowserPage::CBox& box : Page()->Geometries(ids)) {
    if (!box.has_box) continue;
    const CNodeGeometry& g = box.geometry;
    QRect r(g.left + scroll.x(), g.top + scroll.y(), g.width, g.height);
    out.push_back(r.adjusted(-kFrameMargin, -kFrameMargin, kFrameMargin, kFrameMargin));
  }
  return out;
}

QRect CMaskHtml::ElementRect(const CDomNode* element) const {
  std::vector<QRect> r = Rects({element});
  return r.empty() ? QRect() : r.front();
}

void CMaskHtml::UpdatePickedRect() {
  picked_rect_ = ElementRect(PickedNode());
}

void CMaskHtml::UpdateHighlight() {
  highlight_.clear();
  if (selected_ < 0 || !Model()) return;
  std::vector<const CDomNode*> elements;
  for (const std::wstring& path : ChainElements(selected_)) {
    if (const CDomNode* e = ResolvePath(*Model(), Model()->DocumentElement(), path))
      elements.push_back(e);
  }
  highlight_ = Rects(elements);
}

QString CMaskHtml::ProgressText() const {
  if (Progress() >= 100) return QString();
  QString text = progress_text_;
  text.replace(QLatin1String("%d"), QString::number(Progress()));
  text.replace(QLatin1String("%%"), QLatin1String("%"));
  return text;
}

// ---- The layer ----

CMaskLayer::CMaskLayer(CMaskHtml* owner) : QWidget(owner), owner_(owner) {
  setObjectName(QStringLiteral("pickLayer"));
  setFocusPolicy(Qt::ClickFocus);
  setMouseTracking(false);
}

void CMaskLayer::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPoint scroll = owner_->ScrollOffset();
  auto frame = [&](const QRect& r, const QColor& colour) {
    if (r.isEmpty()) return;
    painter.setPen(QPen(colour, 1));
    painter.setBrush(Qt::NoBrush);
    // One pixel inside the rectangle.
    painter.drawRect(r.translated(-scroll).adjusted(1, 1, -2, -2));
  };
  for (const QRect& r : owner_->HighlightRects()) frame(r, kHighlightColour);
  frame(owner_->PickedRect(), owner_->PickColour());
  QString progress = owner_->ProgressText();
  if (!progress.isEmpty()) {
    painter.setPen(Qt::red);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, progress);
  }
}

void CMaskLayer::PassToPage(QEvent* event) {
  QWebEngineView* view = owner_->View();
  QWidget* target = view ? view->focusProxy() : nullptr;
  if (!target) return;
  if (event->type() == QEvent::Wheel) {
    auto* w = static_cast<QWheelEvent*>(event);
    QWheelEvent copy(target->mapFromGlobal(w->globalPosition().toPoint()), w->globalPosition(),
                     w->pixelDelta(), w->angleDelta(), w->buttons(), w->modifiers(), w->phase(),
                     w->inverted());
    QApplication::sendEvent(target, &copy);
    return;
  }
  auto* m = static_cast<QMouseEvent*>(event);
  QPointF local = target->mapFromGlobal(m->globalPosition().toPoint());
  QMouseEvent copy(m->type(), local, m->globalPosition(), m->button(), m->buttons(),
                   m->modifiers());
  QApplication::sendEvent(target, &copy);
}

void CMaskLayer::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() == Qt::RightButton) {
    emit owner_->ContextMenuRequested(event->globalPosition().toPoint());
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  if (event->modifiers() & Qt::ShiftModifier) {
    passing_ = true;
    PassToPage(event);
    return;
  }
  if (const CDomNode* node = owner_->PickAt(event->position().toPoint())) owner_->SetPicked(node);
}

void CMaskLayer::mouseMoveEvent(QMouseEvent* event) {
  if (passing_ && (event->modifiers() & Qt::ShiftModifier)) PassToPage(event);
}

void CMaskLayer::mouseReleaseEvent(QMouseEvent* event) {
  if (!passing_) return;
  passing_ = false;
  PassToPage(event);
  // The page may change at once (a script) or begin to load; a load redraws when it completes.
  owner_->RefreshHighlight();
}

void CMaskLayer::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->modifiers() & Qt::ShiftModifier) PassToPage(event);
}

void CMaskLayer::wheelEvent(QWheelEvent* event) {
  PassToPage(event);
}

void CMaskLayer::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Up: owner_->MovePick(PickMove::kParent); return;
    case Qt::Key_Down: owner_->MovePick(PickMove::kFirstChild); return;
    case Qt::Key_Left: owner_->MovePick(PickMove::kPrevious); return;
    case Qt::Key_Right: owner_->MovePick(PickMove::kNext); return;
    default: QWidget::keyPressEvent(event);
  }
}

}  // namespace gm::ui
