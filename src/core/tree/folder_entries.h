#pragma once
#include <memory>
#include <string>
#include <vector>

#include "core/tree/discovery.h"

namespace kestrum {

// What a folder given to scan turned out to be.
struct FolderArgument {
  enum Kind { Entry, Volume, Unusable };
  Kind What = Unusable;
  std::string Given;    // as the user gave it
  std::string Path;     // Entry and Volume: the canonical path, links resolved, no trailing "/"
  std::string Message;  // Unusable: why, for the user
};

// Resolves one given path: links are resolved once, here. A path that is the Path of one
// of volumePaths (mount points) is that Volume; any other folder is an Entry; a path that does
// not exist, is not a folder or cannot be resolved is Unusable with a message that names it.
FolderArgument ResolveFolderArgument(const std::string& given,
                                     const std::vector<std::string>& volumePaths);

// The ready volume whose mount point holds path (the longest mount point that is path or a
// folder above it), or nullptr.
const DriveInfo* VolumeHolding(const std::vector<DriveInfo>& drives, const std::string& path);

// The last name of a path ("/home/u/project" gives "project").
std::string LastName(const std::string& path);

// A drive object for the folder at canonical path: Class "Drive", FolderEntry set, Path the
// folder, Name its last name, and the type, file system, capacity, free space and allocation
// unit of the volume that holds it (drives, from the same discovery). A folder that is gone
// is an entry that is not ready (no Children, no sizes). Tree nodes are not made here.
std::unique_ptr<DiskObject> MakeFolderEntry(const FileSystemService& fs,
                                            const std::vector<DriveInfo>& drives,
                                            const std::string& path, const MessageSink& report);

// A discovery (see DiscoverDrives) followed by one entry per folder of folderEntries, after
// the volumes and in the order given; an entry whose path is already listed is left out.
std::unique_ptr<DiskCollection> DiscoverDrives(const FileSystemService& fs,
                                               const MessageSink& report,
                                               const std::vector<std::string>& folderEntries);

}  // namespace kestrum
