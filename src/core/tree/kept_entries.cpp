#include "core/tree/kept_entries.h"

#include <memory>

#include "core/tree/subfolders.h"

namespace kestrum {

bool ForgetEntry(DiskObject& drive, std::string_view path) {
  if (!drive.Drive().Files || drive.DiskObjects().Empty()) return false;
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return false;
  const DiskObject* folder = drive.DiskObjects().Find(path.substr(0, slash + 1));
  if (!folder) return false;
  const std::string_view name = path.substr(slash + 1);
  FileStore& store = *drive.Drive().Files;
  bool found = false;
  store.ForEach(folder->FilesAt, [&](const StoredEntry& e) {
    if (e.Name != name) return true;
    store.SetGone(e.Position);
    found = true;
    return false;
  });
  return found;
}

namespace {

// Calls visit for folder and every folder below it in drive's folders.
template <typename Visit>
void ForEachInBranch(DiskObject& drive, DiskObject& folder, Visit&& visit) {
  FolderList& folders = drive.DiskObjects();
  const std::size_t first = folders.PositionOf(&folder);
  if (first == 0) return;
  const std::size_t end = SubtreeEnd(folders, first);
  for (std::size_t i = first; i < end; ++i) visit(*folders.Item(i));
}

}  // namespace

void ForgetBranchEntries(DiskObject& drive, DiskObject& folder) {
  FileStore* files = drive.Drive().Files.get();
  if (!files) return;
  ForEachInBranch(drive, folder, [files](DiskObject& f) {
    files->Forget(f.FilesAt);
    f.FilesAt = FileStore::kNone;
  });
}

void TakeBranchEntries(DiskObject& drive, DiskObject& folder, const FileStore* from) {
  FileStore* files = drive.Drive().Files.get();
  if (!files) return;
  ForEachInBranch(drive, folder, [files, from](DiskObject& f) {
    f.FilesAt = from ? files->CopyRun(*from, f.FilesAt) : FileStore::kNone;
  });
}

void CompactFiles(DiskObject& drive) {
  if (!drive.Drive().Files) return;
  const FileStore& old = *drive.Drive().Files;
  auto fresh = std::make_shared<FileStore>();
  fresh->FromFile = old.FromFile;
  fresh->Device = old.Device;
  if (!drive.DiskObjects().Empty())
    for (const auto& f : drive.DiskObjects())
      if (f->FilesAt != FileStore::kNone) f->FilesAt = fresh->CopyRun(old, f->FilesAt);
  // Readers on other threads keep the old store as long as they hold it.
  drive.DriveForChange().Files = std::move(fresh);
}

void CompactFilesIfWorthIt(DiskObject& drive) {
  const FileStore* files = drive.Drive().Files.get();
  if (files && files->ForgottenBytes() > (std::size_t{1} << 20) &&
      files->ForgottenBytes() * 3 > files->UsedBytes())
    CompactFiles(drive);
}

}  // namespace kestrum
