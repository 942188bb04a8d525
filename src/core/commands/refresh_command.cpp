#include "core/commands/refresh_command.h"

#include <cerrno>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/commands/attach_scan.h"
#include "core/tree/refresh.h"
#include "core/scan/scanning.h"
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

// The paths of the expanded nodes at or below node, and the path of selected when it lies
// below node.
void ExpandedBelow(const CExplorer& explorer, NodeId node, NodeId selected,
                   std::unordered_set<std::string>& expanded, std::string& selectedPath) {
  std::vector<NodeId> todo{node};
  while (!todo.empty()) {
    const NodeId n = todo.back();
    todo.pop_back();
    const TreeNode* t = explorer.Node(n);
    if (!t) continue;
    const DiskObject* o = ObjectOf(explorer, n);
    if (o && n != node && n == selected) selectedPath = o->Path();
    if (o && t->Expanded) expanded.insert(o->Path());
    for (NodeId k : t->Kids) todo.push_back(k);
  }
}

}  // namespace

void RefreshCommand::Commit(Plan& p) {
  DiskObject* folder = p.Folder;
  DiskObject& drive = *p.Drive;
  const NodeId folderNode = folder->Node;
  const NodeId parentNode = folder->Parent ? folder->Parent->Node : kNoNode;
  const NodeId selected = explorer_.SelectedItem();
  const bool selectedWithin = IsWithin(ObjectOf(explorer_, selected), folder);
  std::unordered_set<std::string> expanded;
  std::string selectedPath;
  ExpandedBelow(explorer_, folderNode, selected, expanded, selectedPath);
  // The listing shows objects that are about to go.
  window_.ClearList();
  if (const TreeNode* t = explorer_.Node(folderNode)) {
    const std::vector<NodeId> kids = t->Kids;
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
  } else {
    // The new folders follow the refreshed one in creation order, each under its parent.
    // Each child of the folder is built apart and added as one insertion.
    const FolderList& all = drive.DiskObjects();
    const std::size_t at = all.PositionOf(folder);
    // The folders on the way down with their paths' lengths, so that each path is built from
    // its parent's.
    std::vector<std::pair<const DiskObject*, std::size_t>> open;
    std::string path = p.FolderPath;
    std::vector<NodeId> tops;
    // A selected folder below: the new folder of its path, else its nearest ancestor there.
    if (!selectedPath.empty()) select = folderNode;
    std::size_t nearest = 0;
    for (std::size_t i = at + 1; i <= all.Count() && all.Item(i)->Level > folder->Level; ++i) {
      DiskObject* f = all.Item(i);
      while (!open.empty() && open.back().first != f->Parent) open.pop_back();
      path.resize(open.empty() ? p.FolderPath.size() : open.back().second);
      path += f->Name;
      path += '/';
      if (f->Parent == folder) {
        f->Node = explorer_.AddDetachedNode(f->Label(), ItemValue(f), false, f->ClosedIcon(),
                                            f->OpenIcon(), true);
        tops.push_back(f->Node);
      } else {
        f->Node = explorer_.AddNode(f->Label(), ItemValue(f), false, f->Parent->Node,
                                    f->ClosedIcon(), f->OpenIcon(), true);
      }
      open.emplace_back(f, path.size());
      if (expanded.count(path)) expand.push_back(f->Node);
      if (path.size() > nearest && selectedPath.compare(0, path.size(), path) == 0) {
        select = f->Node;
        nearest = path.size();
      }
    }
    for (std::size_t i = at + 1; i <= all.Count() && all.Item(i)->Level > folder->Level; ++i) {
      const DiskObject* f = all.Item(i);
      if (f->Children && explorer_.ChildCount(f->Node) == 0) explorer_.AddExpander(f->Node);
    }
    for (NodeId t : tops) explorer_.AttachNode(t, folderNode);
    if (folder->Children && explorer_.ChildCount(folderNode) == 0)
      explorer_.AddExpander(folderNode);
    if (expanded.count(p.FolderPath)) expand.insert(expand.begin(), folderNode);
  }
  if (Tracing()) Trace("  refreshed " + p.FolderPath + (p.Gone ? " (gone)" : ""));
  Scanning = false;
  window_.SetProgressTimer(false);
  window_.SetTreeEnabled(true);
  slot_.Release();
  window_.ShowRefreshed(select, expand);
}

}  // namespace kestrum
