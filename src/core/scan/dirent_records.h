#pragma once
#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace kestrum {

// Directories a walk keeps open at once along its path; deeper ancestors are closed and
// reopened through ".." on the way back, so any depth fits in the descriptor limit.
inline constexpr std::size_t kMaxOpenFolders = 64;

// Whether a stat of a listed entry that failed with error found it gone since the listing
// (nothing to count). Any other failure leaves the entry there and unknown: its folder could
// not be read whole. Both walks judge by this.
inline bool VanishedSinceListing(int error) { return error == ENOENT; }

// Calls fn(inode, type, name) for each record of a getdents64 buffer of n bytes, in order,
// leaving out "." and "..". type is the record's d_type (DT_UNKNOWN when the file system gives
// none).
template <typename Fn>
void ForEachDirentWithInode(const char* buffer, long n, Fn&& fn) {
  // The kernel's record layout for getdents64.
  struct Dirent64 {
    std::uint64_t d_ino;
    std::int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
  };
  for (long off = 0; off < n;) {
    const auto* d = reinterpret_cast<const Dirent64*>(buffer + off);
    off += d->d_reclen;
    const char* nm = d->d_name;
    if (nm[0] == '.' && (nm[1] == 0 || (nm[1] == '.' && nm[2] == 0))) continue;
    fn(d->d_ino, static_cast<unsigned char>(d->d_type), nm);
  }
}

// Calls fn(type, name) for each record, as ForEachDirentWithInode.
template <typename Fn>
void ForEachDirent(const char* buffer, long n, Fn&& fn) {
  ForEachDirentWithInode(
      buffer, n, [&fn](std::uint64_t, unsigned char type, const char* nm) { fn(type, nm); });
}

}  // namespace kestrum
