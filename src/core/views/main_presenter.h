#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/globals.h"
#include "core/model/discovery.h"
#include "core/views/explorer.h"
#include "core/views/list_data.h"
#include "core/views/listing_state.h"
#include "core/views/status_texts.h"

namespace kestrum {

struct PieChartData;

// What the main window's rules need of the window itself. frmMain implements it over Qt;
// tests implement it with a recorder. All calls come on the window thread.
class MainView {
 public:
  virtual ~MainView() = default;
  virtual void SetStatus(const std::string& text) = 0;     // the "Status" panel
  virtual void SetPathLabel(const std::string& text) = 0;  // lbPathLabel
  virtual void ShowMessage(const std::string& text) = 0;   // OK box titled with the product
  virtual void SetTreeEnabled(bool enabled) = 0;
  virtual void SelectNode(NodeId node) = 0;                 // select and scroll to it
  virtual void ExpandNode(NodeId node) = 0;                 // expand it; the view then reports
                                                            // the expansion to the explorer
  virtual void CloseWindow() = 0;                           // as the window's close box
  virtual void ShowBars(bool toolbar, bool statusBar) = 0;  // and lay the window out again
  virtual void SyncToggles() = 0;  // mirror the toggles onto the buttons and menu checks
  // The pie chart over the list's area, and back to the list.
  virtual void ShowPieChart(const PieChartData& /*chart*/) {}
  virtual void HidePieChart() {}
  // The list's popup menu FileMenu, at the pointer.
  virtual void PopupFileMenu() {}
  // Opens a folder in the file manager (as the trash view when trashView); false when no
  // one could be asked.
  virtual bool ShellOpen(const std::string& /*path*/, bool /*trashView*/) { return false; }
};

// The window's switches, held here and mirrored by the two-state buttons and menu checks.
struct ViewToggles {
  bool Toolbar = true;
  bool StatusBar = true;
  bool CDDrives = false;
  bool ShowFiles = false;
  bool Allocated = false;
};

// The main window's presentation logic: discovery into the tree, the command dispatch of
// the menus and the toolbar, and the switches. Window thread only.
class MainPresenter {
 public:
  using FileSysFactory = std::function<std::unique_ptr<FileSystemService>()>;

  MainPresenter(MainView& view, FileSysFactory makeFileSys);

  CExplorer& Explorer() { return explorer_; }
  ListData& List() { return list_; }
  DiskCollection* DiskList() const { return diskList_.get(); }
  const FileSystemService* FileSys() const { return fileSys_.get(); }
  ViewToggles& Toggles() { return toggles_; }
  const std::string& Status() const { return status_; }
  // The node the list shows (`SelectedNode`): kNoNode before the first listing.
  NodeId SelectedNode() const { return selectedNode_; }
  // True while a listing is read and not yet shown; commands that act on rows refuse to run
  // then, since the finished listing would change the rows they were given.
  bool ListingPending() const { return listingPending_; }
  void SetSelectedNode(NodeId node) { selectedNode_ = node; }
  void SetListingPending(bool pending) { listingPending_ = pending; }
  // How the list is listed (sort modes, layouts, the last mouse-up); see listing.h.
  ListingState& Listing() { return listing_; }
  MainView& View() { return view_; }

  // Rediscovers the drives and rebuilds the tree; ends with the root selected and expanded
  // and "Done" in the status line.
  void LoadDisks();
  // Discovery proper: a new model and a new tree with "My Computer" and one node per drive.
  void ScanDisks();
  // The tree's click handler: lists the selected node (navigation.h).
  void tvTreeView_Click();
  // Selects the first node (the root), expands it and runs the tree's click handler.
  void ShowRoot();
  // Selects node, expands it and runs the tree's click handler (after a folder scan).
  void ShowNode(NodeId node);

  // Dispatches a toolbar click by the button's key; unknown keys do nothing.
  void tbToolBar_ButtonClick(const std::string& key);
  // Dispatches a menu entry by its name (menu bar or context menu).
  void MenuClick(const std::string& name);

  void SetStatus(const std::string& text);
  // Clears Scanning; the window calls it first when it closes.
  void Unload();

  // Commands whose work lives in other modules; the window installs them as they come.
  std::function<void()> OnLoadDisk, OnBackUp, OnRefreshList, OnProperties, OnHelpContents,
      OnHelpSearch, OnAbout;
  std::function<void(const std::string& mode)> OnDeleteFiles;
  std::function<void()> OnZip;
  // "Scan &Folder...": the window asks for a folder and scans it (refused while busy).
  std::function<void()> OnScanFolder;
  // The canonical paths of the folders added under the root as entries of their own; each
  // discovery adds them again, unscanned, after the volumes.
  std::vector<std::string> FolderEntries;
  // True while a scan command still has results to attach, even after Stop; commands that
  // change the model are refused until it is false.
  std::function<bool()> Busy;

 private:
  void Toggle(bool& flag);
  bool Refused() const { return Scanning || (Busy && Busy()); }
  // Refused() for a command the user gave: says so in the status line.
  bool RefusedBusy();
  // The popup's entries do not test Scanning; they are refused while a command is busy.
  bool PopupRefused();
  // True, with a status line, while a listing is still read: commands on rows refuse then.
  bool RowsPending();

  MainView& view_;
  FileSysFactory makeFileSys_;
  CExplorer explorer_;
  ListData list_;
  std::unique_ptr<DiskCollection> diskList_;
  std::unique_ptr<FileSystemService> fileSys_;
  ViewToggles toggles_;
  std::string status_;
  NodeId selectedNode_ = kNoNode;
  bool listingPending_ = false;
  ListingState listing_;
};

}  // namespace kestrum
