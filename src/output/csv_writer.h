// CCsvWriter: a CSV file being written, in one of the four output encodings.
//
// Every field is quoted; a quote inside a field is doubled and nothing else is escaped, so
// separators, line breaks and tabs stay between the quotes. Bytes are collected per row and
// handed to the file at each line end (and at once by WriteMark), so that after every row the
// file holds every row written so far.
//
// The file is opened with an exclusive advisory lock: a second writer of the same file (another
// task of this program) fails to open it, while readers are not hindered.
//
// Threads: one object belongs to one thread at a time.
#pragma once

#include <string>
#include <string_view>

namespace gm {

enum class CsvEncoding { kAnsi = 0, kUnicode = 1, kUnicodeBigEndian = 2, kUtf8 = 3 };

// "ANSI", "Unicode", "Unicode big endian", "UTF-8" compared without regard to case; any other
// name, and an empty one, is ANSI.
CsvEncoding CsvEncodingFromName(std::wstring_view name);

class CCsvWriter {
 public:
  enum class OpenMode { kTruncate, kAppend };

  CCsvWriter() = default;
  CCsvWriter(const CCsvWriter&) = delete;
  CCsvWriter& operator=(const CCsvWriter&) = delete;
  ~CCsvWriter() { Close(); }

  // Opens (creating when missing) the file at a UTF-8 path. kTruncate empties it; kAppend
  // keeps its content and writes after it. False when it cannot be opened or another writer
  // holds it.
  bool Open(const std::wstring& path, OpenMode mode);
  bool IsOpen() const { return fd_ >= 0; }
  // Length of the file when it was opened.
  long long InitialSize() const { return initial_size_; }
  // Length of the file now (rows are written at once, so this is after the last whole row);
  // -1 when it is not open or cannot be read.
  long long Size() const;
  // Cuts the file back to `size` bytes (no longer than it is) and writes on from there; false
  // when it could not be done (the file is left as it was).
  bool CutBackTo(long long size);
  // Flushes what is pending and closes; false when any write failed.
  bool Close();

  void SetEncoding(std::wstring_view name) { encoding_ = CsvEncodingFromName(name); }
  void SetEncoding(CsvEncoding e) { encoding_ = e; }
  CsvEncoding Encoding() const { return encoding_; }

  void WriteMark();
  void WriteField(std::wstring_view text);
  void WriteSeparator();
  void WriteLineEnd();
  // True once a write has failed (a full disk, a lost file); later writes are dropped.
  bool Failed() const { return failed_; }
  // ANSI: the fields written so far that held characters the code page cannot hold (they were
  // written with its substitute), and the first of them.
  size_t LossyFields() const { return lossy_fields_; }
  const std::wstring& FirstLossyField() const { return first_lossy_; }

  // The bytes WriteField would produce, for callers that build rows elsewhere.
  // `unencodable` as EncodeOutput counts it.
  static std::string EncodeField(std::wstring_view text, CsvEncoding e,
                                 size_t* unencodable = nullptr);

 private:
  void Append(std::wstring_view text);
  void Flush();

  int fd_ = -1;
  long long initial_size_ = 0;
  CsvEncoding encoding_ = CsvEncoding::kAnsi;
  const wchar_t separator_ = L',';
  std::string pending_;
  bool failed_ = false;
  size_t lossy_fields_ = 0;
  std::wstring first_lossy_;
};

}  // namespace gm
