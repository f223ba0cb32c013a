#include "ui/result_exports.h"

#include <mutex>

#include "doc/config.h"
#include "doc/text_compare.h"
#include "engine/lang_text.h"
#include "output/csv_output.h"
#include "output/output_columns.h"
#include "output/task_outputs.h"
#include "output/xls_export.h"
#include "output/xlsx_export.h"

namespace gm::ui {

void AddResultOutputs(const CXmlDocument* config, FrameServices* services) {
  services->task_outputs = [config] { return std::make_unique<CTaskOutputs>(config); };
  // The window holds the run lock; the list is read under the records lock.
  services->write_xls = [config](const CTaskRunner& runner, const std::wstring& path) {
    bool subfolder = ReadAppSettings(*config).subfolder != 0;
    std::wstring header = LangTextOrKey(config, L"DATALIST_NUMBER");
    std::vector<OutputColumn> columns = ColumnsOf(runner.items);
    std::lock_guard<std::mutex> hold(runner.RecordsLock());
    // A name ending in ".xls" asks for the older format; any other gets .xlsx.
    const bool old_format =
        path.size() >= 4 &&
        EqualsIgnoringAsciiCase(std::wstring_view(path).substr(path.size() - 4), L".xls");
    return old_format ? ExportXls(path, header, columns, runner.Records(), subfolder)
                      : ExportXlsx(path, header, columns, runner.Records(), subfolder);
  };
  services->write_csv = [config](const CTaskRunner& runner, const std::wstring& path,
                                 const std::wstring& encoding, CsvLoss* loss) {
    bool subfolder = ReadAppSettings(*config).subfolder != 0;
    std::vector<OutputColumn> columns = ColumnsOf(runner.items);
    std::lock_guard<std::mutex> hold(runner.RecordsLock());
    return ExportCsv(path, encoding, columns, runner.Records(), subfolder, loss);
  };
}

}  // namespace gm::ui
