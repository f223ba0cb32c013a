#include "net/spool_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace gm {

namespace {

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

std::unique_ptr<CSpoolFile> CSpoolFile::Create() {
  const char* dir = std::getenv("TMPDIR");
  std::string tmpl = std::string(dir && *dir ? dir : "/tmp") + "/gleanmark-body-XXXXXX";
  int fd = mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::unique_ptr<CSpoolFile>(new CSpoolFile(fd, tmpl));
}

CSpoolFile::~CSpoolFile() {
  Finish();
  unlink(path_.c_str());
}

bool CSpoolFile::Append(std::string_view bytes) {
  if (fd_ < 0 || !WriteAll(fd_, bytes.data(), bytes.size())) return false;
  size_ += static_cast<int64_t>(bytes.size());
  return true;
}

void CSpoolFile::Finish() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool CSpoolFile::ReadAll(std::string* out) const {
  int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out->assign(static_cast<size_t>(size_), '\0');
  size_t got = 0;
  while (got < out->size()) {
    ssize_t r = read(fd, out->data() + got, out->size() - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  close(fd);
  return got == out->size();
}

bool CSpoolFile::CopyTo(const std::string& path) const {
  int in = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    close(in);
    return false;
  }
  char buf[64 * 1024];
  int64_t copied = 0;
  bool ok = true;
  for (;;) {
    ssize_t r = read(in, buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) ok = false;
    if (r <= 0) break;
    if (!WriteAll(out, buf, static_cast<size_t>(r))) {
      ok = false;
      break;
    }
    copied += r;
  }
  close(in);
  if (close(out) != 0) ok = false;
  ok = ok && copied == size_;
  if (!ok) unlink(path.c_str());
  return ok;
}

}  // namespace gm
