// The login browser ("自动采集登录验证信息") as the other windows open it, in its three modes:
// capture a login form's submission, test HTTP authentication, and log in to web sites by
// hand. The functions are set by the program where the embedded browser is available; while
// one is missing, the buttons and commands that open it are disabled. Interface thread only.
#pragma once

#include <QString>
#include <functional>
#include <string>

class QWidget;

namespace gm::ui {

// A captured login: the page that holds the form, the address the form was submitted to and
// the data it sent.
struct LoginCapture {
  std::wstring page;
  std::wstring url;
  std::wstring data;
};

struct LoginBrowserFunctions {
  // Capture mode, starting from the stored values; true on OK with *capture updated.
  std::function<bool(QWidget* parent, LoginCapture* capture)> capture;
  // Test mode: opens `page` with the user name and password given to HTTP authentication.
  std::function<void(QWidget* parent, const std::wstring& page, const std::wstring& user,
                     const std::wstring& password)>
      test;
  // Log-in mode (main window command 33007).
  std::function<void(QWidget* parent)> login;
};

// The functions in force.
LoginBrowserFunctions& LoginBrowsers();

// Verification data as the windows show it: the first 100 characters followed by "..." when it
// is longer (stored whole).
QString ShownLoginData(const std::wstring& data);

}  // namespace gm::ui
