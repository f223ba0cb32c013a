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
};

class CRecordOutput {
 public:
  virtual ~CRecordOutput() = default;
  // A run starts.
  virtual void Open(const OutputRun& run) {}
  // A record was kept (inserted or replacing another). `record_number` is the number of
  // records in the result list after it was stored.
  virtual void Write(const CRecord& record, int record_number) = 0;
  // The run ends.
  virtual void Close() {}
  // Records of the last run (counted until the next Open) that this output was meant to write
  // and could not: what the run's summary and exit status report.
  virtual int LostRecords() { return 0; }
  // Connections of the last run that broke and were made again (database outputs).
  virtual int Reconnections() { return 0; }
};

}  // namespace gm
