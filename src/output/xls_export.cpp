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

CXlsOutput::CXlsOutput(std::wstring path) : path_(std::move(path)) {}
CXlsOutput::~CXlsOutput() = default;

void CXlsOutput::Open(const OutputRun& run) {
  columns_ = run.columns;
  folder_ = FolderOf(path_);
  book_ = std::make_unique<CXlsWorkbook>();
  std::vector<std::wstring> header;
  for (const OutputColumn& c : columns_) header.push_back(c.name);
  filler_ = std::make_unique<CSheetFiller<CXlsWorkbook>>(book_.get(), header, kXlsRecordsPerSheet);
  saved_ = false;
}

void CXlsOutput::Write(const CRecord& record, int) {
  if (filler_) filler_->Row(RecordCellTexts(columns_, record, folder_, false));
}

void CXlsOutput::Close() {
  if (!book_) return;
  filler_->EnsureSheet();
  saved_ = book_->Save(path_);
  filler_.reset();
  book_.reset();
}

}  // namespace gm
