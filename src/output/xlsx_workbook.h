// CXlsxWorkbook: an Office Open XML workbook (.xlsx) of text cells, written through
// libxlsxwriter in its constant-memory mode: a row goes to a temporary file as soon as the next
// row of its sheet begins, so memory stays flat however many rows are written. Save assembles
// the file.
//
// Rows of a sheet must be written in increasing order (a cell above the current row is
// dropped). A sheet has rows 0 to 1048575 and columns 0 to 16383; cells outside are ignored.
// Texts are stored as text whatever they look like ("=1+1" is not a formula); control
// characters and a literal "_xHHHH_" are written in the format's escaped form ("_x0001_",
// "_x005F_xHHHH_"), which spreadsheet programs decode. A text longer than 32767 UTF-16 units
// (the format's cell limit) is cut there, as in the .xls writer. Empty texts leave their cell
// empty.
//
// Threads: one object belongs to one thread at a time.
#pragma once

#include <string>
#include <vector>

struct lxw_workbook;
struct lxw_worksheet;

namespace gm {

class CXlsxWorkbook {
 public:
  static constexpr int kMaxRows = 1048576;
  static constexpr int kMaxColumns = 16384;

  // Starts the workbook in a temporary file beside `path` (the target itself is untouched
  // until Save).
  explicit CXlsxWorkbook(const std::wstring& path);
  // A workbook that was not saved leaves no file behind.
  ~CXlsxWorkbook();
  CXlsxWorkbook(const CXlsxWorkbook&) = delete;
  CXlsxWorkbook& operator=(const CXlsxWorkbook&) = delete;

  // False when the temporary file could not be created (Save then fails too).
  bool Ok() const { return book_ != nullptr; }
  // Adds a worksheet (names are cut to 31 characters); returns its index, -1 when it fails.
  int AddSheet(const std::wstring& name);
  int SheetCount() const { return static_cast<int>(sheets_.size()); }
  // Sets a text cell; false when the sheet, row or column is out of range or the row is above
  // the sheet's current one.
  bool SetText(int sheet, int row, int column, const std::wstring& text);

  // Finishes the file and renames it over `path`, replacing a file that is there; on failure
  // the old file stays. False when it cannot be written. Once only.
  bool Save();

 private:
  std::string path_, part_;  // the target and the temporary file (UTF-8)
  lxw_workbook* book_ = nullptr;
  std::vector<lxw_worksheet*> sheets_;  // owned by book_
  bool failed_ = false;                 // a cell or sheet could not be written: Save fails
};

}  // namespace gm
