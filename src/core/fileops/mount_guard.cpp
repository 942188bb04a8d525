#include "core/fileops/mount_guard.h"

#include <unistd.h>

#include <cerrno>

#include "core/platform/mounts.h"

namespace kestrum {

std::string CanonicalPathOf(int fd) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  // The kernel marks an object that was removed; its path says nothing useful then.
  if (buffer.empty() || buffer.front() != '/') return {};
  return buffer;
}

std::string MountPointAtOrBelow(const std::string& canonicalPath, int* tableError,
                                const std::string& table) {
  int error = 0;
  const std::vector<MountEntry> mounts = ReadMountTable(table, &error);
  if (tableError) *tableError = mounts.empty() ? (error ? error : ENOENT) : 0;
  std::string base = canonicalPath;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  for (const MountEntry& m : mounts) {
    std::string target = m.Target;
    while (target.size() > 1 && target.back() == '/') target.pop_back();
    if (target == base) return target;
    if (base == "/" ? target.size() > 1
                    : target.size() > base.size() && target.compare(0, base.size(), base) == 0 &&
                          target[base.size()] == '/')
      return target;
  }
  return {};
}

}  // namespace kestrum
