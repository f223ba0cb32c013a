#include "output/linked_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "doc/app_paths.h"
#include "doc/file_util.h"
#include "doc/text_codec.h"

namespace gm {

bool CarriesLinkedFiles(std::wstring_view type) {
  return type == L"LINKFILE" || type == L"INNERHTML" || type == L"OUTERHTML";
}

std::wstring FolderOf(std::wstring_view path) {
  size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring_view::npos) return {};
  return NormalizeSeparators(path.substr(0, slash + 1));
}

std::wstring AsFolder(std::wstring_view folder) {
  std::wstring out = NormalizeSeparators(folder);
  if (!out.empty() && out.back() != L'/') out.push_back(L'/');
  return out;
}

bool SaveLinkedFile(const std::wstring& path, const CLinkedFile& file) {
  int64_t size = file.Spooled() ? file.size : static_cast<int64_t>(file.bytes.size());
  if (size <= 0 || path.empty()) return false;
  std::string p = ToUtf8(NormalizeSeparators(path));
  struct stat st {};
  if (lstat(p.c_str(), &st) == 0) return false;
  std::wstring folder = FolderOf(path);
  if (!folder.empty()) MakeFolders(folder);
  if (file.Spooled()) return file.WriteTo(NormalizeSeparators(path));
  const std::string& bytes = file.bytes;
  int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = ::close(fd) == 0 && done == bytes.size();
  if (!ok) ::unlink(p.c_str());
  return ok;
}

std::string LinkedFileBytes(const CLinkedFile& file) {
  if (!file.Spooled()) return file.bytes;
  std::string bytes;
  if (!file.ReadContent(&bytes)) bytes.clear();
  return bytes;
}

std::wstring SpreadsheetLinkPath(const CRecord& record, const CLinkedFile& file, bool subfolder) {
  std::wstring rel = L"images/";
  if (subfolder) rel += SafeFileName(record.Field(0).text) + L"/";
  return rel + SafeFileName(file.name);
}

std::wstring LocalizeLinkedFiles(const CFieldValue& field, const CRecord& record,
                                 const std::wstring& folder, bool subfolder) {
  std::wstring copy = field.text;
  for (const CLinkedFile& file : field.linkedFiles) {
    std::wstring rel = SpreadsheetLinkPath(record, file, subfolder);
    ReplaceAll(&copy, file.address, rel);
    SaveLinkedFile(folder + rel, file);
  }
  return copy;
}

void ReplaceAll(std::wstring* text, std::wstring_view from, std::wstring_view to) {
  if (from.empty()) return;
  for (size_t pos = 0; (pos = text->find(from, pos)) != std::wstring::npos; pos += to.size()) {
    text->replace(pos, from.size(), to);
  }
}

}  // namespace gm
