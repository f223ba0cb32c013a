// The interface through which a run hands its records to the result outputs.
//
// A run opens every output once with what it needs to know about the run, writes each kept
// record at once in commit order, and closes the outputs when the run ends. Outputs never see
// the runner itself.
//
// Threads: Open, Write and Close are called from the runner's thread only, in that order;
// an output that is also used by hand (exports) is a different object.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "doc/xml_node.h"
#include "engine/record.h"

namespace gm {

// One column of the run: the item's name and type code ("INNERTEXT", "LINKFILE", ...).
struct OutputColumn {
  std::wstring name;
  std::wstring type;
};

// What an output learns when a run starts. Constant for the length of the run.
struct OutputRun {
  const CXmlNode* task = nullptr;     // the task element; read-only; valid during the run
  std::vector<OutputColumn> columns;  // field i of every record belongs to column i
  std::vector<int> keyColumns;        // the duplicate key (column indices); may be empty
  int ignoreNewRecord = 0;            // 1: a record with a known key replaces the earlier one
  // Sets the runner's status text (a failure an output wants the user to see).
  std::function<void(const std::wstring&)> report;
  // True once the run is to stop (it takes the runner's pending commands, and blocks while the
  // run is paused). An output asks it while it waits for something slow (a server that does
  // not answer, a locked database) about every half second, and gives the wait up when it
  // answers true: the record then counts as not written. May be empty (waits are not cut).
  std::function<bool()> stopRequested;
  // A continued run (see engine/run_journal.h). `checkpoint` is what this output's Checkpoint()
  // answered when the interrupted run last finished an address, and the first `replayed` records
  // written in this run are the ones the interrupted run had committed after that. An output
  // that can read back what it wrote goes back to the checkpoint, or counts what it holds beyond
  // it, so that each record ends up there once; one that cannot (a stream, a web server) passes
  // over all of them but the last, and the records it wrote after its last wait for the journal
  // (see waitJournal) may then be there twice.
  bool continuing = false;
  std::string checkpoint;
  int replayed = 0;
  // Waits until the run's journal knows every record handed to the outputs so far (the journal
  // is written behind the run). An output that cannot read back what it wrote calls it before
  // every CReplaySkip::kWaitEvery-th record, so that an interruption leaves at most that many
  // records written twice there (and never one missing): the journal never lags the output by
  // more. Empty when the run keeps no journal.
  std::function<void()> waitJournal;
  // A worker of a run shared with other processes ("host-pid-random"); empty otherwise. A file that
  // one process writes alone carries it before its extension, so that no two workers write one
  // file.
  std::wstring workerTag;
};

// `path` with ".tag" put before its extension ("out.csv" -> "out.host-1.csv"); `path` itself
// when `tag` is empty.
inline std::wstring WorkerFileName(const std::wstring& path, const std::wstring& tag) {
  if (tag.empty()) return path;
  const size_t slash = path.find_last_of(L"/\\");
  const size_t name = slash == std::wstring::npos ? 0 : slash + 1;
  size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos || dot <= name) dot = path.size();
  return path.substr(0, dot) + L"." + tag + path.substr(dot);
}

// The checkpoint of several outputs is theirs joined by `separator`; this gives part i (empty
// when there is none).
inline std::string CheckpointPart(const std::string& joined, char separator, size_t i) {
  size_t from = 0;
  for (; i > 0; --i) {
    from = joined.find(separator, from);
    if (from == std::string::npos) return {};
    ++from;
  }
  return joined.substr(from, joined.find(separator, from) - from);
}

// A checkpoint that is a number (a length, a row count); -1 when it is empty or not one.
inline long long CheckpointNumber(const std::string& checkpoint) {
  long long n = 0;
  if (checkpoint.empty() || checkpoint.size() > 18) return -1;
  for (char c : checkpoint) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

// Counts down the records of a continued run that an output already holds.
class CReplaySkip {
 public:
  // `held`: how many of the run's replayed records the output holds (clamped to them).
  // `held`: how many records the output holds beyond its checkpoint; the run writes the same
  // records again in the same order, and the output passes over that many.
  void Open(const OutputRun& run, long long held) {
    left_ = !run.continuing || held <= 0 ? 0 : static_cast<int>(held);
    wait_ = nullptr;
    unwaited_ = 0;
  }
  // For an output that cannot read back: all but the last replayed record.
  void OpenBlind(const OutputRun& run) {
    Open(run, run.replayed - 1);
    wait_ = run.waitJournal;
  }
  // An output opened blind waits for the journal before every this many records: one wait for
  // each record would make the journal commit each record on its own.
  static constexpr int kWaitEvery = 64;

  // True when the record now written is to be passed over. An output opened blind waits for
  // the journal first, now and then.
  bool Skip() {
    if (left_ > 0) return left_-- > 0;
    if (wait_ && ++unwaited_ >= kWaitEvery) {
      unwaited_ = 0;
      wait_();
    }
    return false;
  }

  // Records still to be passed over: the output holds them beyond where the run stands.
  int Left() const { return left_; }

 private:
  int left_ = 0;
  std::function<void()> wait_;
  int unwaited_ = 0;  // records written since the last wait
};

class CRecordOutput {
 public:
  virtual ~CRecordOutput() = default;
  // A run starts.
  virtual void Open(const OutputRun& run) {}
  // A record was kept (inserted or replacing another). `record_number` is the number of
  // records in the result list after it was stored.
  virtual void Write(const CRecord& record, int record_number) = 0;
  // A record of a shared run that an earlier, unfinished hand-out of its address may have
  // written already: an output that can look it up writes it only when it does not hold it;
  // the others write it.
  virtual void WriteUnlessHeld(const CRecord& record, int record_number) {
    Write(record, record_number);
  }
  // The run ends.
  virtual void Close() {}
  // Where the output stands once every record handed to it so far is stored (a file length, a
  // row count), for a continued run to come back to; empty when it cannot read back what it
  // wrote. Called between records. Must not hold the characters \x1e or \x1f.
  virtual std::string Checkpoint() { return {}; }
  // Records of the last run (counted until the next Open) that this output was meant to write
  // and could not: what the run's summary and exit status report.
  virtual int LostRecords() { return 0; }
  // Connections of the last run that broke and were made again (database outputs).
  virtual int Reconnections() { return 0; }
};

}  // namespace gm
