#include "output/csv_output.h"

#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "output/linked_files.h"
#include "task/task_settings.h"

namespace gm {

void WriteCsvHeader(CCsvWriter* writer, const std::vector<OutputColumn>& columns) {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i) writer->WriteSeparator();
    writer->WriteField(columns[i].name);
  }
  writer->WriteLineEnd();
}

void WriteCsvRow(CCsvWriter* writer, const std::vector<OutputColumn>& columns,
                 const CRecord& record, const std::wstring& folder, bool subfolder) {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i) writer->WriteSeparator();
    const CFieldValue& field = record.Field(static_cast<int>(i));
    if (CarriesLinkedFiles(columns[i].type))
      writer->WriteField(LocalizeLinkedFiles(field, record, folder, subfolder));
    else
      writer->WriteField(field.text);
  }
  writer->WriteLineEnd();
}

void CCsvOutput::Open(const OutputRun& run) {
  writer_.Close();
  reported_ = false;
  loss_reported_ = false;
  wanted_ = false;
  lost_ = 0;
  XlsOutputSettings s = ReadXlsOutputSettings(*run.task);
  if (!run.task->FindChild(L"savetoxls") || s.enable == 0 || s.excelfile.empty()) return;
  columns_ = run.columns;
  report_ = run.report;
  path_ = WorkerFileName(NormalizeSeparators(s.excelfile), run.workerTag);
  folder_ = FolderOf(path_);
  auto mode = s.option == 1 && !run.continuing ? CCsvWriter::OpenMode::kTruncate
                                               : CCsvWriter::OpenMode::kAppend;
  wanted_ = true;
  if (!writer_.Open(path_, mode)) {
    // Unwritable, or in use by another run: every record of this run misses the file.
    ReportFailure();
    return;
  }
  writer_.SetEncoding(s.encoding);
  if (run.continuing) {
    // Rows written after the checkpoint (a cut last row among them) go; the run writes them again.
    long long at = CheckpointNumber(run.checkpoint);
    if (at >= 0 && writer_.CutBackTo(at))
      replay_.Open(run, 0);
    else
      replay_.OpenBlind(run);
  } else {
    replay_.Open(run, 0);
  }
  if (writer_.Size() == 0) {
    writer_.WriteMark();
    WriteCsvHeader(&writer_, columns_);
  }
}

void CCsvOutput::Write(const CRecord& record, int) {
  if (!wanted_ || replay_.Skip()) return;
  if (writer_.IsOpen()) WriteCsvRow(&writer_, columns_, record, folder_, subfolder_);
  if (!writer_.IsOpen() || writer_.Failed()) {
    ++lost_;
    ReportFailure();
  }
  if (writer_.LossyFields() > 0 && !loss_reported_) ReportLoss(false);
}

void CCsvOutput::ReportLoss(bool at_end) {
  loss_reported_ = true;
  if (report_)
    report_(L"CSV file " + path_ + L": " +
            CsvLossText({writer_.LossyFields(), writer_.FirstLossyField()}) +
            (at_end ? L"" : L" (more may follow)"));
}

std::string CCsvOutput::Checkpoint() {
  if (!wanted_ || !writer_.IsOpen() || writer_.Failed()) return {};
  long long size = writer_.Size();
  return size < 0 ? std::string() : std::to_string(size);
}

void CCsvOutput::ReportFailure() {
  if (reported_) return;
  reported_ = true;
  if (report_) report_(L"CSV file: cannot write " + path_ + L"; its records stay in the list");
}

void CCsvOutput::Close() {
  if (writer_.LossyFields() > 1) ReportLoss(true);
  writer_.Close();
  report_ = nullptr;
}

std::wstring CsvLossText(const CsvLoss& loss) {
  std::wstring first = loss.first.size() > 80 ? loss.first.substr(0, 80) + L"..." : loss.first;
  return std::to_wstring(loss.values) + L" value(s) hold characters that the code page " +
         FromUtf8(AnsiCodePage()) + L" cannot hold; they were written as \"?\" (choose UTF-8 to "
         L"keep them). The first: " + first;
}

bool ExportCsv(const std::wstring& path, std::wstring_view encoding,
               const std::vector<OutputColumn>& columns, const CRecordList& records,
               bool subfolder, CsvLoss* loss) {
  CCsvWriter writer;
  std::wstring p = NormalizeSeparators(path);
  if (!writer.Open(p, CCsvWriter::OpenMode::kTruncate)) return false;
  writer.SetEncoding(encoding);
  writer.WriteMark();
  WriteCsvHeader(&writer, columns);
  std::wstring folder = FolderOf(p);
  for (size_t i = 0; i < records.Size(); ++i) {
    WriteCsvRow(&writer, columns, records.At(i), folder, subfolder);
  }
  if (loss) *loss = {writer.LossyFields(), writer.FirstLossyField()};
  return writer.Close();
}

}  // namespace gm
