#include "core/tree/largest.h"

#include "core/trace/trace.h"

namespace kestrum {

namespace {

void AppendEntry(FileObjectList& list, const std::string& name, double size, double allocated,
                 std::int32_t& keyCounter) {
  auto f = std::make_unique<FileObject>();
  f->Name = name;
  f->Size = size;
  f->Allocated = allocated;
  ++keyCounter;
  f->key = "K" + std::to_string(keyCounter);
  list.Add(std::move(f));
}

}  // namespace

void DiskObject::AddLargest(const std::string& name, double size, double allocated,
                            std::int32_t& keyCounter) {
  FileObjectList& list = LargestFiles();
  DriveFields& d = DriveForChange();
  if (list.Count() < kLargestBound) {
    AppendEntry(list, name, size, allocated, keyCounter);
    // An equal size leaves the marker on the earlier entry.
    if (d.Smallest == 0 || size < d.Smallest) {
      d.Smallest = size;
      d.SmallestIndex = static_cast<std::int32_t>(list.Count());
    }
    return;
  }
  if (!(size > d.Smallest)) return;
  list.RemoveAt(static_cast<std::size_t>(d.SmallestIndex));
  d.Smallest = 0;
  AppendEntry(list, name, size, allocated, keyCounter);
  std::size_t position = 0;
  for (const auto& e : list) {
    ++position;
    if (d.Smallest == 0 || e->Size < d.Smallest) {
      d.Smallest = e->Size;
      d.SmallestIndex = static_cast<std::int32_t>(position);
    }
  }
}

void RemoveLargest(DiskObject& drive, const std::string& name) {
  FileObjectList& list = drive.LargestFiles();
  std::size_t position = 0, found = 0;
  for (const auto& e : list) {
    ++position;
    if (e->Name == name) found = position;
  }
  if (found == 0) return;
  list.RemoveAt(found);
  drive.DriveForChange().Smallest = 0;
  drive.DriveForChange().SmallestIndex = 0;
  position = 0;
  for (const auto& e : list) {
    ++position;
    if (drive.Drive().Smallest == 0 || e->Size < drive.Drive().Smallest) {
      drive.DriveForChange().Smallest = e->Size;
      drive.DriveForChange().SmallestIndex = static_cast<std::int32_t>(position);
    }
  }
}

DiskObject* Add100Folder(const std::string& rootPath, const std::string& rootName,
                         DiskObject& rootObject, DiskObject& drive, std::int32_t& currentLevel) {
  if (Tracing()) Trace("Globals.Add100Folder(" + rootName + ")");
  ++currentLevel;
  if (drive.Drive().DeepestLevel < currentLevel) drive.DriveForChange().DeepestLevel = currentLevel;
  auto f = std::make_unique<DiskObject>();
  f->Class = ObjectClass::Folder100;
  f->Name = kLargestFolderName;
  f->Parent = &rootObject;
  f->SetSubClass();
  f->RootDirectory = false;
  f->Level = currentLevel;
  f->SetPath(rootPath + kLargestFolderName);
  const FileObjectList& list = drive.LargestFiles();
  f->fFileCount = static_cast<std::int32_t>(list.Count());
  for (const auto& e : list) {
    f->fAllocatedSpace += e->Allocated;
    f->AllocatedSpace += e->Allocated;
    f->fUsedSpace += e->Size;
    f->UsedSpace += e->Size;
  }
  drive.DriveForChange().Folder100 = std::move(f);
  return drive.Drive().Folder100.get();
}

}  // namespace kestrum
