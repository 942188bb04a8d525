#include "core/scan/mount_plan.h"

#include <stdlib.h>

#include <array>
#include <cstdlib>
#include <memory>

namespace kestrum {

namespace {

// A mount point without trailing "/" (but "/" itself).
std::string Trimmed(std::string t) {
  while (t.size() > 1 && t.back() == '/') t.pop_back();
  return t;
}

}  // namespace

bool IsKernelFileSystem(std::string_view type) {
  static constexpr std::array<std::string_view, 21> kKernel = {
      "proc",      "sysfs",     "cgroup",      "cgroup2",  "devpts",   "debugfs",   "tracefs",
      "securityfs", "pstore",   "bpf",         "configfs", "fusectl",  "mqueue",    "hugetlbfs",
      "autofs",    "binfmt_misc", "efivarfs",  "selinuxfs", "rpc_pipefs", "nsfs",   "smackfs"};
  for (const std::string_view k : kKernel)
    if (type == k) return true;
  return false;
}

std::shared_ptr<const MountPlan> MountPlan::FromTable(const std::vector<MountEntry>& table,
                                                      const std::string& root, dev_t rootDev,
                                                      bool cross, const std::string& walkRoot) {
  std::shared_ptr<MountPlan> plan(new MountPlan());
  plan->cross_ = cross;
  std::string top = root.empty() ? std::string("/") : root;
  if (top.back() != '/') top += '/';
  std::string walkTop = walkRoot.empty() ? top : walkRoot;
  if (walkTop.back() != '/') walkTop += '/';
  plan->walkRootSize_ = walkTop.size();
  // The file systems counted so far: the root's, known by its device and by the device the
  // table gives the mount that holds it.
  std::unordered_set<unsigned long> counted{static_cast<unsigned long>(rootDev)};
  std::size_t holder = 0;
  unsigned long holderDev = 0;
  for (const MountEntry& m : table) {
    const std::string t = Trimmed(m.Target);
    const bool holds = t == "/" || top.compare(0, t.size() + 1, t + "/") == 0;
    if (holds && t.size() >= holder) {
      holder = t.size();
      holderDev = m.DevNo;
    }
  }
  if (holderDev != 0) counted.insert(holderDev);
  for (const MountEntry& m : table) {
    const std::string t = Trimmed(m.Target);
    // Only what lies strictly below the scanned folder.
    if (t.size() < top.size() || t.compare(0, top.size(), top) != 0) continue;
    Decision d;
    if (IsKernelFileSystem(m.FsType)) {
      d = Decision::Kernel;
    } else if ((!m.Root.empty() && m.Root != "/") || (m.DevNo != 0 && counted.count(m.DevNo))) {
      d = Decision::Bind;
    } else if (cross) {
      d = Decision::Enter;
      if (m.DevNo != 0) counted.insert(m.DevNo);
    } else {
      d = Decision::Mount;
    }
    plan->names_.insert(t.substr(t.rfind('/') + 1));
    plan->targets_[t.substr(top.size())] = d;
  }
  return plan;
}

std::shared_ptr<const MountPlan> MountPlan::ForScan(const std::string& root, dev_t rootDev,
                                                    bool cross) {
  int error = 0;
  const std::vector<MountEntry> table = ReadMountTable("/proc/self/mountinfo", &error);
  if (table.empty()) return nullptr;
  // The table names mount points by their real paths.
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(root.c_str(), nullptr), &std::free);
  if (!real) return nullptr;
  return FromTable(table, real.get(), rootDev, cross, root);
}

MountPlan::Decision MountPlan::At(std::string_view folderPath, std::string_view name,
                                  std::string& scratch) const {
  if (names_.find(name) == names_.end() || folderPath.size() < walkRootSize_)
    return Decision::None;
  scratch.assign(folderPath.substr(walkRootSize_)).append(name);
  const auto it = targets_.find(std::string_view(scratch));
  return it == targets_.end() ? Decision::None : it->second;
}

}  // namespace kestrum
