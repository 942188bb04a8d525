#include "gui/controls/bar_delegate.h"

#include <QApplication>
#include <QPainter>

#include "core/rows/list_cells.h"
#include "gui/controls/list_model.h"

namespace kestrum::gui {

BarDelegate::BarDelegate(const ListModel& model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {}

void BarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const {
  if (!model_.IsBarColumn(index.column())) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  const int bars = static_cast<int>(opt.text.size());
  opt.text.clear();
  const QWidget* w = opt.widget;
  QStyle* style = w ? w->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, w);
  if (bars <= 0) return;
  const QRect area = opt.rect.adjusted(3, 3, -3, -3);
  const int width = static_cast<int>(static_cast<double>(area.width()) * bars / kBarWidth + 0.5);
  if (width <= 0 || area.height() <= 0) return;
  painter->save();
  // A change bar says growth in red and loss in green, as its Change cell's sign reads.
  QColor colour(58, 110, 165);
  if (model_.IsChangeBarColumn(index.column()) && index.column() > 0) {
    const QString change = index.sibling(index.row(), index.column() - 1).data().toString();
    colour = change.contains('-') ? QColor(38, 162, 105) : QColor(192, 28, 40);
  }
  const QColor fill = (opt.state & QStyle::State_Selected)
                          ? opt.palette.color(QPalette::HighlightedText)
                          : colour;
  painter->fillRect(QRect(area.left(), area.top(), std::max(width, 1), area.height()), fill);
  painter->restore();
}

}  // namespace kestrum::gui
