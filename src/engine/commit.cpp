// CommitRecord: one record from the current elements, through filters and the duplicate rule
// into the record list and the outputs.
#include "engine/crawl_driver.h"
#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "engine/extraction.h"
#include "engine/record_store.h"
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

// The record's run key: the address in work, the record's key columns (all its values when the
// task has none) and how often the same values came before on that address.
std::string RunKey(CTaskRunner& runner, const CRecord& record) {
  std::string values;
  auto add = [&](int i) {
    values += ToUtf8(record.Field(i).text);
    values += '\x1f';
  };
  if (runner.keyColumns.empty()) {
    for (size_t i = 0; i < record.fields.size(); ++i) add(static_cast<int>(i));
  } else {
    for (int k : runner.keyColumns) add(k);
  }
  std::string key = std::to_string(runner.journal.index) + ":" + Md5Hex(values);
  return key + ":" + std::to_string(runner.journal.keyCounts[key]++);
}

int ListSize(const CTaskRunner& runner) {
  std::lock_guard<std::mutex> hold(runner.RecordsLock());
  return static_cast<int>(runner.Records().Size());
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

  CTaskStore* store = runner.journal.store;
  std::string key;
  if (store) {
    key = RunKey(runner, *record);
    // A continued run working the address it was interrupted on: a record committed then is in
    // the list and the store already; the outputs learn of it again and decide themselves
    // (see OutputRun::continuing).
    if (runner.journal.index == runner.journal.replayIndex && store->HasKey(key)) {
      int number = ListSize(runner);
      for (CRecordOutput* out : runner.env().outputs) out->Write(*record, number);
      runner.NotifyRecord();
      return;
    }
  }
  // The duplicate search and the store happen under one hold of the records lock, so that a
  // sort by the controller cannot move the duplicate in between.
  std::vector<int64_t> dropped;
  const CRecord* stored = runner.MutableRecords().Store(std::move(record), runner.ignoreNewRecord,
                                                        store ? &dropped : nullptr);
  if (stored) {
    // Written through before the outputs see it: a record an output holds is always one the
    // journal knows.
    int64_t id = 0;
    if (store && store->Commit(*stored, key, dropped, &id) && id) {
      std::lock_guard<std::mutex> hold(runner.RecordsLock());
      const_cast<CRecord*>(stored)->storeId = id;
    }
    int number = ListSize(runner);
    for (CRecordOutput* out : runner.env().outputs) out->Write(*stored, number);
  }
  runner.NotifyRecord();
}

}  // namespace gm
