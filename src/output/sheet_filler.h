// Records laid out on worksheets, shared by the .xls and .xlsx writers: a header row on each
// sheet, then records in order; a full sheet continues on the next one ("Sheet1", "Sheet2",
// ...), which begins with the header row again.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/record.h"
#include "engine/record_output.h"

namespace gm {

// The cell texts of a record, one per column; the fields of linked-file columns name the files
// saved beside `folder` (LocalizeLinkedFiles).
std::vector<std::wstring> RecordCellTexts(const std::vector<OutputColumn>& columns,
                                          const CRecord& record, const std::wstring& folder,
                                          bool subfolder);

// Writes rows into sheets of at most `records_per_sheet` rows after the header. `Book` has
// int AddSheet(name), int SheetCount() and SetText(sheet, row, column, text); rows are written
// in increasing order (a streaming book relies on it). Thread: the book's.
template <class Book>
class CSheetFiller {
 public:
  CSheetFiller(Book* book, std::vector<std::wstring> header, int records_per_sheet)
      : book_(book), header_(std::move(header)), per_sheet_(records_per_sheet) {}

  void Row(const std::vector<std::wstring>& texts) {
    EnsureSheet();
    if (row_ > per_sheet_) {
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

  Book* book_;
  const std::vector<std::wstring> header_;
  const int per_sheet_;
  int sheet_ = -1, row_ = 0;
};

// The export of a result list into `book`: column 0 holds the record's number counted from 1
// under `number_header`, then one column per item.
template <class Book>
void FillWithRecords(Book* book, int records_per_sheet, const std::wstring& number_header,
                     const std::vector<OutputColumn>& columns, const CRecordList& records,
                     const std::wstring& folder, bool subfolder) {
  std::vector<std::wstring> header = {number_header};
  for (const OutputColumn& c : columns) header.push_back(c.name);
  CSheetFiller<Book> filler(book, header, records_per_sheet);
  filler.EnsureSheet();
  for (size_t k = 0; k < records.Size(); ++k) {
    std::vector<std::wstring> row = {std::to_wstring(k + 1)};
    for (std::wstring& t : RecordCellTexts(columns, records.At(k), folder, subfolder))
      row.push_back(std::move(t));
    filler.Row(row);
  }
}

}  // namespace gm
