#pragma once

namespace kestrum::gui {

// Makes the program's open popup menus children of the application on the accessibility
// bus, as the menu bar's menus are children of their menu: the toolkit leaves a context menu
// out of the application's children, so a screen reader walking the windows never finds it.
// Call before the application object exists (or before anything asked for its accessible
// interface, which is made once); calling it again does nothing.
void InstallAccessibility();

}  // namespace kestrum::gui
