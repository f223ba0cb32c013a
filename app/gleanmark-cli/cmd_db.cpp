// db test TASK: the connection test of the task's database settings, as the editor runs it.
#include <cstdio>

#include "cli.h"
#include "doc/config.h"
#include "doc/text_codec.h"
#include "output/db_output.h"
#include "task/task_settings.h"

namespace gm::cli {

int CmdDb(const Args& in) {
  Args args = in;
  bool missing = false;
  std::optional<std::string> config_path = TakeOption(&args, "--config", &missing);
  if (missing) return Fail("option without a value");
  if (args.size() != 2 || args[0] != "test") return Fail("usage: db test TASK [--config FILE]");
  auto config = std::make_unique<CXmlDocument>();
  std::string error;
  bool have_config = LoadConfiguration(config_path, config.get(), &error);
  if (!have_config && config_path) return Fail(error);
  CXmlDocument holder;
  if (!LoadTask(args[1], have_config ? config.get() : nullptr, &holder, &error)) return Fail(error);
  DbOutputSettings s = ReadDbOutputSettings(*holder.Find(L"task"));
  DbTestResult r = TestConnection(s, have_config ? config.get() : nullptr);
  std::wstring message = r.message;
  for (size_t p; (p = message.find(L"\r\n")) != std::wstring::npos;) message.replace(p, 2, L": ");
  std::fprintf(r.ok ? stdout : stderr, "%s\n", ToUtf8(message).c_str());
  return r.ok ? 0 : 1;
}

}  // namespace gm::cli
