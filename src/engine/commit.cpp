// CommitRecord: one record from the current elements, through filters and the duplicate rule
// into the record list and the outputs.
#include "engine/crawl_driver.h"
#include "engine/extraction.h"
#include "engine/task_runner.h"
#include "task/regex_util.h"

namespace gm {
namespace {

// True when the record is to be kept.
bool PassesFilters(const CTaskRunner& runner, const CRecord& record) {
  if (runner.filters.empty()) return true;
  bool sufficient_met = false, necessary_present = false, necessary_failed = false;
  for (const CTaskRunner::Filter& f : runner.filters) {
    if (f.item < 0) continue;
    const std::wstring& text = record.Field(f.item).text;
    if (f.sufficient) {
      if (RegexFound(f.pattern, text)) sufficient_met = true;
    } else {
      necessary_present = true;
      if (!necessary_failed && CompileRegex(f.pattern) && !RegexFound(f.pattern, text)) {
        necessary_failed = true;
      }
    }
    if (sufficient_met) break;
  }
  bool met = sufficient_met || (necessary_present && !necessary_failed);
  if (runner.filterAction == 0) return !met;
  if (runner.filterAction == 1) return met;
  return true;
}

}  // namespace

void CommitRecord(CTaskRunner& runner) {
  auto record = std::make_unique<CRecord>();
  record->fields.resize(runner.items.size());
  for (size_t i = 0; i < runner.items.size(); ++i) {
    ExtractValue(runner.items[i], runner, &record->fields[i]);
    if (runner.State() == kStopped || runner.State() == kEnded) return;
  }
  if (record->Empty()) return;
  runner.recordCount++;
  if (!PassesFilters(runner, *record)) return;

  // The duplicate search and the store happen under one hold of the records lock, so that a
  // sort by the controller cannot move the duplicate in between.
  const CRecord* stored = runner.MutableRecords().Store(std::move(record), runner.ignoreNewRecord);
  if (stored) {
    int number;
    {
      std::lock_guard<std::mutex> hold(runner.RecordsLock());
      number = static_cast<int>(runner.Records().Size());
    }
    for (CRecordOutput* out : runner.env().outputs) out->Write(*stored, number);
  }
  runner.NotifyRecord();
}

}  // namespace gm
