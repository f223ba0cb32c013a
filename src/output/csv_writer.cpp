#include "output/csv_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "doc/file_util.h"
#include "doc/output_encoding.h"
#include "doc/text_codec.h"

namespace gm {
namespace {

OutputEncoding AsOutputEncoding(CsvEncoding e) {
  switch (e) {
    case CsvEncoding::kUnicode:
      return OutputEncoding::kUnicode;
    case CsvEncoding::kUnicodeBigEndian:
      return OutputEncoding::kUnicodeBigEndian;
    case CsvEncoding::kUtf8:
      return OutputEncoding::kUtf8;
    case CsvEncoding::kAnsi:
      break;
  }
  return OutputEncoding::kAnsi;
}

}  // namespace

CsvEncoding CsvEncodingFromName(std::wstring_view name) {
  switch (OutputEncodingFromName(name)) {
    case OutputEncoding::kUnicode:
      return CsvEncoding::kUnicode;
    case OutputEncoding::kUnicodeBigEndian:
      return CsvEncoding::kUnicodeBigEndian;
    case OutputEncoding::kUtf8:
      return CsvEncoding::kUtf8;
    case OutputEncoding::kAnsi:
      break;
  }
  return CsvEncoding::kAnsi;
}

bool CCsvWriter::Open(const std::wstring& path, OpenMode mode) {
  Close();
  failed_ = false;
  pending_.clear();
  int fd = ::open(ToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  // Lock before emptying, so a file another writer holds is never cut short.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || (mode == OpenMode::kTruncate && ftruncate(fd, 0) != 0)) {
    ::close(fd);
    return false;
  }
  struct stat st {};
  initial_size_ = fstat(fd, &st) == 0 ? st.st_size : 0;
  if (lseek(fd, 0, SEEK_END) < 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

long long CCsvWriter::Size() const {
  struct stat st {};
  if (fd_ < 0 || fstat(fd_, &st) != 0) return -1;
  return st.st_size;
}

bool CCsvWriter::CutBackTo(long long size) {
  long long now = Size();
  if (now < 0 || size < 0 || size > now) return false;
  if (ftruncate(fd_, size) != 0 || lseek(fd_, 0, SEEK_END) < 0) return false;
  return true;
}

bool CCsvWriter::Close() {
  if (fd_ < 0) return !failed_;
  Flush();
  if (::close(fd_) != 0) failed_ = true;
  fd_ = -1;
  return !failed_;
}

std::string CCsvWriter::EncodeField(std::wstring_view text, CsvEncoding e, size_t* unencodable) {
  std::wstring quoted;
  quoted.reserve(text.size() + 2);
  quoted += L'"';
  for (wchar_t c : text) {
    quoted += c;
    if (c == L'"') quoted += L'"';
  }
  quoted += L'"';
  return EncodeOutput(quoted, AsOutputEncoding(e), unencodable);
}

void CCsvWriter::Append(std::wstring_view text) {
  pending_ += EncodeOutput(text, AsOutputEncoding(encoding_));
}

void CCsvWriter::WriteMark() {
  pending_ += ByteOrderMark(AsOutputEncoding(encoding_));
  Flush();
}

void CCsvWriter::WriteField(std::wstring_view text) {
  size_t unencodable = 0;
  pending_ += EncodeField(text, encoding_, &unencodable);
  if (unencodable > 0 && lossy_fields_++ == 0) first_lossy_ = text;
}

void CCsvWriter::WriteSeparator() {
  Append(std::wstring_view(&separator_, 1));
}

void CCsvWriter::WriteLineEnd() {
  Append(L"\r\n");
  Flush();
}

void CCsvWriter::Flush() {
  if (fd_ < 0 || failed_) {
    pending_.clear();
    return;
  }
  // No half row stays behind: the file ends with the last complete row.
  if (WriteWholeOrCutBack(fd_, pending_) != 0) failed_ = true;
  pending_.clear();
}

}  // namespace gm
