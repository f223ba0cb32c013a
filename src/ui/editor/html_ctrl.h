// CHtmlCtrl: a browser view shown in a window of the editor. It lays a visible page of the
// browser service into its whole area and keeps the page model of the document the page shows
// (a snapshot of the live DOM, the same model a browser-mode run reads), read again after each
// completed load and whenever its user asks.
//
// CTinyCtrl: the small view of the editor's dialogs; it reports the task's user agent.
//
// Interface thread only. The browser service must be running when one is made; without it the
// control stays empty (Available() is false) and every request does nothing.
#pragma once

#include <QPointer>
#include <QString>
#include <QWebEngineView>
#include <QWidget>
#include <memory>
#include <string>

#include "page/browser.h"
#include "page/page_model.h"

namespace gm::ui {

class CHtmlCtrl : public QWidget {
  Q_OBJECT

 public:
  explicit CHtmlCtrl(QWidget* parent = nullptr);
  ~CHtmlCtrl() override;

  bool Available() const { return page_ != nullptr; }
  // Opens an address (nothing for an empty one). Addresses beginning with "app:" are the
  // program's own and are not opened.
  void Navigate(const QString& url);
  void Back();
  void Forward();
  bool CanGoBack() const;
  bool CanGoForward() const;
  // The address shown now (empty before the first load).
  QString LocationUrl() const;
  // Load progress 0..100; 100 when nothing is loading.
  int Progress() const { return progress_; }

  // The page model of the document as last read; null before the first completed load or when
  // the page has no document. Valid until the next RefreshModel (or load).
  const CPageModel* Model() const { return model_.get(); }
  // Reads the document again (after a click or a script changed it); false without one.
  bool RefreshModel();

  CBrowserPage* Page() const { return page_.get(); }
  QWebEngineView* View() const { return view_.data(); }

 signals:
  void ProgressChanged(int percent);
  // A load completed and the model holds its document.
  void DocumentComplete();

 protected:
  // Called after the model was read again (loads and RefreshModel).
  virtual void OnModelChanged() {}
  void resizeEvent(QResizeEvent* event) override;

 private:
  void OnLoadStarted();
  void OnLoadProgress(int percent);
  void OnLoadFinished(bool ok);

  std::unique_ptr<CBrowserPage> page_;
  QPointer<QWebEngineView> view_;  // belongs to page_
  std::unique_ptr<CPageModel> model_;
  int progress_ = 100;
};

class CTinyCtrl : public CHtmlCtrl {
  Q_OBJECT

 public:
  explicit CTinyCtrl(QWidget* parent = nullptr) : CHtmlCtrl(parent) {}
  void SetUserAgent(const std::wstring& user_agent);
};

}  // namespace gm::ui
