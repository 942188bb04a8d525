#include "core/platform/block_device.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace kestrum {

namespace {

// Stacks of devices are shallow; the bound only guards against a looping tree.
constexpr int kMaxDepth = 16;

// The path with every symbolic link resolved; empty when it does not exist.
std::string Canonical(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : std::string();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// The names in a folder, "." and ".." left out; empty when it cannot be read.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return names;
  while (const dirent* e = ::readdir(d)) {
    const std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  ::closedir(d);
  return names;
}

// "0" or "1" from the device's queue/rotational.
std::optional<bool> ReadFlag(const std::string& device) {
  std::FILE* f = std::fopen((device + "/queue/rotational").c_str(), "re");
  if (!f) return std::nullopt;
  int c = std::fgetc(f);
  std::fclose(f);
  if (c == '0') return false;
  if (c == '1') return true;
  return std::nullopt;
}

// device is a canonical folder of sysfs's device tree.
std::optional<bool> Rotational(const std::string& device, int depth) {
  if (device.empty() || depth > kMaxDepth) return std::nullopt;
  // A stacked device (device-mapper, RAID): its own flag is only what the stack was set up
  // with; the disks under it are what seeks.
  const std::vector<std::string> below = Names(device + "/slaves");
  if (!below.empty()) {
    std::optional<bool> any;
    for (const std::string& name : below) {
      const std::optional<bool> r = Rotational(Canonical(device + "/slaves/" + name), depth + 1);
      if (r) any = any.value_or(false) || *r;
    }
    if (any) return any;
    return ReadFlag(device);
  }
  // A partition sits in its whole disk's folder and has no queue of its own.
  if (Exists(device + "/partition")) {
    const std::size_t slash = device.rfind('/');
    if (slash == std::string::npos || slash == 0) return std::nullopt;
    return Rotational(device.substr(0, slash), depth + 1);
  }
  return ReadFlag(device);
}

}  // namespace

std::optional<bool> DeviceIsRotational(dev_t dev, const std::string& sysfsRoot) {
  // Numbers with major 0 are the kernel's anonymous devices (tmpfs, overlay, btrfs
  // subvolumes): no block device of their own.
  if (major(dev) == 0) return std::nullopt;
  const std::string link =
      sysfsRoot + "/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
  return Rotational(Canonical(link), 0);
}

}  // namespace kestrum
