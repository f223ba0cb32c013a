#include "output/record_stream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "doc/file_util.h"
#include "doc/text_codec.h"

namespace gm {

std::string CRecordStream::CsvField(const std::wstring& text) {
  std::string s = ToUtf8(text);
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string CRecordStream::JsonString(const std::wstring& text) {
  std::string out = "\"";
  for (char c : ToUtf8(text)) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(c));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::vector<std::wstring> CRecordStream::UniqueKeys(const std::vector<std::wstring>& names) {
  std::set<std::wstring> taken(names.begin(), names.end());
  std::set<std::wstring> used;
  std::vector<std::wstring> keys;
  for (const std::wstring& name : names) {
    std::wstring key = name;
    for (int n = 2; used.count(key); ++n) {
      key = name + L"_" + std::to_wstring(n);
      if (taken.count(key)) key = name;  // another column's own name: try the next suffix
    }
    used.insert(key);
    keys.push_back(key);
  }
  return keys;
}

void CRecordStream::Emit(const std::string& line) {
  if (failed_) return;  // a closed pipe or a full disk takes no more
  // Each record goes out whole, or (in a file) not at all: a full disk leaves the last complete
  // record at the end.
  int error = std::fflush(out_) == 0 ? WriteWholeOrCutBack(fileno(out_), line) : errno;
  if (error != 0) {
    error_ = error;
    failed_ = true;
  }
}

namespace {

// The length of a regular file behind `out` (after flushing it); -1 for anything else.
long long RegularFileSize(FILE* out) {
  struct stat st {};
  if (std::fflush(out) != 0 || fstat(fileno(out), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

}  // namespace

std::string CRecordStream::Checkpoint() {
  long long size = failed_ ? -1 : RegularFileSize(out_);
  return size < 0 ? std::string() : std::to_string(size);
}

void CRecordStream::Open(const OutputRun& run) {
  std::vector<std::wstring> names;
  for (const OutputColumn& c : run.columns) names.push_back(c.name);
  keys_.clear();
  for (const std::wstring& key : UniqueKeys(names)) keys_.push_back(JsonString(key));
  // A pipe or terminal cannot be read back.
  if (RegularFileSize(out_) < 0)
    replay_.OpenBlind(run);
  else
    replay_.Open(run, 0);
  if (run.continuing) {
    long long at = CheckpointNumber(run.checkpoint);
    long long size = RegularFileSize(out_);
    if (at >= 0 && size >= at &&
        ftruncate(fileno(out_), at) == 0 && std::fseek(out_, 0, SEEK_END) == 0) {
      size = at;
    } else {
      replay_.OpenBlind(run);
    }
    // The header is there already, unless the file is new or empty.
    if (size != 0) header_written_ = true;
  }
  if (format_ != kCsv || header_written_) return;
  header_written_ = true;
  std::string line;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) line += ',';
    line += CsvField(names[i]);
  }
  Emit(line + "\r\n");
}

void CRecordStream::Write(const CRecord& record, int) {
  if (replay_.Skip()) return;
  std::string line;
  if (format_ == kCsv) {
    for (size_t i = 0; i < keys_.size(); ++i) {
      if (i) line += ',';
      line += CsvField(record.Field(static_cast<int>(i)).text);
    }
    Emit(line + "\r\n");
    return;
  }
  line = "{";
  for (size_t i = 0; i < keys_.size(); ++i) {
    if (i) line += ",";
    line += keys_[i] + ":" + JsonString(record.Field(static_cast<int>(i)).text);
  }
  Emit(line + "}\n");
}

}  // namespace gm
