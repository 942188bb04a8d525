#include "core/presenter/main_presenter.h"

#include <cstdlib>

#include "core/commands/folder_scan.h"
#include "core/commands/row_tools.h"
#include "core/commands/properties_command.h"
#include "core/commands/status_texts.h"
#include "core/commands/zip_command.h"
#include "core/tree/folder_entries.h"
#include "core/scan/scanning.h"
#include "core/presenter/listing.h"
#include "core/presenter/navigation.h"
#include "core/presenter/placement.h"
#include "core/presenter/saved_scans.h"
#include "core/trace/trace.h"

namespace kestrum {

MainPresenter::MainPresenter(MainView& view, FileSysFactory makeFileSys, const DriveSource* drives)
    : view_(view),
      makeFileSys_(std::move(makeFileSys)),
      queue_(std::make_shared<WindowQueue>()),
      slot_(std::make_unique<CommandSlot>(queue_)) {
  if (!drives) {
    driveFs_ = makeFileSys_();
    ownDrives_ = std::make_unique<SystemDriveSource>(*driveFs_);
    drives = ownDrives_.get();
  }
  loader_ = std::make_unique<DiskLoader>(*this, explorer_, *drives, *slot_);
  deleter_ = std::make_unique<DeleteFilesCommand>(*this, explorer_, list_, *slot_);
  deleter_->DiskList = [this] { return diskList_.get(); };
  refresher_ = std::make_unique<RefreshCommand>(*this, explorer_, *drives, *slot_);
  runner_ = std::make_unique<UserCommandRunner>(*this, *slot_);
  launcher_ = std::make_unique<SystemLauncher>();
  Environment = [](const char* name) {
    const char* v = std::getenv(name);
    return std::string(v ? v : "");
  };
}

MainPresenter::~MainPresenter() { queue_->Disconnect(); }

void MainPresenter::SetStatus(const std::string& text) {
  status_ = text;
  view_.SetStatus(text);
}

void MainPresenter::ScanDisks() {
  if (Tracing()) Trace("Globals.ScanDisks");
  // The adapter is reset rather than replaced, so the window's models stay bound to it.
  explorer_.Init(&list_);
  std::vector<std::unique_ptr<DiskObject>> saved = TakeSavedScans(diskList_.get());
  diskList_.reset();
  fileSys_ = makeFileSys_();
  diskList_ = DiscoverDrives(
      *fileSys_, [this](const std::string& m) { view_.ShowMessage(m); }, FolderEntries);
  DiskObject* root = diskList_->Item(1);
  root->Node = explorer_.AddNode(root->Label(), root, root->Children, kNoNode, root->ClosedIcon(),
                                 std::nullopt, false);
  for (std::size_t i = 2; i <= diskList_->Count(); ++i) {
    DiskObject* d = diskList_->Item(i);
    d->Node = explorer_.AddNode(d->Label(), d, d->Children, root->Node, d->ClosedIcon(),
                                d->OpenIcon(), true);
    if (Tracing()) Trace("  found: " + d->OwnPath() + d->Name);
  }
  for (auto& s : saved) AddSavedScan(*this, std::move(s));
  // The results folder lists copies of what it found: it outlives the rediscovery.
  if (results_) results_->Node = kNoNode;
  KeepResultsLast(*this);
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

void MainPresenter::ClearList() { CancelListing(*this); }

void MainPresenter::Relist() { kestrum::Relist(*this); }

void MainPresenter::ShowListStatus() { SetStatus(listing_.StatusLine); }

void MainPresenter::ShowRefreshed(NodeId selected, const std::vector<NodeId>& expanded) {
  for (NodeId n : expanded) view_.ExpandNode(n);
  explorer_.SetSelectedItem(selected);
  view_.SelectNode(selected);
  tvTreeView_Click();
}

bool MainPresenter::Refused(Guard guard, bool tell) {
  const bool slotBusy = slot_->Busy();
  const char* why = nullptr;
  switch (guard) {
    case Guard::None:
      return false;
    case Guard::Scan:
      return Scanning;
    case Guard::Busy:
    case Guard::BusyDisk:
    case Guard::BusyRows:
      if (Scanning || slotBusy) why = kBusyStatus;
      break;
    case Guard::SlotRows:
      if (slotBusy) why = kBusyStatus;
      break;
    case Guard::Rows:
    case Guard::ReadRows:
      break;
  }
  // Queued, a command on rows would act on whatever rows the finished listing selects.
  const bool onRows = guard == Guard::BusyRows || guard == Guard::SlotRows || guard == Guard::Rows;
  if (!why && (onRows || guard == Guard::ReadRows) && listingPending_)
    why = kListingPendingStatus;
  // A saved scan's entry and rows stand for files of another time or machine: what would
  // read or change this computer's files through them is refused, whatever the path says.
  if (!why && (onRows || guard == Guard::BusyDisk)) {
    const NodeId node = onRows ? selectedNode_ : explorer_.SelectedItem();
    if (IsImported(ObjectOf(explorer_, node))) why = kSavedScanStatus;
  }
  if (!why) return false;
  if (tell) SetStatus(why);
  return true;
}

void MainPresenter::Unload() {
  Scanning = false;
  // Each command stops and joins the slot's worker if it runs it; whatever they posted and
  // has not run yet is dropped.
  loader_.reset();
  deleter_.reset();
  refresher_.reset();
  runner_.reset();
  queue_->Disconnect();
}

void MainPresenter::Toggle(bool& flag) {
  flag = !flag;
  view_.SyncToggles();
}

void MainPresenter::ToggleListed(bool& flag) {
  Toggle(flag);
  if (!Refused(Guard::Busy, false)) Relist();
}

void MainPresenter::tbToolBar_ButtonClick(const std::string& key) {
  if (const ToolButton* b = FindToolButton(key)) Execute(b->Does, b->When);
}

void MainPresenter::MenuClick(const std::string& name) {
  if (const MenuEntry* e = FindMenuEntry(name)) {
    Execute(e->Does, e->When);
    return;
  }
  if (const long index = UserCommandIndex(name); index >= 0 && !Refused(kUserCommandGuard))
    RunUserCommand(static_cast<std::size_t>(index));
}

void MainPresenter::Execute(Command command, Guard guard) {
  if (Refused(guard)) return;
  switch (command) {
    case Command::None:
      break;
    case Command::LoadDisks:
      LoadDisks();
      break;
    case Command::LoadDisk:
      LoadSelectedDisk();
      break;
    case Command::ScanFolder:
      if (const std::string folder = view_.AskFolder(); !folder.empty()) ScanFolders({folder});
      break;
    case Command::ExportScan:
      ExportSelected(*this);
      break;
    case Command::OpenScan:
      ImportScans(*this, view_.AskScanFiles());
      break;
    case Command::CompareWith:
      kestrum::CompareWith(*this);
      break;
    case Command::Stop:
      CommandSlot::Stop();
      break;
    case Command::Recycle:
      if (deleter_) deleter_->DeleteFiles(DeleteAction::Recycle, selectedNode_);
      break;
    case Command::Delete:
      if (deleter_) deleter_->DeleteFiles(DeleteAction::Delete, selectedNode_);
      break;
    case Command::Zip:
      ZipFiles(*this, *slot_, list_, explorer_, selectedNode_);
      break;
    case Command::Properties:
      Properties();
      break;
    case Command::Exit:
      view_.CloseWindow();
      break;
    case Command::ToggleToolbar:
    case Command::ToggleStatusBar:
      Toggle(command == Command::ToggleToolbar ? toggles_.Toolbar : toggles_.StatusBar);
      view_.ShowBars(toggles_.Toolbar, toggles_.StatusBar);
      break;
    case Command::ToggleCDDrives:
      Toggle(toggles_.CDDrives);
      break;
    case Command::ToggleShowFiles:
      ToggleListed(toggles_.ShowFiles);
      break;
    case Command::ToggleAllocated:
      ToggleListed(toggles_.Allocated);
      break;
    case Command::BackUp:
      BackUpTree(*this);
      break;
    case Command::Refresh:
      RefreshSelected();
      break;
    case Command::RefreshRow:
      RefreshRow();
      break;
    case Command::ToggleHardLinks:
      Toggle(toggles_.HardLinksOnce);
      KeepSettings();
      break;
    case Command::ToggleCrossFs:
      Toggle(toggles_.CrossFileSystems);
      KeepSettings();
      break;
    case Command::ToggleKeepHistory:
      Toggle(KeepHistory);
      KeepSettings();
      break;
    case Command::EditExcludes:
      EditExcludes();
      break;
    case Command::ToggleTreemap:
      SetTreemapShown(*this, !mapPane_.Shown);
      view_.SyncToggles();
      KeepSettings();
      break;
    case Command::HelpContents:
      view_.OpenHelpContents();
      break;
    case Command::HelpSearch:
      view_.OpenHelpSearch();
      break;
    case Command::About:
      view_.OpenAbout();
      break;
    case Command::Open:
      OpenRows();
      break;
    case Command::ShowInFolder:
      ShowInFolder();
      break;
    case Command::OpenTerminal:
      OpenTerminals();
      break;
    case Command::CopyPath:
      CopyPaths();
      break;
    case Command::EditCommands:
      EditCommands();
      break;
    case Command::Find:
      FindFiles(*this);
      break;
    case Command::ToggleTypes:
      SetTypesShown(*this, !typesPane_.Shown);
      view_.SyncToggles();
      KeepSettings();
      break;
    case Command::FindNewest:
      RunQuickList(*this, QuickList::Newest);
      break;
    case Command::FindOldest:
      RunQuickList(*this, QuickList::Oldest);
      break;
    case Command::FindHardLinks:
      RunQuickList(*this, QuickList::HardLinks);
      break;
    case Command::FindSparse:
      RunQuickList(*this, QuickList::Sparse);
      break;
    case Command::FindLarger:
      RunQuickList(*this, QuickList::Larger);
      break;
  }
}

void MainPresenter::ReadKeptSettings(const IniFile& settings) {
  toggles_.HardLinksOnce = ReadSwitch(settings, kHardLinksOnceKey, true);
  KeepHistory = ReadSwitch(settings, kKeepHistoryKey, true);
  toggles_.CrossFileSystems = ReadSwitch(settings, kCrossFileSystemsKey, false);
  const TreemapSettings map = ReadTreemapSettings(settings);
  mapPane_.Shown = map.Shown;
  mapPane_.Split = map.Split;
  mapPane_.Colouring = map.Colouring;
  typesPane_.Shown = ReadSwitch(settings, kTypesPaneKey, false);
}

void MainPresenter::WriteKeptSettings(IniFile& settings) const {
  WriteSwitch(settings, kHardLinksOnceKey, toggles_.HardLinksOnce);
  WriteSwitch(settings, kKeepHistoryKey, KeepHistory);
  WriteSwitch(settings, kCrossFileSystemsKey, toggles_.CrossFileSystems);
  WriteTreemapSettings(settings, {mapPane_.Shown, mapPane_.Split, mapPane_.Colouring});
  WriteSwitch(settings, kTypesPaneKey, typesPane_.Shown);
}

bool MainPresenter::KeepSettings(std::string* errorText) {
  if (settingsPath_.empty()) return true;
  IniFile settings;
  settings.Load(settingsPath_);
  WriteKeptSettings(settings);
  std::string err;
  if (settings.Save(settingsPath_, &err)) return true;
  if (Tracing()) Trace("frmMain.KeepSettings: " + err);
  if (errorText) *errorText = err;
  return false;
}

std::shared_ptr<const ScanHistory> MainPresenter::HistoryForScans() const {
  if (historyFolder_.empty() || !KeepHistory) return nullptr;
  return std::make_shared<const ScanHistory>(historyFolder_);
}

HardLinkRule MainPresenter::LinkRule() const {
  return toggles_.HardLinksOnce ? HardLinkRule::Once : HardLinkRule::Each;
}

std::shared_ptr<const ExcludeRules> MainPresenter::SettingsExcludes() const {
  if (settingsPath_.empty()) return nullptr;
  IniFile settings;
  if (settings.Load(settingsPath_) != IniFile::LoadResult::Loaded) return nullptr;
  std::vector<std::string> errors;
  std::vector<ExcludeRule> rules = LoadExcludeRules(settings, &errors);
  if (Tracing())
    for (const std::string& e : errors) Trace("frmMain.SettingsExcludes: " + e);
  if (rules.empty()) return nullptr;
  std::string error;
  auto compiled = ExcludeRules::Make(std::move(rules), error);
  if (!compiled && Tracing()) Trace("frmMain.SettingsExcludes: " + error);
  return compiled;
}

void MainPresenter::LoadSelectedDisk() {
  if (!loader_ || !diskList_) return;
  loader_->Links = LinkRule();
  loader_->History = HistoryForScans();
  loader_->Excludes = SettingsExcludes();
  loader_->CrossFileSystems = toggles_.CrossFileSystems;
  loader_->LoadDisk(ObjectOf(explorer_, explorer_.SelectedItem()), *diskList_, toggles_.CDDrives);
  loader_->CrossFileSystems = false;
}

void MainPresenter::RefreshFolder(DiskObject* folder) {
  // A saved scan is nothing on this computer: never read again from here.
  if (!folder || folder->Class != ObjectClass::Folder || IsImported(folder)) return;
  if (folder->Level >= 2) {
    if (refresher_) refresher_->Refresh(folder);
    return;
  }
  // The root folder is the whole drive: scanned again as the scan command scans it.
  DiskObject* drive = DriveOf(folder);
  if (!loader_ || !diskList_ || !drive) return;
  loader_->Links = LinkRule();
  loader_->History = HistoryForScans();
  // A refresh leaves out what the drive's scan left out, whatever the settings say now.
  loader_->Excludes = ExcludeRulesOfLines(drive->Drive().ExcludeLines);
  loader_->CrossFileSystems = drive->Drive().CrossFileSystems;
  loader_->LoadDisk(drive, *diskList_, toggles_.CDDrives);
  loader_->CrossFileSystems = false;
}

void MainPresenter::RefreshSelected() {
  DiskObject* selected = ObjectOf(explorer_, explorer_.SelectedItem());
  if (!selected) return;
  if (selected->Class == ObjectClass::Drive) {
    // Only a drive that was scanned: an unscanned one has nothing to refresh.
    if (const FolderList* f = selected->DiskObjectsIfAny(); f && !f->Empty()) LoadSelectedDisk();
    return;
  }
  RefreshFolder(selected);
}

void MainPresenter::RefreshRow() {
  DiskObject* listed = ObjectOf(explorer_, selectedNode_);
  const ListRow* row = list_.Item(view_.CurrentListRow());
  DiskObject* folder = listed;
  if (row)
    if (const auto node = TagNode(row->Tag)) folder = ObjectOf(explorer_, *node);
  // A file row stands for the folder it lies in: the one listed, or for a row of the
  // largest-files or results folder, the folder its path names on its drive.
  if (row && IsFileTag(row->Tag)) {
    folder = listed;
    if (listed && listed->Class != ObjectClass::Folder) {
      const TargetSelection one = SelectFileTargets(list_, explorer_, selectedNode_, false,
                                                    view_.CurrentListRow());
      folder = one.Targets.empty() ? nullptr : FolderOfTarget(one.Targets.front());
    }
  }
  RefreshFolder(folder);
}

DiskObject* MainPresenter::FolderOfTarget(const RowTarget& t) {
  if (!diskList_) return nullptr;
  DiskObject* drive = !t.DriveKey.empty() ? diskList_->Find(t.DriveKey)
                                           : DriveOf(ObjectOf(explorer_, selectedNode_));
  if (!drive || !IsDriveClass(drive->Class)) return nullptr;
  FolderList* folders = drive->DiskObjectsIfAny() ? &drive->DiskObjects() : nullptr;
  return folders ? folders->Find(t.Folder) : nullptr;
}

void MainPresenter::Properties() {
  const auto target = PropertiesTarget(list_, explorer_, selectedNode_, view_.CurrentListRow());
  if (target) view_.ShowProperties(*target);
}

void MainPresenter::ScanFolders(const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  if (Refused(Guard::Busy, false)) {
    SetStatus(kFolderScanRefused);
    return;
  }
  if (!diskList_ || !fileSys_ || !loader_) return;
  const FolderScanPlan plan =
      PlanFolderScan(*diskList_, *fileSys_, explorer_, FolderEntries, paths);
  if (!plan.Messages.empty()) view_.ShowMessage(JoinMessages(plan.Messages));
  KeepResultsLast(*this);
  loader_->Links = LinkRule();
  loader_->History = HistoryForScans();
  loader_->Excludes = SettingsExcludes();
  loader_->CrossFileSystems = toggles_.CrossFileSystems;
  if (!plan.Targets.empty()) loader_->LoadFolders(plan.Targets, toggles_.CDDrives);
  loader_->CrossFileSystems = false;
}

void MainPresenter::ShowProgress() {
  if (slot_->Busy() && slot_->Progress) SetStatus(slot_->ProgressLine());
}

}  // namespace kestrum

namespace kestrum {

void MainPresenter::LoadUserCommands(const std::string& settingsPath) {
  settingsPath_ = settingsPath;
  IniFile settings;
  if (settings.Load(settingsPath) == IniFile::LoadResult::Loaded)
    userCommands_ = ReadUserCommands(settings);
  else
    userCommands_ = ExampleCommands();
}

std::vector<RowTarget> MainPresenter::SelectedTargets(bool withSaved) {
  TargetSelection selection =
      SelectFileTargets(list_, explorer_, selectedNode_, true, 0, withSaved);
  if (const std::string why = NothingToActOn(selection); !why.empty()) view_.ShowMessage(why);
  return std::move(selection.Targets);
}

void MainPresenter::OpenRows() {
  const std::vector<RowTarget> targets = SelectedTargets();
  if (targets.empty()) return;
  const OpenPlan plan = PlanOpen(targets, MayRunWhenOpened);
  if (!plan.Question.empty() && !view_.Confirm(plan.Question, plan.Details)) return;
  std::string failures;
  for (std::size_t i = 0; i < plan.Uris.size(); ++i) {
    const std::string why = plan.Uris[i].empty() ? "it has no file URI"
                                                 : launcher_->OpenDefault(plan.Uris[i]);
    if (!why.empty()) failures += targets[i].FullPath + ": " + why + "\n";
  }
  if (!failures.empty()) {
    view_.ShowMessage("Could not open:\n" + failures);
    return;
  }
  SetStatus(targets.size() == 1 ? "Opened " + targets[0].FullPath
                                : "Opened " + std::to_string(targets.size()) + " items");
}

void MainPresenter::ShowInFolder() {
  const std::vector<RowTarget> targets = SelectedTargets();
  if (targets.empty()) return;
  launcher_->ShowItems(ItemPaths(targets));
}

void MainPresenter::OpenTerminals() {
  const std::vector<RowTarget> targets = SelectedTargets();
  if (targets.empty()) return;
  const std::string terminal = Environment("TERMINAL");
  const TerminalChoice choice =
      FindTerminal(terminal.empty() ? nullptr : terminal.c_str(), Environment("PATH"));
  if (choice.Argv.empty()) {
    view_.ShowMessage(NoTerminalMessage(choice));
    return;
  }
  const TerminalPlan plan = PlanTerminals(targets);
  if (!plan.Question.empty() && !view_.Confirm(plan.Question, "")) return;
  std::string failures;
  for (const std::string& folder : plan.Folders)
    if (const std::string why = launcher_->Start(choice.Argv, folder); !why.empty())
      failures += folder + ": " + why + "\n";
  if (!failures.empty()) view_.ShowMessage("Could not start " + choice.Argv[0] + " in:\n" + failures);
}

void MainPresenter::CopyPaths() {
  const std::vector<RowTarget> targets = SelectedTargets(true);
  if (targets.empty()) return;
  const ClipboardPaths paths = PathsForClipboard(targets);
  view_.SetClipboard(paths.Text, paths.UriList);
  SetStatus(targets.size() == 1 ? "Copied the path"
                                : "Copied " + std::to_string(targets.size()) + " paths");
}

void MainPresenter::EditCommands() {
  std::vector<UserCommand> commands = userCommands_;
  if (!view_.EditUserCommands(commands)) return;
  userCommands_ = std::move(commands);
  if (!settingsPath_.empty()) {
    IniFile settings;
    settings.Load(settingsPath_);
    WriteUserCommands(settings, userCommands_);
    if (std::string err; !settings.Save(settingsPath_, &err))
      view_.ShowMessage("The commands could not be saved: " + err);
  }
  view_.UserCommandsChanged();
}

void MainPresenter::EditExcludes() {
  IniFile settings;
  if (!settingsPath_.empty()) settings.Load(settingsPath_);
  std::vector<std::string> errors;
  ExcludeForm form = ReadExcludeForm(settings, &errors);
  if (!errors.empty())
    view_.ShowMessage(
        "Some exclude rules of the settings file were not understood and are left out:\n" +
        JoinMessages(errors));
  if (!view_.EditExcludeRules(form, CheckExcludeForm)) return;
  if (settingsPath_.empty()) return;
  SaveExcludeRules(settings, form.AllRules());
  if (std::string err; !settings.Save(settingsPath_, &err))
    view_.ShowMessage("The exclude rules could not be saved: " + err);
}

void MainPresenter::RunUserCommand(std::size_t index) {
  if (index >= userCommands_.size() || !userCommands_[index].Enabled || !runner_) return;
  const UserCommand command = userCommands_[index];
  const std::vector<RowTarget> targets = SelectedTargets();
  if (targets.empty()) return;
  TargetSelection selection;
  selection.Targets = targets;
  const UserCommandPlan plan = PlanUserCommand(command, selection);
  if (plan.Steps.empty()) {
    if (!plan.Message.empty()) view_.ShowMessage(plan.Message);
    return;
  }
  if (command.Confirm) {
    std::string details;
    for (const UserCommandStep& s : plan.Steps) details += "In " + s.Folder + ":\n  " + s.Line + "\n";
    if (plan.LeftOut > 0)
      details += std::to_string(plan.LeftOut) + " selected rows are left out.\n";
    const std::string question =
        "Run \"" + command.Title + "\" " +
        (plan.Steps.size() == 1 ? std::string("once") : std::to_string(plan.Steps.size()) + " times") +
        "?";
    if (!view_.Confirm(question, details)) return;
  }
  // The slot is held while the command runs, so the listed folder stays in the model.
  DiskObject* listed = ObjectOf(explorer_, selectedNode_);
  const bool refresh = command.RefreshAfter;
  runner_->Start(command.Title, plan.Steps, view_.OpenCommandOutput(command.Title),
                 [this, listed, refresh](bool) {
                   if (refresh && listed) RefreshFolder(listed);
                 });
}

}  // namespace kestrum
