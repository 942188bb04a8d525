#include "gui/controls/column_widths.h"

#include <QFontMetrics>
#include <algorithm>

#include "core/rows/list_cells.h"
#include "gui/controls/list_model.h"
#include "gui/controls/text.h"

namespace kestrum::gui {

int ColumnPixels(const ListModel& model, int column, int nominal, const QFont& cells,
                 const QFont& header) {
  const QFontMetrics cm(cells), hm(header);
  const int pad = cm.averageCharWidth() * 2 + 8;
  const QString title = model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
  int px = std::max(nominal, hm.horizontalAdvance(title) + pad);
  if (model.IsNumberColumn(column)) {
    // A share is at most "100.0"; a size at its widest "1023.99 mb".
    const bool share = title.startsWith('%');
    px = std::max(
        px,
        cm.horizontalAdvance(share ? QStringLiteral("100.0") : QStringLiteral("1023.99 mb")) + pad);
    // An excluded row names its rule where a size would be: wide enough for the rule, up to
    // about forty characters (a longer one is elided, and read in full by its tooltip).
    const int most = cm.averageCharWidth() * 40 + pad;
    for (const QString& words : model.WordCells(column, 50))
      px = std::max(px, std::min(most, cm.horizontalAdvance(words) + pad));
  }
  if (title == QLatin1String("Last Accessed")) {
    // The last second of a year with two-digit day and month: the widest date there is.
    px = std::max(px, cm.horizontalAdvance(DisplayText(DateText(1767225599))) + pad);
  }
  return px;
}

}  // namespace kestrum::gui
