#include "ui/run_log_dialog.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "doc/config.h"
#include "ui/ui_text.h"

namespace gm::ui {

QString RunCountsText(const CXmlDocument& config, const wchar_t* key, const RunCounts& counts) {
  std::wstring loaded = std::to_wstring(counts.pages_loaded);
  std::wstring failed = std::to_wstring(counts.pages_failed);
  std::wstring records = std::to_wstring(counts.records);
  return QStr(FormatText(WStr(LangText(config, key)), {loaded, failed, records}));
}

QString LogTime(std::time_t time, bool with_date) {
  QDateTime at = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(time));
  bool today = at.date() == QDate::currentDate();
  return at.toString(with_date || !today ? QStringLiteral("yyyy-MM-dd HH:mm:ss")
                                         : QStringLiteral("HH:mm:ss"));
}

CRunLogDialog::CRunLogDialog(const CXmlDocument& config, QWidget* parent)
    : QDialog(parent), config_(config) {
  setObjectName(QStringLiteral("runLogDialog"));
  setModal(false);
  summary_ = new QLabel(this);
  summary_->setWordWrap(true);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  list_ = new QTreeWidget(this);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setColumnCount(3);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->header()->setStretchLastSection(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(list_, 1);
  layout->addWidget(buttons);
  resize(760, 420);
}

void CRunLogDialog::Show(const CXmlNode* task, const QString& summary,
                         const std::vector<RunLogEntry>& entries, size_t dropped) {
  task_ = task;
  if (!task) {
    close();
    return;
  }
  QString name = QStr(task->GetAttribute(L"name").value_or(L""));
  setWindowTitle(
      QStr(FormatText(WStr(LangText(config_, L"MAINFRAME_RUNLOG_TITLE")), {WStr(name)})));
  list_->setHeaderLabels({LangText(config_, L"MAINFRAME_RUNLOG_TIME"),
                          LangText(config_, L"MAINFRAME_RUNLOG_PAGE"),
                          LangText(config_, L"MAINFRAME_RUNLOG_REASON")});
  summary_->setText(summary.isEmpty() ? LangText(config_, L"MAINFRAME_RUNLOG_NONE") : summary);
  bool at_end = list_->topLevelItemCount() == 0 ||
                list_->verticalScrollBar()->value() == list_->verticalScrollBar()->maximum();
  list_->clear();
  QList<QTreeWidgetItem*> rows;
  rows.reserve(static_cast<qsizetype>(entries.size() + 1));
  if (dropped > 0) rows << new QTreeWidgetItem({QString(), QStringLiteral("..."), QString()});
  for (const RunLogEntry& e : entries) {
    QString reason;
    switch (e.kind) {
      case RunLogEntry::kRunStarted:
        reason = LangText(config_, L"MAINFRAME_RUNLOG_STARTED");
        break;
      case RunLogEntry::kRunEnded:
        reason = RunCountsText(config_, L"MAINFRAME_RUNLOG_ENDED", e.counts);
        break;
      case RunLogEntry::kPageFailed:
        reason = QStr(e.reason);
        break;
    }
    auto* row = new QTreeWidgetItem({LogTime(e.time, true), QStr(e.page), reason});
    if (e.kind != RunLogEntry::kPageFailed) {
      QFont bold = row->font(2);
      bold.setBold(true);
      row->setFont(2, bold);
    }
    row->setToolTip(1, QStr(e.page));
    row->setToolTip(2, reason);
    rows << row;
  }
  list_->addTopLevelItems(rows);
  list_->resizeColumnToContents(0);
  list_->setColumnWidth(1, std::max(list_->columnWidth(1), 320));
  if (at_end) list_->scrollToBottom();
}

}  // namespace gm::ui
