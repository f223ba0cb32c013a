// CSpoolFile: a temporary file that holds a downloaded body too large to keep in memory. It is
// created empty, written while the body arrives, and deleted when the object goes (shared
// owners keep it alive until the last of them is done with it).
//
// Threads: written by one thread at a time; after the download it is only read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace gm {

class CSpoolFile {
 public:
  // A new empty file in $TMPDIR (else /tmp); null when it cannot be created.
  static std::unique_ptr<CSpoolFile> Create();
  ~CSpoolFile();
  CSpoolFile(const CSpoolFile&) = delete;
  CSpoolFile& operator=(const CSpoolFile&) = delete;

  // Appends bytes; false on a write error.
  bool Append(std::string_view bytes);
  // Closes the file for writing; reading works before and after.
  void Finish();

  const std::string& path() const { return path_; }
  int64_t size() const { return size_; }
  // The whole content; false when it cannot be read.
  bool ReadAll(std::string* out) const;
  // Copies the content to `path` (created or truncated); a partial copy is removed.
  bool CopyTo(const std::string& path) const;

 private:
  CSpoolFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
  std::string path_;
  int64_t size_ = 0;
};

}  // namespace gm
