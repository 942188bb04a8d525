#include "core/platform/volumes.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string_view>
#include <unordered_map>

#include "core/platform/errors.h"

namespace kestrum {

namespace {

bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

bool Under(std::string_view path, std::string_view dir) {
  return path == dir ||
         (StartsWith(path, dir) && path.size() > dir.size() && path[dir.size()] == '/');
}

std::string BaseName(const std::string& p) {
  const auto slash = p.find_last_of('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool Exists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

// The kernel name of a block device ("sda1" for "/dev/sda1", "dm-0" for a mapper link).
std::string KernelName(const std::string& device) {
  char buf[PATH_MAX];
  if (StartsWith(device, "/dev/") && ::realpath(device.c_str(), buf)) return BaseName(buf);
  return BaseName(device);
}

// Undoes udev's escaping of label names ("My\x20Disk").
std::string UnescapeUdev(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 3]))) {
      out.push_back(static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16)));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

constexpr std::array kPseudo = {"proc",
                                "sysfs",
                                "devtmpfs",
                                "devpts",
                                "cgroup",
                                "cgroup2",
                                "securityfs",
                                "debugfs",
                                "tracefs",
                                "pstore",
                                "bpf",
                                "configfs",
                                "fusectl",
                                "hugetlbfs",
                                "mqueue",
                                "autofs",
                                "binfmt_misc",
                                "rpc_pipefs",
                                "nsfs",
                                "efivarfs",
                                "selinuxfs",
                                "rootfs",
                                "none",
                                "squashfs",
                                "nfsd",
                                "fuse.gvfsd-fuse",
                                "fuse.portal",
                                "fuse.snapfuse",
                                "fuse.xdg-document-portal",
                                "binder"};

constexpr std::array kNetwork = {"nfs",         "nfs4",       "cifs",        "smb3",
                                 "smbfs",       "ceph",       "9p",          "afs",
                                 "glusterfs",   "fuse.sshfs", "sshfs",       "fuse.glusterfs",
                                 "fuse.davfs2", "davfs",      "fuse.rclone", "fuse.s3fs",
                                 "lustre",      "ncpfs",      "coda"};

template <std::size_t N>
bool In(const std::array<const char*, N>& list, std::string_view v) {
  return std::find(list.begin(), list.end(), v) != list.end();
}

// The whole disk holding a kernel block name: "sda" for "sda1" (its sysfs folder holds the
// partition's), the name itself when it is a disk.
std::string DiskOf(const std::string& name, const std::string& sysBlock) {
  if (Exists(sysBlock + "/" + name)) return name;
  if (DIR* d = ::opendir(sysBlock.c_str())) {
    std::string found;
    while (dirent* e = ::readdir(d)) {
      const std::string disk = e->d_name;
      if (disk == "." || disk == "..") continue;
      if (Exists(sysBlock + "/" + disk + "/" + name)) {
        found = disk;
        break;
      }
    }
    ::closedir(d);
    return found;
  }
  return {};
}

bool IsRemovableDisk(const std::string& disk, const std::string& sysBlock) {
  if (disk.empty()) return false;
  const std::string dir = sysBlock + "/" + disk;
  if (ReadFirstLine(dir + "/removable") == "1") return true;
  char buf[PATH_MAX];
  // A USB stick often reports removable 0; its device path runs through a USB controller.
  if (::realpath(dir.c_str(), buf) && std::string_view(buf).find("/usb") != std::string_view::npos)
    return true;
  return false;
}

}  // namespace

bool IsPseudoMount(const MountEntry& m) {
  const std::string& t = m.FsType;
  if (In(kPseudo, t)) return true;
  if (t == "overlay" || t == "fuse-overlayfs" || t == "aufs") return m.Target != "/";
  if (t == "tmpfs" || t == "ramfs") {
    for (const char* sys : {"/dev", "/proc", "/sys", "/run"})
      if (Under(m.Target, sys)) return true;
  }
  return false;
}

int ClassifyMount(const MountEntry& m, const std::string& sysBlock) {
  const std::string& t = m.FsType;
  if (In(kNetwork, t) || StartsWith(t, "nfs")) return kDriveNetwork;
  if (t == "tmpfs" || t == "ramfs") return kDriveRamDisk;
  if (t == "iso9660" || t == "udf") return kDriveCdRom;
  if (StartsWith(m.Source, "/dev/")) {
    const std::string name = KernelName(m.Source);
    if (StartsWith(name, "sr")) return kDriveCdRom;
    if (StartsWith(name, "zram")) return kDriveRamDisk;
    return IsRemovableDisk(DiskOf(name, sysBlock), sysBlock) ? kDriveRemovable : kDriveFixed;
  }
  if (t == "overlay" || t == "fuse-overlayfs" || t == "zfs" || t == "btrfs" || t == "bcachefs")
    return kDriveFixed;
  return kDriveUnknown;
}

std::string VolumeSerialText(const std::string& rootPath, int* error) {
  struct statvfs st {};
  if (::statvfs(rootPath.c_str(), &st) != 0) {
    if (error) *error = LastApiError();
    return {};
  }
  if (error) *error = 0;
  return std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>(st.f_fsid)));
}

FileSystemService::FileSystemService(VolumeSources sources) : sources_(std::move(sources)) {}

int FileSystemService::StatVolume(const std::string& path, struct statvfs& out) const {
  return ::statvfs(path.c_str(), &out) == 0 ? 0 : errno;
}

bool FileSystemService::IsDirectory(const std::string& path) const {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string FileSystemService::LabelOf(const std::string& device) const {
  if (!StartsWith(device, "/dev/")) return {};
  const std::string want = KernelName(device);
  std::string label;
  if (DIR* d = ::opendir(sources_.ByLabel.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      char buf[PATH_MAX];
      const std::string link = sources_.ByLabel + "/" + name;
      if (::realpath(link.c_str(), buf) && BaseName(buf) == want) {
        label = UnescapeUdev(name);
        break;
      }
    }
    ::closedir(d);
  }
  return label;
}

std::vector<DriveInfo> FileSystemService::Drives() const {
  std::vector<DriveInfo> out;
  std::set<unsigned long> seenDev;
  std::set<std::string> mountedOptical;
  const std::vector<MountEntry> table = ReadMountTable(sources_.MountTable);
  // A later mount on the same point hides the earlier one: only the last is reachable.
  std::unordered_map<std::string, std::size_t> lastAt;
  for (std::size_t i = 0; i < table.size(); ++i) lastAt[table[i].Target] = i;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const MountEntry& m = table[i];
    if (lastAt[m.Target] != i || IsPseudoMount(m)) continue;
    // A bind mount shows a file system that is already listed: keep its first mount only.
    if (m.DevNo != 0 && !seenDev.insert(m.DevNo).second) continue;
    DriveInfo d;
    d.Path = m.Target;
    d.Device = m.Source;
    d.DriveType = ClassifyMount(m, sources_.SysBlock);
    if (d.DriveType == kDriveCdRom && StartsWith(m.Source, "/dev/"))
      mountedOptical.insert(KernelName(m.Source));
    d.IsReady = IsDirectory(m.Target);
    if (d.IsReady) {
      d.FileSystem = m.FsType;
      d.VolumeName = LabelOf(m.Source);
      d.RootFolder = m.Target == "/" ? "/" : m.Target + "/";
    }
    out.push_back(std::move(d));
  }
  // Optical drives without a medium have no mount; list them as drives that are not ready.
  if (DIR* dir = ::opendir(sources_.SysBlock.c_str())) {
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      if (StartsWith(name, "sr") && !mountedOptical.count(name)) names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      DriveInfo d;
      d.Path = "/dev/" + name;
      d.Device = d.Path;
      d.DriveType = kDriveCdRom;
      out.push_back(std::move(d));
    }
  }
  return out;
}

std::optional<DriveInfo> FileSystemService::GetDrive(const std::string& path) const {
  for (DriveInfo& d : Drives())
    if (d.Path == path) return std::move(d);
  return std::nullopt;
}

}  // namespace kestrum
