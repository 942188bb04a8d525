#pragma once
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/platform/mounts.h"

namespace kestrum {

// What a scan does at the mount points below its folder, decided once from the mount table
// before the walk, so that every walk (on any number of threads, in any order) decides alike.
//   Enter   a file system mounted below the folder, crossed into on request
//   Mount   a file system mounted below the folder, not crossed into: kept as another one
//   Kernel  a pseudo file system of the kernel (proc, sysfs, cgroup...), never entered
//   Bind    a bind mount (a subtree of a file system, or a file system already scanned),
//           never entered, so that no folder is counted twice
// A folder whose device differs from its parent's but that the table does not list (a btrfs
// subvolume) is no mount point: it is a folder of the same file system and is entered.
class MountPlan {
 public:
  enum class Decision : std::uint8_t { None, Enter, Mount, Kernel, Bind };

  // The plan for a scan of root (a path ending in "/", whose device is rootDev) from the
  // table's entries in their mount order. The table names mount points by their real paths;
  // walkRoot is root as the walk spells it (through a link, say), "" when the same.
  static std::shared_ptr<const MountPlan> FromTable(const std::vector<MountEntry>& table,
                                                    const std::string& root, dev_t rootDev,
                                                    bool cross, const std::string& walkRoot = "");
  // From /proc/self/mountinfo; null when it cannot be read (the walk then treats every change
  // of device as a mount point, as it always did).
  static std::shared_ptr<const MountPlan> ForScan(const std::string& root, dev_t rootDev,
                                                  bool cross);

  // The decision for the folder name in the folder whose path (ending in "/", beginning with
  // the walk's root) is folderPath.
  Decision At(std::string_view folderPath, std::string_view name, std::string& scratch) const;
  bool Cross() const { return cross_; }
  // No mount point lies below the folder: At always gives None.
  bool Empty() const { return targets_.empty(); }

 private:
  MountPlan() = default;
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string, Decision, Hash, std::equal_to<>> targets_;
  // The last components of the targets: most folders are told apart by their name alone.
  std::unordered_set<std::string, Hash, std::equal_to<>> names_;
  std::size_t walkRootSize_ = 0;  // targets_ are kept relative to the root
  bool cross_ = false;
};

// Whether a file system type is one of the kernel's pseudo file systems.
bool IsKernelFileSystem(std::string_view type);

}  // namespace kestrum
