#include "gui/controls/types_view.h"

#include <QHeaderView>
#include <QMenu>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "core/rows/list_cells.h"

namespace kestrum::gui {

namespace {

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

enum Column { kType, kFiles, kSize, kShare, kLargest, kColumns };
constexpr int kRowRole = Qt::UserRole;       // index into the rows shown
constexpr int kSortRole = Qt::UserRole + 1;  // the number a numeric column sorts by

// An item that sorts its numeric columns by number, its texts without regard to case.
class TypeItem : public QTreeWidgetItem {
 public:
  using QTreeWidgetItem::QTreeWidgetItem;
  bool operator<(const QTreeWidgetItem& other) const override {
    const int c = treeWidget() ? treeWidget()->sortColumn() : 0;
    if (c == kFiles || c == kSize || c == kShare)
      return data(c, kSortRole).toDouble() < other.data(c, kSortRole).toDouble();
    return text(c).compare(other.text(c), Qt::CaseInsensitive) < 0;
  }
};

// A colour swatch of a category, for its row's icon.
QIcon Swatch(FileCategory category) {
  QPixmap pixmap(12, 12);
  pixmap.fill(QColor::fromRgb(CategoryPalette()[static_cast<std::size_t>(category)]));
  return QIcon(pixmap);
}

}  // namespace

TypesView::TypesView(MainPresenter& presenter, QWidget* parent)
    : QWidget(parent), presenter_(presenter) {
  setObjectName("typesView");
  message_ = new QLabel(this);
  message_->setObjectName("lblTypesMessage");
  message_->setWordWrap(true);
  message_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  message_->setMargin(6);
  table_ = new QTreeWidget(this);
  table_->setObjectName("tvTypes");
  table_->setAccessibleName("File types");
  table_->setColumnCount(kColumns);
  table_->setHeaderLabels({"Type", "Files", "Size", "% Share", "Largest file"});
  table_->setRootIsDecorated(true);
  table_->setUniformRowHeights(true);
  table_->setAlternatingRowColors(true);
  table_->setSortingEnabled(true);
  table_->header()->setStretchLastSection(true);
  // Choosing a row marks its files on the treemap.
  connect(table_, &QTreeWidget::itemSelectionChanged, this, [this] {
    const QList<QTreeWidgetItem*> chosen = table_->selectedItems();
    const int row = chosen.isEmpty() ? -1 : RowOf(chosen.front());
    MarkTypeOnMap(presenter_, row < 0 ? nullptr : &rows_[static_cast<std::size_t>(row)]);
  });
  connect(table_, &QTreeWidget::itemActivated, this,
          [this](QTreeWidgetItem* item, int) { ListFiles(item); });
  table_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(table_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QTreeWidgetItem* item = table_->itemAt(at);
    if (!item) return;
    QMenu menu(this);
    menu.setObjectName("TypesMenu");
    QAction* list = menu.addAction("&List These Files");
    list->setObjectName("TypesMenuList");
    if (menu.exec(table_->viewport()->mapToGlobal(at)) == list) ListFiles(item);
  });
  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(0, 0, 0, 0);
  v->addWidget(message_);
  v->addWidget(table_, 1);
  Refresh();
}

int TypesView::RowOf(const QTreeWidgetItem* item) const {
  if (!item) return -1;
  const int row = item->data(kType, kRowRole).toInt();
  return row >= 0 && static_cast<std::size_t>(row) < rows_.size() ? row : -1;
}

void TypesView::ListFiles(const QTreeWidgetItem* item) {
  const int row = RowOf(item);
  if (row < 0) return;
  const TypeRow chosen = rows_[static_cast<std::size_t>(row)];
  ListFilesOfType(presenter_, chosen);
}

void TypesView::Refresh() {
  const TypesPane& pane = presenter_.TypesPaneState();
  const bool allocated = presenter_.Toggles().Allocated;
  table_->headerItem()->setText(kSize, allocated ? "Allocated" : "Size");
  rows_ = pane.Counts ? TypeRows(*pane.Counts, allocated) : std::vector<TypeRow>();
  message_->setText(Q(pane.Message));
  message_->setVisible(!pane.Message.empty());
  table_->setVisible(pane.Message.empty());
  table_->setUpdatesEnabled(false);
  table_->setSortingEnabled(false);
  {
    // The rows go: so does the mark of the one chosen.
    const QSignalBlocker quiet(table_);
    table_->clear();
  }
  MarkTypeOnMap(presenter_, nullptr);
  QList<QTreeWidgetItem*> tops;
  TypeItem* category = nullptr;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const TypeRow& r = rows_[i];
    TypeItem* item = r.IsCategory || !category ? new TypeItem : new TypeItem(category);
    item->setText(kType, Q(r.Text));
    item->setText(kFiles, QString::number(r.Files));
    item->setText(kSize, Q(SizeText(r.Size)));
    item->setText(kShare, Q(PercentText(r.Share)));
    item->setText(kLargest, Q(r.Largest));
    item->setData(kType, kRowRole, static_cast<int>(i));
    item->setData(kFiles, kSortRole, static_cast<double>(r.Files));
    item->setData(kSize, kSortRole, r.Size);
    item->setData(kShare, kSortRole, r.Share);
    for (int c : {kFiles, kSize, kShare}) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    if (!r.Mime.empty()) item->setToolTip(kType, Q(r.Mime));
    item->setToolTip(kLargest, Q(r.Largest));
    if (r.IsCategory) {
      item->setIcon(kType, Swatch(r.Category));
      category = item;
      tops.push_back(item);
    }
  }
  table_->addTopLevelItems(tops);
  table_->setSortingEnabled(true);
  if (table_->header()->sortIndicatorSection() < 0 || rows_.empty())
    table_->sortByColumn(kSize, Qt::DescendingOrder);
  table_->setUpdatesEnabled(true);
  // The numbers take the room they need; the largest file's path gets the rest.
  for (int c : {kType, kFiles, kSize, kShare}) table_->resizeColumnToContents(c);
}

}  // namespace kestrum::gui
