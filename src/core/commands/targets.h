#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "core/adapter/explorer.h"
#include "core/adapter/list_data.h"
#include "core/fileops/file_target.h"

namespace kestrum {

// One selected row that a file command (delete, trash, zip, properties) acts on: the file or
// folder it stands for, and where it came from.
struct RowTarget : FileTarget {
  std::size_t Row = 0;           // 1-based row of the list it came from
  std::string LargestKey;        // rows of the largest-files or results folder: the row's key
  std::string DriveKey;          // rows of the results folder: the key of the drive it lies on
  NodeId Node = kNoNode;         // a folder row: the folder's tree node
  DiskObject* Object = nullptr;  // a folder row: the folder's model object
  bool Excluded = false;         // left out of the scan by a rule: its size was not counted
};

// What the rows given to a file command stand for.
struct TargetSelection {
  std::vector<RowTarget> Targets;  // in list order
  std::size_t LeftOut = 0;         // rows that are not real files or folders
  std::size_t Saved = 0;           // of those, rows of the results folder from saved scans
  std::size_t Removed = 0;         // of those, rows marked removed (since a scan compared with)
};

// The real files and folders among the selected rows of list, which shows the node listed:
//  - in a folder listing, the file rows (tag "File ...": the row text is the exact name in
//    that folder) and the folder rows of the listed folder's subfolders;
//  - in the largest-files folder, its file rows (the row text is the full path; the key
//    names the entry);
//  - in the results folder, its file rows that lie on a scanned drive of this computer (each
//    with its own volume root and drive key); rows found in saved scans are left out, and
//    counted in Saved too, unless withSaved (for commands that only read the paths);
//  - in a folder listing, rows marked removed (RemovedTag) only when withSaved: nothing stands
//    behind them but their path; left out otherwise, and counted in Removed too.
// Everything else is left out and counted: drive rows, a drive's root-folder row, the
// largest-files folder's row, the placeholder, statistics rows, rows of any listing of the
// root or of a drive, and rows whose node no longer exists or is no longer a child of the
// listed node. onlySelected false takes every row (for tests and callers that pick rows
// themselves); current, when non-zero, takes only that 1-based row.
TargetSelection SelectFileTargets(const ListData& list, const CExplorer& explorer, NodeId listed,
                                  bool onlySelected = true, std::size_t current = 0,
                                  bool withSaved = false);

// The message for a file command whose selection held rows but nothing real; "" when it
// holds something real or no row was selected at all (then the command silently does nothing).
std::string NothingToActOn(const TargetSelection& selection);

// How many of the targets the scan left out by an exclude rule (their sizes were not counted).
std::size_t ExcludedCount(const TargetSelection& selection);

}  // namespace kestrum
