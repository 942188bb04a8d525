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
  std::string LargestKey;        // rows of the largest-files folder: the entry's key
  NodeId Node = kNoNode;         // a folder row: the folder's tree node
  DiskObject* Object = nullptr;  // a folder row: the folder's model object
};

// What the rows given to a file command stand for.
struct TargetSelection {
  std::vector<RowTarget> Targets;  // in list order
  std::size_t LeftOut = 0;         // rows that are not real files or folders
};

// The real files and folders among the selected rows of list, which shows the node listed:
//  - in a folder listing, the file rows (tag "File ...": the row text is the exact name in
//    that folder) and the folder rows of the listed folder's subfolders;
//  - in the largest-files folder, its file rows (the row text is the full path; the key
//    names the entry).
// Everything else is left out and counted: drive rows, a drive's root-folder row, the
// largest-files folder's row, the placeholder, statistics rows, rows of any listing of the
// root or of a drive, and rows whose node no longer exists or is no longer a child of the
// listed node. onlySelected false takes every row (for tests and callers that pick rows
// themselves); current, when non-zero, takes only that 1-based row.
TargetSelection SelectFileTargets(const ListData& list, const CExplorer& explorer, NodeId listed,
                                  bool onlySelected = true, std::size_t current = 0);

// The message for a file command whose selection held rows but nothing real; "" when it
// holds something real or no row was selected at all (then the command silently does nothing).
std::string NothingToActOn(const TargetSelection& selection);

}  // namespace kestrum
