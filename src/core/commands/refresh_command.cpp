#include "core/commands/refresh_command.h"

#include <cerrno>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/adapter/folder_nodes.h"
#include "core/commands/attach_scan.h"
#include "core/tree/refresh.h"
#include "core/scan/scanning.h"
#include "core/tree/subfolders.h"
#include "core/tree/summary.h"
#include "core/platform/errors.h"
#include "core/platform/open_folder.h"
#include "core/trace/trace.h"

namespace kestrum {

// What the worker knows of the refresh: copied on the window thread, except the model
// objects, which it only compares and (for the hard links) climbs while no command can change
// them.
struct RefreshCommand::Plan {
  DiskObject* Drive = nullptr;
  DiskObject* Folder = nullptr;
  std::string DrivePath, VolumeRoot, FolderPath;
  bool Entry = false;
  std::int32_t Unit = 1;
  HardLinkRule Links = HardLinkRule::Once;
  // The rules of the drive's scan, which a refresh applies again.
  std::shared_ptr<const ExcludeRules> Excludes;
  bool Cross = false;
  std::shared_ptr<const HardLinkTable> Counted;
  std::int32_t NextKey = 0;
  // The outcome.
  bool Stopped = false;
  std::string Message;  // a failure: nothing changes, and this is shown
  bool Gone = false;
  DiskObject Rescan;
  double DeviceSize = 0, FreeSpace = 0;
};

RefreshCommand::RefreshCommand(CommandWindow& window, CExplorer& explorer,
                               const DriveSource& drives, CommandSlot& slot)
    : window_(window),
      explorer_(explorer),
      drives_(drives),
      slot_(slot),
      alive_(std::make_shared<RefreshCommand*>(this)) {}

RefreshCommand::~RefreshCommand() { alive_.reset(); }

std::string RefreshCommand::ProgressLine() const {
  std::string target;
  {
    std::lock_guard lock(targetMutex_);
    target = target_;
  }
  return ProgressText(target, progress_.Folders.load(), progress_.Files.load());
}

void RefreshCommand::Post(std::function<void()> task) {
  std::weak_ptr<RefreshCommand*> token = alive_;
  slot_.Post([token, task = std::move(task)] {
    if (token.lock()) task();
  });
}

bool RefreshCommand::Refresh(DiskObject* folder) {
  DiskObject* drive = DriveOf(folder);
  if (!folder || !drive || folder->Class != ObjectClass::Folder || folder->Level < 2 ||
      !slot_.Acquire())
    return false;
  if (Tracing()) Trace("frmMain.Refresh(" + folder->Path() + ")");
  slot_.Join();
  auto plan = std::make_shared<Plan>();
  plan->Drive = drive;
  plan->Folder = folder;
  plan->DrivePath = drive->OwnPath();
  plan->VolumeRoot = VolumeRootOf(drive);
  plan->FolderPath = folder->Path();
  plan->Entry = drive->Drive().FolderEntry;
  plan->Unit = drive->Drive().AllocationUnit;
  plan->Links = drive->Drive().LinkRule;
  plan->Excludes = ExcludeRulesOfLines(drive->Drive().ExcludeLines);
  plan->Cross = drive->Drive().CrossFileSystems;
  plan->Counted = drive->HardLinksIfAny();
  plan->NextKey = drive->Drive().NextLargestKey;
  {
    std::lock_guard lock(targetMutex_);
    target_ = plan->FolderPath;
  }
  progress_.Folders = 0;
  progress_.Files = 0;
  slot_.Progress = [this] { return ProgressLine(); };
  Scanning = true;
  window_.SetTreeEnabled(false);
  window_.SetStatus("Refreshing " + plan->FolderPath + "...");
  window_.SetProgressTimer(true);
  slot_.Run([this, plan] { Work(plan); });
  return true;
}

void RefreshCommand::Work(const std::shared_ptr<Plan>& plan) {
  Plan& p = *plan;
  const bool ready = p.Entry ? drives_.IsFolderReady(p.DrivePath) : drives_.IsReady(p.DrivePath);
  if (!ready) {
    Post([this] { Finish("Drive not ready..."); });
    return;
  }
  OpenedFolder opened = OpenFolderBelow(p.VolumeRoot, p.FolderPath);
  const bool atFolder = WithSlash(opened.FailedAt) == p.FolderPath;
  if (!opened.Fd) {
    const int e = opened.Error;
    if (e == ENOENT || e == ENOTDIR || e == ELOOP || e == EXDEV) {
      // Vanished, or no longer a folder of this file system: the scan would not list it.
      p.Gone = true;
    } else if (!atFolder || (e != EACCES && e != EPERM)) {
      p.Message = "Cannot refresh " + p.FolderPath + ": " + ErrorText(e);
      Post([this, plan] { Finish(plan->Message); });
      return;
    }
    // Else the folder itself cannot be opened: it stays, empty and unreadable, as the scan
    // shows such a folder (the scan below finds its root unreadable).
  }
  drives_.Space(p.DrivePath, p.DeviceSize, p.FreeSpace,
                [this](const std::string& m) { Post([this, m] { window_.ShowMessage(m); }); });
  if (!p.Gone) {
    DiskObject& r = p.Rescan;
    r.Class = ObjectClass::Drive;
    r.SetPath(p.FolderPath);
    r.DriveForChange().RootFolder = p.FolderPath;
    r.DriveForChange().AllocationUnit = p.Unit;
    ScanOptions options;
    options.Reader = Reader;
    options.Progress = &progress_;
    options.AfterFolder = AfterFolder;
    options.Links = p.Links;
    options.Excludes = p.Excludes;
    options.CrossFileSystems = p.Cross;
    // A folder that cannot be opened is scanned as an unreadable root: never by its path.
    options.RootFd = opened.Fd ? opened.Fd.Get() : -1;
    if (!opened.Fd) {
      struct Unreadable : DirectoryReader {
        int OpenRoot(const std::string&) override {
          errno = EACCES;
          return -1;
        }
      };
      Unreadable none;
      options.Reader = &none;
      ScanDrive(r, p.NextKey, options);
    } else {
      const HardLinkTable* counted = p.Counted.get();
      const DiskObject* folder = p.Folder;
      if (counted && !counted->Empty())
        options.CountedBefore = [counted, folder](const FileId& id) {
          const HardLinkTable::Entry* e = counted->Find(id);
          return e && !IsWithin(e->Folder, folder);
        };
      ScanDrive(r, p.NextKey, options);
    }
    SummarizeSizes(r);
  }
  p.Stopped = !Scanning.load();
  Post([this, plan] {
    if (plan->Stopped)
      Finish({});
    else
      Commit(*plan);
  });
}

void RefreshCommand::Finish(const std::string& message) {
  Scanning = false;
  window_.SetProgressTimer(false);
  window_.SetTreeEnabled(true);
  if (message.empty())
    window_.ShowListStatus();
  else
    window_.SetStatus(message);
  slot_.Release();
}

namespace {

// A node that was made below the refreshed folder: its folder's path, whether it was
// expanded, and whether its children had all been made (a view may have shown them).
struct MadeNode {
  std::string Path;
  bool Expanded = false;
  bool Whole = false;
};

// The nodes made below node (parents first), and the path of selected when it lies below node.
std::vector<MadeNode> MadeBelow(const CExplorer& explorer, NodeId node, NodeId selected,
                                std::string& selectedPath) {
  std::vector<MadeNode> out;
  std::vector<NodeId> todo;
  if (const TreeNode* t = explorer.Node(node)) todo.assign(t->Kids.rbegin(), t->Kids.rend());
  while (!todo.empty()) {
    const NodeId n = todo.back();
    todo.pop_back();
    const TreeNode* t = explorer.Node(n);
    const DiskObject* o = ObjectOf(explorer, n);
    if (!t || !o) continue;
    if (n == selected) selectedPath = o->Path();
    out.push_back({o->Path(), t->Expanded, !t->Pending});
    for (auto k = t->Kids.rbegin(); k != t->Kids.rend(); ++k) todo.push_back(*k);
  }
  return out;
}

}  // namespace

void RefreshCommand::Commit(Plan& p) {
  DiskObject* folder = p.Folder;
  DiskObject& drive = *p.Drive;
  const NodeId folderNode = NodeOf(explorer_, folder);
  const NodeId parentNode = folder->Parent ? NodeOf(explorer_, folder->Parent) : kNoNode;
  const NodeId selected = explorer_.SelectedItem();
  const bool selectedWithin = IsWithin(ObjectOf(explorer_, selected), folder);
  std::string selectedPath;
  // Only the nodes that were made are made again, as they were: the refresh costs what the
  // tree showed, not the size of the new branch.
  const std::vector<MadeNode> made = MadeBelow(explorer_, folderNode, selected, selectedPath);
  const TreeNode* top = explorer_.Node(folderNode);
  const bool wasWhole = top && !top->Pending;
  const bool wasExpanded = top && top->Expanded;
  // The listing shows objects that are about to go.
  window_.ClearList();
  if (top) {
    const std::vector<NodeId> kids = top->Kids;
    for (NodeId k : kids) explorer_.RemoveNode(k);
  }
  if (p.Gone) explorer_.RemoveNode(folderNode);
  std::unordered_set<const DiskObject*> removed;
  // The worker is done with the table: let go of it, so that the change below need not copy it.
  p.Counted.reset();
  ApplyRefresh(drive, folder, p.Gone ? nullptr : &p.Rescan, removed);
  drive.DriveForChange().DeviceSize = p.DeviceSize;
  drive.DriveForChange().FreeSpace = p.FreeSpace;
  drive.DriveForChange().NextLargestKey = p.NextKey;

  NodeId select = selected;
  std::vector<NodeId> expand;
  if (p.Gone) {
    if (selectedWithin) select = parentNode;
  } else if (explorer_.Exists(folderNode)) {
    const FolderList& all = drive.DiskObjects();
    // The folder's node stands as a new one would: its children all made when a view may
    // have shown them, else the placeholder for them.
    const std::size_t at = all.PositionOf(folder);
    if (wasWhole) {
      MakeChildNodes(explorer_, folderNode);
    } else if (HasSubfolders(all, at)) {
      explorer_.AddExpander(folderNode);
    }
    if (folder->Children && explorer_.ChildCount(folderNode) == 0)
      explorer_.AddExpander(folderNode);
    if (!HasSubfolders(all, at)) explorer_.SetPending(folderNode, false);
    if (wasExpanded) expand.push_back(folderNode);
    // The new folders of the made nodes' paths, and of the selected folder's path or its
    // nearest ancestor: one pass over the new branch, each path built from its parent's.
    std::unordered_map<std::string, DiskObject*> found;
    for (const MadeNode& m : made) found.emplace(m.Path, nullptr);
    DiskObject* nearest = folder;
    std::size_t nearestLength = 0;
    std::vector<std::pair<const DiskObject*, std::size_t>> open;
    std::string path = p.FolderPath;
    for (std::size_t i = at + 1; i <= all.Count() && all.Item(i)->Level > folder->Level; ++i) {
      DiskObject* f = all.Item(i);
      while (!open.empty() && open.back().first != f->Parent) open.pop_back();
      path.resize(open.empty() ? p.FolderPath.size() : open.back().second);
      path += f->Name;
      path += '/';
      open.emplace_back(f, path.size());
      if (const auto it = found.find(path); it != found.end()) it->second = f;
      if (path.size() > nearestLength && selectedPath.compare(0, path.size(), path) == 0) {
        nearest = f;
        nearestLength = path.size();
      }
    }
    for (const MadeNode& m : made) {
      DiskObject* f = found[m.Path];
      const NodeId n = f ? MakeNode(explorer_, *f) : kNoNode;
      if (n == kNoNode) continue;
      if (m.Whole) MakeChildNodes(explorer_, n);
      if (m.Expanded) expand.push_back(n);
    }
    // A selected folder below: the new folder of its path, else its nearest ancestor there.
    if (!selectedPath.empty())
      select = nearest == folder ? folderNode : MakeNode(explorer_, *nearest);
  }
  if (Tracing()) Trace("  refreshed " + p.FolderPath + (p.Gone ? " (gone)" : ""));
  Scanning = false;
  window_.SetProgressTimer(false);
  window_.SetTreeEnabled(true);
  slot_.Release();
  window_.ShowRefreshed(select, expand);
}

}  // namespace kestrum
