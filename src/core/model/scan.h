#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/model/disk_model.h"

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

// Allocated size: size rounded up to whole units (0 stays 0, n units stay n units). A unit
// below 1 is taken as 1. The scan calls it once per file, so sizes of bytes below 2^53 (whole
// numbers a double holds exactly) are rounded on integers, by a mask for the usual
// power-of-two units: the same result as the division, in a few instructions and without
// loading a constant.
inline double AllocatedSize(double size, std::int32_t unit) {
  const std::int64_t u = unit < 1 ? 1 : unit;
  const auto bits = std::bit_cast<std::uint64_t>(size);
  constexpr std::uint64_t kTwoTo53 = 0x4340000000000000;  // the bits of 2^53
  if (bits - 1 < kTwoTo53 - 1) {  // 0 < size < 2^53
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

// Counters read by the progress line while a scan runs, from any thread.
struct ScanProgress {
  std::atomic<std::int64_t> Folders{0};
  std::atomic<std::int64_t> Files{0};
};

// How the scan reads directories. The default reads the real file system; tests override
// one call to make a folder unreadable or a file vanish. Every call may run on the scan's
// worker thread.
class DirectoryReader {
 public:
  virtual ~DirectoryReader() = default;
  // Opens the folder name (one path component) relative to the folder open as dirFd, never
  // following a symbolic link. -1 with errno set on failure.
  virtual int OpenAt(int dirFd, const char* name);
  // Opens the scan's root folder by its full path. -1 with errno set on failure.
  virtual int OpenRoot(const std::string& path);
  // Reads raw linux_dirent64 records into buffer (getdents64). Bytes read, 0 at the end,
  // -1 on failure.
  virtual long ReadEntries(int dirFd, char* buffer, std::size_t size);
  // lstat of name relative to dirFd: type and mode, device, inode, size, link count,
  // modification time and st_blocks, which is -1 where the file system reports no block
  // count. 0, or -1 with errno set.
  virtual int StatAt(int dirFd, const char* name, struct stat& out);
  // What the plain StatAt does, for callers that know the reader is the plain one. It asks
  // statx, which tells whether the block count is known, for just what the scan reads.
  static int LStatAt(int dirFd, const char* name, struct stat& out) {
    struct statx x;
    if (::statx(dirFd, name, AT_SYMLINK_NOFOLLOW, kStatWanted, &x) != 0) return -1;
    out.st_mode = x.stx_mode;
    out.st_dev = makedev(x.stx_dev_major, x.stx_dev_minor);
    out.st_ino = x.stx_ino;
    out.st_nlink = x.stx_nlink;
    out.st_size = static_cast<off_t>(x.stx_size);
    out.st_blocks = (x.stx_mask & STATX_BLOCKS) ? static_cast<blkcnt_t>(x.stx_blocks) : -1;
    out.st_mtim.tv_sec = x.stx_mtime.tv_sec;
    out.st_mtim.tv_nsec = x.stx_mtime.tv_nsec;
    return 0;
  }
  static constexpr unsigned kStatWanted =
      STATX_TYPE | STATX_MODE | STATX_INO | STATX_NLINK | STATX_SIZE | STATX_BLOCKS | STATX_MTIME;
};

// How a scan counts a regular file with more than one name (hard links).
enum class HardLinkRule : std::uint8_t {
  Once,  // its bytes and allocation once, at the first name met in the one-thread walk's order
  Each,  // at every name, as if each were a file of its own
};

// What a scan may be told from outside.
struct ScanOptions {
  DirectoryReader* Reader = nullptr;  // null: SharedReader, else the real file system
  // A reader the scan shares with its reader threads. Unlike Reader, which the scan must stop
  // calling before it returns (so a stop waits for reads inside it), this one is kept alive by
  // readers still blocked in it after a stopped scan has returned.
  std::shared_ptr<DirectoryReader> SharedReader;
  ScanProgress* Progress = nullptr;  // null: not counted
  // Runs after each folder object is complete (its own files read), one folder at a time, on
  // the thread that makes it (a reader of a parallel scan);
  // tests use it to clear Scanning after N folders. Also where a caller may yield.
  std::function<void(const DiskObject& folder)> AfterFolder;
  // Threads that read directories. 1 reads on the calling thread alone; N > 1 runs N readers
  // that also take turns to assemble the result. 0 takes KESTRUM_SCAN_THREADS from the
  // environment when it holds a positive number, else adapts: readers start at one per core
  // (one on a spinning disk) and grow beyond the cores while they wait on the device, back to
  // the cores while they are busy on the processor (see reader_control.h). With tracing on
  // the scan reads on one thread, so the trace keeps the walk's order. The result never
  // depends on this number.
  unsigned Threads = 0;
  // Whether the drive seeks (a spinning disk): unset asks the kernel about the block device
  // behind the root folder. A seeking drive gets each folder's stat calls in inode order, and
  // adaptive readers start at one. Only the order of the system calls changes.
  std::optional<bool> Rotational;
  HardLinkRule Links = HardLinkRule::Once;
};

// The thread count a scan with these options uses when it is fixed, and where adaptive
// readers settle when busy on the processor (one per core) otherwise: at least 1, at most 64.
unsigned ScanThreads(const ScanOptions& options);
// True when the reader count adapts to the device (Threads 0 and no valid
// KESTRUM_SCAN_THREADS).
bool AdaptiveScanThreads(const ScanOptions& options);

// Scans the folder tree under drive.RootFolder (a path ending in "/") depth first into the
// detached drive object drive: its DiskObjects get one "Folder" object per folder in
// creation order (root first, Level 1, Parent = drive), LargestFiles the largest files
// (keys numbered through keyCounter), Folder100 the "100 Largest Files" folder, and
// DeepestLevel the deepest Level (at least 1 once the root is read). Folders' own totals
// are filled; the summary is the caller's (see summary.h). Uses drive.AllocationUnit.
// Never leaves the root folder's file system, never follows a symbolic link, keeps no more
// than a bounded number of directories open and does not recurse, so depth and path length
// are limited only by memory. Stops early, with a consistent partial result, when Scanning
// is found false before a subfolder or a file. Returns false when the root folder cannot be
// opened (drive then holds an empty root folder object, Children true, and Folder100).
// Never touches the tree: nodes are made when the window thread attaches the result.
// With several threads a stop ends the scan between two folders: the result is the first
// folders of the depth-first order, each with all its own files (the root folder always
// exists, with the files read before the stop), and the scan returns within a fraction of a
// second after the root folder was read, without waiting for readers inside a system call.
bool ScanDrive(DiskObject& drive, std::int32_t& keyCounter, const ScanOptions& options = {});

}  // namespace kestrum
