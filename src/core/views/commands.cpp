#include "core/views/commands.h"

namespace kestrum {

const std::vector<Menu>& MenuBar() {
  static const std::vector<Menu> kMenus = {
      {"mnuFile",
       "&File",
       {{"mnuScanDisks", "&Scan Disks"},
        {"mnuScanFolder", "Scan &Folder..."},
        {"mnuScanStop", "S&top Scan"},
        {"mnuFileSep1", "-"},
        {"mnuFileRecycle", "Send file(s) to &Recycle Bin"},
        {"mnuFileDelete", "&Delete file(s)"},
        {"mnuFileZip", "&Zip file(s)"},
        {"mnuFileProp", "Show file &Properties"},
        {"mnuFileSep2", "-"},
        {"mnuFileExit", "E&xit"}}},
      {"mnuView",
       "&View",
       {{"mnuViewToolbar", "&Toolbar", true, true},
        {"mnuViewStatusBar", "Status &Bar", true, true},
        {"mnuViewCD", "Include &CD drives", true, false},
        {"mnuViewShowFiles", "Show &Files", true, false},
        {"mnuViewAllocated", "Show &Allocated Space", true, false},
        {"mnuViewSep1", "-"},
        {"mnuViewBackUp", "&Back up one level"},
        {"mnuViewSep2", "-"},
        {"mnuViewOptions", "&Options..."}}},
      {"mnuHelp",
       "&Help",
       {{"mnuHelpContents", "&Contents"},
        {"mnuHelpSearch", "&Search For Help On..."},
        {"mnuHelpBar1", "-"},
        {"mnuHelpAbout", "&About Kestrum..."}}},
  };
  return kMenus;
}

const Menu& FileMenu() {
  static const Menu kMenu = {"FileMenu",
                             "FileMenu",
                             {{"FileMenuRecycle", "Send to &Recycle Bin"},
                              {"FileMenuZip", "&Zip"},
                              {"sep1", "-"},
                              {"FileMenuDelete", "&Delete"},
                              {"sep2", "-"},
                              {"FileMenuProperties", "&Properties"}}};
  return kMenu;
}

const std::vector<ToolButton>& ToolbarButtons() {
  static const std::vector<ToolButton> kButtons = {
      {"ScanDisks", "Scan selected disk", "ScanDisks", false},
      {"Stop", "Stop scanning", "Stop", false},
      {"CDDrives", "Scan CD drives", "CDDrive", true},
      {"Back", "Back up one level", "Back", false},
      {"Files", "Show files", "File", true},
      {"Allocated", "Show actual allocated space instead of file size", "Allocated", true},
      {"Recycle", "Send selected files to Recycle bin", "Recycle", false},
      {"Delete", "Delete the selected files", "Delete", false},
      {"Zip", "Zip the Selected Files", "Zip", false},
  };
  return kButtons;
}

const std::vector<std::string>& ImageKeys() {
  static const std::vector<std::string> kKeys = {
      "MyComputer", "HardDrive", "DisketteDrive", "CDDrive",   "ClosedFolder", "OpenFolder", "File",
      "ScanDisks",  "Stop",      "Back",          "Allocated", "Recycle",      "Delete",     "Zip"};
  return kKeys;
}

std::string MenuTwinOf(const std::string& key) {
  if (key == "CDDrives") return "mnuViewCD";
  if (key == "Files") return "mnuViewShowFiles";
  if (key == "Allocated") return "mnuViewAllocated";
  return {};
}

std::string ButtonTwinOf(const std::string& name) {
  if (name == "mnuViewCD") return "CDDrives";
  if (name == "mnuViewShowFiles") return "Files";
  if (name == "mnuViewAllocated") return "Allocated";
  return {};
}

}  // namespace kestrum
