#pragma once
#include <QStyledItemDelegate>

namespace kestrum::gui {

class ListModel;

// Paints the cells of the list's bar column as a proportional bar: the cell's text of "|"
// characters (at most 60) becomes a filled bar of that share of the cell. The text itself
// stays in the model for copying and screen readers. Other columns paint as usual.
class BarDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  BarDelegate(const ListModel& model, QObject* parent = nullptr);
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

 private:
  const ListModel& model_;
};

}  // namespace kestrum::gui
