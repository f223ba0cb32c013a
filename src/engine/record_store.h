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
// Writes are queued to a writer thread of the store and run there in the order they were made,
// so that a run never waits for a commit. The writer commits what has gathered within about
// kGatherMs (at once when kWakeRows are waiting or someone drains) in one transaction: a crash
// keeps all of them or none, and loses at most the last few milliseconds, which a continued run
// commits again (see run_journal.h). Reads (and Drain) wait until the writes made before them
// are done. A journal's Finish is queued behind the
// records of its address, so an address is never on record as finished before its records are.
//
// Threads: any thread; mu_ guards the connection and the error state, queue_mu_ the queue. A
// CTaskStore is a handle on one task's part and may be used by one thread at a time (its
// runner's thread, or the controller while it holds the run lock); one task's records are
// written by one handle at a time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "doc/task_file.h"
#include "doc/xml_node.h"
#include "engine/record.h"
#include "engine/run_journal.h"

struct sqlite3;
struct sqlite3_stmt;

namespace gm {

class CTaskStore;

// What the store knows of a task's last run.
struct LastRun {
  enum State {
    kNone,         // no run on record (never run, or its results were cleared)
    kUnstarted,    // a fresh run stopped before its outputs' positions were on record
    kInterrupted,  // a run stopped early and can be continued
    kEnded,        // the last run went through its whole address sequence
  };
  State state = kNone;
  std::string definition;  // the task's definition fingerprint in that run
  std::string outputs;     // what the run's caller gave Begin as `outputs`
  std::string checkpoint;  // kInterrupted: the outputs' positions after its last finished address
};

// A task as the store holds it (for listing and removing stale ones).
struct StoredTask {
  std::wstring id;
  long long records = 0;
  LastRun::State state = LastRun::kNone;
};

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
  // Called once, from the failing thread, when the store switches itself off. It is called with
  // the store's lock held: it may only hand the text on (print it, post it to another thread)
  // and must not call the store.
  void SetFailureListener(std::function<void(const std::wstring&)> listener);

  // A handle on one task's records and journal; `task_id` is the task's stable identity.
  std::unique_ptr<CTaskStore> ForTask(const std::wstring& task_id);
  // Number of stored records per task id (for start-up and tests).
  long long CountRecords(const std::wstring& task_id);
  // Every task the store holds records or a journal of, by id.
  std::vector<StoredTask> Tasks();
  // Waits until every write queued so far is done (or failed).
  void Drain();

 private:
  friend class CTaskStore;
  using Write = std::function<bool()>;  // runs under mu_; false: the store failed
  // Queues a write (waits while kMaxQueued are waiting).
  void Post(Write write);
  void Serve();
  static constexpr size_t kMaxQueued = 4096;
  bool Open();
  // Runs a statement without results; false (and switched off) on failure.
  bool Exec(const char* sql);
  // Prepared once per text and kept; null (switched off) on failure. Caller holds mu_.
  sqlite3_stmt* Statement(const char* sql);
  // Once the store switched itself off after it had opened: runs `write` in a transaction of its
  // own all the same (the store stays off, its message stays). False when it fails again, or the
  // store is on or never opened. For a write that must not be lost to a passing failure.
  bool WriteDespiteFailure(const Write& write);
  // Switches the store off with a message (caller holds mu_).
  void Fail(const std::wstring& what);
  void FailSql(const std::wstring& what);

  const std::wstring path_;
  mutable std::mutex mu_;
  sqlite3* db_ = nullptr;  // guarded by mu_
  std::vector<std::pair<const char*, sqlite3_stmt*>> statements_;
  bool ok_ = false;
  bool opened_ = false;  // the file opened as a store (constant after the constructor)
  std::wstring error_;
  std::function<void(const std::wstring&)> on_failure_;

  static constexpr size_t kBatch = 256;    // writes committed together at most
  static constexpr size_t kWakeRows = 64;  // the writer starts at once with this many waiting
  static constexpr int kGatherMs = 10;     // else it gathers writes this long
  std::mutex queue_mu_;
  std::condition_variable writer_cv_;  // the writer: work or stop
  std::condition_variable queue_cv_;   // Post and Drain: the writer made progress
  // Guarded by queue_mu_.
  std::deque<Write> queue_;
  size_t busy_ = 0;  // writes taken by the writer and not yet done
  bool stop_ = false;
  bool writer_waits_ = false;
  int waiters_ = 0;  // threads waiting in Post or Drain
  std::thread writer_;                // runs while the store is open
};

// One task's part of the store: its records, and its run journal.
class CTaskStore : public CRunJournal {
 public:
  CTaskStore(CRecordStore* store, std::wstring task_id) : store_(store), id_(ToKey(task_id)) {}
  ~CTaskStore() override { store_->Drain(); }

  bool Ok() const { return store_->Ok(); }
  // Waits until the writes made so far are done.
  void Drain() { store_->Drain(); }

  // ---- Records ----
  // The task's records in the order they were first stored, with their store ids.
  std::vector<std::unique_ptr<CRecord>> LoadRecords();
  // Writes a kept record in one transaction with its run key (empty: none) and the deletion of
  // the records the list dropped for it: a record with a store id overwrites that row, one
  // without gets a new row and its id in *new_id at once (the write is queued). False when the
  // store is switched off.
  bool Commit(const CRecord& record, const std::string& run_key,
              const std::vector<int64_t>& dropped, int64_t* new_id);
  // The same with the record's fields already encoded (EncodeFields) and its store id.
  bool CommitEncoded(int64_t store_id, std::string fields, const std::string& run_key,
                     const std::vector<int64_t>& dropped, int64_t* new_id);
  // Deletes rows (records the list dropped outside a commit).
  void Delete(const std::vector<int64_t>& ids);
  // Deletes every record of the task (clear results); the journal stays.
  void ClearRecords();
  // Deletes the task's records and journal (the task was deleted, or its results cleared for
  // good).
  void DeleteTask();

  // ---- CRunJournal ----
  JournalStart Begin(const std::string& definition, bool continue_run,
                     const std::string& outputs = {}) override;
  void SetCheckpoint(const std::string& checkpoint) override;
  bool Claim(long long index, const std::wstring& address) override;
  void Finish(long long index, const std::string& checkpoint) override;
  bool HasKey(const std::string& key) override;
  void Complete() override;
  bool Interrupted() override;
  // What the journal holds of the task's last run.
  LastRun LastRunOnRecord();
  // Forgets every run of the task (journal and notes); the records stay.
  void ClearJournal();

  // Fields as stored: for each field its UTF-8 length (4 bytes, little endian) and bytes.
  static std::string EncodeFields(const CRecord& record);
  static bool DecodeFields(std::string_view bytes, CRecord* record);

 private:
  static std::string ToKey(const std::wstring& id);

  // Runs a statement with the task id as parameter 1 (caller holds the store's mu_).
  bool ExecForTask(const char* sql);
  // A note on the task's runs ("ended", "outputs"); writing an empty value deletes it. Caller
  // holds the store's mu_.
  std::string ReadNote(const char* name);
  bool WriteNote(const char* name, const std::string& value);
  // Deletes the run on record, its keys and finished addresses (caller holds mu_).
  bool ForgetRun();

  CRecordStore* const store_;
  const std::string id_;  // UTF-8
  int64_t next_id_ = 0;   // the next record's id; 0 until read from the store
  // The run in work (set by Begin and Claim).
  long long finished_ = 0;                      // a continued run: the addresses to skip
  std::unordered_map<long long, std::string> done_;  // ... and each one's AddressKey
  std::string definition_;                      // the run's definition fingerprint
  std::string claimed_;                         // AddressKey of the address in work
};

// The fingerprint of a task's definition: the MD5 of its text form without the attributes the
// program keeps for itself (the store id, the load method).
std::string TaskDefinitionFingerprint(const CXmlNode& task);

// The task element's stable identity for the store: its kTaskStoreIdAttribute, which this
// program gives a task once and which export and import do not copy. Empty when it has none.
std::wstring TaskStoreId(const CXmlNode& task);
// Gives the task a new store id when it has none; returns it.
std::wstring EnsureTaskStoreId(CXmlNode* task);

}  // namespace gm
