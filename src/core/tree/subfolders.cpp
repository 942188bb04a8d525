#include "core/tree/subfolders.h"

namespace kestrum {

namespace {

// True when candidate is where the subtree of folder (at position) ends. The subtree is one
// run after the folder, so the end is the one place whose folder before it lies in the
// subtree and whose own folder does not (it is no deeper than the folder).
bool EndsSubtree(const FolderList& folders, std::size_t position, const DiskObject& folder,
                 std::size_t candidate) {
  if (candidate <= position || candidate > folders.Count() + 1) return false;
  if (candidate <= folders.Count() && folders.Item(candidate)->Level > folder.Level) return false;
  if (candidate == position + 1) return true;
  const DiskObject* o = folders.Item(candidate - 1);
  while (o && o != &folder && o->Level > folder.Level) o = o->Parent;
  return o == &folder;
}

}  // namespace

std::size_t SubtreeEnd(const FolderList& folders, std::size_t position) {
  const DiskObject* folder = folders.Item(position);
  if (!folder) return 0;
  // The count comes from the walk or the file that made the list; a folder it counted but the
  // list does not hold (or the reverse) makes it miss, and then the check sends us walking.
  if (folder->FolderCount >= 0) {
    const std::size_t guess = position + 1 + static_cast<std::size_t>(folder->FolderCount);
    if (EndsSubtree(folders, position, *folder, guess)) return guess;
  }
  std::size_t end = position + 1;
  while (end <= folders.Count() && folders.Item(end)->Level > folder->Level) ++end;
  return end;
}

bool HasSubfolders(const FolderList& folders, std::size_t position) {
  const DiskObject* folder = folders.Item(position);
  const DiskObject* next = folders.Item(position + 1);
  return folder && next && next->Level > folder->Level;
}

std::vector<PlacedFolder> Subfolders(const FolderList& folders, std::size_t position) {
  std::vector<PlacedFolder> out;
  const DiskObject* folder = folders.Item(position);
  if (!folder) return out;
  for (std::size_t at = position + 1;
       at <= folders.Count() && folders.Item(at)->Level > folder->Level;
       at = SubtreeEnd(folders, at))
    out.push_back({folders.Item(at), at});
  return out;
}

}  // namespace kestrum
