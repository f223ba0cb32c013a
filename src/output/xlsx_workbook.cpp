#include "output/xlsx_workbook.h"

#include <unistd.h>
#include <xlsxwriter.h>

#include <cstdio>
#include <cwctype>

#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "output/linked_files.h"

namespace gm {
namespace {

constexpr size_t kMaxCellUnits = 32767;

// Whether text[i] begins "_xHHHH_", which readers of the format take for an escaped character.
bool LooksEscaped(const std::wstring& text, size_t i) {
  if (text.compare(i, 2, L"_x") != 0 || i + 7 > text.size() || text[i + 6] != L'_') return false;
  for (size_t k = i + 2; k < i + 6; ++k) {
    if (!std::iswxdigit(text[k])) return false;
  }
  return true;
}

// The text as UTF-8, cut after at most kMaxCellUnits UTF-16 units (never inside a pair). A
// "_xHHHH_" in the text has its underscore escaped ("_x005F_"), so that it reads back as
// written; the library escapes control characters the same way.
std::string CellUtf8(const std::wstring& text) {
  std::wstring cell;
  size_t units = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool escape = text[i] == L'_' && LooksEscaped(text, i);
    const size_t width = (static_cast<uint32_t>(text[i]) > 0xFFFF ? 2 : 1) + (escape ? 6 : 0);
    if (units + width > kMaxCellUnits) break;
    units += width;
    if (escape) cell += L"_x005F";
    cell += text[i];
  }
  return ToUtf8(cell);
}

}  // namespace

CXlsxWorkbook::CXlsxWorkbook(const std::wstring& path)
    : path_(ToUtf8(NormalizeSeparators(path))),
      part_(path_ + "." + std::to_string(getpid()) + ".part") {
  // Made here first so that a folder that cannot be written is found before any work (the
  // library would only say so on stderr when it closes the file).
  FILE* probe = std::fopen(part_.c_str(), "wb");
  if (!probe) return;
  std::fclose(probe);
  std::string folder = ToUtf8(FolderOf(FromUtf8(path_)));
  if (folder.empty()) folder = ".";
  lxw_workbook_options options = {};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = folder.data();  // the rows' temporary files go beside the target
  options.use_zip64 = LXW_TRUE;    // sheets of a million rows pass 4 GiB unpacked
  book_ = workbook_new_opt(part_.c_str(), &options);
  if (!book_) std::remove(part_.c_str());
}

CXlsxWorkbook::~CXlsxWorkbook() {
  if (!book_) return;
  workbook_close(book_);
  std::remove(part_.c_str());
}

int CXlsxWorkbook::AddSheet(const std::wstring& name) {
  if (!book_) return -1;
  lxw_worksheet* sheet = workbook_add_worksheet(book_, ToUtf8(name.substr(0, 31)).c_str());
  if (!sheet) {
    failed_ = true;
    return -1;
  }
  sheets_.push_back(sheet);
  return SheetCount() - 1;
}

bool CXlsxWorkbook::SetText(int sheet, int row, int column, const std::wstring& text) {
  if (sheet < 0 || sheet >= SheetCount() || row < 0 || row >= kMaxRows || column < 0 ||
      column >= kMaxColumns)
    return false;
  if (text.empty()) return true;
  lxw_error e =
      worksheet_write_string(sheets_[sheet], static_cast<lxw_row_t>(row),
                             static_cast<lxw_col_t>(column), CellUtf8(text).c_str(), nullptr);
  if (e == LXW_NO_ERROR) return true;
  if (e != LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE) failed_ = true;  // e.g. out of memory
  return false;
}

bool CXlsxWorkbook::Save() {
  if (!book_) return false;
  lxw_error e = workbook_close(book_);
  book_ = nullptr;
  bool ok = e == LXW_NO_ERROR && !failed_;
  if (ok) {
    // The library closed the file; it is synced before it replaces the target.
    FILE* f = std::fopen(part_.c_str(), "rb+");
    ok = f && fsync(fileno(f)) == 0;
    if (f) std::fclose(f);
  }
  if (ok) ok = std::rename(part_.c_str(), path_.c_str()) == 0;
  if (!ok) std::remove(part_.c_str());
  return ok;
}

}  // namespace gm
