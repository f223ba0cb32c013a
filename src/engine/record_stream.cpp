#include "engine/record_stream.h"

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

void CRecordStream::Write(const std::string& line) {
  if (std::fwrite(line.data(), 1, line.size(), out_) != line.size() || std::fflush(out_) != 0) {
    failed_ = true;
  }
}

void CRecordStream::BeginRun(CTaskRunner& runner) {
  if (format_ != kCsv || header_written_) return;
  header_written_ = true;
  std::string line;
  for (size_t i = 0; i < runner.items.size(); ++i) {
    if (i) line += ',';
    line += CsvField(runner.items[i]->name);
  }
  Write(line + "\r\n");
}

void CRecordStream::Output(CTaskRunner& runner, const CRecord& record) {
  std::string line;
  if (format_ == kCsv) {
    for (size_t i = 0; i < runner.items.size(); ++i) {
      if (i) line += ',';
      line += CsvField(record.Field(static_cast<int>(i)).text);
    }
    Write(line + "\r\n");
    return;
  }
  line = "{";
  for (size_t i = 0; i < runner.items.size(); ++i) {
    if (i) line += ",";
    line += JsonString(runner.items[i]->name) + ":" +
            JsonString(record.Field(static_cast<int>(i)).text);
  }
  Write(line + "}\n");
}

}  // namespace gm
