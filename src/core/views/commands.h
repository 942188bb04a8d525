#pragma once
#include <string>
#include <vector>

namespace kestrum {

// The main window's command vocabulary: names, captions ("&" marks the access key),
// toolbar keys, tooltips and image keys, in the order they are shown.

struct MenuEntry {
  const char* Name;
  const char* Caption;  // "-" for a separator
  bool Checkable = false;
  bool CheckedAtStart = false;
};

struct Menu {
  const char* Name;
  const char* Caption;
  std::vector<MenuEntry> Entries;
};

struct ToolButton {
  const char* Key;
  const char* Tooltip;
  const char* Image;
  bool TwoState;
};

const std::vector<Menu>& MenuBar();
// The list view's context menu (never shown in the menu bar).
const Menu& FileMenu();
const std::vector<ToolButton>& ToolbarButtons();

// The fourteen image keys every image list holds.
const std::vector<std::string>& ImageKeys();

// The menu twin of a two-state toolbar button ("CDDrives" -> "mnuViewCD"), or "".
std::string MenuTwinOf(const std::string& buttonKey);
// The toolbar twin of a checkable menu entry, or "".
std::string ButtonTwinOf(const std::string& menuName);

}  // namespace kestrum
