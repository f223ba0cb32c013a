#include "ui_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QWidget>
#include <cstdio>
#include <cstring>

#include "doc/config.h"
#include "doc/gost.h"
#include "doc/text_codec.h"
#include "task/task_settings.h"
#include "ui/ui_text.h"

namespace gm::test {

std::unique_ptr<CXmlDocument> TestConfig(const std::wstring& path, const std::wstring& language) {
  auto config = std::make_unique<CXmlDocument>();
  std::wstring source = FromUtf8(GM_BUILD_DIR "/bin/gmk.cfg");
  EXPECT_TRUE(config->Load(source, ConfigurationKey())) << "build the default_config target";
  config->FindTop(L"language")->SetAttribute(L"curlng", language);
  config->SetPath(path);
  return config;
}

CXmlNode* AddTask(CXmlDocument* config, const std::string& text, const CSite* site) {
  std::string replaced = text;
  if (site) {
    for (size_t p; (p = replaced.find("@SITE@")) != std::string::npos;) {
      replaced.replace(p, 6, site->Url());
    }
  }
  CXmlDocument holder;
  holder.Parse(FromUtf8(replaced));
  CXmlNode* task = holder.Find(L"task");
  EXPECT_NE(task, nullptr);
  return config->AppendTop(CopyTaskElement(*task));
}

std::string ListTask(const std::string& name, int pages, const std::string& attrs) {
  std::string list;
  for (int i = 2; i <= pages; ++i) list += "@SITE@/" + name + "-" + std::to_string(i) + "\n";
  return "<task name=\"" + name + "\" useiectrl=\"0\" " + attrs +
         "><address type=\"2\"><url>@SITE@/" + name + "-1</url><urllist>" + list +
         "</urllist></address>"
         "<location path=\"HTML@HEAD#BODY@UL@LI\" step=\"#LI\">"
         "<data name=\"Title\" type=\"INNERTEXT\" path=\"@B\"></data>"
         "<data name=\"Price\" type=\"INNERTEXT\" path=\"@B#I\"></data></location>"
         "</task>";
}

void PutListPages(CSite& site, const std::string& name, int pages, int rows,
                  const std::string& label) {
  for (int p = 1; p <= pages; ++p) {
    std::string body = "<html><head><meta charset=\"utf-8\"></head><body><ul>";
    for (int r = 1; r <= rows; ++r) {
      int n = (p - 1) * rows + r;
      body += "<li><b>" + (label.empty() ? name : label) + " item " + std::to_string(n) +
              "</b> <i>" + std::to_string(1000 - n) + "</i></li>";
    }
    body += "</ul></body></html>";
    site.Put("/" + name + "-" + std::to_string(p), body);
  }
}

bool WaitUntil(const std::function<bool()>& pred, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!pred()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

CPromptRecorder::CPromptRecorder() : saved_(ui::Prompts()) {
  ui::UserPrompts& p = ui::Prompts();
  p.message = [this](const ui::MessageRequest& r) {
    messages << r.text;
    if (r.buttons & QMessageBox::Yes) return answer;
    return QMessageBox::Ok;
  };
  p.open_files = [this](const ui::FileRequest&) {
    ui::FileAnswer a;
    a.files = open_answer;
    return a;
  };
  p.choose_folder = [this](const ui::FileRequest&) {
    ui::FileAnswer a;
    if (!folder_answer.isEmpty()) a.files << folder_answer;
    return a;
  };
  p.save_file = [this](const ui::FileRequest& r) {
    offered = r.choices.isEmpty() ? -1 : r.choice;
    suffix = r.default_suffix;
    ui::FileAnswer a;
    a.files = save_answer;
    a.choice = choice;
    return a;
  };
  p.open_external = [this](const QString& address) {
    opened << address;
    return open_result;
  };
}

CPromptRecorder::~CPromptRecorder() {
  ui::Prompts() = saved_;
}

bool WindowManagerRunning() {
  // The root window names the manager's check window (_NET_SUPPORTING_WM_CHECK).
  FILE* out = popen("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null", "r");
  if (!out) return false;
  char line[256] = {};
  bool running = std::fgets(line, sizeof line, out) && std::strstr(line, "window id");
  pclose(out);
  return running;
}

QString SaveScreenshot(QWidget* widget, const QString& name) {
  QDir dir(QStringLiteral(GM_BUILD_DIR "/ui-screenshots"));
  dir.mkpath(QStringLiteral("."));
  QString path = dir.filePath(name + QStringLiteral(".png"));
  widget->grab().save(path);
  return path;
}

QString TextIn(const CXmlDocument& config, const std::wstring& language, const std::wstring& key) {
  CXmlNode* node = config.Find(L"language@" + language + L"@text@" + key);
  return node ? ui::QStr(node->GetText().value_or(L"")) : QString();
}

}  // namespace gm::test
