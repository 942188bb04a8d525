#pragma once
#include <QAbstractTableModel>

#include "core/adapter/list_data.h"

namespace kestrum::gui {

// Shows the list data's rows and columns in a table-like view; follows every change. A
// listing arrives as one reset, however many rows it has; rows are read from the list data
// only when the view asks for them.
class ListModel : public QAbstractTableModel, public ListObserver {
  Q_OBJECT
 public:
  explicit ListModel(ListData& list, QObject* parent = nullptr);
  ~ListModel() override;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The column headed " ": its cells hold a bar of "|" characters.
  bool IsBarColumn(int column) const;
  // The bar of the change since a scan compared with (header "  "), after its Change cell.
  bool IsChangeBarColumn(int column) const;
  // Columns of numbers and sizes, shown right-aligned.
  bool IsNumberColumn(int column) const;
  // The texts of column that are not numbers: what excluded rows say in place of a size
  // ("excluded: *.o"), each once, at most limit of them.
  QStringList WordCells(int column, int limit) const;

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
  // The rows were replaced; the view selects the rows the list data marks selected.
  void RowsReset();

 private:
  QString NameShown(const ListRow& r) const;
  ListData& list_;
};

}  // namespace kestrum::gui
