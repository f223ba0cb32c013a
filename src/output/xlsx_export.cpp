#include "output/xlsx_export.h"

#include "output/linked_files.h"
#include "output/sheet_filler.h"

namespace gm {

bool ExportXlsx(const std::wstring& path, const std::wstring& number_header,
                const std::vector<OutputColumn>& columns, const CRecordList& records,
                bool subfolder, int records_per_sheet) {
  CXlsxWorkbook book(path);
  if (!book.Ok()) return false;
  FillWithRecords(&book, records_per_sheet, number_header, columns, records, FolderOf(path),
                  subfolder);
  return book.Save();
}

}  // namespace gm
