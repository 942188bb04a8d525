#pragma once
#include <QFont>

namespace kestrum::gui {

class ListModel;

// The width in pixels the list gives a column whose layout asks for nominal pixels: at least
// enough for its header, and for the numbers, sizes and dates its cells hold at their widest
// ("1023.99 mb", "100.0", a date in the user's locale), so that those are never cut off in the
// fonts of this desktop. Where the list is too narrow, the main window lets the name and the
// bar give way (FitColumns); names show in full as tooltips.
int ColumnPixels(const ListModel& model, int column, int nominal, const QFont& cells,
                 const QFont& header);

}  // namespace kestrum::gui

namespace kestrum::gui {

// The width of the name column for the rows now listed: its nominal width, widened to the
// widest name (with its icon) up to cap pixels. Lists longer than a few thousand rows keep
// the nominal width rather than measure every name.
int NameColumnPixels(const ListModel& model, int nominal, const QFont& cells, int iconWidth,
                     int cap);

}  // namespace kestrum::gui
