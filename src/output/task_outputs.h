// CTaskOutputs: every output a task enables, behind the one interface the engine calls. At
// each run start it opens, in this order, the CSV file ("savetoxls"), the text files from
// templates ("savetofile"), the web output ("savetoweb") and the database ("savetodb"); each
// decides by its own settings whether it does anything. Each kept record goes to them in the
// same order; a failing output never keeps a record from the others.
//
// One object per runner (it holds the per-task state between runs); it must outlive the
// runner. Threads: the runner's thread.
#pragma once

#include <memory>
#include <vector>

#include "doc/xml_node.h"
#include "engine/record_output.h"

namespace gm {

class CTaskOutputs : public CRecordOutput {
 public:
  // `config`: interface texts and the "subfolder" setting; may be null.
  explicit CTaskOutputs(const CXmlDocument* config);
  ~CTaskOutputs() override;

  void Open(const OutputRun& run) override;
  void Write(const CRecord& record, int record_number) override;
  void WriteUnlessHeld(const CRecord& record, int record_number) override;
  void Close() override;
  int LostRecords() override;
  // The outputs' checkpoints, joined by \x1f (a continued run hands each its own back).
  std::string Checkpoint() override;
  // Per output that lost records in the last run: its name ("CSV file", "text files",
  // "web output", "database") and how many.
  std::vector<std::pair<std::wstring, int>> Losses();
  // Per output whose connection broke in the last run and was made again: name and how often.
  std::vector<std::pair<std::wstring, int>> Reconnected();

 private:
  // The outputs' names with what `count` gives for each, where it is not 0.
  std::vector<std::pair<std::wstring, int>> Counts(int (CRecordOutput::*count)());

  std::vector<std::unique_ptr<CRecordOutput>> outputs_;
};

}  // namespace gm
