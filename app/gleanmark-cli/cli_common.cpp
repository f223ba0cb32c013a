#include <cstdio>
#include <cstdlib>

#include "cli.h"
#include "doc/app_paths.h"
#include "doc/config.h"
#include "doc/task_file.h"
#include "doc/text_codec.h"

namespace gm::cli {

int Fail(const std::string& message) {
  std::fprintf(stderr, "gleanmark-cli: %s\n", message.c_str());
  return 1;
}

bool EnvSwitchOn(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

std::optional<std::string> TakeOption(Args* args, const std::string& name, bool* missing) {
  for (size_t i = 0; i < args->size(); ++i) {
    if ((*args)[i] != name) continue;
    if (i + 1 >= args->size()) {
      if (missing) *missing = true;
      args->erase(args->begin() + static_cast<long>(i));
      return std::nullopt;
    }
    std::string value = (*args)[i + 1];
    args->erase(args->begin() + static_cast<long>(i), args->begin() + static_cast<long>(i) + 2);
    return value;
  }
  return std::nullopt;
}

bool TakeFlag(Args* args, const std::string& name) {
  for (size_t i = 0; i < args->size(); ++i) {
    if ((*args)[i] == name) {
      args->erase(args->begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

bool LoadConfiguration(const std::optional<std::string>& path, CXmlDocument* config,
                       std::string* error) {
  if (!path) {
    // The program's own rule: the user's data folder first, the default beside the program
    // second, copied to the data folder on first start so that saves go to a writable file.
    if (gm::LoadConfiguration(config) != ConfigOrigin::kNone) return true;
    *error = "cannot read the configuration " + ToUtf8(UserConfigPath()) + " or " +
             ToUtf8(DefaultConfigPath());
    return false;
  }
  if (config->Load(FromUtf8(*path), ConfigurationKey())) return true;
  *error = "cannot read the configuration " + *path;
  return false;
}

bool ResolveKey(const std::string& spec, const std::optional<std::string>& config_path,
                GostKey* key, std::string* error) {
  if (spec == "config") {
    *key = ConfigurationKey();
    return true;
  }
  if (spec == "task") {
    CXmlDocument config;
    if (!LoadConfiguration(config_path, &config, error)) return false;
    // The key text is read in the configuration's legacy code page.
    ApplyConfiguredCodePage(config);
    std::optional<GostKey> k = TaskFileKey(config);
    if (!k) {
      *error = "the configuration holds no task-file key of at least 32 bytes";
      return false;
    }
    *key = *k;
    return true;
  }
  if (spec.rfind("hex:", 0) == 0 && GostKeyFromHex(spec.substr(4), key)) return true;
  *error = "malformed key '" + spec + "': use config, task or hex:<64 hex digits>";
  return false;
}

}  // namespace gm::cli
