#include "ui/song_table_model.h"

namespace sono::ui {

int SongTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(grid_.size());
}

int SongTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(data::kSongGridColumns.size());
}

QVariant SongTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  return QString::fromStdString(grid_.cell(static_cast<size_t>(index.row()), static_cast<size_t>(index.column())));
}

QVariant SongTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal && section >= 0 && section < static_cast<int>(data::kSongGridColumns.size()))
    return QString::fromUtf8(data::kSongGridColumns[static_cast<size_t>(section)]);
  if (orientation == Qt::Vertical) return section + 1;
  return {};
}

void SongTableModel::sort(int column, Qt::SortOrder order) {
  if (column < 0) return;
  beginResetModel();
  grid_.sortBy(column, order == Qt::AscendingOrder);
  endResetModel();
}

void SongTableModel::rowChanged(int row) {
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void SongTableModel::reload() {
  beginResetModel();
  endResetModel();
}

}  // namespace sono::ui
