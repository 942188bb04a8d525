#pragma once
#include <string>
#include <vector>

namespace kestrum {

// One line of the mount table, with the mount point already unescaped ("\040" -> " ").
struct MountEntry {
  std::string Source;       // "/dev/sda1", "server:/export", "tmpfs", ...
  std::string Target;       // mount point
  std::string FsType;       // "ext4", "nfs4", "fuse.sshfs", ...
  std::string Root;         // the mounted subtree of the source ("/" unless a bind mount)
  unsigned long DevNo = 0;  // st_dev of the mounted file system; 0 when the table has none
};

// Reads a mount table in /proc/self/mountinfo or fstab/mtab form through libmount, in the
// order it lists the mounts. A table that cannot be read gives an empty list and, when
// error is given, the errno value.
std::vector<MountEntry> ReadMountTable(const std::string& path, int* error = nullptr);

}  // namespace kestrum
