#include "core/tree/refresh.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/tree/kept_entries.h"
#include "core/tree/largest.h"

namespace kestrum {

bool IsWithin(const DiskObject* object, const DiskObject* folder) {
  if (!folder) return false;
  for (const DiskObject* o = object; o && o->Level >= folder->Level; o = o->Parent)
    if (o == folder) return true;
  return false;
}

namespace {

struct Totals {
  double Used = 0, Allocated = 0;
  std::int64_t Files = 0, Folders = 0;
};

Totals SubtreeTotals(const DiskObject& f) {
  return {f.UsedSpace, f.AllocatedSpace, f.FileCount, f.FolderCount};
}

// The largest list as it stands, entries under prefix replaced by more: an entry that the
// rescan found again unchanged (same path, size and allocation) keeps its place and key, the
// others under prefix go and the rest of more is appended. The list is then cut back to the
// bound by taking out its smallest entries, the last appended first among equals, so that a
// rescan that found nothing new leaves the list as it was. The marker goes on the first
// smallest entry, as the scan keeps it.
void MergeLargest(DiskObject& drive, const std::string& prefix, FileObjectList* more) {
  FileObjectList& list = drive.LargestFiles();
  std::vector<std::unique_ptr<FileObject>> fresh;
  std::vector<bool> keep(list.Count() + 1, true);
  for (std::size_t i = 1; i <= list.Count(); ++i)
    keep[i] = list.Item(i)->Name.compare(0, prefix.size(), prefix) != 0;
  if (more) {
    while (more->Count() > 0) {
      std::unique_ptr<FileObject> e = more->RemoveAt(1);
      bool same = false;
      for (std::size_t i = 1; i <= list.Count() && !same; ++i) {
        const FileObject& old = *list.Item(i);
        same =
            !keep[i] && old.Name == e->Name && old.Size == e->Size && old.Allocated == e->Allocated;
        if (same) keep[i] = true;
      }
      if (!same) fresh.push_back(std::move(e));
    }
  }
  for (std::size_t i = list.Count(); i >= 1; --i)
    if (!keep[i]) list.RemoveAt(i);
  for (auto& e : fresh) list.Add(std::move(e));
  while (list.Count() > kLargestBound) {
    std::size_t at = 0;
    for (std::size_t i = 1; i <= list.Count(); ++i)
      if (at == 0 || !(list.Item(i)->Size > list.Item(at)->Size)) at = i;
    list.RemoveAt(at);
  }
  std::size_t at = 0;
  for (std::size_t i = 1; i <= list.Count(); ++i)
    if (at == 0 || list.Item(i)->Size < list.Item(at)->Size) at = i;
  drive.DriveForChange().Smallest = at ? list.Item(at)->Size : 0;
  drive.DriveForChange().SmallestIndex = static_cast<std::int32_t>(at);
  if (DiskObject* f = drive.Drive().Folder100.get()) {
    f->fFileCount = f->FileCount = static_cast<std::int32_t>(list.Count());
    f->fUsedSpace = f->UsedSpace = f->fAllocatedSpace = f->AllocatedSpace = 0;
    for (const auto& e : list) {
      f->fUsedSpace = f->UsedSpace += e->Size;
      f->fAllocatedSpace = f->AllocatedSpace += e->Allocated;
    }
  }
}

// What a pass over top's branch in folders (depth first, so the branch follows top) finds:
// touches only the branch's objects, beyond the search for top.
struct Branch {
  std::int32_t Deepest = 0;     // the deepest Level in it
  std::int64_t LinkClaims = 0;  // the hard-link table's entries its folders counted, at least
};

Branch BranchOf(const FolderList& folders, const DiskObject* top) {
  std::size_t i = folders.PositionOf(top);
  if (i == 0) return {};
  Branch b{top->Level, top->LinkClaims};
  for (const DiskObject* f; (f = folders.Item(++i)) && f->Level > top->Level;) {
    b.Deepest = std::max(b.Deepest, f->Level);
    b.LinkClaims += f->LinkClaims;
  }
  return b;
}

}  // namespace

void ApplyRefresh(DiskObject& drive, DiskObject* folder, DiskObject* rescan,
                  std::unordered_set<const DiskObject*>& removed) {
  const std::string prefix = folder->Path();
  const Branch old = BranchOf(drive.DiskObjects(), folder);
  // Whether the drive's deepest folder may be among those that go: only then are all the
  // drive's folders looked at again.
  const bool deepestInside = old.Deepest >= drive.Drive().DeepestLevel;
  const Totals before = SubtreeTotals(*folder);
  Totals after;
  // The branch's entries go from the drive's store; the rescan's are copied in below.
  ForgetBranchEntries(drive, *folder);
  DiskObject* parent = folder->Parent;
  // The rescan's folders that moved into the room of removed ones: old address, new one.
  std::unordered_map<const DiskObject*, DiskObject*> relocated;
  const DiskObject* newTop = rescan ? rescan->DiskObjects().Item(1) : nullptr;
  if (newTop) {
    after = SubtreeTotals(*newTop);
    folder->UsedSpace = newTop->UsedSpace;
    folder->AllocatedSpace = newTop->AllocatedSpace;
    folder->FileCount = newTop->FileCount;
    folder->FolderCount = newTop->FolderCount;
    folder->fUsedSpace = newTop->fUsedSpace;
    folder->fAllocatedSpace = newTop->fAllocatedSpace;
    folder->fFileCount = newTop->fFileCount;
    folder->fFolderCount = newTop->fFolderCount;
    folder->Children = newTop->Children;
    folder->LinkClaims = newTop->LinkClaims;
    folder->FilesAt = drive.Drive().Files ? newTop->FilesAt : FileStore::kNone;
    // Pointers only: the old folders are compared, never read, once ended.
    removed.clear();
    drive.DiskObjects().ReplaceBranch(folder, rescan->DiskObjects(), &removed, &relocated);
    TakeBranchEntries(drive, *folder, rescan->Drive().Files.get());
  } else {
    after.Folders = -1;  // the folder itself goes from its parent's count
    drive.DiskObjects().RemoveBranch(folder, &removed);
    folder = nullptr;
    if (parent && parent->Class == ObjectClass::Folder) {
      --parent->fFolderCount;
      if (parent->fFolderCount <= 0) parent->Children = false;
    }
  }
  for (DiskObject* a = parent; a && a->Class == ObjectClass::Folder; a = a->Parent) {
    a->UsedSpace += after.Used - before.Used;
    a->AllocatedSpace += after.Allocated - before.Allocated;
    a->FileCount += static_cast<std::int32_t>(after.Files - before.Files);
    a->FolderCount += static_cast<std::int32_t>(after.Folders - before.Folders);
  }
  if (drive.HardLinksIfAny() || (rescan && rescan->HardLinksIfAny())) {
    HardLinkTable& links = drive.HardLinksForChange();
    const DiskObject* kept = folder;
    auto wentOrKept = [&](const DiskObject* f) { return f == kept || removed.count(f) > 0; };
    // The branch's old entries go. Those of files the rescan counted again are replaced by
    // the merge below; only when some did not come back (a linked file inside was deleted, or
    // is now counted outside) does the whole table need a pass, so that a refresh in a drive
    // of many linked files costs what its branch costs.
    std::int64_t back = 0;
    if (rescan && rescan->HardLinksIfAny())
      rescan->HardLinks().ForEach([&](const FileId& id, const HardLinkTable::Entry&) {
        const HardLinkTable::Entry* e = links.Find(id);
        if (e && wentOrKept(e->Folder)) ++back;
      });
    if (back < old.LinkClaims) {
      // The folders that went were made together, so their addresses mostly lie in one span:
      // an entry outside it needs no look-up.
      std::less<const DiskObject*> below;
      const DiskObject* low = kept;
      const DiskObject* high = kept;
      for (const DiskObject* f : removed) {
        if (!low || below(f, low)) low = f;
        if (!high || below(high, f)) high = f;
      }
      links.EraseIf([&](const DiskObject* f) {
        return low && !below(f, low) && !below(high, f) && wentOrKept(f);
      });
    }
    if (rescan && rescan->HardLinksIfAny())
      links.Merge(rescan->HardLinks(), [&](const DiskObject* f) -> const DiskObject* {
        if (f == newTop) return kept;
        const auto it = relocated.find(f);
        return it == relocated.end() ? f : it->second;
      });
  }
  MergeLargest(drive, prefix, rescan ? &rescan->LargestFiles() : nullptr);
  if (deepestInside) {
    std::int32_t deepest = drive.Drive().Folder100 ? drive.Drive().Folder100->Level : 0;
    for (const auto& f : drive.DiskObjects()) deepest = std::max(deepest, f->Level);
    drive.DriveForChange().DeepestLevel = deepest;
  } else if (folder) {
    drive.DriveForChange().DeepestLevel =
        std::max(drive.Drive().DeepestLevel, BranchOf(drive.DiskObjects(), folder).Deepest);
  }
  if (const DiskObject* root = drive.DiskObjects().Item(1)) {
    drive.UsedSpace = root->UsedSpace;
    drive.AllocatedSpace = root->AllocatedSpace;
  }
  // Refreshes leave the runs they replaced behind; they are given back once they weigh.
  CompactFilesIfWorthIt(drive);
}

}  // namespace kestrum
