#pragma once
#include <string>
#include <string_view>

#include "core/tree/disk_model.h"

namespace kestrum {

// Changes to what a drive keeps of its entries (DiskObject::Files) when files go after the
// scan. Folder totals are not touched: they stay the scan's until a refresh.

// Marks the entry path names (a file, link or other entry, not a folder) as gone from drive's
// store, so that nothing reading the store shows it again. False when the drive kept no
// entries or has no such entry.
bool ForgetEntry(DiskObject& drive, std::string_view path);

// The runs of folder and every folder below it leave drive's store (they are about to be
// removed from the drive's folders).
void ForgetBranchEntries(DiskObject& drive, DiskObject& folder);

// folder and every folder below it, just put in place from a rescan whose store is from, take
// copies of their runs there into drive's store (none when from is null).
void TakeBranchEntries(DiskObject& drive, DiskObject& folder, const FileStore* from);

// Writes the drive's store of entries again with only what its folders hold (no runs a refresh
// replaced or a deleted folder left, no entries deleted since the scan), in the folders' order,
// and points every folder at its new run. The old store lives on as long as readers on other
// threads hold it.
void CompactFiles(DiskObject& drive);

// Compacts the store once what it holds for no folder outweighs a third of it.
void CompactFilesIfWorthIt(DiskObject& drive);

}  // namespace kestrum
