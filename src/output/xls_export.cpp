#include "output/xls_export.h"

#include "doc/file_util.h"
#include "output/linked_files.h"
#include "output/sheet_filler.h"

namespace gm {

std::vector<std::wstring> RecordCellTexts(const std::vector<OutputColumn>& columns,
                                          const CRecord& record, const std::wstring& folder,
                                          bool subfolder) {
  std::vector<std::wstring> texts;
  texts.reserve(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    const CFieldValue& field = record.Field(static_cast<int>(i));
    texts.push_back(CarriesLinkedFiles(columns[i].type)
                        ? LocalizeLinkedFiles(field, record, folder, subfolder)
                        : field.text);
  }
  return texts;
}

bool ExportXls(const std::wstring& path, const std::wstring& number_header,
               const std::vector<OutputColumn>& columns, const CRecordList& records,
               bool subfolder) {
  CXlsWorkbook book;
  FillWithRecords(&book, kXlsRecordsPerSheet, number_header, columns, records, FolderOf(path),
                  subfolder);
  return book.Save(path);
}

}  // namespace gm
