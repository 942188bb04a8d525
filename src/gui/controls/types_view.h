#pragma once
#include <QLabel>
#include <QTreeWidget>
#include <QWidget>

#include "core/presenter/main_presenter.h"

namespace kestrum::gui {

// The "File Types" pane: the presenter's count of the folder selected in the tree, by
// category with each category's endings below it (files, size, share, largest file), sorted by
// size and re-sortable by any column; or a plain message while counting or where nothing was
// scanned. Enter, a double-click or the row menu's "List These Files" lists the files of a
// row's type in the results folder.
class TypesView : public QWidget {
  Q_OBJECT
 public:
  explicit TypesView(MainPresenter& presenter, QWidget* parent = nullptr);
  // The presenter's count or message changed, or "Show Allocated Space" did: shows it anew.
  void Refresh();
  QTreeWidget* Table() const { return table_; }
  QLabel* MessageLabel() const { return message_; }
  // The row an item stands for (its index into the rows shown); -1 for none.
  int RowOf(const QTreeWidgetItem* item) const;
  // Lists the files of the type of item.
  void ListFiles(const QTreeWidgetItem* item);

 private:
  MainPresenter& presenter_;
  QLabel* message_;
  QTreeWidget* table_;
  std::vector<TypeRow> rows_;
};

}  // namespace kestrum::gui
