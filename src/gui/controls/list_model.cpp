#include "gui/controls/list_model.h"

#include "gui/controls/icons.h"
#include "gui/controls/text.h"

namespace kestrum::gui {

ListModel::ListModel(ListData& list, QObject* parent) : QAbstractTableModel(parent), list_(list) {
  list_.SetObserver(this);
}

ListModel::~ListModel() { list_.SetObserver(nullptr); }

int ListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(list_.Count());
}

int ListModel::columnCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  // A list without columns still shows its rows' text in one column.
  return std::max<int>(1, static_cast<int>(list_.Columns().size()));
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const ListRow& r = list_.Rows()[static_cast<std::size_t>(index.row())];
  const auto col = static_cast<std::size_t>(index.column());
  switch (role) {
    case Qt::DisplayRole:
      return DisplayText(r.Cell(col));
    case Qt::DecorationRole:
      return col == 0 ? IconFor(r.SmallIcon) : QVariant();
    default:
      return {};
  }
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  const auto& cols = list_.Columns();
  return section >= 0 && section < static_cast<int>(cols.size())
             ? DisplayText(cols[static_cast<std::size_t>(section)].Text)
             : QVariant();
}

void ListModel::ListAboutToBeReset() { beginResetModel(); }
void ListModel::ListReset() { endResetModel(); }
void ListModel::RowAboutToBeInserted(int row) { beginInsertRows({}, row, row); }
void ListModel::RowInserted() { endInsertRows(); }
void ListModel::RowAboutToBeRemoved(int row) { beginRemoveRows({}, row, row); }
void ListModel::RowRemoved() { endRemoveRows(); }
void ListModel::ColumnsChanged() {
  beginResetModel();
  endResetModel();
  emit ColumnsReset();
}

}  // namespace kestrum::gui
