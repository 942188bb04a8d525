#pragma once
#include <QAbstractTableModel>

#include "core/views/list_data.h"

namespace kestrum::gui {

// Shows the list data's rows and columns in a table-like view; follows every change.
class ListModel : public QAbstractTableModel, public ListObserver {
  Q_OBJECT
 public:
  explicit ListModel(ListData& list, QObject* parent = nullptr);
  ~ListModel() override;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void ListAboutToBeReset() override;
  void ListReset() override;
  void RowAboutToBeInserted(int row) override;
  void RowInserted() override;
  void RowAboutToBeRemoved(int row) override;
  void RowRemoved() override;
  void ColumnsChanged() override;

 signals:
  // The columns changed; the view applies the widths (twips) to its header.
  void ColumnsReset();

 private:
  ListData& list_;
};

}  // namespace kestrum::gui
