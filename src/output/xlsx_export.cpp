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

CXlsxOutput::CXlsxOutput(std::wstring path) : path_(std::move(path)) {}
CXlsxOutput::~CXlsxOutput() = default;

void CXlsxOutput::Open(const OutputRun& run) {
  columns_ = run.columns;
  folder_ = FolderOf(path_);
  filler_.reset();
  book_ = std::make_unique<CXlsxWorkbook>(path_);
  std::vector<std::wstring> header;
  for (const OutputColumn& c : columns_) header.push_back(c.name);
  filler_ =
      std::make_unique<CSheetFiller<CXlsxWorkbook>>(book_.get(), header, kXlsxRecordsPerSheet);
  saved_ = false;
}

void CXlsxOutput::Write(const CRecord& record, int) {
  if (filler_) filler_->Row(RecordCellTexts(columns_, record, folder_, false));
}

void CXlsxOutput::Close() {
  if (!book_) return;
  filler_->EnsureSheet();
  saved_ = book_->Save();
  filler_.reset();
  book_.reset();
}

}  // namespace gm
