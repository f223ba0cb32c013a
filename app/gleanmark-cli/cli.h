// Shared pieces of the gleanmark-cli subcommands. Each subcommand lives in its own cmd_*.cpp
// file and receives the arguments after its name.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "doc/gost.h"
#include "doc/xml_node.h"

namespace gm::cli {

using Args = std::vector<std::string>;

int CmdDoc(const Args& args);
int CmdTask(const Args& args);
int CmdFetch(const Args& args);
int CmdPage(const Args& args);
int CmdRun(const Args& args);
int CmdDb(const Args& args);
int CmdWork(const Args& args);
int CmdQueue(const Args& args);
int CmdResults(const Args& args);
// queue fill: a run that only puts the task's addresses into the queue.
int FillQueue(const Args& args);

inline constexpr const char* kRunUsage =
    "run TASK [--config FILE] [--format csv|jsonl|xls|xlsx|sqlite] [--out FILE] [--resume]\n"
    "  [--parallel N] [--quiet|--verbose]";
inline constexpr const char* kWorkUsage =
    "work TASK --queue redis://[USER[:PASSWORD]@]HOST[:PORT]/NAME [--config FILE] [--format csv|jsonl] [--out FILE]\n"
    "       [--lease SECONDS] [--redis-wait SECONDS] [--quiet|--verbose]";
inline constexpr const char* kResultsUsage = "results list | results clear TASK|ID";
inline constexpr const char* kQueueUsage =
    "queue status|reset --queue redis://[USER[:PASSWORD]@]HOST[:PORT]/NAME\n"
    "  queue fill TASK --queue redis://[USER[:PASSWORD]@]HOST[:PORT]/NAME [--config FILE]";

// Prints "gleanmark-cli: <message>" on standard error and returns exit status 1.
int Fail(const std::string& message);
// True when the environment variable `name` is set to a non-empty value (the program's
// switches such as GLEANMARK_NO_BROWSER).
bool EnvSwitchOn(const char* name);

// Removes "--name VALUE" from args and returns VALUE; nullopt when absent. Sets *missing when
// the option is given without a value.
std::optional<std::string> TakeOption(Args* args, const std::string& name, bool* missing);
bool TakeFlag(Args* args, const std::string& name);

// Loads the configuration document: the given file, else the user's configuration, else the
// default beside the program. On failure returns false with a message in *error.
bool LoadConfiguration(const std::optional<std::string>& path, CXmlDocument* config,
                       std::string* error);

// Resolves a --key value: "config", "task" (from the configuration) or "hex:<64 digits>".
bool ResolveKey(const std::string& spec, const std::optional<std::string>& config_path,
                GostKey* key, std::string* error);

// The task element from a task file (enciphered under the task-file key or the configuration
// key) or from a readable text form, into *holder.
bool LoadTask(const std::string& path, const CXmlDocument* config, CXmlDocument* holder,
              std::string* error);
// The task's identity in the record store: its own store id when the file carries one, else
// the task file's absolute path.
std::wstring CliTaskId(const CXmlNode& task, const std::string& path);

}  // namespace gm::cli

namespace gm {
class CBrowserPage;
}

namespace gm::cli {

// Browser mode of the command line. The browser module (browser_module.h) is loaded and the Qt
// application (offscreen without a display, Chromium without its sandbox as root) made only
// when something asks for a browser page. The environment variable GLEANMARK_NO_BROWSER
// (non-empty) keeps the browser off.
// Threads: StartBrowser, PollBrowser and EndBrowser run on the main thread; NewCliBrowserPage
// on any thread (a runner's), where it asks the main thread's PollBrowser to start the browser and
// waits for it.
// False when the program was built without a browser or it is switched off.
bool BrowserAllowed();
// Loads the module and starts the browser (once; later calls answer as the first did). False
// with the reason in *error (may be null) when the module is missing or the browser cannot
// start.
bool StartBrowser(std::string* error);
std::unique_ptr<CBrowserPage> NewCliBrowserPage();
// Starts the browser when a runner asked for it (a failure is printed once), then runs Qt's
// events for `ms`; without a browser, it waits `ms` through `idle_wait` (which may end sooner)
// or sleeps.
void PollBrowser(int ms, const std::function<void(int ms)>& idle_wait = {});
// Ends the browser service and the application (after every page user is gone).
void EndBrowser();

}  // namespace gm::cli
