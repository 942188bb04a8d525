#pragma once
#include <unordered_set>

#include "core/tree/disk_model.h"

namespace kestrum {

// Makes a rescan of one folder of a drive's last scan part of that scan, in one step, on the
// thread that owns the model. folder is one of drive's DiskObjects below its root folder;
// rescan is a detached drive object that ScanDrive filled from folder's path and
// SummarizeSizes summarised (its first folder is folder as it is now), or null when the
// folder is gone (vanished, or now a link, a file or a mount point: the scan would not list
// it).
//  - Rescanned: folder keeps its object (and its tree node) and takes the rescan's totals,
//    counts and Children; the folders below it are replaced by the rescan's, whose objects
//    move over as they are. Gone: folder and everything below it leave the drive.
//  - Every ancestor up to the root folder, and the drive, change by the exact difference of
//    bytes, allocation, files and folders; DeepestLevel is found again.
//  - The drive's store of entries (Files) forgets the branch's runs and takes copies of the
//    rescan's, and is compacted once what it holds for no folder weighs (kept_entries.h).
//  - The drive's hard-link table drops what the old folders counted and takes what the rescan
//    counted (its files claimed by the rescan's first folder become folder's).
//  - The largest-files list drops the entries under folder's path, takes the rescan's (with
//    their keys, which the rescan numbered on from drive.Drive().NextLargestKey) and keeps the
//    largest kLargestBound; the "100 Largest Files" folder's totals follow.
// removed receives every folder object that went (folder itself when gone); they are ended,
// so the caller may only compare the pointers (to drop their tree nodes). rescan is left
// without folders.
void ApplyRefresh(DiskObject& drive, DiskObject* folder, DiskObject* rescan,
                  std::unordered_set<const DiskObject*>& removed);

// True when object is folder or lies below it (through Parent).
bool IsWithin(const DiskObject* object, const DiskObject* folder);

}  // namespace kestrum
