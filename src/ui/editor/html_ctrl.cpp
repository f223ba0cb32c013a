#include "ui/editor/html_ctrl.h"

#include <QResizeEvent>
#include <QTimer>
#include <QUrl>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "browser/browser_service.h"

namespace gm::ui {

namespace {

// A page that takes longer than this to read is left unread (the editor stays usable).
constexpr int32_t kSnapshotBoundMs = 20000;

}  // namespace

CHtmlCtrl::CHtmlCtrl(QWidget* parent) : QWidget(parent) {
  CVisiblePage visible = NewVisibleBrowserPage();
  if (!visible.page) return;
  page_ = std::move(visible.page);
  view_ = visible.view;
  page_->SetWaitLimits(nullptr, kSnapshotBoundMs);
  view_->setParent(this);
  view_->setGeometry(rect());
  view_->show();
  connect(view_, &QWebEngineView::loadStarted, this, [this] { OnLoadStarted(); });
  connect(view_, &QWebEngineView::loadProgress, this, [this](int p) { OnLoadProgress(p); });
  connect(view_, &QWebEngineView::loadFinished, this, [this](bool ok) { OnLoadFinished(ok); });
}

CHtmlCtrl::~CHtmlCtrl() {
  // The page takes its view with it, before this widget deletes its children.
  page_.reset();
}

void CHtmlCtrl::Navigate(const QString& url) {
  QString address = url.trimmed();
  if (!page_ || address.isEmpty()) return;
  if (address.startsWith(QLatin1String("app:"), Qt::CaseInsensitive)) return;
  page_->Navigate(address.toStdWString(), std::wstring(), nullptr);
}

void CHtmlCtrl::Back() {
  if (view_) view_->back();
}

void CHtmlCtrl::Forward() {
  if (view_) view_->forward();
}

bool CHtmlCtrl::CanGoBack() const {
  return view_ && view_->history()->canGoBack();
}

bool CHtmlCtrl::CanGoForward() const {
  return view_ && view_->history()->canGoForward();
}

QString CHtmlCtrl::LocationUrl() const {
  return page_ ? QString::fromStdWString(page_->LocationUrl()) : QString();
}

bool CHtmlCtrl::RefreshModel() {
  if (!page_) return false;
  std::unique_ptr<CDomDocument> doc = page_->Snapshot(nullptr);
  if (!doc) {
    model_.reset();
    OnModelChanged();
    return false;
  }
  auto model = std::make_unique<CPageModel>();
  model->SetLiveDocument(std::move(doc), page_->LocationUrl());
  model_ = std::move(model);
  OnModelChanged();
  return true;
}

void CHtmlCtrl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (view_) view_->setGeometry(rect());
}

void CHtmlCtrl::OnLoadStarted() {
  progress_ = 0;
  emit ProgressChanged(progress_);
}

void CHtmlCtrl::OnLoadProgress(int percent) {
  if (progress_ == 100) return;  // a late report of a finished load
  progress_ = std::clamp(percent, 0, 99);
  emit ProgressChanged(progress_);
}

void CHtmlCtrl::OnLoadFinished(bool) {
  progress_ = 100;
  emit ProgressChanged(progress_);
  // The document is read once the signal has returned: reading waits for the page's reply.
  QTimer::singleShot(0, this, [this] {
    if (progress_ != 100) return;  // another load began meanwhile
    RefreshModel();
    emit DocumentComplete();
  });
}

void CTinyCtrl::SetUserAgent(const std::wstring& user_agent) {
  if (Page()) Page()->SetUserAgent(user_agent);
}

}  // namespace gm::ui
