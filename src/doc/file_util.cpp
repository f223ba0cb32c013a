#include "doc/file_util.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "doc/text_codec.h"

namespace gm {

bool ReadFileBytes(const std::wstring& path, std::string* out) {
  std::string p = ToUtf8(path);
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  std::string data;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  *out = std::move(data);
  return true;
}

bool WriteFileAtomically(const std::wstring& path, std::string_view bytes) {
  std::string target = ToUtf8(path);
  if (target.empty()) return false;
  std::string tmp = target + ".XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  // Keep the permissions of the file being replaced; a new file gets the usual default.
  struct stat st {};
  mode_t mode;
  if (::stat(target.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
  bool ok = true;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(tmp.c_str(), target.c_str()) != 0) ok = false;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

std::wstring SafeFileName(std::wstring_view name) {
  size_t b = 0, e = name.size();
  while (b < e && IsSpace(name[b])) ++b;
  while (e > b && IsSpace(name[e - 1])) --e;
  std::wstring out(name.substr(b, e - b));
  for (wchar_t& c : out) {
    switch (c) {
      case L'\\':
      case L'/':
      case L':':
      case L'*':
      case L'?':
      case L'"':
      case L'<':
      case L'>':
      case L'|':
        c = L'#';
        break;
      default:
        break;
    }
  }
  return out;
}

bool IsAbsolutePath(std::wstring_view path) {
  if (path.empty()) return false;
  if (path[0] == L'/' || path[0] == L'\\') return true;
  return path.size() >= 2 && path[1] == L':' &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

std::wstring NormalizeSeparators(std::wstring_view path) {
  std::wstring out(path);
  for (wchar_t& c : out) {
    if (c == L'\\') c = L'/';
  }
  return out;
}

std::wstring JoinPath(std::wstring_view folder, std::wstring_view relative) {
  std::wstring out = NormalizeSeparators(folder);
  std::wstring rel = NormalizeSeparators(relative);
  if (!out.empty() && out.back() != L'/' && !rel.empty() && rel.front() != L'/')
    out.push_back(L'/');
  if (!out.empty() && out.back() == L'/' && !rel.empty() && rel.front() == L'/') rel.erase(0, 1);
  return out + rel;
}

std::string Md5Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &len, EVP_md5(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < len; ++i) {
    out.push_back(kHex[digest[i] >> 4]);
    out.push_back(kHex[digest[i] & 0xF]);
  }
  return out;
}

int WriteWholeOrCutBack(int fd, std::string_view bytes) {
  off_t start = lseek(fd, 0, SEEK_CUR);  // -1 for a pipe or a terminal: nothing to cut back
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int error = n < 0 ? errno : ENOSPC;
      if (start >= 0 && ftruncate(fd, start) == 0) lseek(fd, start, SEEK_SET);
      return error;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace gm
