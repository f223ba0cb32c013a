// The run journal of one task: how far a run got, so that a run that ended early (a stop, a
// crash, a kill, a power loss) can be continued where it stopped.
//
// A run walks the top-level addresses of its address sequence in order (the start address is
// number 0; with a script list each script is one). An address counts as finished once every
// record of it, its nested pages, paging and clicks included, has been committed and handed to
// the outputs; finished addresses form a prefix of the sequence. While an address is in work,
// each record it commits leaves a run key in the journal (its key columns, or a fingerprint of
// all its values, with the address number and how often the same key came before on that
// address), so that a continued run that works the same address again recognises the records
// committed already.
//
// The interface is kept small so that an implementation on a shared server (one run spread over
// several workers) can follow the SQLite one in record_store.h: claim the next top-level
// address, mark it finished, test a run key.
//
// Threads: a journal object belongs to the thread of the run that uses it.
#pragma once

#include <string>

namespace gm {

// What a run finds when it begins.
struct JournalStart {
  // An interrupted run of the task is on record, and a continuation was asked for: the run
  // continues it. False for a fresh run (nothing to continue, or a start-over).
  bool continuing = false;
  // A continuation was asked for, but the task's definition changed since the interrupted run:
  // the run starts over.
  bool definitionChanged = false;
  long long finished = 0;  // top-level addresses finished (continuing: the ones to skip)
  // The outputs' positions when the last address was finished (or the run began); see
  // CRecordOutput::Checkpoint.
  std::string checkpoint;
  // Records that the first unfinished address committed before the interruption.
  int committedInWork = 0;
};

class CRunJournal {
 public:
  virtual ~CRunJournal() = default;
  // A run of the task whose definition has the fingerprint `definition` begins. With
  // `continue_run`, an interrupted run of the same definition is continued; otherwise (and when
  // there is none, or it stopped before its outputs' positions were on record) the journal
  // starts afresh: the run is on record, with `outputs` (the caller's own description of where
  // it writes, for a later continuation to compare), before any output is emptied or written.
  virtual JournalStart Begin(const std::string& definition, bool continue_run,
                             const std::string& outputs = {}) = 0;
  // Records the outputs' positions at the start of a fresh run (before any address); until
  // then the run counts as one that wrote nothing.
  virtual void SetCheckpoint(const std::string& checkpoint) = 0;
  // Claims top-level address `index` (`address`: its text, or the script) for this run; false
  // when a continued run finished it already (the same address at the same place) and it is to
  // be skipped.
  virtual bool Claim(long long index, const std::wstring& address) = 0;
  // Every record of address `index` is committed and written; the outputs stand at
  // `checkpoint`.
  virtual void Finish(long long index, const std::string& checkpoint) = 0;
  // Whether a record with this run key was committed already (keys of the address in work).
  virtual bool HasKey(const std::string& key) = 0;
  // The run reached the end of its address sequence: nothing is left to continue (and a
  // continuation asked for later is told so).
  virtual void Complete() = 0;
  // Whether an interrupted run is on record (for asking the user before a start).
  virtual bool Interrupted() = 0;
};

}  // namespace gm
