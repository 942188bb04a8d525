#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kestrum {

// The main window's command vocabulary: names, captions ("&" marks the access key), toolbar
// keys, tooltips and image keys, in the order they are shown, each with the command it gives
// and the guard that refuses it.

// What a menu entry or toolbar button does. One command may be given from several places
// (the menu bar, the toolbar, the list's popup menu).
enum class Command : std::uint8_t {
  None,             // separators, "&Options..."
  LoadDisks,        // "mnuScanDisks": find the volumes again and rebuild the tree
  LoadDisk,         // "ScanDisks": scan the selected drive, or every drive of "My Computer"
  ScanFolder,       // "mnuScanFolder": ask for a folder and scan it
  ExportScan,       // "mnuExportScan": scan the selected drive or folder into a saved scan
  OpenScan,         // "mnuOpenScan": read saved scans as entries under "My Computer"
  Stop,             // "Stop", "mnuScanStop"
  Recycle,          // "Recycle", "mnuFileRecycle", "FileMenuRecycle"
  Delete,           // "Delete", "mnuFileDelete", "FileMenuDelete"
  Zip,              // "Zip", "mnuFileZip", "FileMenuZip"
  Properties,       // "mnuFileProp", "FileMenuProperties"
  Exit,             // "mnuFileExit"
  ToggleToolbar,    // "mnuViewToolbar"
  ToggleStatusBar,  // "mnuViewStatusBar"
  ToggleCDDrives,   // "CDDrives", "mnuViewCD"
  ToggleShowFiles,  // "Files", "mnuViewShowFiles"
  ToggleAllocated,  // "Allocated", "mnuViewAllocated"
  BackUp,           // "Back", "mnuViewBackUp"
  Refresh,          // "mnuViewRefresh" (F5): the folder selected in the tree
  RefreshRow,       // "FileMenuRefresh": the folder of the row under the cursor
  ToggleHardLinks,  // "mnuViewHardLinks": how the next scan counts hard links
  ToggleTreemap,    // "mnuViewTreemap"
  HelpContents,     // "mnuHelpContents"
  HelpSearch,       // "mnuHelpSearch"
  About,            // "mnuHelpAbout"
  Open,             // "mnuFileOpen", "FileMenuOpen": each row with its default application
  ShowInFolder,     // "mnuFileShowInFolder", "FileMenuShowInFolder": the file manager
  OpenTerminal,     // "mnuFileTerminal", "FileMenuTerminal": a terminal in each row's folder
  CopyPath,         // "mnuFileCopyPath", "FileMenuCopyPath": the rows' paths to the clipboard
  EditCommands,     // "mnuToolsCommands": the dialog of the user's own commands
  Find,             // "mnuFileFind": the Find dialog, then the search into "Search Results"
  FindNewest,       // "mnuQuickNewest" and the other quick lists of the File menu
  FindOldest,
  FindHardLinks,
  FindSparse,
  FindLarger,       // asks for the size first
  ToggleTypes,      // "mnuViewTypes": the "File Types" pane
  CompareWith,      // "mnuViewCompare": compare the selected tree with an earlier scan
  ToggleCrossFs,    // "mnuViewCrossFs": whether the next full scan enters mounted file systems
  ToggleKeepHistory,  // "mnuViewKeepHistory": whether completed scans are kept in the history
  EditExcludes,     // "mnuToolsExcludes": the dialog of the exclude rules
};

// What refuses a command; MainPresenter::Refused decides each in one place.
enum class Guard : std::uint8_t {
  None,      // never refused
  Scan,      // silently, while Scanning (the tree's and the list's clicks)
  Busy,      // while Scanning or while a long command holds the slot, with a status line
  BusyDisk,  // as Busy, and when the node selected in the tree lies on a saved scan (the
             // commands that read or change this computer's files under it)
  BusyRows,  // as Busy, and while a listing is still read (commands on rows)
  SlotRows,  // while a long command holds the slot, and while a listing is still read: the
             // popup menu's commands, which do not test Scanning
  Rows,      // while a listing is still read
  ReadRows,  // while a listing is still read, and never for a saved scan: a command that only
             // reads the rows themselves (their paths)
};
// Every guard on rows but ReadRows also refuses while the listed node lies on a saved scan:
// nothing of this computer stands behind its rows.

struct Menu;

struct MenuEntry {
  const char* Name;
  const char* Caption;  // "-" for a separator
  Command Does = Command::None;
  Guard When = Guard::None;
  bool Checkable = false;
  bool CheckedAtStart = false;
  // The key that gives it from anywhere in the window, in QKeySequence's portable text
  // ("Ctrl+Shift+T"); nullptr for none.
  const char* Shortcut = nullptr;
  // A submenu: its entries, shown under this entry's caption (which then gives no command).
  const Menu* Submenu = nullptr;
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
  Command Does;
  Guard When;
};

const std::vector<Menu>& MenuBar();
// The list view's context menu (never shown in the menu bar).
const Menu& FileMenu();
const std::vector<ToolButton>& ToolbarButtons();

// The user's own commands (user_commands.h) have entries of their own, made from the list of
// commands: in the row menu after the separator "FileMenuUserSep" and in the Tools menu
// before "mnuToolsUserSep". Their names carry the command's 0-based index.
inline constexpr const char* kRowMenuUserSeparator = "FileMenuUserSep";
inline constexpr const char* kToolsUserSeparator = "mnuToolsUserSep";
// Refuses them while a command runs or a scan goes on, and on saved scans' rows.
inline constexpr Guard kUserCommandGuard = Guard::BusyRows;
std::string UserCommandEntryName(bool rowMenu, std::size_t index);
// The index of a user command's entry name; -1 for any other name.
long UserCommandIndex(const std::string& name);
// The key of the n-th (0-based) user command shown in the Tools menu: Ctrl+1 to Ctrl+9,
// nullptr after the ninth.
const char* UserCommandShortcut(std::size_t shown);

// The key of the menu bar's entry that gives the same command as the row menu's entry, shown
// beside it in the row menu; nullptr for none.
const char* RowMenuShortcut(const MenuEntry& rowEntry);

// The submenu of the File menu that holds the quick lists.
const Menu& QuickListMenu();

// The menu entry (menu bar, its submenus or context menu) of that name, or nullptr.
const MenuEntry* FindMenuEntry(const std::string& name);
// The toolbar button of that key, or nullptr.
const ToolButton* FindToolButton(const std::string& key);

}  // namespace kestrum
