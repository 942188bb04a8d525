#pragma once
#include "core/adapter/explorer.h"
#include "core/tree/disk_model.h"

namespace kestrum {

// The folder tree's nodes are made when they are first needed, not when a scan is attached:
// a scanned drive (folder entry, saved scan) gets the node of its root folder, and every
// other node is made when its parent's children are fetched (expanding it, a view showing
// them, a listing of it) or when something goes to it (MakeNode). A node's children stand in
// the order they always have: by text (case-insensitive ASCII, TextLess), equal texts in the
// order of the drive's folders, the "100 Largest Files" folder after the folders. A folder
// node made with subfolders still to make has the placeholder child and is pending
// (CExplorer::SetPending); one whose folder may hold folders that the scan could not read has
// the placeholder alone, as it always had. Window thread only.

// The node made for object, kNoNode when none is.
NodeId NodeOf(const CExplorer& explorer, const DiskObject* object);

// The node of object (a folder, or the largest-files folder), made when missing together
// with the missing nodes of its ancestors, each at its place among its parent's children
// made so far; nothing else is made. A drive, folder entry or saved scan must have its node
// already: kNoNode when the object's drive has none, or the object is not in its drive's
// folders.
NodeId MakeNode(CExplorer& explorer, DiskObject& object);

// Makes the children of node that are missing (a drive's root folder; a folder's subfolders
// and, under the root folder, the largest-files folder) and clears its pending mark. Costs
// the children, not the drive. Nothing for a node without a model object.
void MakeChildNodes(CExplorer& explorer, NodeId node);

}  // namespace kestrum
