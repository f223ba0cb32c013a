// Records laid out on worksheets, shared by the .xls and .xlsx writers: a header row on each
// sheet, then records in order; a full sheet continues on the next one ("Sheet1", "Sheet2",
// ...), which begins with the header row again.
#pragma once

#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "engine/record.h"
#include "engine/record_output.h"
#include "output/linked_files.h"

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

// An output that lays a run's kept records out on the sheets of a `Book` (header row of column
// names, no number column) and saves the workbook at `path` when the run closes. A book made
// from the path (a streaming one) has Save(); one made empty has Save(path). Thread: the
// runner's thread.
template <class Book, int kRecordsPerSheet>
class CWorkbookOutput : public CRecordOutput {
 public:
  explicit CWorkbookOutput(std::wstring path) : path_(std::move(path)) {}
  void Open(const OutputRun& run) override {
    columns_ = run.columns;
    folder_ = FolderOf(path_);
    filler_.reset();
    if constexpr (kStreams)
      book_ = std::make_unique<Book>(path_);
    else
      book_ = std::make_unique<Book>();
    std::vector<std::wstring> header;
    for (const OutputColumn& c : columns_) header.push_back(c.name);
    filler_ = std::make_unique<CSheetFiller<Book>>(book_.get(), header, kRecordsPerSheet);
    saved_ = false;
  }
  void Write(const CRecord& record, int) override {
    if (filler_) filler_->Row(RecordCellTexts(columns_, record, folder_, false));
  }
  void Close() override {
    if (!book_) return;
    filler_->EnsureSheet();
    if constexpr (kStreams)
      saved_ = book_->Save();
    else
      saved_ = book_->Save(path_);
    filler_.reset();
    book_.reset();
  }
  // False when the last Close could not write the file.
  bool Saved() const { return saved_; }

 private:
  static constexpr bool kStreams = std::is_constructible_v<Book, const std::wstring&>;
  const std::wstring path_;
  std::wstring folder_;
  std::vector<OutputColumn> columns_;
  std::unique_ptr<Book> book_;
  std::unique_ptr<CSheetFiller<Book>> filler_;
  bool saved_ = false;
};

}  // namespace gm
