#include "core/commands/attach_scan.h"

#include <vector>

#include "core/adapter/folder_nodes.h"
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

void AttachScan(CExplorer& explorer, DiskObject& drive, DiskObject& result) {
  RemoveDriveSubtree(explorer, drive);
  drive.AdoptScan(result);
  drive.UsedSpace = result.UsedSpace;
  drive.AllocatedSpace = result.AllocatedSpace;
  AddScanNodes(explorer, drive);
}

void AddScanNodes(CExplorer& explorer, DiskObject& drive) {
  const FolderList* folders = drive.DiskObjectsIfAny();
  if (!folders || folders->Empty()) return;
  // The root folder's node alone: the others are made as they are shown or gone to.
  MakeNode(explorer, *folders->Item(1));
}

}  // namespace kestrum
