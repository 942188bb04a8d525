#include "core/tree/folder_entries.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "core/platform/errors.h"
#include "core/trace/trace.h"

namespace kestrum {

FolderArgument ResolveFolderArgument(const std::string& given,
                                     const std::vector<std::string>& volumePaths) {
  FolderArgument a;
  a.Given = given;
  const std::string quoted = "\"" + given + "\"";
  if (given.empty() || given.find('\0') != std::string::npos) {
    a.Message = "Cannot scan " + quoted + ": it is not a folder name.";
    return a;
  }
  errno = 0;
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(given.c_str(), nullptr), &std::free);
  if (!real) {
    const int err = errno;
    a.Message = err == ENOENT    ? "Cannot scan " + quoted + ": there is no such folder."
                : err == ENOTDIR ? "Cannot scan " + quoted + ": it is not a folder."
                                 : "Cannot scan " + quoted + ": " + ErrorText(err);
    return a;
  }
  struct stat st {};
  if (::stat(real.get(), &st) != 0) {
    a.Message = "Cannot scan " + quoted + ": " + ErrorText(errno);
    return a;
  }
  if (!S_ISDIR(st.st_mode)) {
    a.Message = "Cannot scan " + quoted + ": it is not a folder.";
    return a;
  }
  a.Path = real.get();
  a.What = FolderArgument::Entry;
  for (const std::string& v : volumePaths)
    if (v == a.Path) a.What = FolderArgument::Volume;
  return a;
}

const DriveInfo* VolumeHolding(const std::vector<DriveInfo>& drives, const std::string& path) {
  const DriveInfo* best = nullptr;
  for (const DriveInfo& d : drives) {
    if (!d.IsReady || d.Path.empty() || d.Path[0] != '/') continue;
    const bool holds = d.Path == "/" || path == d.Path ||
                       (path.size() > d.Path.size() &&
                        path.compare(0, d.Path.size(), d.Path) == 0 && path[d.Path.size()] == '/');
    if (holds && (!best || d.Path.size() > best->Path.size())) best = &d;
  }
  return best;
}

std::string LastName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const auto slash = p.rfind('/');
  if (slash == std::string::npos || p == "/") return p;
  return p.substr(slash + 1);
}

std::unique_ptr<DiskObject> MakeFolderEntry(const FileSystemService& fs,
                                            const std::vector<DriveInfo>& drives,
                                            const std::string& path, const MessageSink& report) {
  if (Tracing()) Trace("Globals.MakeFolderEntry(" + path + ")");
  auto d = std::make_unique<DiskObject>();
  d->Class = ObjectClass::Drive;
  d->DriveForChange().FolderEntry = true;
  const DriveInfo* volume = VolumeHolding(drives, path);
  d->SetSubClass(volume ? volume->DriveType : kDriveUnknown);
  d->SetPath(path);
  d->Name = LastName(path);
  const bool ready = fs.IsDirectory(path);
  d->DriveForChange().AllocationUnit = ready ? DriveAllocUnit(fs, path) : 1;
  d->Children = ready;
  if (ready) {
    GetDriveSpace(fs, path, d->DriveForChange().DeviceSize, d->DriveForChange().FreeSpace, report);
    d->UsedSpace = d->Drive().DeviceSize - d->Drive().FreeSpace;
    d->AllocatedSpace = d->UsedSpace;
    d->DriveForChange().FileSystem = volume ? volume->FileSystem : std::string();
    d->DriveForChange().RootFolder = path == "/" ? path : path + "/";
  }
  return d;
}

std::unique_ptr<DiskCollection> DiscoverDrives(const FileSystemService& fs,
                                               const MessageSink& report,
                                               const std::vector<std::string>& folderEntries) {
  auto list = DiscoverDrives(fs, report);
  if (folderEntries.empty()) return list;
  const std::vector<DriveInfo> drives = fs.Drives();
  DiskObject* root = list->Item(1);
  for (const std::string& path : folderEntries) {
    if (list->Find(path)) continue;
    auto entry = MakeFolderEntry(fs, drives, path, report);
    entry->Parent = root;
    list->Add(std::move(entry));
  }
  return list;
}

}  // namespace kestrum
