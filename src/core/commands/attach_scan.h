#pragma once
#include "core/adapter/explorer.h"
#include "core/tree/disk_model.h"

namespace kestrum {

// Window thread only. Makes a finished, summarised scan the drive's own: the tree's nodes
// under the drive node (an earlier scan's root-folder node with its subtree, or the
// placeholder) are removed first, the drive's DiskObjects, LargestFiles and Folder100 are
// replaced by result's (see DiskObject::AdoptScan), the drive takes UsedSpace and
// AllocatedSpace from result, and one tree node is added per folder in creation order (each
// under its parent's node, sorted), then the "100 Largest Files" node under the root
// folder's node. result is left empty. Costs one hash insert per folder in the adapter plus
// its sorted insertion among its siblings.
void AttachScan(CExplorer& explorer, DiskObject& drive, DiskObject& result);

// Adds the tree nodes of the scan the drive holds (its node has none yet): what AttachScan
// does after taking the result over, for a drive whose tree was made anew.
void AddScanNodes(CExplorer& explorer, DiskObject& drive);

// Removes every node under the drive's node (the placeholder or an earlier scan's subtree).
void RemoveDriveSubtree(CExplorer& explorer, const DiskObject& drive);

}  // namespace kestrum
