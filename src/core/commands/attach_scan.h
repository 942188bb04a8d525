#pragma once
#include "core/adapter/explorer.h"
#include "core/tree/disk_model.h"

namespace kestrum {

// Window thread only. Makes a finished, summarised scan the drive's own: the tree's nodes
// under the drive node (an earlier scan's root-folder node with its subtree, or the
// placeholder) are removed first, the drive's DiskObjects, LargestFiles and Folder100 are
// replaced by result's (see DiskObject::AdoptScan), the drive takes UsedSpace and
// AllocatedSpace from result, and the root folder's node is added under the drive node. The
// other folders' nodes are made when they are first shown or gone to (folder_nodes.h), so
// the attach costs the same for ten folders and for a million. result is left empty.
void AttachScan(CExplorer& explorer, DiskObject& drive, DiskObject& result);

// Adds the root folder's node of the scan the drive holds (its node has none yet): what
// AttachScan does after taking the result over, for a drive whose tree was made anew.
void AddScanNodes(CExplorer& explorer, DiskObject& drive);

// Removes every node under the drive's node (the placeholder or an earlier scan's subtree).
void RemoveDriveSubtree(CExplorer& explorer, const DiskObject& drive);

}  // namespace kestrum
