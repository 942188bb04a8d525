#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/adapter/explorer.h"
#include "core/adapter/list_data.h"
#include "core/commands/command_slot.h"
#include "core/commands/command_window.h"
#include "core/commands/delete_files.h"
#include "core/commands/disk_loader.h"
#include "core/commands/refresh_command.h"
#include "core/commands/targets.h"
#include "core/commands/user_commands.h"
#include "core/fileops/launch.h"
#include "core/commands/window_queue.h"
#include "core/platform/settings.h"
#include "core/tree/discovery.h"
#include "core/presenter/actions.h"
#include "core/presenter/comparing.h"
#include "core/presenter/exclude_form.h"
#include "core/presenter/listing_state.h"
#include "core/presenter/search_results.h"
#include "core/presenter/treemap_pane.h"
#include "core/presenter/types_pane.h"

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
  // The warning box of a delete or trash (see CommandWindow::Confirm); true for OK.
  virtual bool Confirm(const std::string& /*text*/, const std::string& /*details*/) {
    return false;
  }
  // Starts or stops the one-second timer that calls MainPresenter::ShowProgress.
  virtual void SetProgressTimer(bool /*running*/) {}
  // The modal zip window; true when it zipped anything and the window still stands.
  virtual bool RunZipWindow(ZipRequest /*request*/) { return false; }
  // The properties of one object: the file manager's sheet, or Kestrum's own window.
  virtual void ShowProperties(const RowTarget& /*target*/) {}
  // The 1-based row the list's cursor is on, 0 when none (the properties command's row).
  virtual std::size_t CurrentListRow() const { return 0; }
  // Asks for a folder to scan; "" when the user cancels. Exact bytes.
  virtual std::string AskFolder() { return {}; }
  // Asks for saved scans to open; none when the user cancels.
  virtual std::vector<std::string> AskScanFiles() { return {}; }
  // Asks for the file to export the scan of folder into; "" when the user cancels.
  virtual std::string AskExportFile(const std::string& /*folder*/) { return {}; }
  virtual void OpenHelpContents() {}
  virtual void OpenHelpSearch() {}
  virtual void OpenAbout() {}
  // Selects the 1-based row alone in the list and scrolls to it (the map's clicks); 0
  // leaves no row selected.
  virtual void SelectListRow(std::size_t /*row*/) {}
  // The treemap pane's map (MainPresenter::MapPane) was replaced, or its highlight moved.
  virtual void TreemapChanged() {}
  virtual void TreemapHighlightChanged() {}
  // Puts text on the clipboard as text/plain, exact bytes, and uriList beside it as
  // text/uri-list when it is not empty.
  virtual void SetClipboard(const std::string& /*text*/, const std::string& /*uriList*/) {}
  // Opens the output window of a user command titled title; null leaves the output unseen.
  virtual std::shared_ptr<CommandOutput> OpenCommandOutput(const std::string& /*title*/) {
    return nullptr;
  }
  // The dialog of the user's commands over commands; true when they were changed and kept.
  virtual bool EditUserCommands(std::vector<UserCommand>& /*commands*/) { return false; }
  // The user's commands changed: the menus show them again.
  virtual void UserCommandsChanged() {}
  // The Find dialog over form; folder is the path of the folder selected in the tree ("":
  // none, only everything can be searched). check gives the message for a form that cannot
  // be searched ("" when it can), shown in the dialog, which stays open. True for a search.
  virtual bool AskSearch(SearchForm& /*form*/, const std::string& /*folder*/,
                         const std::function<std::string(const SearchForm&)>& /*check*/) {
    return false;
  }
  // The dialog of the exclude rules over form; check gives the message for rules that cannot
  // be kept ("" when they can), shown in the dialog, which stays open. True to keep them.
  virtual bool EditExcludeRules(ExcludeForm& /*form*/,
                                const std::function<std::string(const ExcludeForm&)>& /*check*/) {
    return false;
  }
  // The "File Types" pane was shown, hidden, or its count or message changed.
  virtual void TypesChanged() {}
  // The "Compare With" dialog over offer: an earlier scan or a saved scan file to compare
  // with, "None", or Cancel.
  virtual CompareChoice AskCompare(const CompareOffer& /*offer*/) { return {}; }
  // Asks for the size of "Files Larger Than..." into text, checked as AskSearch checks.
  virtual bool AskSize(std::string& /*text*/,
                       const std::function<std::string(const std::string&)>& /*check*/) {
    return false;
  }
};

// The window's switches, held here and mirrored by the two-state buttons and menu checks.
struct ViewToggles {
  bool Toolbar = true;
  bool StatusBar = true;
  bool CDDrives = false;
  bool ShowFiles = false;
  bool Allocated = false;
  // How the next scan counts a file with several names: once (the default) or at each name.
  bool HardLinksOnce = true;
  // Whether the next full scan enters the file systems mounted below its folder.
  bool CrossFileSystems = false;
};

// The status line of folders given to scan while a command runs.
inline constexpr const char* kFolderScanRefused =
    "A command is still running: the folder is not scanned";

// The main window's presentation logic: discovery into the tree, the commands of the menus
// and the toolbar with their guards, the switches, and the long commands, which run in one
// command slot and reach the window through this presenter. Window thread only.
class MainPresenter : public CommandWindow {
 public:
  using FileSysFactory = std::function<std::unique_ptr<FileSystemService>()>;

  // makeFileSys serves every discovery, and once the scans' readiness and capacity checks;
  // drives, when given, stands in for those checks (tests) and must outlive the presenter.
  MainPresenter(MainView& view, FileSysFactory makeFileSys, const DriveSource* drives = nullptr);
  // Stops a running command and waits for its worker.
  ~MainPresenter() override;
  MainPresenter(const MainPresenter&) = delete;
  MainPresenter& operator=(const MainPresenter&) = delete;

  CExplorer& Explorer() { return explorer_; }
  ListData& List() { return list_; }
  DiskCollection* DiskList() const { return diskList_.get(); }
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
  // The treemap pane below the list (treemap_pane.h).
  TreemapPane& MapPane() { return mapPane_; }
  // The "File Types" pane (types_pane.h).
  TypesPane& TypesPaneState() { return typesPane_; }
  MainView& View() { return view_; }
  // The way from workers to the window thread; the window connects it once it is up. Until
  // then file listings are read on the caller's thread.
  const std::shared_ptr<WindowQueue>& Queue() const { return queue_; }
  // The slot every long command runs in, and the scan command (null once Unload has run).
  CommandSlot& Slot() { return *slot_; }
  DiskLoader* Loader() const { return loader_.get(); }

  // Rediscovers the drives and rebuilds the tree; ends with the root selected and expanded
  // and "Done" in the status line.
  void LoadDisks();
  // Discovery proper: a new model and a new tree with "My Computer" and one node per drive.
  void ScanDisks();
  // The tree's click handler: lists the selected node (navigation.h).
  void tvTreeView_Click();

  // Dispatches a toolbar click by the button's key; unknown keys do nothing.
  void tbToolBar_ButtonClick(const std::string& key);
  // Dispatches a menu entry by its name (menu bar or context menu); unknown names do nothing.
  void MenuClick(const std::string& name);
  // Gives command unless guard refuses it.
  void Execute(Command command, Guard guard);
  // True when guard refuses a command now. tell: say why in the status line. The one place
  // where the busy and listing guards are decided.
  bool Refused(Guard guard, bool tell = true);

  // Adds each path under "My Computer" as a folder entry (a volume's mount point stands for
  // that volume) and scans them as one command; paths that cannot be scanned get one message.
  // Refused, with a status line, while a command is busy.
  void ScanFolders(const std::vector<std::string>& paths);
  // The one-second timer: shows the running command's progress line.
  void ShowProgress();

  void SetStatus(const std::string& text) override;
  // The window is closing: clears Scanning, waits for a running command's worker and drops
  // whatever it has not reported yet.
  void Unload();

  // The per-user settings file that keeps switches between runs ("" keeps nothing): "Count
  // Hard Links Once" and the treemap pane's state (shown, and its share of the height). Each
  // is written to the file when it changes, so that it survives whatever becomes of the
  // window: a window closed while minimized keeps its old placement, never its old switches.
  // The toolbar's two-state buttons are not kept: they start released on every run.
  void SetSettingsFile(std::string path) { settingsPath_ = std::move(path); }
  // The folder of the history of scans ("" keeps none, as in tests): every completed scan of
  // a drive or folder entry is kept there while the kept switch "KeepScanHistory" is on (the
  // default), at most 10 per root and 500 MB in all.
  void SetHistoryFolder(std::string folder) { historyFolder_ = std::move(folder); }
  const std::string& HistoryFolderPath() const { return historyFolder_; }
  // The comparison with an earlier scan the lists of its drive's folders show (comparing.h);
  // null when not comparing.
  std::shared_ptr<const ActiveComparison> Comparing;
  // Whether completed scans are kept in the history (View, "Keep Scan History"): read by the
  // next scan, so one that runs keeps what it was started with.
  bool KeepHistory = true;
  // Takes the kept switches from settings (at start); a missing or garbled key gives its
  // default.
  void ReadKeptSettings(const IniFile& settings);
  // Puts the kept switches into settings, leaving its other keys as they are.
  void WriteKeptSettings(IniFile& settings) const;
  // Writes the kept switches into the settings file now, keeping whatever else it holds (a
  // garbled file is replaced by a clean one). False, with errorText, when it cannot be
  // written; the switches stay as they are in the window.
  bool KeepSettings(std::string* errorText = nullptr);

  // The canonical paths of the folders added under the root as entries of their own; each
  // discovery adds them again, unscanned, after the volumes.
  std::vector<std::string> FolderEntries;
  // How scans, and saved scans opened, count a file of several names: the View switch.
  HardLinkRule LinkRule() const;
  // The exclude rules of the settings file as they are now: a full scan reads them when it
  // starts, so rules changed after a scan apply from the next one. Null when there are none,
  // or when they do not compile (the trace names the fault).
  std::shared_ptr<const ExcludeRules> SettingsExcludes() const;

  // The results folder under "My Computer" (search_results.h); null until a first search.
  std::unique_ptr<DiskObject>& Results() { return results_; }
  // What the Find dialog and "Files Larger Than..." were last given, offered again.
  SearchForm LastSearch;
  std::string LastLargerThan = "1G";
  // The user's own commands, read from the settings file at settingsPath, where the dialog
  // keeps them.
  void LoadUserCommands(const std::string& settingsPath);
  const std::vector<UserCommand>& UserCommands() const { return userCommands_; }
  // How programs are started and files opened (the system's unless replaced); never null.
  Launcher& Launch() { return *launcher_; }
  void SetLauncher(std::unique_ptr<Launcher> launcher) { launcher_ = std::move(launcher); }
  // Where "Open Terminal Here" looks: $TERMINAL and $PATH unless a test sets these.
  std::function<std::string(const char* name)> Environment;

  // CommandWindow: the long commands reach the window through these.
  void ShowMessage(const std::string& text) override { view_.ShowMessage(text); }
  bool Confirm(const std::string& text, const std::string& details) override {
    return view_.Confirm(text, details);
  }
  void SetTreeEnabled(bool enabled) override { view_.SetTreeEnabled(enabled); }
  void ClearPathLabel() override { view_.SetPathLabel(""); }
  void ClearList() override;
  void SetProgressTimer(bool running) override { view_.SetProgressTimer(running); }
  // Selects the first node (the root), expands it and runs the tree's click handler.
  void ShowRoot() override;
  // Selects node, expands it and runs the tree's click handler (after a folder scan).
  void ShowNode(NodeId node) override;
  void Relist() override;
  void ShowListStatus() override;
  void ShowRefreshed(NodeId selected, const std::vector<NodeId>& expanded) override;
  bool RunZipWindow(ZipRequest request) override { return view_.RunZipWindow(std::move(request)); }

 private:
  void Toggle(bool& flag);
  // A view switch that changes the list: relisted unless a command is changing the model.
  void ToggleListed(bool& flag);
  void LoadSelectedDisk();
  // F5: the folder selected in the tree, or the whole scan of a selected drive or entry.
  void RefreshSelected();
  // The row menu's entry: the folder of the row under the cursor.
  void RefreshRow();
  // A folder's subtree, or its drive's whole scan for a root folder.
  void RefreshFolder(DiskObject* folder);
  // The scanned folder that holds a file row's target (through its drive's folders); null
  // when its drive or folder is no longer in the model.
  DiskObject* FolderOfTarget(const RowTarget& t);
  void Properties();
  // The real files and folders among the selected rows; a message when none is. withSaved
  // also takes the results folder's rows found in saved scans (for Copy Path).
  std::vector<RowTarget> SelectedTargets(bool withSaved = false);
  void OpenRows();
  void ShowInFolder();
  void OpenTerminals();
  void CopyPaths();
  void EditCommands();
  // The exclude rules dialog over the settings' rules; kept in the settings file when OK.
  void EditExcludes();
  void RunUserCommand(std::size_t index);

  MainView& view_;
  FileSysFactory makeFileSys_;
  std::string settingsPath_;
  std::string historyFolder_;
  // The history the scans write to, or null: made from historyFolder_ and KeepHistory.
  std::shared_ptr<const ScanHistory> HistoryForScans() const;
  CExplorer explorer_;
  ListData list_;
  std::unique_ptr<DiskCollection> diskList_;
  std::unique_ptr<DiskObject> results_;
  std::unique_ptr<FileSystemService> fileSys_;
  ViewToggles toggles_;
  std::string status_;
  NodeId selectedNode_ = kNoNode;
  bool listingPending_ = false;
  ListingState listing_;
  TreemapPane mapPane_;
  TypesPane typesPane_;
  std::shared_ptr<WindowQueue> queue_;
  // The scans' own view of the volumes: it outlives every rediscovery.
  std::unique_ptr<FileSystemService> driveFs_;
  std::unique_ptr<DriveSource> ownDrives_;
  std::unique_ptr<CommandSlot> slot_;
  // After the slot: destroyed first, each joining its worker while the slot and model live.
  std::unique_ptr<DiskLoader> loader_;
  std::unique_ptr<DeleteFilesCommand> deleter_;
  std::unique_ptr<RefreshCommand> refresher_;
  std::unique_ptr<UserCommandRunner> runner_;
  std::unique_ptr<Launcher> launcher_;
  std::vector<UserCommand> userCommands_ = ExampleCommands();
};

}  // namespace kestrum
