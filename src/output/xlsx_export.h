// Records into .xlsx workbooks: the by-hand export of a result list, and an output that streams
// a run's records into the workbook as they come (gleanmark-cli --format xlsx); the file is
// completed when the run ends.
//
// A sheet holds a header row and up to 1048575 records; further records continue on further
// sheets ("Sheet1", "Sheet2", ...), each beginning with the header row again.
#pragma once

#include <string>
#include <vector>

#include "engine/record_output.h"
#include "output/sheet_filler.h"
#include "output/xlsx_workbook.h"

namespace gm {

inline constexpr int kXlsxRecordsPerSheet = CXlsxWorkbook::kMaxRows - 1;

// As ExportXls (output/xls_export.h), into an .xlsx workbook; `records_per_sheet` is only ever
// smaller in tests.
bool ExportXlsx(const std::wstring& path, const std::wstring& number_header,
                const std::vector<OutputColumn>& columns, const CRecordList& records,
                bool subfolder, int records_per_sheet = kXlsxRecordsPerSheet);

// Streams each kept record into the workbook (header row of column names, no number column)
// and completes the file at `path` when the run closes. Thread: the runner's thread.
using CXlsxOutput = CWorkbookOutput<CXlsxWorkbook, kXlsxRecordsPerSheet>;

}  // namespace gm
