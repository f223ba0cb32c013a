#include "output/task_outputs.h"

#include "doc/app_paths.h"
#include "doc/config.h"
#include "output/csv_output.h"
#include "output/db_output.h"
#include "output/template_output.h"
#include "output/web_output.h"

namespace gm {

CTaskOutputs::CTaskOutputs(const CXmlDocument* config) {
  bool subfolder = config && ReadAppSettings(*config).subfolder != 0;
  outputs_.push_back(std::make_unique<CCsvOutput>(subfolder));
  outputs_.push_back(std::make_unique<CTemplateOutput>(DataFolder()));
  outputs_.push_back(std::make_unique<CWebOutput>());
  outputs_.push_back(std::make_unique<CDbOutput>(config));
}

CTaskOutputs::~CTaskOutputs() = default;

void CTaskOutputs::Open(const OutputRun& run) {
  OutputRun own = run;
  for (size_t i = 0; i < outputs_.size(); ++i) {
    auto& out = outputs_[i];
    own.checkpoint = CheckpointPart(run.checkpoint, '\x1f', i);
    out->Open(own);
  }
}

std::string CTaskOutputs::Checkpoint() {
  std::string joined;
  for (size_t i = 0; i < outputs_.size(); ++i) {
    if (i) joined += '\x1f';
    joined += outputs_[i]->Checkpoint();
  }
  return joined;
}

void CTaskOutputs::Write(const CRecord& record, int record_number) {
  for (auto& out : outputs_) out->Write(record, record_number);
}

void CTaskOutputs::WriteUnlessHeld(const CRecord& record, int record_number) {
  for (auto& out : outputs_) out->WriteUnlessHeld(record, record_number);
}

void CTaskOutputs::Close() {
  for (auto& out : outputs_) out->Close();
}

std::vector<std::pair<std::wstring, int>> CTaskOutputs::Counts(int (CRecordOutput::*count)()) {
  // In the order the outputs were made above.
  static const wchar_t* const kNames[] = {L"CSV file", L"text files", L"web output", L"database"};
  std::vector<std::pair<std::wstring, int>> counts;
  for (size_t i = 0; i < outputs_.size(); ++i) {
    if (int n = (*outputs_[i].*count)(); n > 0) counts.emplace_back(kNames[i], n);
  }
  return counts;
}

std::vector<std::pair<std::wstring, int>> CTaskOutputs::Losses() {
  return Counts(&CRecordOutput::LostRecords);
}

std::vector<std::pair<std::wstring, int>> CTaskOutputs::Reconnected() {
  return Counts(&CRecordOutput::Reconnections);
}

int CTaskOutputs::LostRecords() {
  int lost = 0;
  for (const auto& [name, count] : Losses()) lost += count;
  return lost;
}

}  // namespace gm
