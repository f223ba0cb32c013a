#include "output/xls_export.h"

#include "doc/file_util.h"
#include "output/linked_files.h"

namespace gm {

// Writes rows into sheets of at most kXlsRecordsPerSheet rows after the header.
class CSheetFiller {
 public:
  CSheetFiller(CXlsWorkbook* book, std::vector<std::wstring> header)
      : book_(book), header_(std::move(header)) {}

  void Row(const std::vector<std::wstring>& texts) {
    EnsureSheet();
    if (row_ > kXlsRecordsPerSheet) {
      sheet_ = book_->AddSheet(L"Sheet" + std::to_wstring(book_->SheetCount() + 1));
      row_ = 0;
      Put(header_);
    }
    Put(texts);
  }
  // A workbook without records still has its sheet and header row.
  void EnsureSheet() {
    if (sheet_ >= 0) return;
    sheet_ = book_->AddSheet(L"Sheet1");
    row_ = 0;
    Put(header_);
  }

 private:
  void Put(const std::vector<std::wstring>& texts) {
    for (size_t c = 0; c < texts.size(); ++c) book_->SetText(sheet_, row_, int(c), texts[c]);
    ++row_;
  }

  CXlsWorkbook* book_;
  std::vector<std::wstring> header_;
  int sheet_ = -1, row_ = 0;
};

namespace {

std::vector<std::wstring> CellTexts(const std::vector<OutputColumn>& columns, const CRecord& record,
                                    const std::wstring& folder, bool subfolder) {
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

}  // namespace

bool ExportXls(const std::wstring& path, const std::wstring& number_header,
               const std::vector<OutputColumn>& columns, const CRecordList& records,
               bool subfolder) {
  CXlsWorkbook book;
  std::vector<std::wstring> header = {number_header};
  for (const OutputColumn& c : columns) header.push_back(c.name);
  CSheetFiller filler(&book, header);
  std::wstring folder = FolderOf(path);
  filler.EnsureSheet();
  for (size_t k = 0; k < records.Size(); ++k) {
    std::vector<std::wstring> row = {std::to_wstring(k + 1)};
    for (std::wstring& t : CellTexts(columns, records.At(k), folder, subfolder))
      row.push_back(std::move(t));
    filler.Row(row);
  }
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
  filler_ = std::make_unique<CSheetFiller>(book_.get(), header);
  saved_ = false;
}

void CXlsOutput::Write(const CRecord& record, int) {
  if (filler_) filler_->Row(CellTexts(columns_, record, folder_, false));
}

void CXlsOutput::Close() {
  if (!book_) return;
  filler_->EnsureSheet();
  saved_ = book_->Save(path_);
  filler_.reset();
  book_.reset();
}

}  // namespace gm
