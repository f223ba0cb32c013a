#include "ui/result_model.h"

#include <mutex>

#include "ui/ui_text.h"

namespace gm::ui {
namespace {

bool CarriesImages(const CItemDef& item) {
  if (item.type == L"LINKFILE") return true;
  bool html = item.type == L"INNERHTML" || item.type == L"OUTERHTML";
  return html && (item.dlimage != 0 || item.dlmedia != 0);
}

}  // namespace

void CResultModel::SetRunner(CTaskRunner* runner, const QString& number_header) {
  beginResetModel();
  runner_ = runner;
  images_.clear();
  headers_.clear();
  has_images_ = false;
  rows_ = 0;
  headers_ << number_header;
  if (runner_) {
    for (const CItemDef* item : runner_->items) {
      headers_ << QStr(item->name);
      if (CarriesImages(*item)) has_images_ = true;
    }
    std::lock_guard<std::mutex> hold(runner_->RecordsLock());
    rows_ = static_cast<int>(runner_->Records().Size());
  }
  endResetModel();
}

void CResultModel::SetNumberHeader(const QString& text) {
  if (headers_.isEmpty()) return;
  headers_[0] = text;
  emit headerDataChanged(Qt::Horizontal, 0, 0);
}

void CResultModel::SyncRows() {
  if (!runner_) return;
  int count;
  {
    std::lock_guard<std::mutex> hold(runner_->RecordsLock());
    count = static_cast<int>(runner_->Records().Size());
  }
  if (count < rows_ || count == 0) {
    beginResetModel();
    rows_ = count;
    images_.clear();
    endResetModel();
    return;
  }
  if (count > rows_) {
    beginInsertRows({}, rows_, count - 1);
    rows_ = count;
    endInsertRows();
  }
  // Records are inserted in sort order, so rows already shown may now hold other records.
  images_.clear();
  if (rows_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
}

int CResultModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int CResultModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QImage CResultModel::FieldImage(const CRecord& record, int field) const {
  for (const CLinkedFile& file : record.Field(field).linkedFiles) {
    QImage image = QImage::fromData(reinterpret_cast<const uchar*>(file.bytes.data()),
                                    static_cast<int>(file.bytes.size()));
    if (!image.isNull()) {
      if (image.height() > 128) image = image.scaledToHeight(128, Qt::SmoothTransformation);
      return image;
    }
  }
  return {};
}

QVariant CResultModel::data(const QModelIndex& index, int role) const {
  if (!runner_ || !index.isValid() || index.row() >= rows_) return {};
  int row = index.row();
  int col = index.column();
  if (col == 0) {
    if (role == Qt::DisplayRole) return QString::number(row + 1);
    return {};
  }
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::EditRole &&
      role != kImageRole) {
    return {};
  }
  if (role == kImageRole && !has_images_) return {};
  quint64 key = (static_cast<quint64>(row) << 16) | static_cast<quint64>(col);
  if (role == kImageRole) {
    if (QImage* cached = images_.object(key)) return *cached;
  }
  std::lock_guard<std::mutex> hold(runner_->RecordsLock());
  const CRecordList& records = runner_->Records();
  if (static_cast<size_t>(row) >= records.Size()) return {};
  const CRecord& record = records.At(row);
  if (role == kImageRole) {
    QImage image = FieldImage(record, col - 1);
    images_.insert(key, new QImage(image));
    return image;
  }
  if (static_cast<size_t>(col - 1) >= record.fields.size()) return {};
  return QStr(record.fields[col - 1].text);
}

QVariant CResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || section >= headers_.size()) return {};
  return headers_[section];
}

Qt::ItemFlags CResultModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  // Fields are edited only while the task is stopped; setData also takes the run lock.
  if (index.isValid() && index.column() > 0 && runner_ && runner_->State() == kStopped) {
    f |= Qt::ItemIsEditable;
  }
  return f;
}

bool CResultModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!runner_ || role != Qt::EditRole || !index.isValid() || index.column() == 0) return false;
  if (!runner_->TryAcquireRunLock()) return false;
  bool changed = false;
  size_t row = static_cast<size_t>(index.row());
  size_t field = static_cast<size_t>(index.column() - 1);
  std::unique_ptr<CRecord> edited;
  {
    std::lock_guard<std::mutex> hold(runner_->RecordsLock());
    const CRecordList& records = runner_->Records();
    if (row < records.Size() && field < runner_->items.size()) {
      edited = std::make_unique<CRecord>(records.At(row));
    }
  }
  if (edited) {
    if (edited->fields.size() <= field) edited->fields.resize(field + 1);
    edited->fields[field].text = WStr(value.toString());
    Classify(&edited->fields[field]);
    // Replace keeps the duplicate index in step with the new text; the store follows.
    runner_->EditRecord(row, std::move(edited));
    changed = true;
  }
  runner_->ReleaseRunLock();
  if (changed) emit dataChanged(index, index);
  return changed;
}

}  // namespace gm::ui
