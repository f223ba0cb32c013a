// CSV results: the file a task appends each kept record to during a run (the task's
// "savetoxls" settings), and the by-hand export of a whole result list.
//
// A row holds one quoted field per column, in column order. Fields of columns that carry
// linked files (LINKFILE, INNERHTML, OUTERHTML) point at those files by a path relative to the
// CSV file's folder, and the files are saved there (see linked_files.h).
#pragma once

#include <string>
#include <vector>

#include "engine/record_output.h"
#include "output/csv_writer.h"

namespace gm {

// The header row: every column's name as a field, then a line end.
void WriteCsvHeader(CCsvWriter* writer, const std::vector<OutputColumn>& columns);
// One record as a row; `folder` is the CSV file's folder ("/"-terminated or empty).
void WriteCsvRow(CCsvWriter* writer, const std::vector<OutputColumn>& columns,
                 const CRecord& record, const std::wstring& folder, bool subfolder);

// The automatic CSV file of a task. Settings are read from the task's "savetoxls" element when
// the run opens: "enable", "excelfile", "encoding", "option" (1: the file is emptied at every
// run start; otherwise records are appended; a continued run always appends, after cutting the
// file back to where it stood when the interrupted run last finished an address). A new or empty file begins with the byte order
// mark and the header row. A file that cannot be opened leaves the run without CSV output; a
// write that fails (a full disk) is reported once through the run's status.
//
// Thread: the runner's thread (see CRecordOutput).
class CCsvOutput : public CRecordOutput {
 public:
  // `subfolder`: the configuration's "subfolder" setting (linked files in a folder per record).
  explicit CCsvOutput(bool subfolder) : subfolder_(subfolder) {}

  void Open(const OutputRun& run) override;
  void Write(const CRecord& record, int record_number) override;
  void Close() override;
  int LostRecords() override { return lost_; }
  // The file's length (a continued run cuts the file back to it).
  std::string Checkpoint() override;
  bool IsOpen() const { return writer_.IsOpen(); }

 private:
  void ReportFailure();
  // Says once, at the first value the code page could not hold, and again at the end with the
  // count.
  void ReportLoss(bool at_end);

  const bool subfolder_;
  CCsvWriter writer_;
  std::vector<OutputColumn> columns_;
  std::wstring path_, folder_;
  std::function<void(const std::wstring&)> report_;
  bool reported_ = false;
  bool loss_reported_ = false;
  bool wanted_ = false;  // the task writes a CSV file this run
  int lost_ = 0;
  CReplaySkip replay_;
};

// Writes the whole list (the caller holds the list's lock) to a new CSV file at `path` in the
// named encoding: the mark, the header row and one row per record in list order. An existing
// file is replaced. False when the file cannot be opened or written.
// What a CSV file in the legacy code page could not hold: the values that lost characters to
// its substitute ("?"), and the first of them.
struct CsvLoss {
  size_t values = 0;
  std::wstring first;
};

// `loss` (may be null) receives what the code page could not hold.
bool ExportCsv(const std::wstring& path, std::wstring_view encoding,
               const std::vector<OutputColumn>& columns, const CRecordList& records,
               bool subfolder, CsvLoss* loss = nullptr);

// The user's message for a loss: "N value(s) ... code page X ...: <first value>".
std::wstring CsvLossText(const CsvLoss& loss);

}  // namespace gm
