// The song grid shown by a QTableView: a read-only view over the core's
// SongGrid (no widget per row); sorting asks the core grid to sort.
#pragma once
#include <QAbstractTableModel>

#include "data/search.h"

namespace sono::ui {

class SongTableModel : public QAbstractTableModel {
 public:
  explicit SongTableModel(data::SongGrid& grid, QObject* parent = nullptr)
      : QAbstractTableModel(parent), grid_(grid) {}
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order) override;
  // The grid was refilled by a search.
  void reload();
  // One row was shown again.
  void rowChanged(int row);

 private:
  data::SongGrid& grid_;
};

}  // namespace sono::ui
