#pragma once
#include <QWidget>

namespace kestrum::gui {

// F12 does the same in every window of the program: it opens the help at its contents
// (the parameterless operation each window offers for that key). Call once per window,
// after it is made; the key works wherever the focus is inside that window.
void InstallF12(QWidget* window);

}  // namespace kestrum::gui
