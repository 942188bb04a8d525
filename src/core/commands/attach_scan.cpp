#include "core/commands/attach_scan.h"

#include <vector>

#include "core/trace/trace.h"

namespace kestrum {

void RemoveDriveSubtree(CExplorer& explorer, const DiskObject& drive) {
  const TreeNode* node = explorer.Node(drive.Node);
  if (!node || node->Kids.empty()) return;
  if (Tracing()) Trace("frmMain.LoadSingleDisk-remove node");
  // Copied: RemoveNode changes the list it would be iterating.
  const std::vector<NodeId> kids = node->Kids;
  for (NodeId k : kids) explorer.RemoveNode(k);
}

namespace {

NodeId AddFolderNode(CExplorer& explorer, DiskObject& f) {
  const NodeId parentNode = f.Parent ? f.Parent->Node : kNoNode;
  return explorer.AddNode(f.Label(), ItemValue(&f), false, parentNode, f.ClosedIcon(), f.OpenIcon(),
                          true);
}

}  // namespace

void AttachScan(CExplorer& explorer, DiskObject& drive, DiskObject& result) {
  RemoveDriveSubtree(explorer, drive);
  drive.AdoptScan(result);
  drive.UsedSpace = result.UsedSpace;
  drive.AllocatedSpace = result.AllocatedSpace;
  AddScanNodes(explorer, drive);
}

void AddScanNodes(CExplorer& explorer, DiskObject& drive) {
  if (!drive.DiskObjectsIfAny()) return;
  // The root folder's subtree is built apart and reaches the view as one insertion, with
  // each folder's children sorted once instead of at every insertion.
  DiskObject* rootFolder = nullptr;
  explorer.Reserve(drive.DiskObjects().Count() + 1);
  for (const auto& f : drive.DiskObjects()) {
    if (!rootFolder) {
      rootFolder = f.get();
      f->Node = explorer.AddDetachedNode(f->Label(), ItemValue(f.get()), false, f->ClosedIcon(),
                                         f->OpenIcon(), true);
    } else {
      f->Node = AddFolderNode(explorer, *f);
    }
  }
  if (drive.Drive().Folder100)
    drive.Drive().Folder100->Node = AddFolderNode(explorer, *drive.Drive().Folder100);
  // Folders that may hold folders but got none in the tree (unreadable, or a stop came
  // first) keep their expander.
  for (const auto& f : drive.DiskObjects())
    if (f->Children && explorer.ChildCount(f->Node) == 0) explorer.AddExpander(f->Node);
  if (rootFolder) explorer.AttachNode(rootFolder->Node, drive.Node);
}

}  // namespace kestrum
