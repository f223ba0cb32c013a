// The record store: every committed record of every task, kept in an SQLite file in the data
// folder (write-ahead log, one transaction per committed record), so that results survive a
// restart; and the run journal of each task (run_journal.h) in the same file.
//
// The runner's in-memory record list stays the working set; the store follows it: a kept
// record is written through at its commit (together with its run key), a record the list drops
// (length limit) is deleted, a replaced one is overwritten, and clearing the results or
// deleting the task clears the task's rows. At start-up each task's rows are read back into its
// list.
//
// The store never loses what it holds: a file that cannot be opened, is damaged, is locked for
// too long or was written by a newer version is left as it is, a failed write (a full disk) is
// rolled back, and in every such case the store switches itself off with one message (Error())
// and the program goes on with its in-memory lists. The file is never replaced or emptied.
//
// Threads: any thread; one mutex guards the connection and the error state. A CTaskStore is a
// handle on one task's part and may be used by one thread at a time (its runner's thread, or
// the controller while it holds the run lock).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "doc/xml_node.h"
#include "engine/record.h"
#include "engine/run_journal.h"

struct sqlite3;
struct sqlite3_stmt;

namespace gm {

class CTaskStore;

class CRecordStore {
 public:
  // The layout this program writes; a file with a higher number is refused.
  static constexpr int kVersion = 1;

  // Opens (creating when missing) the store at `path`; check Ok() / Error().
  explicit CRecordStore(const std::wstring& path);
  ~CRecordStore();
  CRecordStore(const CRecordStore&) = delete;
  CRecordStore& operator=(const CRecordStore&) = delete;

  // The store in the data folder ("records.db"), or null when the environment switch
  // GLEANMARK_NO_STORE is set (for side-by-side measurements).
  static std::unique_ptr<CRecordStore> OpenDefault();

  const std::wstring& Path() const { return path_; }
  // False once the store is switched off by a failure.
  bool Ok() const;
  // The failure that switched it off: one line for the user; empty while Ok().
  std::wstring Error() const;
  // Called once, from the failing thread, when the store switches itself off.
  void SetFailureListener(std::function<void(const std::wstring&)> listener);

  // A handle on one task's records and journal; `task_id` is the task's stable identity.
  std::unique_ptr<CTaskStore> ForTask(const std::wstring& task_id);
  // Number of stored records per task id (for start-up and tests).
  long long CountRecords(const std::wstring& task_id);

 private:
  friend class CTaskStore;
  bool Open();
  // Runs a statement without results; false (and switched off) on failure.
  bool Exec(const char* sql);
  // Prepared once per text and kept; null (switched off) on failure. Caller holds mu_.
  sqlite3_stmt* Statement(const char* sql);
  // Switches the store off with a message (caller holds mu_).
  void Fail(const std::wstring& what);
  void FailSql(const std::wstring& what);

  const std::wstring path_;
  mutable std::mutex mu_;
  sqlite3* db_ = nullptr;  // guarded by mu_
  std::vector<std::pair<const char*, sqlite3_stmt*>> statements_;
  bool ok_ = false;
  std::wstring error_;
  std::function<void(const std::wstring&)> on_failure_;
};

// One task's part of the store: its records, and its run journal.
class CTaskStore : public CRunJournal {
 public:
  CTaskStore(CRecordStore* store, std::wstring task_id) : store_(store), id_(ToKey(task_id)) {}

  bool Ok() const { return store_->Ok(); }

  // ---- Records ----
  // The task's records in the order they were first stored, with their store ids.
  std::vector<std::unique_ptr<CRecord>> LoadRecords();
  // Writes a kept record in one transaction with its run key (empty: none) and the deletion of
  // the records the list dropped for it: a record with a store id overwrites that row, one
  // without gets a new row and its id in *new_id. False when the store is (or got) switched
  // off.
  bool Commit(const CRecord& record, const std::string& run_key,
              const std::vector<int64_t>& dropped, int64_t* new_id);
  // Deletes rows (records the list dropped outside a commit).
  void Delete(const std::vector<int64_t>& ids);
  // Deletes every record of the task (clear results); the journal stays.
  void ClearRecords();
  // Deletes the task's records and journal (the task was deleted).
  void DeleteTask();

  // ---- CRunJournal ----
  JournalStart Begin(const std::string& definition, bool continue_run) override;
  void SetCheckpoint(const std::string& checkpoint) override;
  bool Claim(long long index, const std::wstring& address) override;
  void Finish(long long index, const std::string& checkpoint) override;
  bool HasKey(const std::string& key) override;
  void Complete() override;
  bool Interrupted() override;
  // The definition fingerprint of the interrupted run on record; empty when there is none.
  std::string InterruptedDefinition();

  // Fields as stored: for each field its UTF-8 length (4 bytes, little endian) and bytes.
  static std::string EncodeFields(const CRecord& record);
  static bool DecodeFields(std::string_view bytes, CRecord* record);

 private:
  static std::string ToKey(const std::wstring& id);

  CRecordStore* const store_;
  const std::string id_;  // UTF-8
};

// The fingerprint of a task's definition: the MD5 of its text form without the attributes the
// program keeps for itself (the store id, the load method).
std::string TaskDefinitionFingerprint(const CXmlNode& task);

// The task element's stable identity for the store: the "storeid" attribute, which this
// program gives a task once and which export and import do not copy. Empty when it has none.
std::wstring TaskStoreId(const CXmlNode& task);
// Gives the task a new store id when it has none; returns it.
std::wstring EnsureTaskStoreId(CXmlNode* task);
inline constexpr wchar_t kStoreIdAttribute[] = L"storeid";

}  // namespace gm
