#pragma once
#include <QFont>

namespace kestrum::gui {

class ListModel;

// The width in pixels the list gives a column whose layout asks for nominal pixels: at least
// enough for its header, and for the numbers, sizes and dates its cells hold at their widest
// ("1023.99 mb", "100.0", a date in the user's locale), so that those are never cut off in the
// fonts of this desktop. The main window fits them to the list (ColumnFit): the name takes
// what is left, and gives way first where the list is too narrow; names show in full as
// tooltips.
int ColumnPixels(const ListModel& model, int column, int nominal, const QFont& cells,
                 const QFont& header);

}  // namespace kestrum::gui
