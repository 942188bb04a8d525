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

#include "core/scan/exclude_rules.h"
#include "core/scan/mount_plan.h"
#include "core/scan/walk_sink.h"
#include "core/tree/disk_model.h"
#include "core/tree/file_rules.h"
#include "core/tree/hard_links.h"

namespace kestrum {

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
  // How files with more than one name count. Once: the first name met in the one-thread
  // walk's order claims the file in the drive's HardLinks table and counts its bytes and
  // allocation; later names count as files of zero bytes, and only the claiming name may
  // enter the largest list.
  HardLinkRule Links = HardLinkRule::Once;
  // Once only: true for a file that was counted outside the scanned folder already (a
  // refresh's folder inside a drive); none of its names counts bytes here. Called on the
  // thread that makes folders, only for files with more than one name.
  std::function<bool(const FileId&)> CountedBefore;
  // An open descriptor of the root folder to scan instead of opening RootFolder (a refresh
  // opens its folder without following links); the scan reads a duplicate of it.
  int RootFd = -1;
  // Where the walk's folders go instead of into drive: given, the scan makes no folder objects
  // and no largest files, and hands each folder to the sink as it would have made it (always
  // on the parallel walk, however many threads). Progress counts as usual.
  WalkSink* Sink = nullptr;
  // Whether the drive keeps every entry it meets in drive.Files (a new store): what the
  // window's map, finds and exports read. The report needs only the folders. Never with a Sink.
  bool KeepFiles = true;
  // What the walk leaves out: an entry a rule matches is neither counted nor entered (nor
  // stated); it is kept as Excluded with its rule's place. Null or empty: nothing is left out.
  // The drive records the rules' lines (DriveFields::ExcludeLines) for its refreshes.
  std::shared_ptr<const ExcludeRules> Excludes;
  // Whether the walk goes into file systems mounted below its folder. Pseudo file systems and
  // bind mounts are never entered either way (see MountPlan); recorded in the drive.
  bool CrossFileSystems = false;
  // The walk's decisions at mount points; null: read from /proc/self/mountinfo when the walk
  // starts (tests give their own).
  std::shared_ptr<const MountPlan> Mounts;
};

// The mount plan a walk of the folder root (ending in "/") on device rootDev follows.
std::shared_ptr<const MountPlan> WalkMounts(const ScanOptions& options, const std::string& root,
                                            dev_t rootDev);

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
// are filled; the summary is the caller's (see summary.h). Uses drive.Drive().AllocationUnit.
// Leaves the root folder's file system only into mounts CrossFileSystems allows (see
// MountPlan), enters a folder of another device that is no mount point, never follows a symbolic link, keeps no more
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
