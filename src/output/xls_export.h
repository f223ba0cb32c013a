// Records into .xls workbooks: the by-hand export of a result list, and an output that collects
// a run's records and writes the workbook when the run ends (gleanmark-cli --format xls).
//
// A sheet holds a header row and up to 65535 records; further records continue on further
// sheets ("Sheet1", "Sheet2", ...), each beginning with the header row again.
#pragma once

#include <string>
#include <vector>

#include "engine/record_output.h"
#include "output/sheet_filler.h"
#include "output/xls_workbook.h"

namespace gm {

inline constexpr int kXlsRecordsPerSheet = CXlsWorkbook::kMaxRows - 1;

// The export of a result list (the caller holds the list's lock): column 0 holds the record's
// number counted from 1 under `number_header`, then one column per item. Linked files are saved
// in an "images" folder beside the file and their fields point there. Replaces a file at
// `path`; false when it cannot be written.
bool ExportXls(const std::wstring& path, const std::wstring& number_header,
               const std::vector<OutputColumn>& columns, const CRecordList& records,
               bool subfolder);

// Collects each kept record and writes the workbook (header row of column names, no number
// column) to `path` when the run closes. Thread: the runner's thread.
using CXlsOutput = CWorkbookOutput<CXlsWorkbook, kXlsRecordsPerSheet>;

}  // namespace gm
