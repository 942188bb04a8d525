#include "core/model/parallel_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/globals.h"
#include "core/model/dirent_records.h"
#include "core/model/largest.h"

// How the parallel scan keeps the one-thread result: helpers only read folders, into
// records; the calling thread alone makes the folder objects and offers files to the largest
// list, walking the records in depth-first order. The known folders that are not yet made
// sit in one list in depth-first order (a folder's subfolders are spliced in right after it
// when it has been read), so its head is always the next folder to make, and readers take the
// first folder of that list that nobody reads yet: they work just ahead of the walk, and the
// records waiting to be made stay few.

namespace kestrum {

namespace {

// Folders read ahead and not yet made. Bounds memory and open descriptors.
constexpr std::size_t kMaxReadAhead = 256;

// An open folder whose subfolders are read relative to it. fd is -1 once closed.
struct DirHandle {
  int fd = -1;
  dev_t dev = 0;
  ino_t ino = 0;
  int pins = 0;                // readers opening a subfolder through fd right now
  bool closeWhenFree = false;  // closed by the walk while pinned: the last reader closes it
};

// What reading one folder found, in the order the one-thread walk meets it.
struct Record {
  bool readable = false;
  std::int32_t subfolders = 0;
  std::int32_t files = 0;
  double used = 0;
  double allocated = 0;
  // Files that may still enter the largest list, in listing order: their sizes, and their
  // names each ended by NUL.
  std::vector<double> candidateSizes;
  std::string candidateNames;
};

struct Node {
  enum class State { Pending, Reading, Read };
  State state = State::Pending;
  std::string name;
  DirHandle* parentDir = nullptr;  // the parent's handle; owned by the parent's frame
  std::unique_ptr<DirHandle> dir;  // this folder, open when it has subfolders
  Record record;
  std::string subNames;  // subfolder names, each ended by NUL, in listing order
};

using NodeList = std::list<Node>;

// One made folder on the walk's path with subfolders still to make.
struct Frame {
  DiskObject* folder = nullptr;
  std::unique_ptr<DirHandle> dir;
  std::int32_t remaining = 0;
  std::size_t pathSize = 0;  // length of the folder's path, a prefix of the walk's path_
};

class ParallelWalk {
 public:
  ParallelWalk(DiskObject& drive, std::int32_t& keyCounter, const ScanOptions& options,
               unsigned threads)
      : drive_(drive),
        keyCounter_(keyCounter),
        options_(options),
        reader_(options.Reader ? *options.Reader : defaultReader_),
        threads_(threads) {}

  ~ParallelWalk() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : helpers_) t.join();
    for (Node& n : pending_)
      if (n.dir && n.dir->fd >= 0) ::close(n.dir->fd);
    for (Frame& f : frames_)
      if (f.dir && f.dir->fd >= 0) ::close(f.dir->fd);
  }

  bool Run() {
    const int rootFd = reader_.OpenRoot(drive_.RootFolder);
    struct stat st {};
    if (rootFd >= 0 && ::fstat(rootFd, &st) == 0) driveDev_ = st.st_dev;
    Scratch scratch;
    Node root;
    ReadFolder(rootFd, root, scratch);
    path_ = drive_.RootFolder.empty() ? std::string("/") : drive_.RootFolder;
    DiskObject* rootObject = Make(root, std::string(), &drive_, true);
    if (root.record.subfolders > 0) {
      std::lock_guard lock(mutex_);
      SpliceSubfolders(root, pending_.begin());
      frames_.push_back(
          Frame{rootObject, std::move(root.dir), root.record.subfolders, path_.size()});
    }
    for (unsigned i = 1; i < threads_ && !pending_.empty(); ++i)
      helpers_.emplace_back([this] { Help(); });
    Walk(scratch);
    std::int32_t level = 0;
    Add100Folder(rootObject->Path(), rootObject->Name, *rootObject, drive_, level);
    return rootFd >= 0;
  }

 private:
  struct Scratch {
    std::vector<char> chunk = std::vector<char>(64 * 1024);
  };

  // The calling thread: makes the folders in depth-first order, reading the next one itself
  // when no helper has taken it and helping with the others while it waits.
  void Walk(Scratch& scratch) {
    std::unique_lock lock(mutex_);
    while (!pending_.empty() && Scanning.load(std::memory_order_relaxed)) {
      Node& head = pending_.front();
      if (head.state == Node::State::Read) {
        NodeList taken;
        taken.splice(taken.begin(), pending_, pending_.begin());
        if (readAhead_-- == kMaxReadAhead) wake_.notify_all();
        lock.unlock();
        MakeNext(taken.front());
        lock.lock();
        continue;
      }
      NodeList::iterator next = pending_.begin();
      if (head.state != Node::State::Pending)
        next = readAhead_ < kMaxReadAhead ? FindWork() : pending_.end();
      if (next != pending_.end()) {
        ReadTaken(next, lock, scratch);
        continue;
      }
      wake_.wait_for(lock, std::chrono::milliseconds(20));
    }
  }

  // A helper: reads the first folder nobody reads yet, until the walk ends.
  void Help() {
    Scratch scratch;
    std::unique_lock lock(mutex_);
    while (!finished_) {
      NodeList::iterator next = pending_.end();
      if (readAhead_ < kMaxReadAhead && Scanning.load(std::memory_order_relaxed)) next = FindWork();
      if (next == pending_.end()) {
        wake_.wait(lock);
        continue;
      }
      ReadTaken(next, lock, scratch);
    }
  }

  // The first folder of the list that nobody reads yet and whose parent is open; end() if
  // none. Called with the lock held.
  NodeList::iterator FindWork() {
    for (auto it = pending_.begin(); it != pending_.end(); ++it)
      if (it->state == Node::State::Pending && it->parentDir->fd >= 0 &&
          !it->parentDir->closeWhenFree)
        return it;
    return pending_.end();
  }

  // Reads the pending folder at it without the lock and files its record and subfolders.
  // Called and returns with the lock held; it stays valid, as only the walk removes nodes
  // and only once they are read.
  void ReadTaken(NodeList::iterator it, std::unique_lock<std::mutex>& lock, Scratch& scratch) {
    Node& node = *it;
    node.state = Node::State::Reading;
    DirHandle& parent = *node.parentDir;
    ++parent.pins;
    const int parentFd = parent.fd;
    lock.unlock();
    const int fd = reader_.OpenAt(parentFd, node.name.c_str());
    ReadFolder(fd, node, scratch);
    lock.lock();
    if (--parent.pins == 0 && parent.closeWhenFree) {
      ::close(parent.fd);
      parent.fd = -1;
      parent.closeWhenFree = false;
    }
    node.state = Node::State::Read;
    ++readAhead_;
    if (node.record.subfolders > 0) SpliceSubfolders(node, std::next(it));
    wake_.notify_all();
  }

  // Puts the read folder's subfolders into the list before at, in listing order.
  void SpliceSubfolders(Node& node, NodeList::iterator at) {
    NodeList subs;
    for (std::size_t i = 0; i < node.subNames.size();) {
      const std::size_t len = std::strlen(node.subNames.c_str() + i);
      Node& s = subs.emplace_back();
      s.name.assign(node.subNames, i, len);
      s.parentDir = node.dir.get();
      i += len + 1;
    }
    node.subNames.clear();
    node.subNames.shrink_to_fit();
    pending_.splice(at, subs);
  }

  // Reads the folder open as fd (or -1) into node with what the one-thread walk finds in it:
  // its subfolders on the drive's file system and its files in listing order, the files
  // only until a stop. One pass over the entries, each stated once: the one-thread walk's
  // two passes see the same entries in the same order. Keeps fd in node.dir when there are
  // subfolders, closes it otherwise.
  void ReadFolder(int fd, Node& node, Scratch& s) const {
    Record& r = node.record;
    r.readable = fd >= 0 && ReadEntries(fd, node, s);
    if (r.subfolders > 0) {
      node.dir = std::make_unique<DirHandle>();
      node.dir->fd = fd;
    } else if (fd >= 0) {
      ::close(fd);
    }
  }

  // False when nothing could be read at all.
  bool ReadEntries(int fd, Node& node, Scratch& s) const {
    Record& r = node.record;
    const std::int32_t unit = drive_.AllocationUnit;
    // A file no larger than the smallest of a full list never enters it, and that smallest
    // only grows: such a file keeps no name.
    const double floor = entryFloor_.load(std::memory_order_relaxed);
    bool any = false;
    for (;;) {
      const long n = reader_.ReadEntries(fd, s.chunk.data(), s.chunk.size());
      if (n < 0) return any;
      if (n == 0) return true;
      any = true;
      ForEachDirent(s.chunk.data(), n, [&](unsigned char type, const char* nm) {
        if (type != DT_DIR && type != DT_REG && type != DT_UNKNOWN) return;
        const bool files = Scanning.load(std::memory_order_relaxed);
        if (type == DT_REG && !files) return;
        struct stat st {};
        if (reader_.StatAt(fd, nm, st) != 0) return;
        const std::size_t len = std::strlen(nm);
        if (S_ISDIR(st.st_mode)) {
          if (type == DT_REG || st.st_dev != driveDev_) return;
          node.subNames.append(nm, len + 1);
          ++r.subfolders;
          return;
        }
        if (type == DT_DIR || !files || !IsCountedFile(LinuxAttributes(st.st_mode, nm))) return;
        const auto size = static_cast<double>(st.st_size);
        ++r.files;
        r.used += size;
        r.allocated += AllocatedSize(size, unit);
        if (size > 0 && size > floor) {
          r.candidateSizes.push_back(size);
          r.candidateNames.append(nm, len + 1);
        }
      });
    }
  }

  // Makes the folder object of a read folder and offers its files, as the one-thread walk
  // does when it meets the folder. path_ holds the folder's path.
  DiskObject* Make(Node& node, std::string name, DiskObject* parent, bool isRoot) {
    const std::int32_t level = static_cast<std::int32_t>(frames_.size()) + 1;
    DiskObject* folder = AddScannedFolder(drive_, std::move(name), parent, isRoot, level, path_);
    const Record& r = node.record;
    folder->UsedSpace = folder->fUsedSpace = r.used;
    folder->AllocatedSpace = folder->fAllocatedSpace = r.allocated;
    folder->FileCount = folder->fFileCount = r.files;
    folder->FolderCount = folder->fFolderCount = r.subfolders;
    folder->Children = r.subfolders > 0 || !r.readable;
    const std::int32_t unit = drive_.AllocationUnit;
    std::size_t at = 0;
    for (const double size : r.candidateSizes) {
      const char* nm = r.candidateNames.c_str() + at;
      const std::size_t len = std::strlen(nm);
      at += len + 1;
      if (drive_.LargestFiles().Count() < kLargestBound || size > drive_.Smallest) {
        scratch_.assign(path_);
        scratch_.append(nm, len);
        drive_.AddLargest(scratch_, size, AllocatedSize(size, unit), keyCounter_);
      }
    }
    if (drive_.LargestFiles().Count() >= kLargestBound)
      entryFloor_.store(drive_.Smallest, std::memory_order_relaxed);
    if (options_.Progress) {
      options_.Progress->Folders.fetch_add(1, std::memory_order_relaxed);
      options_.Progress->Files.fetch_add(r.files, std::memory_order_relaxed);
    }
    if (options_.AfterFolder) options_.AfterFolder(*folder);
    return folder;
  }

  // Makes the head folder (taken out of the list) under the top frame and moves the walk on.
  void MakeNext(Node& node) {
    Frame& top = frames_.back();
    --top.remaining;
    path_.resize(top.pathSize);
    path_.append(node.name).push_back('/');
    DiskObject* folder = Make(node, std::move(node.name), top.folder, false);
    if (node.record.subfolders > 0) {
      frames_.push_back(Frame{folder, std::move(node.dir), node.record.subfolders, path_.size()});
      LimitOpenFolders();
    }
    while (!frames_.empty() && frames_.back().remaining == 0) Leave();
  }

  void LimitOpenFolders() {
    if (frames_.size() <= kMaxOpenFolders) return;
    DirHandle& d = *frames_[frames_.size() - 1 - kMaxOpenFolders].dir;
    std::lock_guard lock(mutex_);
    if (d.fd < 0 || d.closeWhenFree) return;
    // Who the folder is, so that the way back through ".." can tell it is the same.
    struct stat st {};
    ::fstat(d.fd, &st);
    d.dev = st.st_dev;
    d.ino = st.st_ino;
    if (d.pins > 0) {
      d.closeWhenFree = true;
      return;
    }
    ::close(d.fd);
    d.fd = -1;
  }

  // Finishes the top frame, reopening its parent through ".." when the parent was closed. A
  // parent that is no longer where it was cannot open its remaining subfolders: they become
  // unreadable folders.
  void Leave() {
    Frame done = std::move(frames_.back());
    frames_.pop_back();
    std::lock_guard lock(mutex_);
    if (!frames_.empty()) {
      DirHandle& p = *frames_.back().dir;
      // The parent is the walk's top again: a close still waiting for a reader to let go
      // of it must not happen now, or its remaining subfolders would find it closed.
      p.closeWhenFree = false;
      if (p.fd < 0 && done.dir->fd >= 0) {
        const int fd = reader_.OpenAt(done.dir->fd, "..");
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_dev == p.dev && st.st_ino == p.ino)
          p.fd = fd;
        else if (fd >= 0)
          ::close(fd);
      }
    }
    if (done.dir->fd >= 0) ::close(done.dir->fd);
    done.dir->fd = -1;
  }

  DiskObject& drive_;
  std::int32_t& keyCounter_;
  const ScanOptions& options_;
  DirectoryReader defaultReader_;
  DirectoryReader& reader_;
  const unsigned threads_;
  dev_t driveDev_ = 0;
  std::atomic<double> entryFloor_{0};

  std::mutex mutex_;
  std::condition_variable wake_;
  NodeList pending_;           // known folders not yet made, in depth-first order
  std::size_t readAhead_ = 0;  // read and not yet made
  bool finished_ = false;
  std::vector<std::thread> helpers_;

  std::vector<Frame> frames_;  // the walk's path; only the calling thread touches it
  std::string path_;           // the path of the folder being made, ending in "/"
  std::string scratch_;
};

}  // namespace

bool ScanDriveParallel(DiskObject& drive, std::int32_t& keyCounter, const ScanOptions& options,
                       unsigned threads) {
  ParallelWalk walk(drive, keyCounter, options, threads);
  return walk.Run();
}

}  // namespace kestrum
