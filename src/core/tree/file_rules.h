#pragma once
#include <sys/stat.h>
#include <sys/types.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "core/tree/file_store.h"

namespace kestrum {

// Attribute bits of the directory search, as the Linux file types map onto them.
inline constexpr std::uint32_t kAttrReadOnly = 0x1;
inline constexpr std::uint32_t kAttrHidden = 0x2;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrDevice = 0x40;
inline constexpr std::uint32_t kAttrNormal = 0x80;
inline constexpr std::uint32_t kAttrReparsePoint = 0x400;
// An entry is counted as a file when it has no attribute bit outside this mask.
inline constexpr std::uint32_t kCountedMask = 0xA7;

// Attributes of an entry: a regular file is normal, read-only without owner write permission
// and hidden when its name starts with "."; a directory is a directory; a symbolic link a
// reparse point; devices, FIFOs and sockets a device.
// Inline, like AllocatedSize: the scan calls them once per file.
inline std::uint32_t LinuxAttributes(mode_t mode, const char* name) {
  if (S_ISREG(mode)) {
    std::uint32_t a = kAttrNormal;
    if (!(mode & S_IWUSR)) a |= kAttrReadOnly;
    if (name[0] == '.') a |= kAttrHidden;
    return a;
  }
  if (S_ISDIR(mode)) return kAttrDirectory;
  if (S_ISLNK(mode)) return kAttrReparsePoint;
  return kAttrDevice;
}
inline bool IsCountedFile(std::uint32_t attributes) { return (attributes & ~kCountedMask) == 0; }

// Whether an entry of this mode and name counts as a file, in sizes, counts and the largest
// list: every walk, the export and the file rows ask this one question.
inline bool CountsAsFile(mode_t mode, const char* name) {
  return IsCountedFile(LinuxAttributes(mode, name));
}

// Allocated size: size rounded up to whole units (0 stays 0, n units stay n units). A unit
// below 1 is taken as 1. The scan calls it once per file, so sizes of bytes below 2^53 (whole
// numbers a double holds exactly) are rounded on integers, by a mask for the usual
// power-of-two units: the same result as the division, in a few instructions and without
// loading a constant.
inline double AllocatedSize(double size, std::int32_t unit) {
  const std::int64_t u = unit < 1 ? 1 : unit;
  const auto bits = std::bit_cast<std::uint64_t>(size);
  constexpr std::uint64_t kTwoTo53 = 0x4340000000000000;  // the bits of 2^53
  if (bits - 1 < kTwoTo53 - 1) {                          // 0 < size < 2^53
    const auto bytes = static_cast<std::int64_t>(size);
    const std::int64_t rounded =
        (u & (u - 1)) == 0 ? (bytes + u - 1) & ~(u - 1) : (bytes + u - 1) / u * u;
    return static_cast<double>(rounded);
  }
  const auto whole = static_cast<double>(u);
  return std::ceil(size / whole) * whole;
}

// The space a file holds on the disk: its block count as the file system reports it (in
// 512-byte blocks; less than the size for sparse or compressed files, more for preallocated
// ones), or, where the file system reports none (blocks < 0), the size rounded up to whole
// allocation units.
inline double FileAllocated(blkcnt_t blocks, double size, std::int32_t unit) {
  return blocks >= 0 ? static_cast<double>(blocks) * 512.0 : AllocatedSize(size, unit);
}

// A counted file as the store keeps it, from its lstat and the space the scan counts for it.
inline StoredEntry StoredFile(const struct stat& st, double allocated, std::string_view name) {
  StoredEntry e;
  e.HasTime = true;
  e.Time = st.st_mtim.tv_sec;
  e.Executable = (st.st_mode & 0111) != 0;
  e.Size = static_cast<std::uint64_t>(st.st_size);
  e.Allocated = static_cast<std::uint64_t>(allocated);
  e.Linked = st.st_nlink > 1;
  if (e.Linked) {
    e.Inode = st.st_ino;
    e.Links = st.st_nlink;
  }
  e.Name = name;
  return e;
}

}  // namespace kestrum
