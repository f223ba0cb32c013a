#include "ui/editor/login_browser_dialog.h"

#include <QAuthenticator>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include "browser/browser_service.h"
#include "ui/editor/editor_support.h"
#include "ui/ui_text.h"

namespace gm::ui {
namespace {

constexpr char kCaptureTag[] = "gleanmark-login-capture ";

// Reports every form submission of the page (by a submit button or by form.submit()) on the
// console, with the address the form goes to, its method and its data form-encoded.
constexpr char kCaptureScript[] = R"JS(
(function () {
  if (window.__gleanmarkLoginCapture) return;
  window.__gleanmarkLoginCapture = true;
  const log = console.log.bind(console);
  function report(form, submitter) {
    try {
      const fields = new FormData(form);
      if (submitter && submitter.name) fields.append(submitter.name, submitter.value);
      const data = new URLSearchParams(fields).toString();
      const method = (form.getAttribute('method') || 'get').toLowerCase();
      log('gleanmark-login-capture ' +
          JSON.stringify({action: form.action, method: method, data: data}));
    } catch (e) {}
  }
  document.addEventListener('submit', e => report(e.target, e.submitter), true);
  const submit = HTMLFormElement.prototype.submit;
  HTMLFormElement.prototype.submit = function () { report(this, null); return submit.call(this); };
})();
)JS";

}  // namespace

// The page of the dialog: passes the captured submissions on and answers HTTP authentication.
class CLoginPage : public QWebEnginePage {
 public:
  CLoginPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {}
  std::function<void(const QString& url, const QString& data)> on_submit;

 protected:
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int,
                                const QString&) override {
    if (!message.startsWith(QLatin1String(kCaptureTag)) || !on_submit) return;
    QJsonObject form =
        QJsonDocument::fromJson(message.mid(int(strlen(kCaptureTag))).toUtf8()).object();
    QString action = form.value(QStringLiteral("action")).toString();
    QString data = form.value(QStringLiteral("data")).toString();
    if (form.value(QStringLiteral("method")).toString() == QLatin1String("post")) {
      on_submit(action, data);
      return;
    }
    // A submission without a body: the data goes in the address, after its first "?".
    QUrl url(action);
    url.setQuery(data, QUrl::StrictMode);
    url.setFragment(QString());
    QString address = url.toString(QUrl::FullyEncoded);
    qsizetype mark = address.indexOf(QLatin1Char('?'));
    on_submit(address, mark < 0 ? QString() : address.mid(mark + 1));
  }
};

CLoginBrowserDialog::CLoginBrowserDialog(const CXmlDocument& config, Mode mode, QWidget* parent)
    : QDialog(parent), mode_(mode) {
  setObjectName(QStringLiteral("loginBrowserDialog"));
  setSizeGripEnabled(true);
  setMinimumSize(618, 488);
  const wchar_t* title = mode == Mode::kCapture ? L"DLG_LOGIN_TITLE_RECORD"
                         : mode == Mode::kTest  ? L"DLG_LOGIN_TITLE_TEST"
                                                : L"DLG_LOGIN_TITLE_LOGIN";
  setWindowTitle(LangText(config, title));
  view_ = new QWebEngineView(this);
  page_ = new CLoginPage(SharedBrowserProfile(), view_);
  view_->setPage(page_);
  connect(page_, &QWebEnginePage::authenticationRequired, this,
          [this](const QUrl&, QAuthenticator* auth) {
            auth->setUser(QStr(user_));
            auth->setPassword(QStr(password_));
          });
  auto* layout = new QVBoxLayout(this);
  if (mode != Mode::kTest) {
    address_ = new QLineEdit(this);
    open_ = new QPushButton(Tx(config, "打开"), this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(Tx(config, "网页地址："), this));
    row->addWidget(address_, 1);
    row->addWidget(open_);
    layout->addLayout(row);
    connect(open_, &QPushButton::clicked, this, &CLoginBrowserDialog::OpenAddress);
    connect(address_, &QLineEdit::returnPressed, this, &CLoginBrowserDialog::OpenAddress);
  }
  layout->addWidget(view_, 1);
  if (mode == Mode::kCapture) {
    QWebEngineScript script;
    script.setName(QStringLiteral("gleanmark-login-capture"));
    script.setSourceCode(QString::fromUtf8(kCaptureScript));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(true);
    page_->scripts().insert(script);
    page_->on_submit = [this](const QString& url, const QString& data) { OnSubmitted(url, data); };
    captured_url_ = new QLineEdit(this);
    captured_url_->setReadOnly(true);
    captured_data_ = new QLineEdit(this);
    captured_data_->setReadOnly(true);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(Tx(config, "验证地址："), this), 0, 0);
    grid->addWidget(captured_url_, 0, 1);
    grid->addWidget(new QLabel(Tx(config, "验证数据："), this), 1, 0);
    grid->addWidget(captured_data_, 1, 1);
    layout->addLayout(grid);
  }
  auto* buttons = new QDialogButtonBox(
      mode == Mode::kCapture ? QDialogButtonBox::Ok | QDialogButtonBox::Cancel
                             : QDialogButtonBox::Ok,
      this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(900, 680);
}

CLoginBrowserDialog::~CLoginBrowserDialog() {
  // The page goes before the view that shows it.
  view_->setPage(nullptr);
  delete page_;
}

void CLoginBrowserDialog::OpenAddress() {
  QString text = address_->text().trimmed();
  if (text.isEmpty()) return;
  view_->load(QUrl::fromUserInput(text));
}

void CLoginBrowserDialog::OnSubmitted(const QString& url, const QString& data) {
  capture_.url = WStr(url);
  capture_.data = WStr(data);
  captured_url_->setText(url);
  captured_data_->setText(ShownLoginData(capture_.data));
  captured_url_->setCursorPosition(0);
  captured_data_->setCursorPosition(0);
}

void CLoginBrowserDialog::SetCapture(const LoginCapture& capture) {
  capture_ = capture;
  if (address_) {
    address_->setText(QStr(capture.page));
    OpenAddress();
  }
  if (captured_url_) {
    captured_url_->setText(QStr(capture.url));
    captured_data_->setText(ShownLoginData(capture.data));
    captured_url_->setCursorPosition(0);
    captured_data_->setCursorPosition(0);
  }
}

LoginCapture CLoginBrowserDialog::Capture() const {
  LoginCapture out = capture_;
  if (address_) out.page = WStr(address_->text());
  return out;
}

void CLoginBrowserDialog::StartTest(const std::wstring& page, const std::wstring& user,
                                    const std::wstring& password) {
  user_ = user;
  password_ = password;
  view_->load(QUrl::fromUserInput(QStr(page)));
}

LoginBrowserFunctions LoginBrowserDialogs(const CXmlDocument* config,
                                          std::function<bool()> ensure_browser) {
  LoginBrowserFunctions f;
  f.capture = [config, ensure_browser](QWidget* parent, LoginCapture* capture) {
    if (!ensure_browser()) return false;
    CLoginBrowserDialog dialog(*config, CLoginBrowserDialog::Mode::kCapture, parent);
    dialog.SetCapture(*capture);
    if (dialog.exec() != QDialog::Accepted) return false;
    *capture = dialog.Capture();
    return true;
  };
  f.test = [config, ensure_browser](QWidget* parent, const std::wstring& page,
                                    const std::wstring& user, const std::wstring& password) {
    if (!ensure_browser()) return;
    CLoginBrowserDialog dialog(*config, CLoginBrowserDialog::Mode::kTest, parent);
    dialog.StartTest(page, user, password);
    dialog.exec();
  };
  f.login = [config, ensure_browser](QWidget* parent) {
    if (!ensure_browser()) return;
    CLoginBrowserDialog dialog(*config, CLoginBrowserDialog::Mode::kLogin, parent);
    dialog.exec();
  };
  return f;
}

}  // namespace gm::ui
