// CommitRecord: one record from the current elements, through filters and the duplicate rule
// into the record list and the outputs.
#include <cstdio>
#include <functional>
#include <string_view>

#include "doc/text_codec.h"
#include "engine/crawl_driver.h"
#include "engine/extraction.h"
#include "doc/file_util.h"
#include "engine/record_store.h"
#include "engine/shared_run.h"
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

// What tells the record apart: its key columns, or all its values (`fields` as stored) when the
// task has none, but for the collection time, which a continued run gives anew.
std::string KeyMaterial(const CTaskRunner& runner, const CRecord& record,
                        const std::string& fields) {
  if (runner.keyColumns.empty()) {
    bool timed = false;
    for (const CItemDef* item : runner.items) timed = timed || item->type == kTypeSysTime;
    if (!timed) return fields;
    CRecord stable;
    for (size_t i = 0; i < runner.items.size(); ++i) {
      if (runner.items[i]->type != kTypeSysTime) stable.fields.push_back(record.Field(int(i)));
    }
    return CTaskStore::EncodeFields(stable);
  }
  std::string keys;
  for (int k : runner.keyColumns) {
    keys += ToUtf8(record.Field(k).text);
    keys += '\x1f';
  }
  return keys;
}

// `key` made unique on the address in work: how often it came before there is appended.
std::string CountedOnAddress(CTaskRunner& runner, std::string key) {
  return key + ":" + std::to_string(runner.journal.keyCounts[key]++);
}

// The record's run key: the address in work, a hash of its key material and how often the same
// material came before on that address. Two different records of one address share a key only
// by a 64-bit collision.
std::string RunKey(CTaskRunner& runner, const CRecord& record, const std::string& fields) {
  size_t hash = std::hash<std::string_view>()(KeyMaterial(runner, record, fields));
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016zx", hash);
  return CountedOnAddress(runner, std::to_string(runner.journal.index) + ":" + hex);
}

// The record's key in a shared run, the same on every machine. With key columns and a rule
// that drops ("k:") or replaces ("r:", see SharedKeyVerdict) a duplicate, it is their values
// alone, so that the rule holds across the whole run; otherwise (no key columns, or a rule that
// adds duplicates) the record is told apart as a one-process run tells it apart: by the
// address, its key material and how often that came before there.
std::string SharedKey(CTaskRunner& runner, const CRecord& record) {
  std::string material = Md5Hex(KeyMaterial(runner, record, CTaskStore::EncodeFields(record)));
  if (!runner.keyColumns.empty() && runner.ignoreNewRecord != 0)
    return (runner.ignoreNewRecord == 1 ? "r:" : "k:") + material;
  return CountedOnAddress(runner, "f:" + std::to_string(runner.journal.index) + ":" + material);
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
  if (runner.env().shared) {
    std::string key = SharedKey(runner, *record);
    runner.sharedPending.emplace_back(std::move(record), std::move(key));
    return;
  }

  CTaskStore* store = runner.journal.store;
  std::string key, fields;
  if (store) {
    fields = CTaskStore::EncodeFields(*record);
    key = RunKey(runner, *record, fields);
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
    // Written through (queued to the store's writer) before the outputs see it. The store may lag
    // the outputs by a few milliseconds; a continued run's outputs count what they hold.
    int64_t id = 0;
    if (store && store->CommitEncoded(stored->storeId, std::move(fields), key, dropped, &id) && id) {
      std::lock_guard<std::mutex> hold(runner.RecordsLock());
      const_cast<CRecord*>(stored)->storeId = id;
    }
    int number = ListSize(runner);
    for (CRecordOutput* out : runner.env().outputs) out->Write(*stored, number);
  }
  runner.NotifyRecord();
}

int CommitSharedRecords(CTaskRunner& runner, const SharedAddress& page) {
  auto pending = std::move(runner.sharedPending);
  runner.sharedPending.clear();
  if (pending.empty()) return 0;
  std::vector<std::string> keys;
  keys.reserve(pending.size());
  for (const auto& p : pending) keys.push_back(p.second);
  const std::vector<SharedKeyVerdict> verdicts = runner.env().shared->ClaimKeys(page, keys);
  if (verdicts.size() != pending.size()) return -1;
  int written = 0;
  for (size_t i = 0; i < pending.size(); ++i) {
    if (verdicts[i] == SharedKeyVerdict::kDuplicate) continue;
    const CRecord* stored = runner.MutableRecords().Store(std::move(pending[i].first),
                                                          runner.ignoreNewRecord, nullptr);
    if (!stored) continue;
    const int number = ListSize(runner);
    for (CRecordOutput* out : runner.env().outputs) {
      if (verdicts[i] != SharedKeyVerdict::kMetBefore)
        out->Write(*stored, number);
      else
        out->WriteUnlessHeld(*stored, number);
    }
    ++written;
    runner.NotifyRecord();
  }
  return written;
}

}  // namespace gm
