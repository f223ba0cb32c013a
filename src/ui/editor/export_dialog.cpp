#include "ui/editor/export_dialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QVBoxLayout>
#include <mutex>

#include "output/output_columns.h"
#include "output/template_output.h"
#include "ui/editor/editor_support.h"
#include "ui/editor/file_output_panel.h"

namespace gm::ui {
namespace {

std::vector<CSheetItem> ItemsOf(const CTaskRunner& runner) {
  std::vector<CSheetItem> items;
  for (const OutputColumn& c : ColumnsOf(runner.items)) items.push_back({c.name, c.type});
  return items;
}

}  // namespace

CExportDialog::CExportDialog(const CXmlDocument& config, CTaskRunner& runner, QWidget* parent)
    : QDialog(parent), config_(config), runner_(runner) {
  setObjectName(QStringLiteral("exportDialog"));
  setWindowTitle(Tx(config, "导出采集结果"));
  panel_ = new CFileOutputPanel(config, [this] { return ItemsOf(runner_); }, this);
  panel_->Show(ReadFileOutputSettings(*runner_.task(), L"export"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(panel_, 1);
  layout->addWidget(buttons);
  resize(760, 520);
}

void CExportDialog::accept() {
  QWidget* field = nullptr;
  if (const wchar_t* key = panel_->Check(&field)) {
    Tell(config_, this, key, QMessageBox::Warning, field);
    return;
  }
  FileOutputSettings s = panel_->Shown();
  CXmlNode* task = runner_.task();
  if (!(s == ReadFileOutputSettings(*task, L"export"))) {
    WriteFileOutputSettings(s, EnsureChild(task, L"export"));
    settings_changed_ = true;
  }
  QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  {
    std::vector<OutputColumn> columns = ColumnsOf(runner_.items);
    std::lock_guard<std::mutex> hold(runner_.RecordsLock());
    written_ = ExportResults(s, ReadString(*task, L"name"), columns, runner_.Records());
  }
  QApplication::restoreOverrideCursor();
  QDialog::accept();
}

bool ExportResultsToFiles(const CXmlDocument& config, QWidget* parent, CTaskRunner& runner) {
  CExportDialog dialog(config, runner, parent);
  dialog.exec();
  return dialog.SettingsChanged();
}

}  // namespace gm::ui
