#include "core/presenter/actions.h"

#include <iterator>
#include <string_view>

namespace kestrum {

namespace {
using C = Command;
using G = Guard;
}  // namespace

const std::vector<Menu>& MenuBar() {
  static const std::vector<Menu> kMenus = {
      {"mnuFile",
       "&File",
       {{"mnuScanDisks", "&Scan Disks", C::LoadDisks, G::Busy},
        {"mnuScanFolder", "Scan &Folder...", C::ScanFolder, G::Busy},
        {"mnuExportScan", "&Export Scan...", C::ExportScan, G::Busy},
        {"mnuOpenScan", "&Open Scan...", C::OpenScan, G::Busy},
        {"mnuFileFind", "F&ind...", C::Find, G::Busy, false, false, "Ctrl+F"},
        {"mnuFileQuick", "&Quick Lists", C::None, G::None, false, false, nullptr,
         &QuickListMenu()},
        {"mnuScanStop", "S&top Scan", C::Stop},
        {"mnuFileSep1", "-"},
        {"mnuFileRecycle", "Send file(s) to &Recycle Bin", C::Recycle, G::BusyRows},
        {"mnuFileDelete", "&Delete file(s)", C::Delete, G::BusyRows},
        {"mnuFileZip", "&Zip file(s)", C::Zip, G::BusyRows},
        {"mnuFileProp", "Show file &Properties", C::Properties, G::Rows},
        {"mnuFileSep3", "-"},
        {"mnuFileOpen", "Ope&n", C::Open, G::Rows, false, false, "Ctrl+Return"},
        {"mnuFileShowInFolder", "Show in File &Manager", C::ShowInFolder, G::Rows, false, false,
         "Ctrl+Shift+M"},
        {"mnuFileTerminal", "Open Termina&l Here", C::OpenTerminal, G::Rows, false, false,
         "Ctrl+Shift+T"},
        {"mnuFileCopyPath", "&Copy Path", C::CopyPath, G::ReadRows, false, false, "Ctrl+C"},
        {"mnuFileSep2", "-"},
        {"mnuFileExit", "E&xit", C::Exit}}},
      {"mnuView",
       "&View",
       {{"mnuViewToolbar", "&Toolbar", C::ToggleToolbar, G::None, true, true},
        {"mnuViewStatusBar", "&Status Bar", C::ToggleStatusBar, G::None, true, true},
        {"mnuViewCD", "Include &CD drives", C::ToggleCDDrives, G::None, true, false},
        {"mnuViewShowFiles", "Show &Files", C::ToggleShowFiles, G::None, true, false},
        {"mnuViewAllocated", "Show &Allocated Space", C::ToggleAllocated, G::None, true, false},
        {"mnuViewHardLinks", "Count &Hard Links Once", C::ToggleHardLinks, G::None, true, true},
        {"mnuViewTreemap", "Tree&map", C::ToggleTreemap, G::None, true, false},
        {"mnuViewTypes", "File T&ypes", C::ToggleTypes, G::None, true, false},
        {"mnuViewCompare", "Compare &With...", C::CompareWith, G::Busy},
        {"mnuViewKeepHistory", "&Keep Scan History", C::ToggleKeepHistory, G::None, true, true},
        {"mnuViewCrossFs", "Cross F&ile Systems", C::ToggleCrossFs, G::None, true, false},
        {"mnuViewSep1", "-"},
        {"mnuViewRefresh", "&Refresh", C::Refresh, G::BusyDisk},
        {"mnuViewBackUp", "&Back up one level", C::BackUp, G::Busy},
        {"mnuViewSep2", "-"},
        {"mnuViewOptions", "&Options..."}}},
      {"mnuTools",
       "&Tools",
       {{kToolsUserSeparator, "-"},
        {"mnuToolsCommands", "&Edit Commands...", C::EditCommands, G::None},
        {"mnuToolsExcludes", "E&xclude Rules...", C::EditExcludes, G::None}}},
      {"mnuHelp",
       "&Help",
       {{"mnuHelpContents", "&Contents", C::HelpContents},
        {"mnuHelpSearch", "&Search For Help On...", C::HelpSearch},
        {"mnuHelpBar1", "-"},
        {"mnuHelpAbout", "&About Kestrum...", C::About}}},
  };
  return kMenus;
}

const Menu& QuickListMenu() {
  static const Menu kMenu = {
      "mnuQuick",
      "&Quick Lists",
      {{"mnuQuickNewest", "&Newest 1,000 Files", C::FindNewest, G::Busy},
       {"mnuQuickOldest", "&Oldest 1,000 Files", C::FindOldest, G::Busy},
       {"mnuQuickLinks", "Files with &Hard Links", C::FindHardLinks, G::Busy},
       {"mnuQuickSparse", "&Sparse or Compressed Files", C::FindSparse, G::Busy},
       {"mnuQuickLarger", "Files &Larger Than...", C::FindLarger, G::Busy}}};
  return kMenu;
}

const Menu& FileMenu() {
  static const Menu kMenu = {"FileMenu",
                             "FileMenu",
                             {{"FileMenuRecycle", "Send to &Recycle Bin", C::Recycle, G::SlotRows},
                              {"FileMenuZip", "&Zip", C::Zip, G::SlotRows},
                              {"FileMenuRefresh", "Re&fresh", C::RefreshRow, G::SlotRows},
                              {"sep1", "-"},
                              {"FileMenuDelete", "&Delete", C::Delete, G::SlotRows},
                              {"sep2", "-"},
                              {"FileMenuProperties", "&Properties", C::Properties, G::Rows},
                              {"sep3", "-"},
                              {"FileMenuOpen", "&Open", C::Open, G::Rows},
                              {"FileMenuShowInFolder", "Show in File &Manager", C::ShowInFolder,
                               G::Rows},
                              {"FileMenuTerminal", "Open &Terminal Here", C::OpenTerminal,
                               G::Rows},
                              {"FileMenuCopyPath", "&Copy Path", C::CopyPath, G::ReadRows},
                              {kRowMenuUserSeparator, "-"}}};
  return kMenu;
}

const std::vector<ToolButton>& ToolbarButtons() {
  static const std::vector<ToolButton> kButtons = {
      {"ScanDisks", "Scan selected disk", "ScanDisks", false, C::LoadDisk, G::BusyDisk},
      {"Stop", "Stop scanning", "Stop", false, C::Stop, G::None},
      {"CDDrives", "Scan CD drives", "CDDrive", true, C::ToggleCDDrives, G::None},
      {"Back", "Back up one level", "Back", false, C::BackUp, G::Busy},
      {"Files", "Show files", "File", true, C::ToggleShowFiles, G::None},
      {"Allocated", "Show actual allocated space instead of file size", "Allocated", true,
       C::ToggleAllocated, G::None},
      {"Recycle", "Send selected files to Recycle bin", "Recycle", false, C::Recycle, G::BusyRows},
      {"Delete", "Delete the selected files", "Delete", false, C::Delete, G::BusyRows},
      {"Zip", "Zip the Selected Files", "Zip", false, C::Zip, G::BusyRows},
  };
  return kButtons;
}

namespace {
constexpr std::string_view kRowUserPrefix = "FileMenuUser";
constexpr std::string_view kToolsUserPrefix = "mnuToolsUser";
}  // namespace

std::string UserCommandEntryName(bool rowMenu, std::size_t index) {
  return std::string(rowMenu ? kRowUserPrefix : kToolsUserPrefix) + std::to_string(index);
}

long UserCommandIndex(const std::string& name) {
  for (const std::string_view prefix : {kRowUserPrefix, kToolsUserPrefix}) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    long index = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
      if (name[i] < '0' || name[i] > '9' || index > 1000000) return -1;
      index = index * 10 + (name[i] - '0');
    }
    return index;
  }
  return -1;
}

const char* UserCommandShortcut(std::size_t shown) {
  static constexpr const char* kKeys[] = {"Ctrl+1", "Ctrl+2", "Ctrl+3", "Ctrl+4", "Ctrl+5",
                                          "Ctrl+6", "Ctrl+7", "Ctrl+8", "Ctrl+9"};
  return shown < std::size(kKeys) ? kKeys[shown] : nullptr;
}

const char* RowMenuShortcut(const MenuEntry& rowEntry) {
  if (rowEntry.Does == Command::None) return nullptr;
  for (const Menu& m : MenuBar())
    for (const MenuEntry& e : m.Entries)
      if (e.Does == rowEntry.Does && e.Shortcut) return e.Shortcut;
  return nullptr;
}

const MenuEntry* FindMenuEntry(const std::string& name) {
  for (const Menu& m : MenuBar())
    for (const MenuEntry& e : m.Entries) {
      if (name == e.Name) return &e;
      if (e.Submenu)
        for (const MenuEntry& sub : e.Submenu->Entries)
          if (name == sub.Name) return &sub;
    }
  for (const MenuEntry& e : FileMenu().Entries)
    if (name == e.Name) return &e;
  return nullptr;
}

const ToolButton* FindToolButton(const std::string& key) {
  for (const ToolButton& b : ToolbarButtons())
    if (key == b.Key) return &b;
  return nullptr;
}

}  // namespace kestrum
