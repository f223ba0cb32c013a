// Shared pieces of the gleanmark-cli subcommands. Each subcommand lives in its own cmd_*.cpp
// file and receives the arguments after its name.
#pragma once

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

// Prints "gleanmark-cli: <message>" on standard error and returns exit status 1.
int Fail(const std::string& message);

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

}  // namespace gm::cli
