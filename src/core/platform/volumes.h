#pragma once
#include <sys/statvfs.h>

#include <optional>
#include <string>
#include <vector>

#include "core/platform/mounts.h"

namespace kestrum {

// The volume serial of the file system holding rootPath as signed 32-bit decimal text:
// the low 32 bits of its statvfs f_fsid. Empty with error set when statvfs fails; the caller
// decides whether that is fatal.
std::string VolumeSerialText(const std::string& rootPath, int* error = nullptr);

// Drive type codes, as the model's SetSubClass takes them.
enum DriveTypeCode : int {
  kDriveUnknown = 0,
  kDriveRemovable = 1,
  kDriveFixed = 2,
  kDriveNetwork = 3,
  kDriveCdRom = 4,
  kDriveRamDisk = 5,
};

// What the program knows of one volume before it scans it.
struct DriveInfo {
  std::string Path;  // the mount point, or the device of an optical drive without medium
  int DriveType = kDriveUnknown;
  bool IsReady = false;    // mounted and its mount point is a reachable folder
  std::string VolumeName;  // label, empty when the volume has none
  std::string FileSystem;  // "ext4", "nfs4", ...
  std::string RootFolder;  // Path + "/" (just "/" for the root file system); empty when not ready
  std::string Device;      // the mount source
};

// Where the service reads the machine's facts; tests point these at fixture trees.
struct VolumeSources {
  std::string MountTable = "/proc/self/mountinfo";
  std::string SysBlock = "/sys/block";
  std::string ByLabel = "/dev/disk/by-label";
};

// True for file systems that are not storage a user would want to size: kernel pseudo file
// systems, system-internal tmpfs (under /dev, /proc, /sys, /run), squashfs/snap images and
// container layers other than the container's own root.
bool IsPseudoMount(const MountEntry& m);

// The drive type of a mounted file system; sysBlock is consulted for removable disks.
int ClassifyMount(const MountEntry& m, const std::string& sysBlock);

// The volumes of this machine (the file system object service of the program). Each call
// reads the mount table again. The two queries are virtual so tests can make them fail.
class FileSystemService {
 public:
  explicit FileSystemService(VolumeSources sources = {});
  virtual ~FileSystemService() = default;

  // One entry per volume in mount-table order (pseudo file systems and duplicate mounts of
  // an already listed file system left out), then optical drives that hold no medium.
  std::vector<DriveInfo> Drives() const;
  // The drive whose Path equals path exactly, read afresh.
  std::optional<DriveInfo> GetDrive(const std::string& path) const;

  // 0 on success, else the errno value.
  virtual int StatVolume(const std::string& path, struct statvfs& out) const;
  virtual bool IsDirectory(const std::string& path) const;

  const VolumeSources& Sources() const { return sources_; }

 private:
  std::string LabelOf(const std::string& device) const;
  VolumeSources sources_;
};

}  // namespace kestrum
