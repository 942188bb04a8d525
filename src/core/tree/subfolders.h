#pragma once
#include <cstddef>
#include <vector>

#include "core/tree/disk_model.h"

namespace kestrum {

// A folder's place in its drive's FolderList: the object and its 1-based position.
struct PlacedFolder {
  DiskObject* Folder = nullptr;
  std::size_t Position = 0;
};

// The position just past the subtree of the folder at position (1-based) in folders: the
// list is in depth-first order, so the folder's descendants follow it, each deeper than it,
// up to the first folder that is not. Count() + 1 when the subtree runs to the end; 0 for a
// position outside the list. Tries the folder's FolderCount first (the subtree's size after
// the summary) and checks it against the positions and Levels; where the count does not tell
// the end exactly, walks the subtree.
std::size_t SubtreeEnd(const FolderList& folders, std::size_t position);

// True when the folder at position (1-based) has a subfolder in folders: the folder after it
// is deeper.
bool HasSubfolders(const FolderList& folders, std::size_t position);

// The direct subfolders of the folder at position (1-based) in folders, in list order. Steps
// from each subfolder to the next over its subtree (SubtreeEnd), so a folder's subfolders
// cost about their number times their depth, not the size of the drive.
std::vector<PlacedFolder> Subfolders(const FolderList& folders, std::size_t position);

}  // namespace kestrum
