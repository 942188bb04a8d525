#include "core/scan/scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "core/scan/dirent_records.h"
#include "core/tree/drive_build.h"
#include "core/scan/parallel_scan.h"
#include "core/scan/scanning.h"
#include "core/platform/block_device.h"
#include "core/trace/trace.h"

namespace kestrum {

int DirectoryReader::OpenAt(int dirFd, const char* name) {
  return ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
}

int DirectoryReader::OpenRoot(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
}

long DirectoryReader::ReadEntries(int dirFd, char* buffer, std::size_t size) {
  return ::syscall(SYS_getdents64, dirFd, buffer, size);
}

int DirectoryReader::StatAt(int dirFd, const char* name, struct stat& out) {
  return LStatAt(dirFd, name, out);
}

int OpenScanRoot(DirectoryReader& reader, const DiskObject& drive, const ScanOptions& options) {
  if (options.RootFd >= 0) return ::fcntl(options.RootFd, F_DUPFD_CLOEXEC, 0);
  return reader.OpenRoot(drive.Drive().RootFolder);
}

bool ClaimHardLink(DiskObject& drive, const ScanOptions& options, const FileId& id, double size,
                   double allocated, DiskObject& folder) {
  if (options.Links == HardLinkRule::Each) return true;
  if (options.CountedBefore && options.CountedBefore(id)) return false;
  if (!drive.HardLinks().Claim(id, size, allocated, &folder)) return false;
  ++folder.LinkClaims;
  return true;
}

namespace {

// One folder on the walk's stack: its object and the subfolders still to be entered.
struct Frame {
  int fd = -1;
  dev_t dev = 0;
  ino_t ino = 0;
  DiskObject* folder = nullptr;
  std::string names;         // subfolder names, each ended by NUL, in listing order
  std::vector<std::int64_t> mtimes;  // their modification times, when entries are kept
  std::size_t nextIndex = 0;         // the next name's place among them
  std::size_t next = 0;      // offset of the next name in names
  std::size_t pathSize = 0;  // length of the folder's path, a prefix of the walk's path_
};

class Walker {
 public:
  Walker(DiskObject& drive, std::int32_t& keyCounter, const ScanOptions& options)
      : drive_(drive),
        keyCounter_(keyCounter),
        options_(options),
        reader_(options.Reader ? *options.Reader : defaultReader_) {
    chunk_.resize(64 * 1024);
  }
  ~Walker() {
    for (Frame& f : stack_)
      if (f.fd >= 0) ::close(f.fd);
  }

  bool Run() {
    const int rootFd = OpenScanRoot(reader_, drive_, options_);
    struct stat st {};
    std::int64_t rootTime = -1;
    if (rootFd >= 0 && ::fstat(rootFd, &st) == 0) {
      driveDev_ = st.st_dev;
      rootTime = st.st_mtim.tv_sec;
    }
    if (keep_) drive_.Drive().Files->Device = driveDev_;
    path_ = drive_.Drive().RootFolder.empty() ? std::string("/") : drive_.Drive().RootFolder;
    if (rootFd >= 0) mounts_ = WalkMounts(options_, path_, driveDev_);
    DiskObject* root = ScanFolder(rootFd, std::string(), &drive_, true, rootTime);
    while (!stack_.empty()) {
      Frame& top = stack_.back();
      if (top.next < top.names.size() && Scanning.load(std::memory_order_relaxed)) {
        const char* name = top.names.c_str() + top.next;
        const std::size_t len = std::strlen(name);
        top.next += len + 1;
        const std::int64_t time = keep_ ? top.mtimes[top.nextIndex] : -1;
        ++top.nextIndex;
        const int fd = reader_.OpenAt(top.fd, name);
        DiskObject* parent = top.folder;
        // Built before the call: it may grow the stack and move top.
        std::string childName(name, len);
        path_.resize(top.pathSize);
        path_.append(childName).push_back('/');
        ScanFolder(fd, std::move(childName), parent, false, time);
        LimitOpenFolders();
      } else {
        Leave();
      }
    }
    Add100Folder(root->Path(), root->Name, *root, drive_, currentLevel_);
    return rootFd >= 0;
  }

 private:
  // Creates the folder's object, reads its entries, counts its files and, when it has
  // subfolders, pushes it on the stack (taking over fd). Closes fd otherwise. path_ holds
  // the folder's path; only the root folder keeps it.
  DiskObject* ScanFolder(int fd, std::string name, DiskObject* parent, bool isRoot,
                         std::int64_t time) {
    if (Tracing()) Trace("Globals.ScanFolder(" + name + ")");
    ++currentLevel_;
    DiskObject* folder =
        AddScannedFolder(drive_, std::move(name), parent, isRoot, currentLevel_, path_);

    statFailed_ = false;
    const bool readable = fd >= 0 && ReadListing(fd);
    Frame frame;
    std::int32_t subfolders = 0;
    packed_.Clear();
    linkedAt_.clear();
    if (readable) {
      subfolders = ListSubfolders(fd, frame.names, frame.mtimes);
      ScanFiles(fd, *folder);
    }
    if (keep_) {
      folder->FilesAt = drive_.Drive().Files->AddFolder(
          StoredFolder{readable && !statFailed_, time >= 0, time}, packed_, &linkedAt_);
      for (const std::uint64_t at : linkedAt_) drive_.Drive().Files->SetCountedElsewhere(at, true);
    }
    folder->FolderCount = subfolders;
    folder->fFolderCount = subfolders;
    // A folder that cannot be read whole may still hold folders: it keeps its expander.
    folder->Children = subfolders > 0 || !readable || statFailed_;
    if (options_.Progress) options_.Progress->Folders.fetch_add(1, std::memory_order_relaxed);
    if (options_.AfterFolder) options_.AfterFolder(*folder);

    if (subfolders > 0) {
      struct stat st {};
      ::fstat(fd, &st);
      frame.fd = fd;
      frame.dev = st.st_dev;
      frame.ino = st.st_ino;
      frame.folder = folder;
      frame.pathSize = path_.size();
      stack_.push_back(std::move(frame));
    } else {
      if (fd >= 0) ::close(fd);
      --currentLevel_;
    }
    return folder;
  }

  // Reads every entry of the folder into listing_ as type byte, name, NUL; "." and ".."
  // left out. False when nothing could be read at all.
  bool ReadListing(int fd) {
    listing_.clear();
    bool any = false;
    for (;;) {
      const long n = reader_.ReadEntries(fd, chunk_.data(), chunk_.size());
      if (n < 0) return any;
      if (n == 0) return true;
      any = true;
      ForEachDirent(chunk_.data(), n, [this](unsigned char type, const char* nm) {
        listing_.push_back(static_cast<char>(type));
        listing_.insert(listing_.end(), nm, nm + std::strlen(nm) + 1);
      });
    }
  }

  // Appends the names of the folder's subfolders on the drive's file system to names (and,
  // when entries are kept, their times to mtimes). Where entries are kept, the listing learns
  // what the files' pass needs to keep every entry in listing order: a mount point's type
  // becomes kMountPoint, and an entry of unknown type that is a folder DT_DIR.
  std::int32_t ListSubfolders(int fd, std::string& names, std::vector<std::int64_t>& mtimes) {
    std::int32_t count = 0;
    for (std::size_t i = 0; i < listing_.size();) {
      const auto type = static_cast<unsigned char>(listing_[i]);
      char& typeByte = listing_[i];
      const char* nm = listing_.data() + i + 1;
      const std::size_t len = std::strlen(nm);
      i += len + 2;
      if (type != DT_DIR && type != DT_UNKNOWN) continue;
      if (ExcludedByName(std::string_view(nm, len)) >= 0) {
        typeByte = static_cast<char>(kExcluded);
        continue;
      }
      struct stat st {};
      if (reader_.StatAt(fd, nm, st) != 0) {
        StatFailed(errno);
        if (keep_ && type == DT_DIR) typeByte = static_cast<char>(kSkipped);
        continue;
      }
      if (!S_ISDIR(st.st_mode)) {
        // A folder's listing that names no folder any more: no entry of the folder's.
        if (keep_ && type == DT_DIR) typeByte = static_cast<char>(kSkipped);
        continue;
      }
      if (keep_) typeByte = static_cast<char>(DT_DIR);
      const MountPlan::Decision d =
          mounts_ ? mounts_->At(path_, std::string_view(nm, len), mountPath_)
          : st.st_dev != driveDev_ ? MountPlan::Decision::Mount  // another drive's folder
                                   : MountPlan::Decision::None;
      if (d == MountPlan::Decision::Mount || d == MountPlan::Decision::Kernel ||
          d == MountPlan::Decision::Bind) {
        if (keep_)
          typeByte = static_cast<char>(d == MountPlan::Decision::Kernel ? kKernelFs
                                       : d == MountPlan::Decision::Bind ? kBindMount
                                                                        : kMountPoint);
        continue;
      }
      if (cachesRule_ >= 0 && HoldsCacheTag(fd, nm)) {
        typeByte = static_cast<char>(kCache);
        continue;
      }
      names.append(nm, len + 1);
      if (keep_) mtimes.push_back(st.st_mtim.tv_sec);
      ++count;
    }
    return count;
  }

  // Listing types the subfolders' pass gives entries for the files' pass, beyond the d_type
  // values (which stop at 14).
  // kExcluded: a folder or an entry of unknown type a rule matches; kCache: a folder holding
  // a cache tag, under the Caches rule.
  // kKernelFs and kBindMount: mount points of a pseudo file system, and bind mounts.
  static constexpr unsigned char kMountPoint = 0xF0, kSkipped = 0xF1, kExcluded = 0xF2,
                                 kCache = 0xF3, kKernelFs = 0xF4, kBindMount = 0xF5;

  // The place of the rule that leaves out the entry name of the folder being read, or -1.
  int ExcludedByName(std::string_view name) {
    return matchRules_ ? options_.Excludes->Match(name, path_, excludeScratch_) : -1;
  }

  void KeepExcluded(const char* nm, int rule) {
    if (!keep_) return;
    StoredEntry e;
    e.What = StoredEntry::Kind::Excluded;
    e.Reason = static_cast<std::uint32_t>(rule + 1);
    e.Name = nm;
    packed_.Add(e);
  }

  // Keeps an entry that is no counted file: a link, device, FIFO or socket, or a mount point.
  void KeepOther(const char* nm, StoredEntry::Kind kind, const struct stat* st,
                 std::uint32_t reason = 0) {
    StoredEntry e;
    e.What = kind;
    e.Reason = reason;
    if (st) {
      e.HasTime = true;
      e.Time = st->st_mtim.tv_sec;
    }
    e.Name = nm;
    packed_.Add(e);
  }

  // Counts and sizes the folder's files, offering each to the largest-files list.
  void ScanFiles(int fd, DiskObject& folder) {
    if (Tracing()) Trace("Globals.ScanFiles(" + folder.Name + ")");
    if (Tracing()) Trace("Globals.Firstfile(" + path_ + "*)");
    std::int64_t counted = 0;
    bool first = true;
    const std::int32_t unit = drive_.Drive().AllocationUnit;
    for (std::size_t i = 0; i < listing_.size();) {
      if (!Scanning.load(std::memory_order_relaxed)) break;
      const auto type = static_cast<unsigned char>(listing_[i]);
      const char* nm = listing_.data() + i + 1;
      const std::size_t len = std::strlen(nm);
      i += len + 2;
      if (type == kExcluded || type == kCache) {
        KeepExcluded(nm, type == kCache ? cachesRule_ : ExcludedByName(std::string_view(nm, len)));
        continue;
      }
      // Left out by a rule: neither stated nor counted. (Folders and the marked types were
      // asked when the subfolders were listed.)
      if (type != DT_DIR && type < kMountPoint) {
        const int rule = ExcludedByName(std::string_view(nm, len));
        if (rule >= 0) {
          KeepExcluded(nm, rule);
          continue;
        }
      }
      // Entries whose type already says they are no file are never counted; a stat would
      // only confirm it.
      if (type != DT_REG && type != DT_UNKNOWN) {
        if (!keep_ || type == DT_DIR || type == kSkipped) continue;
        if (type == kMountPoint || type == kKernelFs || type == kBindMount) {
          KeepOther(nm, StoredEntry::Kind::OtherFs, nullptr,
                    type == kKernelFs   ? StoredEntry::kReasonKernel
                    : type == kBindMount ? StoredEntry::kReasonBind
                                         : StoredEntry::kReasonMount);
          continue;
        }
        KeepOther(nm, StoredEntry::Kind::Other, nullptr);
        continue;
      }
      struct stat st {};
      if (reader_.StatAt(fd, nm, st) != 0) {
        StatFailed(errno);
        continue;
      }
      const auto size = static_cast<double>(st.st_size);
      if (Tracing()) TraceEntry(first, std::string(nm, len), st.st_size);
      first = false;
      if (S_ISDIR(st.st_mode)) continue;  // a folder now, where the listing named a file
      if (!CountsAsFile(st.st_mode, nm)) {
        if (keep_) KeepOther(nm, StoredEntry::Kind::Other, &st);
        continue;
      }
      ++counted;
      ++folder.FileCount;
      ++folder.fFileCount;
      const double allocated = FileAllocated(st.st_blocks, size, unit);
      std::uint32_t record = 0;
      if (keep_) {
        record = packed_.Add(StoredFile(st, allocated, std::string_view(nm, len)));
      }
      if (st.st_nlink > 1 && !ClaimLink(FileId{st.st_dev, st.st_ino}, size, allocated, folder)) {
        if (keep_) linkedAt_.push_back(record);  // counted at another name
        continue;
      }
      folder.UsedSpace += size;
      folder.fUsedSpace += size;
      folder.AllocatedSpace += allocated;
      folder.fAllocatedSpace += allocated;
      OfferLargest(drive_, path_, std::string_view(nm, len), size, allocated, keyCounter_,
                   scratch_);
    }
    if (options_.Progress) options_.Progress->Files.fetch_add(counted, std::memory_order_relaxed);
  }

  void StatFailed(int error) {
    if (!VanishedSinceListing(error)) statFailed_ = true;
  }

  // A name of a file with more than one: whether its bytes count in folder.
  bool ClaimLink(FileId id, double size, double allocated, DiskObject& folder) {
    return ClaimHardLink(drive_, options_, id, size, allocated, folder);
  }

  static void TraceEntry(bool first, const std::string& name, off_t size) {
    const auto u = static_cast<std::uint64_t>(size);
    const std::string sz = std::to_string(u);
    if (first)
      Trace("Globals.Firstfile(" + name + "," + sz + ")");
    else
      Trace("Globals.Nextfile(" + name + "," + sz + "," + std::to_string(u >> 32) + "," +
            std::to_string(u & 0xFFFFFFFFu) + ")");
  }

  // Closes the descriptor of the ancestor that has just fallen out of the open window.
  void LimitOpenFolders() {
    if (stack_.size() <= kMaxOpenFolders) return;
    Frame& f = stack_[stack_.size() - 1 - kMaxOpenFolders];
    if (f.fd >= 0) {
      ::close(f.fd);
      f.fd = -1;
    }
  }

  // Finishes the top folder and makes its parent the top again, reopening the parent through
  // ".." when its descriptor was closed. A parent that is no longer where it was (moved
  // during the scan) is not read further.
  void Leave() {
    Frame done = std::move(stack_.back());
    stack_.pop_back();
    --currentLevel_;
    if (!stack_.empty() && stack_.back().fd < 0) {
      Frame& p = stack_.back();
      const int fd = done.fd >= 0 ? reader_.OpenAt(done.fd, "..") : -1;
      struct stat st {};
      if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_dev == p.dev && st.st_ino == p.ino) {
        p.fd = fd;
      } else {
        if (fd >= 0) ::close(fd);
        p.next = p.names.size();
        p.fd = -1;
        if (Tracing()) Trace("Globals.ScanFolder-lost folder " + p.folder->Path());
      }
    }
    if (done.fd >= 0) ::close(done.fd);
  }

  DiskObject& drive_;
  std::int32_t& keyCounter_;
  const ScanOptions& options_;
  DirectoryReader defaultReader_;
  DirectoryReader& reader_;
  dev_t driveDev_ = 0;
  std::int32_t currentLevel_ = 0;
  bool statFailed_ = false;  // an entry of the folder being read could not be stated
  std::vector<Frame> stack_;
  std::vector<char> chunk_;
  std::vector<char> listing_;
  std::string path_;  // the path of the folder being read, ending in "/"
  std::string scratch_;
  // The drive keeps every entry: the folder's, packed, and the offsets of those of its linked
  // files that count at another name.
  const bool keep_ = drive_.Drive().Files != nullptr;
  EntryPacker packed_;
  std::vector<std::uint64_t> linkedAt_;
  const bool matchRules_ = options_.Excludes && options_.Excludes->MatchesNames();
  const int cachesRule_ = options_.Excludes ? options_.Excludes->CachesRule() : -1;
  ExcludeRules::Scratch excludeScratch_;
  std::shared_ptr<const MountPlan> mounts_;
  std::string mountPath_;
};

}  // namespace

namespace {

constexpr unsigned kMaxThreads = 64;

// KESTRUM_SCAN_THREADS when it holds a positive number (at most kMaxThreads), else 0.
unsigned EnvironmentThreads() {
  const char* env = std::getenv("KESTRUM_SCAN_THREADS");
  if (!env) return 0;
  char* end = nullptr;
  const long v = std::strtol(env, &end, 10);
  if (end == env || *end != 0 || v <= 0) return 0;
  return static_cast<unsigned>(v > kMaxThreads ? kMaxThreads : v);
}

unsigned Cores() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : (n > kMaxThreads ? kMaxThreads : n);
}

}  // namespace

std::shared_ptr<const MountPlan> WalkMounts(const ScanOptions& options, const std::string& root,
                                            dev_t rootDev) {
  if (options.Mounts) return options.Mounts;
  return MountPlan::ForScan(root, rootDev, options.CrossFileSystems);
}

unsigned ScanThreads(const ScanOptions& options) {
  unsigned n = options.Threads;
  if (n == 0) n = EnvironmentThreads();
  if (n == 0) n = Cores();
  return n > kMaxThreads ? kMaxThreads : n;
}

bool AdaptiveScanThreads(const ScanOptions& options) {
  return options.Threads == 0 && EnvironmentThreads() == 0;
}

bool ScanDrive(DiskObject& drive, std::int32_t& keyCounter, const ScanOptions& options) {
  if (!drive.Drive().RootFolder.empty() && drive.Drive().RootFolder.back() != '/')
    drive.DriveForChange().RootFolder += '/';
  drive.DriveForChange().LinkRule = options.Links;
  drive.DriveForChange().CrossFileSystems = options.CrossFileSystems;
  drive.DriveForChange().ExcludeLines =
      options.Excludes ? options.Excludes->Lines() : std::vector<std::string>();
  if (options.KeepFiles && !options.Sink && !drive.Drive().Files)
    drive.DriveForChange().Files = std::make_shared<FileStore>();
  const bool adaptive = !TraceOn && AdaptiveScanThreads(options);
  const unsigned threads = TraceOn ? 1 : ScanThreads(options);
  if (!options.Sink && !adaptive && threads == 1) {
    Walker w(drive, keyCounter, options);
    return w.Run();
  }
  ReaderPlan plan;
  bool rotational = false;
  if (options.Rotational) {
    rotational = *options.Rotational;
  } else {
    struct stat st {};
    const std::string& root =
        drive.Drive().RootFolder.empty() ? std::string("/") : drive.Drive().RootFolder;
    const int found =
        options.RootFd >= 0 ? ::fstat(options.RootFd, &st) : ::stat(root.c_str(), &st);
    if (found == 0) rotational = DeviceIsRotational(st.st_dev).value_or(false);
  }
  plan.InodeOrder = rotational;
  plan.Adaptive = adaptive;
  plan.Cores = Cores();
  // Beyond a few requests per core a device stops answering faster, and every reader costs a
  // descriptor, a buffer and a share of the processors other programs need.
  plan.Most = std::min(kMaxThreads, std::max(16u, 8 * plan.Cores));
  // A spinning disk may lose to a second stream of seeks: its adaptive readers start alone and
  // grow only where the device shows it pays.
  plan.Start = adaptive ? (rotational ? 1 : plan.Cores) : threads;
  return ScanDriveParallel(drive, keyCounter, options, plan);
}

}  // namespace kestrum
