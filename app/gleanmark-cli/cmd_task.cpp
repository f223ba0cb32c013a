// gleanmark-cli task list|export|import: the tasks of a configuration and task files.
//
//   task list [--config FILE]
//   task export TASK [OUT] [--config FILE]     TASK: a number from "task list" or a task name;
//                                              OUT defaults to the task's name + ".tsk"
//   task import FILE... [--config FILE]        appends each task and saves the configuration
#include <cstdio>
#include <string>

#include "cli.h"
#include "doc/config.h"
#include "doc/file_util.h"
#include "doc/task_file.h"
#include "doc/text_codec.h"
#include "task/task_settings.h"

namespace gm::cli {
namespace {

// The configuration as the program sees it at start-up: no title text, no start.
bool OpenConfiguration(const std::optional<std::string>& path, CXmlDocument* config) {
  std::string error;
  if (!LoadConfiguration(path, config, &error)) {
    Fail(error);
    return false;
  }
  if (!HasAppTitle(*config)) {
    Fail("the configuration " + ToUtf8(config->Path()) + " has no APP_TITLE text");
    return false;
  }
  if (!ApplyConfiguredCodePage(*config)) {
    Fail("the configuration names an unknown code page");
    return false;
  }
  return true;
}

bool TaskKey(const CXmlDocument& config, GostKey* key) {
  std::optional<GostKey> k = TaskFileKey(config);
  if (!k) {
    Fail("the configuration holds no task-file key of at least 32 bytes");
    return false;
  }
  *key = *k;
  return true;
}

// A message of the configuration's current language, or the given fallback.
std::string Message(const CXmlDocument& config, const wchar_t* key, const char* fallback) {
  std::optional<std::wstring> text = GetLangText(config, key);
  return text && !text->empty() ? ToUtf8(*text) : std::string(fallback);
}

CXmlNode* FindTask(const CXmlDocument& config, const std::string& which) {
  std::vector<CXmlNode*> tasks = TaskElements(config);
  bool digits = !which.empty() && which.find_first_not_of("0123456789") == std::string::npos;
  if (digits && which.size() < 9) {
    size_t n = std::stoul(which);
    if (n >= 1 && n <= tasks.size()) return tasks[n - 1];
  }
  std::wstring name = FromUtf8(which);
  for (CXmlNode* t : tasks) {
    if (t->GetAttribute(L"name").value_or(L"") == name) return t;
  }
  return nullptr;
}

int List(const CXmlDocument& config) {
  int n = 0;
  for (CXmlNode* t : TaskElements(config)) {
    std::printf("%d\t%s\n", ++n, ToUtf8(t->GetAttribute(L"name").value_or(L"")).c_str());
  }
  return 0;
}

int Export(const CXmlDocument& config, const Args& args) {
  if (args.empty() || args.size() > 2) return Fail("usage: task export TASK [OUT] [--config FILE]");
  CXmlNode* task = FindTask(config, args[0]);
  if (!task) return Fail("no task '" + args[0] + "' in " + ToUtf8(config.Path()));
  GostKey key;
  if (!TaskKey(config, &key)) return 1;
  std::wstring out = args.size() == 2 ? FromUtf8(args[1]) : ProposedTaskFileName(*task) + L".tsk";
  if (out == L".tsk") out = L"task.tsk";  // a task without a name
  if (!ExportTaskFile(*task, out, key)) {
    return Fail(Message(config, L"MSGBOX_MAINFRM_EXPORTFAILED", "the task could not be exported") +
                " (" + ToUtf8(out) + ")");
  }
  std::printf("%s\n", ToUtf8(out).c_str());
  return 0;
}

int Import(CXmlDocument* config, const Args& files) {
  if (files.empty()) return Fail("usage: task import FILE... [--config FILE]");
  GostKey key;
  if (!TaskKey(*config, &key)) return 1;
  int failed = 0, imported = 0;
  for (const std::string& file : files) {
    std::unique_ptr<CXmlNode> task = ImportTaskFile(FromUtf8(file), key);
    if (!task) {
      Fail(Message(*config, L"MSGBOX_MAINFRM_IMPORTFAILED", "the task could not be imported") +
           " (" + file + ")");
      ++failed;
      continue;
    }
    std::printf("%s\n", ToUtf8(task->GetAttribute(L"name").value_or(L"")).c_str());
    config->AppendTop(std::move(task));
    ++imported;
  }
  if (imported && !SaveConfiguration(*config)) {
    return Fail("cannot save the configuration " + ToUtf8(config->Path()));
  }
  return failed ? 1 : 0;
}

}  // namespace

int CmdTask(const Args& in) {
  Args args = in;
  bool missing = false;
  std::optional<std::string> config_path = TakeOption(&args, "--config", &missing);
  if (missing) return Fail("--config given without a value");
  if (args.empty()) return Fail("usage: task list|export|import ... [--config FILE]");
  std::string verb = args[0];
  args.erase(args.begin());
  if (verb != "list" && verb != "export" && verb != "import") {
    return Fail("unknown task command '" + verb + "': use list, export or import");
  }
  CXmlDocument config;
  if (!OpenConfiguration(config_path, &config)) return 1;
  if (verb == "list") {
    if (!args.empty()) return Fail("usage: task list [--config FILE]");
    return List(config);
  }
  if (verb == "export") return Export(config, args);
  return Import(&config, args);
}

}  // namespace gm::cli
