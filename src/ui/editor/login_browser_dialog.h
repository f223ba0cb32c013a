// CLoginBrowserDialog: the login browser ("自动采集登录验证信息"), a resizable dialog around an
// embedded browser on the browser service's shared profile, so that cookies set here reach
// the cookie jar that later downloads read. Three modes:
//   capture - the form submission a page makes is recorded: the address it goes to and its
//             data (for a submission without a body, the part of the address after "?");
//   test    - HTTP authentication answered with a user name and password, on one page;
//   login   - the user logs in to web sites by hand.
// Interface thread only; the browser service must be running (see StartBrowserService).
#pragma once

#include <QDialog>
#include <string>

#include "doc/xml_node.h"
#include "ui/editor/login_browser.h"

class QLineEdit;
class QPushButton;
class QWebEngineView;

namespace gm::ui {

class CLoginPage;

class CLoginBrowserDialog : public QDialog {
  Q_OBJECT
 public:
  enum class Mode { kCapture, kTest, kLogin };
  CLoginBrowserDialog(const CXmlDocument& config, Mode mode, QWidget* parent = nullptr);
  ~CLoginBrowserDialog() override;

  // Capture: the stored values shown at first (the page is opened when there is one), and
  // after OK the web address with the captured values.
  void SetCapture(const LoginCapture& capture);
  LoginCapture Capture() const;
  // Test: the page and the credentials HTTP authentication is answered with.
  void StartTest(const std::wstring& page, const std::wstring& user, const std::wstring& password);

  QLineEdit* Address() const { return address_; }
  QPushButton* Open() const { return open_; }
  QWebEngineView* View() const { return view_; }
  QLineEdit* CapturedUrl() const { return captured_url_; }
  QLineEdit* CapturedData() const { return captured_data_; }

 private:
  void OpenAddress();
  void OnSubmitted(const QString& url, const QString& data);

  Mode mode_;
  QLineEdit* address_ = nullptr;
  QPushButton* open_ = nullptr;
  QWebEngineView* view_;
  CLoginPage* page_;
  QLineEdit* captured_url_ = nullptr;
  QLineEdit* captured_data_ = nullptr;
  LoginCapture capture_;
  std::wstring user_, password_;
};

// The three modes as the windows open them (the functions of LoginBrowsers()). `ensure_browser`
// starts the browser service when needed (false: no browser, nothing opens).
LoginBrowserFunctions LoginBrowserDialogs(const CXmlDocument* config,
                                          std::function<bool()> ensure_browser);

}  // namespace gm::ui
