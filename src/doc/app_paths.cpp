#include "doc/app_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "doc/file_util.h"
#include "doc/text_codec.h"

namespace gm {
namespace {
bool IsDirectory(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

std::wstring DataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg == '/') return FromUtf8(xdg) + L"/GMK";
  const char* home = std::getenv("HOME");
  std::string base = (home && *home) ? home : "/tmp";
  return FromUtf8(base) + L"/.local/share/GMK";
}

std::wstring UserConfigPath() {
  return DataFolder() + L"/gmk.cfg";
}

std::wstring ProgramFolder() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return L".";
  std::string p(buf, static_cast<size_t>(n));
  size_t slash = p.rfind('/');
  return FromUtf8(slash == std::string::npos ? "." : p.substr(0, slash));
}

std::wstring ResourceFolder() {
  std::wstring prog = ProgramFolder();
  std::wstring installed = prog + L"/../share/gleanmark";
  if (IsDirectory(ToUtf8(installed))) return installed;
  return prog;
}

std::wstring DefaultConfigPath() {
  return ResourceFolder() + L"/gmk.cfg";
}

bool MakeFolders(const std::wstring& path) {
  std::string p = ToUtf8(NormalizeSeparators(path));
  for (size_t i = 1; i <= p.size(); ++i) {
    if (i == p.size() || p[i] == '/') {
      std::string part = p.substr(0, i);
      if (!IsDirectory(part)) ::mkdir(part.c_str(), 0777);
    }
  }
  return IsDirectory(p);
}

}  // namespace gm
