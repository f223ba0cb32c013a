// CResultModel: the records of the displayed task as a table model, drawn on demand.
//
// The model keeps no copy of the records: a row is only a number, and every cell is read from
// the runner's record list under the runner's records lock when the view asks for it. Column 0
// holds the record number; column i > 0 the field of item i - 1 of the runner's item list.
//
// Thread rules: interface thread only. The runner's item list is read here only between
// reloads (the runner loads its options before its constructor returns, and Reload waits).
#pragma once

#include <QAbstractTableModel>
#include <QCache>
#include <QImage>
#include <QStringList>

#include "engine/task_runner.h"

namespace gm::ui {

class CResultModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kImageRole = Qt::UserRole + 1;  // QImage of a downloaded image, if any

  explicit CResultModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // Shows the records of another runner (null: nothing); rebuilds the columns.
  void SetRunner(CTaskRunner* runner, const QString& number_header);
  CTaskRunner* Runner() const { return runner_; }
  // Brings the row count up to the runner's record count; a runner without records empties
  // the list. Repaints the rows already shown (sorted insertion may have moved them).
  void SyncRows();
  // True when the task has an item that can carry images: rows are 128 pixels taller.
  bool HasImageItems() const { return has_images_; }
  void SetNumberHeader(const QString& text);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Replaces a field's text; only while the task is not running (the run lock is taken for the
  // change, so the runner never sees its records change under it).
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 private:
  QImage FieldImage(const CRecord& record, int field) const;

  CTaskRunner* runner_ = nullptr;
  int rows_ = 0;
  QStringList headers_;
  bool has_images_ = false;
  mutable QCache<quint64, QImage> images_{64};  // decoded images by (row, column)
};

}  // namespace gm::ui
