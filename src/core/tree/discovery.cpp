#include "core/tree/discovery.h"

#include "core/platform/errors.h"
#include "core/platform/numbers.h"
#include "core/trace/trace.h"

namespace kestrum {

std::int32_t DriveAllocUnit(const FileSystemService& fs, const std::string& path) {
  struct statvfs st {};
  if (fs.StatVolume(path, st) != 0 || st.f_frsize == 0 || st.f_frsize > INT32_MAX) return 1;
  return static_cast<std::int32_t>(st.f_frsize);
}

bool GetDriveSpace(const FileSystemService& fs, const std::string& path, double& total,
                   double& free, const MessageSink& report) {
  if (Tracing()) Trace("Globals.GetDriveSpace(" + path + ")");
  total = 0;
  free = 0;
  struct statvfs st {};
  if (const int err = fs.StatVolume(path, st); err != 0) {
    if (report) report("GetDiskFreeSpaceEx failed: " + ErrorText(err));
    return false;
  }
  const double unit = static_cast<double>(st.f_frsize ? st.f_frsize : st.f_bsize);
  total = static_cast<double>(st.f_blocks) * unit;
  free = static_cast<double>(st.f_bfree) * unit;
  if (Tracing())
    Trace("Globals.GetDriveSpace(size=" + PlainNumber(total) + ",free=" + PlainNumber(free) + ")");
  return true;
}

std::unique_ptr<DiskCollection> DiscoverDrives(const FileSystemService& fs,
                                               const MessageSink& report) {
  auto list = std::make_unique<DiskCollection>();
  auto rootObj = std::make_unique<DiskObject>();
  rootObj->Class = ObjectClass::Root;
  rootObj->SetSubClass();
  rootObj->SetPath("My Computer");
  rootObj->Children = true;
  DiskObject* root = list->Add(std::move(rootObj));

  for (const DriveInfo& info : fs.Drives()) {
    auto d = std::make_unique<DiskObject>();
    d->Class = ObjectClass::Drive;
    d->Parent = root;
    d->SetSubClass(info.DriveType);
    d->SetPath(info.Path);
    d->DriveForChange().AllocationUnit = info.IsReady ? DriveAllocUnit(fs, info.Path) : 1;
    d->Children = info.IsReady;
    if (info.IsReady) {
      d->Name = info.VolumeName;
      DriveFields& facts = d->DriveForChange();
      GetDriveSpace(fs, d->OwnPath(), facts.DeviceSize, facts.FreeSpace, report);
      d->UsedSpace = d->Drive().DeviceSize - d->Drive().FreeSpace;
      d->AllocatedSpace = d->UsedSpace;
      d->DriveForChange().FileSystem = info.FileSystem;
      d->DriveForChange().RootFolder = info.RootFolder;
    }
    list->Add(std::move(d));
  }
  return list;
}

}  // namespace kestrum
