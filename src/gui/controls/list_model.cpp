#include "gui/controls/list_model.h"

#include "core/rows/list_cells.h"
#include "gui/controls/icons.h"
#include "gui/controls/text.h"

namespace kestrum::gui {

namespace {

const std::string* HeaderOf(const ListData& list, int column) {
  const auto& cols = list.Columns();
  return column >= 0 && column < static_cast<int>(cols.size())
             ? &cols[static_cast<std::size_t>(column)].Text
             : nullptr;
}

}  // namespace

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

bool ListModel::IsBarColumn(int column) const {
  const std::string* h = HeaderOf(list_, column);
  return h && (*h == " " || *h == "  ");
}

bool ListModel::IsChangeBarColumn(int column) const {
  const std::string* h = HeaderOf(list_, column);
  return h && *h == "  ";
}

bool ListModel::IsNumberColumn(int column) const {
  const std::string* h = HeaderOf(list_, column);
  if (!h) return false;
  return *h == "Size" || *h == "Free" || *h == "Used" || *h == "% Free" || *h == "% Used" ||
         *h == "% Parent" || *h == "Change";
}

QStringList ListModel::WordCells(int column, int limit) const {
  QStringList out;
  if (column < 1) return out;
  for (const ListRow& r : list_.Rows()) {
    if (!r.Excluded) continue;
    const QString text = DisplayText(r.Cell(static_cast<std::size_t>(column)));
    if (!out.contains(text)) out.push_back(text);
    if (out.size() >= limit) break;
  }
  return out;
}

QString ListModel::NameShown(const ListRow& r) const {
  // A folder where the scan crossed into another file system says which, after its name.
  if (r.FileSystem.empty()) return VisibleText(r.Text);
  return VisibleText(r.Text) + "  [" + DisplayText(r.FileSystem) + "]";
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const ListRow& r = list_.Rows()[static_cast<std::size_t>(index.row())];
  const auto col = static_cast<std::size_t>(index.column());
  switch (role) {
    case Qt::DisplayRole:
      return col == 0 ? NameShown(r) : DisplayText(r.Cell(col));
    case Qt::DecorationRole:
      return col == 0 ? IconFor(r.SmallIcon) : QVariant();
    case Qt::TextAlignmentRole:
      return IsNumberColumn(index.column())
                 ? QVariant(static_cast<int>(Qt::AlignRight | Qt::AlignVCenter))
                 : QVariant(static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter));
    case Qt::AccessibleDescriptionRole:
      // Sixty vertical lines say nothing read aloud: the share in words instead.
      if (IsChangeBarColumn(index.column())) {
        const std::string& change = col >= 1 ? r.Cell(col - 1) : r.Text;
        if (change.empty()) return QString("No change");
        return QString("Changed by %1, a bar of %2 of %3")
            .arg(DisplayText(change))
            .arg(r.Cell(col).size())
            .arg(kBarWidth);
      }
      if (IsBarColumn(index.column())) {
        const std::size_t bars = r.Cell(col).size();
        const std::string& percent = col >= 1 ? r.Cell(col - 1) : r.Text;
        return QString("%1 percent of the parent, a bar of %2 of %3")
            .arg(DisplayText(percent))
            .arg(bars)
            .arg(kBarWidth);
      }
      if (col == 0 && r.CountedElsewhere) return QString(ListRow::kCountedElsewhereText);
      if (col == 0 && r.Excluded) return QString(ListRow::kExcludedText);
      if (col == 0 && !r.FileSystem.empty()) return QString(ListRow::kMountedText);
      return {};
    case Qt::ToolTipRole:
      // A name too long for its column can be read in full, and so can an excluded row's rule.
      if (col != 0)
        return r.Excluded && !r.Cell(col).empty() ? QVariant(DisplayText(r.Cell(col))) : QVariant();
      if (r.CountedElsewhere)
        return VisibleText(r.Text) + "\n" + QString(ListRow::kCountedElsewhereText);
      if (r.Excluded) return VisibleText(r.Text) + "\n" + QString(ListRow::kExcludedText);
      if (!r.FileSystem.empty()) return NameShown(r) + "\n" + QString(ListRow::kMountedText);
      return VisibleText(r.Text);
    default:
      return {};
  }
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  const std::string* h = HeaderOf(list_, section);
  if (!h) return {};
  if (role == Qt::DisplayRole) return DisplayText(*h);
  if (role == Qt::TextAlignmentRole)
    return static_cast<int>((IsNumberColumn(section) ? Qt::AlignRight : Qt::AlignLeft) |
                            Qt::AlignVCenter);
  if (role == Qt::AccessibleTextRole && *h == " ") return QString("Share bar");
  if (role == Qt::AccessibleTextRole && *h == "  ") return QString("Change bar");
  return {};
}

void ListModel::ListAboutToBeReset() { beginResetModel(); }
void ListModel::ListReset() {
  endResetModel();
  emit RowsReset();
}
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
