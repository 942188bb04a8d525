#include "core/presenter/actions.h"

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
        {"mnuExportScan", "&Export Scan...", C::ExportScan, G::BusyDisk},
        {"mnuOpenScan", "&Open Scan...", C::OpenScan, G::Busy},
        {"mnuScanStop", "S&top Scan", C::Stop},
        {"mnuFileSep1", "-"},
        {"mnuFileRecycle", "Send file(s) to &Recycle Bin", C::Recycle, G::BusyRows},
        {"mnuFileDelete", "&Delete file(s)", C::Delete, G::BusyRows},
        {"mnuFileZip", "&Zip file(s)", C::Zip, G::BusyRows},
        {"mnuFileProp", "Show file &Properties", C::Properties, G::Rows},
        {"mnuFileSep2", "-"},
        {"mnuFileExit", "E&xit", C::Exit}}},
      {"mnuView",
       "&View",
       {{"mnuViewToolbar", "&Toolbar", C::ToggleToolbar, G::None, true, true},
        {"mnuViewStatusBar", "Status &Bar", C::ToggleStatusBar, G::None, true, true},
        {"mnuViewCD", "Include &CD drives", C::ToggleCDDrives, G::None, true, false},
        {"mnuViewShowFiles", "Show &Files", C::ToggleShowFiles, G::None, true, false},
        {"mnuViewAllocated", "Show &Allocated Space", C::ToggleAllocated, G::None, true, false},
        {"mnuViewHardLinks", "Count &Hard Links Once", C::ToggleHardLinks, G::None, true, true},
        {"mnuViewTreemap", "Tree&map", C::ToggleTreemap, G::None, true, false},
        {"mnuViewSep1", "-"},
        {"mnuViewRefresh", "&Refresh", C::Refresh, G::BusyDisk},
        {"mnuViewBackUp", "&Back up one level", C::BackUp, G::Busy},
        {"mnuViewSep2", "-"},
        {"mnuViewOptions", "&Options..."}}},
      {"mnuHelp",
       "&Help",
       {{"mnuHelpContents", "&Contents", C::HelpContents},
        {"mnuHelpSearch", "&Search For Help On...", C::HelpSearch},
        {"mnuHelpBar1", "-"},
        {"mnuHelpAbout", "&About Kestrum...", C::About}}},
  };
  return kMenus;
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
                              {"FileMenuProperties", "&Properties", C::Properties, G::Rows}}};
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

const MenuEntry* FindMenuEntry(const std::string& name) {
  for (const Menu& m : MenuBar())
    for (const MenuEntry& e : m.Entries)
      if (name == e.Name) return &e;
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
