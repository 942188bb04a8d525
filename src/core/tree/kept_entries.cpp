#include "core/tree/kept_entries.h"

#include <memory>

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

void ForgetBranchEntries(DiskObject& drive, DiskObject& folder) {
  if (!drive.Drive().Files) return;
  FolderList& folders = drive.DiskObjects();
  std::size_t i = folders.PositionOf(&folder);
  if (i == 0) return;
  drive.Drive().Files->Forget(folder.FilesAt);
  folder.FilesAt = FileStore::kNone;
  for (DiskObject* f; (f = folders.Item(++i)) && f->Level > folder.Level;) {
    drive.Drive().Files->Forget(f->FilesAt);
    f->FilesAt = FileStore::kNone;
  }
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
