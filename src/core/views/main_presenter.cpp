#include "core/views/main_presenter.h"

#include "core/globals.h"
#include "core/model/folder_entries.h"
#include "core/trace/trace.h"
#include "core/views/navigation.h"

namespace kestrum {

MainPresenter::MainPresenter(MainView& view, FileSysFactory makeFileSys)
    : view_(view), makeFileSys_(std::move(makeFileSys)) {
  InstallNavigation(*this);
}

void MainPresenter::SetStatus(const std::string& text) {
  status_ = text;
  view_.SetStatus(text);
}

void MainPresenter::ScanDisks() {
  if (Tracing()) Trace("Globals.ScanDisks");
  // The adapter is reset rather than replaced, so the window's models stay bound to it.
  explorer_.Init(&list_);
  diskList_.reset();
  fileSys_ = makeFileSys_();
  diskList_ = DiscoverDrives(
      *fileSys_, [this](const std::string& m) { view_.ShowMessage(m); }, FolderEntries);
  DiskObject* root = diskList_->Item(1);
  root->Node = explorer_.AddNode(root->Label(), root, root->Children, kNoNode, root->ClosedIcon,
                                 std::nullopt, false);
  for (std::size_t i = 2; i <= diskList_->Count(); ++i) {
    DiskObject* d = diskList_->Item(i);
    d->Node =
        explorer_.AddNode(d->Label(), d, d->Children, root->Node, d->ClosedIcon, d->OpenIcon, true);
    if (Tracing()) Trace("  found: " + d->OwnPath() + d->Name);
  }
}

void MainPresenter::LoadDisks() {
  if (Tracing()) Trace("frmMain.LoadDisks");
  Scanning = true;
  SetStatus("Finding disks...");
  view_.SetPathLabel("");
  ScanDisks();
  Scanning = false;
  SetStatus("Done");
  ShowRoot();
}

void MainPresenter::ShowRoot() {
  const NodeId root = explorer_.FirstNode();
  explorer_.SetSelectedItem(root);
  view_.SelectNode(root);
  view_.ExpandNode(root);
  tvTreeView_Click();
}

void MainPresenter::ShowNode(NodeId node) {
  explorer_.SetSelectedItem(node);
  view_.SelectNode(node);
  view_.ExpandNode(node);
  tvTreeView_Click();
}

void MainPresenter::tvTreeView_Click() { kestrum::tvTreeView_Click(*this); }

bool MainPresenter::RowsPending() {
  if (!listingPending_) return false;
  // Queued, the command would act on whatever rows the finished listing selects.
  SetStatus(kListingPendingStatus);
  return true;
}

bool MainPresenter::RefusedBusy() {
  if (!Refused()) return false;
  SetStatus(kBusyStatus);
  return true;
}

bool MainPresenter::PopupRefused() {
  if (!(Busy && Busy())) return false;
  SetStatus(kBusyStatus);
  return true;
}

void MainPresenter::Unload() { Scanning = false; }

void MainPresenter::Toggle(bool& flag) {
  flag = !flag;
  view_.SyncToggles();
}

void MainPresenter::tbToolBar_ButtonClick(const std::string& key) {
  auto call = [](const std::function<void()>& f) {
    if (f) f();
  };
  if (key == "ScanDisks") {
    if (!RefusedBusy()) call(OnLoadDisk);
  } else if (key == "Stop") {
    Scanning = false;
  } else if (key == "Back") {
    if (!RefusedBusy()) call(OnBackUp);
  } else if (key == "CDDrives") {
    Toggle(toggles_.CDDrives);
  } else if (key == "Files" || key == "Allocated") {
    // The list follows the switch only when no scan is changing the model under it.
    Toggle(key == "Files" ? toggles_.ShowFiles : toggles_.Allocated);
    if (!Refused()) call(OnRefreshList);
  } else if (key == "Delete" || key == "Recycle") {
    if (!RefusedBusy() && !RowsPending() && OnDeleteFiles) OnDeleteFiles(key);
  } else if (key == "Zip") {
    if (!RefusedBusy() && !RowsPending()) call(OnZip);
  }
}

void MainPresenter::MenuClick(const std::string& name) {
  auto call = [](const std::function<void()>& f) {
    if (f) f();
  };
  if (name == "mnuScanDisks") {
    // Rediscovery would replace the model under a running scan, so it waits for the scan.
    if (!RefusedBusy()) LoadDisks();
  } else if (name == "mnuScanFolder") {
    if (!RefusedBusy()) call(OnScanFolder);
  } else if (name == "mnuScanStop") {
    Scanning = false;
  } else if (name == "mnuFileRecycle" || name == "mnuFileDelete") {
    if (!RefusedBusy() && !RowsPending() && OnDeleteFiles)
      OnDeleteFiles(name == "mnuFileDelete" ? "Delete" : "Recycle");
  } else if (name == "mnuFileZip") {
    if (!RefusedBusy() && !RowsPending()) call(OnZip);
  } else if (name == "mnuFileProp" || name == "FileMenuProperties") {
    if (!RowsPending()) call(OnProperties);
  } else if (name == "mnuFileExit") {
    view_.CloseWindow();
  } else if (name == "mnuViewToolbar" || name == "mnuViewStatusBar") {
    bool& flag = name == "mnuViewToolbar" ? toggles_.Toolbar : toggles_.StatusBar;
    flag = !flag;
    view_.SyncToggles();
    view_.ShowBars(toggles_.Toolbar, toggles_.StatusBar);
  } else if (name == "mnuViewCD") {
    Toggle(toggles_.CDDrives);
  } else if (name == "mnuViewShowFiles" || name == "mnuViewAllocated") {
    Toggle(name == "mnuViewShowFiles" ? toggles_.ShowFiles : toggles_.Allocated);
    if (!Refused()) call(OnRefreshList);
  } else if (name == "mnuViewBackUp") {
    if (!RefusedBusy()) call(OnBackUp);
  } else if (name == "mnuHelpContents") {
    call(OnHelpContents);
  } else if (name == "mnuHelpSearch") {
    call(OnHelpSearch);
  } else if (name == "mnuHelpAbout") {
    call(OnAbout);
  } else if (name == "FileMenuRecycle" || name == "FileMenuDelete") {
    // The popup does not test Scanning, but nothing changes the model while a command runs.
    if (!PopupRefused() && !RowsPending() && OnDeleteFiles)
      OnDeleteFiles(name == "FileMenuDelete" ? "Delete" : "Recycle");
  } else if (name == "FileMenuZip") {
    if (!PopupRefused() && !RowsPending()) call(OnZip);
  }
  // "mnuViewOptions" has no action.
}

}  // namespace kestrum
