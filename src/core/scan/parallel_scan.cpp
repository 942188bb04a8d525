#include "core/scan/parallel_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "core/scan/dirent_records.h"
#include "core/tree/drive_build.h"
#include "core/scan/reader_control.h"
#include "core/scan/scan_log.h"
#include "core/scan/scanning.h"
#include "core/platform/descriptors.h"
#include "core/platform/process_stats.h"
#include "core/platform/unique_fd.h"

// How the parallel scan keeps the one-thread result: readers read folders into records, and
// the folder objects are made, and files offered to the largest list, by one thread at a time
// walking the records in depth-first order. The known folders that are not yet made sit in one
// list in depth-first order (a folder's subfolders are spliced in right after it when it has
// been read), so its head is always the next folder to make, and readers take the first folder
// of that list that nobody reads yet: they work just ahead of the walk, and the records waiting
// to be made stay few.
//
// Hand-offs between threads are what a parallel walk pays beyond the system calls, and on a
// machine with as many readers as cores a third busy thread only takes turns with them. So the
// readers make the folders themselves: a reader that finds the head of the list read, and
// nobody making folders, takes the turn and makes every folder that is ready before it reads
// on. Nobody sleeps while there is work, and no thread is woken to make what another could.
//
// The calling thread reads the root and then only watches: the stop, once a period, and the
// reader count. It never waits for a system call after the root, so it notices a stop within
// one period; it then waits only for the folder being made to be finished, and returns, while
// readers still inside a system call finish in the background. Everything a reader touches
// (the list, the folder descriptors, the counters) belongs to the walk object, which the
// readers share: it goes when the last of them lets go.

namespace kestrum {

namespace {

// Folders read ahead and not yet made, at most: each may hold its descriptor open for its
// subfolders, so the bound follows the descriptors the process may open, leaving room for
// those opened ahead, the walk's path and everything else the program holds. With the usual
// soft limit of 1024 that is 256; a deep, narrow tree needs far more to keep readers busy
// (a folder's only subfolder can be read only after it), so the programs raise the limit.
std::size_t ReadAheadBound(std::size_t descriptors) {
  return std::clamp<std::size_t>(descriptors / 2, 1024, 4864) - 768;
}
// Subfolders opened ahead by their parent's reader and not yet read, at most; and how deep the
// folders lie whose subfolders may be opened ahead. Together with the folders kept open along
// the walk's path (kMaxOpenFolders beyond this depth) and those read ahead, well within the
// usual limit of 1024 descriptors.
constexpr std::int32_t kMaxOpenedAhead = 256;
constexpr std::int32_t kOpenAheadDepth = 32;
// How far past the head of the list a reader looks for a folder it can read. The folders
// read ahead lie there too, and a look through thousands of them under the lock, by every
// reader that wakes, held the others up more than the reading (on a deep, narrow tree, eight
// readers on a warm cache took twice as long as two).
constexpr std::size_t kSearchWindow = 512;
// What the records of folders read ahead may hold at most: on a tree of few huge folders,
// readers on a cold device otherwise read every folder before the first is made, and hold
// the names of all their files at once.
constexpr std::size_t kMaxReadAheadBytes = 4u << 20;
// What the records of the folders being read may hold together, judged by the largest folder
// met so far: in folders of 25,000 names, half of them hard links, each reader held 1 to 2 MiB.
constexpr std::size_t kInFlightBytes = 10u << 20;
// What the scan should add to the process's resident memory at most while it has more readers
// than cores: with the 5 MiB the report starts with, below the 64 MiB it may take, with room
// for what grows without readers (a hard-link table). The window holds far more before it
// scans, which is not the scan's to answer for.
constexpr std::size_t kScanMemory = 40u << 20;
// Folders the thread whose turn it is to make folders takes out of the list at once.
constexpr std::size_t kMakeBatch = 64;
// How often the reader count is reconsidered, and the longest the calling thread waits
// without looking at the stop flag; and the first period, which only tells warm from cold.
// (A period this short needs the readers' time on a processor from their CPU-time clocks: a
// running thread's schedstat lags by up to a tick, 4 ms, and warm readers looked asleep.)
constexpr auto kPeriod = std::chrono::milliseconds(25);
constexpr auto kFirstPeriod = std::chrono::milliseconds(5);
constexpr unsigned kMaxReaders = 64;

using Clock = std::chrono::steady_clock;

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

// An open folder whose subfolders are read relative to it; closed when the last owner goes.
// fd is -1 once closed early.
struct DirHandle {
  DirHandle() = default;
  DirHandle(const DirHandle&) = delete;
  DirHandle& operator=(const DirHandle&) = delete;
  ~DirHandle() {
    if (fd >= 0) ::close(fd);
  }
  int fd = -1;
  dev_t dev = 0;
  ino_t ino = 0;
  int pins = 0;                // readers opening a subfolder through fd right now
  bool closeWhenFree = false;  // closed by the walk while pinned: the last reader closes it
  bool lost = false;           // closed, and could not be reopened: its subfolders fail
};
using DirPtr = std::shared_ptr<DirHandle>;

// What reading one folder found, in the order the one-thread walk meets it.
struct Record {
  bool readable = false;
  bool statFailed = false;  // some entry could not be stated (other than by vanishing)
  std::int32_t subfolders = 0;
  std::int32_t files = 0;
  double used = 0;
  double allocated = 0;
  // Files that may still enter the largest list, in listing order: their sizes, and their
  // names each ended by NUL.
  std::vector<double> candidateSizes;
  std::vector<double> candidateAllocated;
  std::string candidateNames;
  // Files with more than one name, counted Once: left out of the totals above until the
  // walk, in its order, finds whether each name is the one that counts. candidateLink holds,
  // per candidate, the index of its entry here, or -1 for a file of one name.
  struct Linked {
    FileId id;
    double size = 0;
    double allocated = 0;
  };
  std::vector<Linked> links;
  std::vector<std::int32_t> candidateLink;
  // With a sink: every entry but the subfolders, in listing order, and their names.
  std::vector<WalkEntry> entries;
  std::string entryNames;
  // Where the drive keeps entries: every entry but the subfolders, in listing order, packed
  // for the store; and per linked file (links), its record's offset in packed.
  EntryPacker packed;
  std::vector<std::uint64_t> linkedAt;

  // The memory it holds, near enough to bound what the folders read ahead keep.
  std::size_t Bytes() const {
    return candidateSizes.size() * (2 * sizeof(double) + sizeof(std::int32_t)) +
           candidateNames.size() + links.size() * sizeof(Linked) +
           entries.size() * sizeof(WalkEntry) + entryNames.size() + packed.Capacity() +
           linkedAt.size() * sizeof(std::uint64_t);
  }
};

struct Node {
  enum class State { Pending, Reading, Read };
  State state = State::Pending;
  std::string name;
  std::int32_t depth = 0;    // 0 for the root; the walk's frame index when it is made
  bool openedAhead = false;  // opened by the reader of its parent: fd, not parentDir
  UniqueFd fd;               // when opened ahead, until read (none: the open failed)
  DirPtr parentDir;          // the parent's handle, when not opened ahead
  DirPtr dir;                // this folder, open while its subfolders still need it
  Record record;
  std::string subNames;                   // subfolder names, each ended by NUL, in listing order
  std::vector<std::int64_t> subListings;  // their own sizes (their listings' bytes), in order
  std::int64_t largestSub = 0;            // the largest of those
  std::int64_t listing = 0;               // this folder's own size, from its parent's stat
  // With a sink or kept entries: the subfolders' modification times, and this folder's, from
  // its parent's stat (-1: unknown).
  std::vector<std::int64_t> subMtimes;
  std::int64_t mtime = -1;
  std::string path;  // the folder's path ending in "/", when exclude rules match paths
};

using NodeList = std::list<Node>;

// One made folder on the walk's path with subfolders still to make.
struct Frame {
  DiskObject* folder = nullptr;
  DirPtr dir;
  std::int32_t remaining = 0;
  std::size_t pathSize = 0;  // length of the folder's path, a prefix of the walk's path_
  bool limited = false;      // its folder was closed, or marked to close, to bound open ones
};

// One reader's counters, written by the reader and read by the controller.
struct ReaderSlot {
  std::atomic<std::int64_t> busyNs{0};   // time on folders already filed
  std::atomic<std::int64_t> sinceNs{0};  // when the folder being read was taken; 0: none
  std::atomic<std::int64_t> entries{0};
  std::atomic<int> statFd{-1};  // the reader's scheduler statistics, -1 when not open
  // The reader's own CPU-time clock, once clockReady: unlike the statistics, it is brought up
  // to date when read, also while the reader runs.
  clockid_t cpuClock{};
  std::atomic<bool> clockReady{false};
  // The controller's readings at the end of the last period.
  std::int64_t lastBusy = 0, lastCpu = 0, lastQueued = 0, lastEntries = 0;
};

// What a stat call gave, kept while a folder's calls run in inode order.
struct Stated {
  std::uint64_t ino = 0;  // from the listing: the order of the calls
  const char* name = nullptr;
  unsigned char type = 0;
  bool files = false;  // files were still wanted when the entry was met
  bool other = false;  // no file nor folder by its type: not stated, kept for a sink
  int rule = -1;       // the exclude rule that leaves it out (then other is true)
  bool ok = false;
  int error = 0;  // when not ok
  struct stat st {};
};

struct Scratch {
  std::vector<char> chunk = std::vector<char>(64 * 1024);
  std::vector<Stated> stated;
  std::vector<std::uint32_t> order;
  ExcludeRules::Scratch exclude;
  std::string mountPath;
};

class ParallelWalk : public std::enable_shared_from_this<ParallelWalk> {
 public:
  ParallelWalk(DiskObject& drive, std::int32_t& keyCounter, const ScanOptions& options,
               const ReaderPlan& plan)
      : drive_(drive),
        keyCounter_(keyCounter),
        options_(options),
        sharedReader_(options.Reader ? nullptr : options.SharedReader),
        reader_(options.Reader         ? *options.Reader
                : options.SharedReader ? *options.SharedReader
                                       : defaultReader_),
        detachable_(options.Reader == nullptr),
        plan_(plan),
        unit_(drive.Drive().AllocationUnit),
        control_(plan.Cores, plan.Start, std::min(plan.Most, kMaxReaders)) {}

  ~ParallelWalk() {
    for (ReaderSlot& s : slots_) {
      const int fd = s.statFd.load(std::memory_order_acquire);
      if (fd >= 0) ::close(fd);
    }
  }

  bool Run() {
    // The folders read ahead hold their descriptors: the table is made large enough for them
    // now, while the readers do not run, and not grown under them later (each growth made
    // every reader opening a folder wait some 17 ms here, warm scans looked cold).
    ReserveDescriptorTable(readAheadBound_ + kMaxOpenedAhead + kMaxOpenFolders + 64);
    const int rootFd = OpenScanRoot(reader_, drive_, options_);
    struct stat st {};
    Node root;
    if (rootFd >= 0 && ::fstat(rootFd, &st) == 0) {
      driveDev_ = st.st_dev;
      root.mtime = st.st_mtim.tv_sec;
    }
    if (keep_) drive_.Drive().Files->Device = driveDev_;
    // The root is read here, whole even after a stop, so the partial result of a stop still
    // knows every folder of the root.
    Scratch scratch;
    const std::string rootPath =
        drive_.Drive().RootFolder.empty() ? std::string("/") : drive_.Drive().RootFolder;
    if (rootFd >= 0) mounts_ = WalkMounts(options_, rootPath, driveDev_);
    needPath_ = pathRules_ || (mounts_ && !mounts_->Empty());
    if (needPath_) root.path = rootPath;
    ReadFolder(rootFd, root, scratch, nullptr);
    NodeList subs = SubfolderNodes(rootFd, root);
    path_ = drive_.Drive().RootFolder.empty() ? std::string("/") : drive_.Drive().RootFolder;
    DiskObject* rootObject = Make(root, std::string(), &drive_, true);
    bool complete = true;
    if (root.record.subfolders > 0) {
      {
        std::lock_guard lock(mutex_);
        records_.Met(root.largestSub);
        pending_.splice(pending_.begin(), subs);
        frames_.push_back(
            Frame{rootObject, std::move(root.dir), root.record.subfolders, path_.size()});
        SetReaders(plan_.Adaptive ? control_.Readers() : std::clamp(plan_.Start, 1u, kMaxReaders));
      }
      complete = Walk();
    } else {
      GiveLeave();
    }
    Finish(complete);
    if (sink_) return rootFd >= 0;
    std::int32_t level = 0;
    Add100Folder(rootObject->Path(), rootObject->Name, *rootObject, drive_, level);
    return rootFd >= 0;
  }

 private:
  // The calling thread: watches for a stop and reconsiders the reader count once a period
  // until the readers have made every folder. True when every folder was made, false on a
  // stop, after the folder being made (if any) is finished.
  bool Walk() {
    std::unique_lock lock(mutex_);
    // The first period starts with the readers (reading the root was not their time), and is
    // short: it only has to tell a warm cache from a cold device, which the readers' first
    // milliseconds show, and the count it leads to (the cores, or the cold count) is the one
    // the scan wants from its start.
    lastControl_ = NowNs();
    bool first = true;
    for (;;) {
      if (walkEnded_ || !Scanning.load(std::memory_order_relaxed)) {
        // No reader takes a turn or files a folder any more, and the result is the caller's
        // only once the turn running now (if any) has let go of it.
        finished_ = true;
        made_.wait(lock, [this] { return !making_; });
        return walkEnded_ && !stopped_;
      }
      made_.wait_for(lock, first ? kFirstPeriod : kPeriod);
      first = false;
      lock.unlock();
      Control();
      lock.lock();
    }
  }

  // Whether the calling reader should take the turn to make folders: the head is read and
  // nobody makes folders. Lock held. (Waiting for a longer run of read folders before taking
  // the turn was tried: readers then sleep more, and the walk is slower.)
  bool TurnToMake() const {
    return !making_ && !finished_ && !walkEnded_ && !pending_.empty() &&
           pending_.front().state == Node::State::Read;
  }

  // Makes the folders at the head of the list that are read, in depth-first order, batch by
  // batch, until the head is one not read yet. Called and returns with the lock held; only
  // one thread at a time (making_), which alone touches the result and the walk's path.
  void MakeReady(std::unique_lock<std::mutex>& lock) {
    making_ = true;
    NodeList batch;
    while (!finished_ && !walkEnded_ && !pending_.empty() &&
           pending_.front().state == Node::State::Read) {
      auto end = pending_.begin();
      std::size_t n = 0, bytes = 0;
      while (end != pending_.end() && end->state == Node::State::Read && n < kMakeBatch) {
        bytes += end->record.Bytes();  // unchanged since it was filed
        ++end;
        ++n;
      }
      batch.splice(batch.end(), pending_, pending_.begin(), end);
      // Readers that found nothing in reach may find it now that the head moved on.
      const bool wasFull = ReadAheadFull() || windowFull_;
      readAhead_ -= n;
      readAheadBytes_ -= bytes;
      windowFull_ = false;
      if (wasFull && idle_ > 0) work_.notify_all();
      lock.unlock();
      bool stop = false;
      for (Node& node : batch) {
        // As the one-thread walk: a stop is seen before each folder.
        if (!Scanning.load(std::memory_order_relaxed) || sinkFailed_) {
          stop = true;
          break;
        }
        MakeNext(node);
      }
      batch.clear();
      lock.lock();
      if (stop) {
        stopped_ = true;
        walkEnded_ = true;
      }
    }
    if (pending_.empty()) walkEnded_ = true;
    making_ = false;
    if (walkEnded_ || finished_) made_.notify_all();
  }

  // Ends the readers: joins them when the walk is complete (they are idle) or when they read
  // through the caller's reader, which must not be called after the scan returns; otherwise
  // leaves them to finish their system call in the background.
  void Finish(bool complete) {
    std::vector<std::thread> threads;
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
      threads.swap(threads_);
    }
    work_.notify_all();
    park_.notify_all();
    for (std::thread& t : threads) {
      if (complete || !detachable_)
        t.join();
      else
        t.detach();
    }
  }

  // Lets the first n readers take work, starting the ones not yet running. Lock held.
  void SetReaders(unsigned n) {
    n = std::clamp(n, 1u, kMaxReaders);
    const bool more = n > active_;
    active_ = n;
    while (threads_.size() < n) {
      const auto id = static_cast<unsigned>(threads_.size());
      threads_.emplace_back([self = shared_from_this(), id] { self->ReadLoop(id); });
    }
    if (more) park_.notify_all();
  }

  // One period's sample of what the readers did, and the controller's answer. A fixed count
  // is sampled only for the log.
  void Control() {
    if (!plan_.Adaptive && !log_) return;
    const std::int64_t now = NowNs();
    ReaderSample s;
    s.Seconds = static_cast<double>(now - lastControl_) / 1e9;
    lastControl_ = now;
    std::size_t running = 0;
    std::size_t largest = 0;
    unsigned ran = 0;
    {
      std::lock_guard lock(mutex_);
      running = threads_.size();
      largest = records_.Largest();
      ran = active_;
    }
    // Each reader holds the record of the folder it reads: where folders are huge, the
    // readers' records together stay within kInFlightBytes, and the readers are no more than
    // the memory the process does not hold yet has room for.
    if (largest > 0 && plan_.Adaptive) {
      unsigned bound = MemoryBound(0, kInFlightBytes, largest, 0, plan_.Cores);
      // The entries the drive keeps are the scan's result, as its folders are, not what its
      // readers hold: they do not count against the readers' room.
      const std::size_t kept = keptBytes_.load(std::memory_order_relaxed);
      if (const std::size_t resident = resident_.Bytes(); resident > 0 && residentAtStart_ > 0) {
        const std::size_t added = resident - std::min(resident, residentAtStart_);
        bound = std::min(bound, MemoryBound(added - std::min(added, kept), kScanMemory, largest,
                                            control_.Readers(), plan_.Cores));
      }
      control_.Bound(bound);
    }
    for (std::size_t i = 0; i < running; ++i) {
      ReaderSlot& slot = slots_[i];
      const std::int64_t since = slot.sinceNs.load(std::memory_order_relaxed);
      const std::int64_t busy =
          slot.busyNs.load(std::memory_order_relaxed) + (since ? now - since : 0);
      const std::int64_t entries = slot.entries.load(std::memory_order_relaxed);
      const double busySeconds =
          static_cast<double>(std::max<std::int64_t>(0, busy - slot.lastBusy)) / 1e9;
      s.Busy += busySeconds;
      s.Entries += static_cast<double>(entries - slot.lastEntries);
      slot.lastBusy = busy;
      slot.lastEntries = entries;
      std::int64_t cpu = 0, queued = 0;
      // Acquire: the descriptor was opened by the reader, and is read here.
      if (ReadSchedStat(slot.statFd.load(std::memory_order_acquire), cpu, queued)) {
        // The statistics' running time lags by up to a tick for a reader that is running
        // (a sixth of a period; over shorter periods warm readers looked asleep).
        // Acquire: the clock was asked for by the reader.
        if (slot.clockReady.load(std::memory_order_acquire)) ReadCpuClock(slot.cpuClock, cpu);
        s.OnCpu += static_cast<double>(std::max<std::int64_t>(0, cpu - slot.lastCpu)) / 1e9;
        s.Queued += static_cast<double>(std::max<std::int64_t>(0, queued - slot.lastQueued)) / 1e9;
        slot.lastCpu = cpu;
        slot.lastQueued = queued;
      } else {
        // Without the scheduler's figures the readers look busy on the processor: the
        // count then stays at the cores.
        s.OnCpu += busySeconds;
      }
    }
    const double seconds = static_cast<double>(now - startNs_) / 1e9;
    if (!plan_.Adaptive) {
      log_->Period(seconds, ran, s, control_.BoundNow(), "fixed",
                   "the count was fixed when the scan started");
      return;
    }
    inodeOrder_.store(
        StatInInodeOrder(plan_.InodeOrder, s, inodeOrder_.load(std::memory_order_relaxed)),
        std::memory_order_relaxed);
    const unsigned n = control_.Update(s);
    if (log_) {
      const ReaderStep& step = control_.Step();
      log_->Period(seconds, ran, s, control_.BoundNow(), step.Decision(), step.Reason());
    }
    std::lock_guard lock(mutex_);
    if (n != active_ && !finished_) SetReaders(n);
  }

  // A reader: reads the first folder nobody reads yet, while it is among the allowed ones,
  // until the walk ends.
  void ReadLoop(unsigned id) {
    ReaderSlot& slot = slots_[id];
    if (::pthread_getcpuclockid(::pthread_self(), &slot.cpuClock) == 0)
      slot.clockReady.store(true, std::memory_order_release);
    slot.statFd.store(::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC),
                      std::memory_order_release);
    Scratch scratch;
    std::unique_lock lock(mutex_);
    while (!finished_) {
      // Before parking too: the folder this reader just filed may be the head.
      if (TurnToMake()) {
        const std::int64_t since = NowNs();
        MakeReady(lock);
        slot.busyNs.fetch_add(NowNs() - since, std::memory_order_relaxed);
        if (walkEnded_) work_.notify_all();
        continue;
      }
      if (id >= active_) {
        park_.wait(lock);
        continue;
      }
      NodeList::iterator next = pending_.end();
      if (Scanning.load(std::memory_order_relaxed) && !walkEnded_) next = FindWork();
      if (next == pending_.end()) {
        ++idle_;
        work_.wait(lock);
        --idle_;
        continue;
      }
      ReadTaken(next, lock, scratch, slot);
    }
  }

  // The folders read and not yet made are as many, or hold as much, as the walk allows: only
  // the head may be read. Lock held.
  bool ReadAheadFull() const {
    return readAhead_ >= readAheadBound_ || readAheadBytes_ >= readAheadBytesBound_;
  }

  // The first folder nobody reads yet that can be opened now: its parent is open (or lost for
  // good, when the folder can only fail), among the first kSearchWindow after the head. The
  // head of the list is taken even past the read-ahead bound, so the walk always moves on.
  // end() if none. Lock held.
  NodeList::iterator FindWork() {
    auto ready = [](const Node& n) {
      if (n.state != Node::State::Pending) return false;
      if (n.openedAhead) return true;
      const DirHandle& p = *n.parentDir;
      return (p.fd >= 0 && !p.closeWhenFree) || p.lost;
    };
    auto it = pending_.begin();
    if (it == pending_.end() || ready(*it)) return it;
    if (ReadAheadFull()) return pending_.end();
    std::size_t looked = 0;
    for (++it; it != pending_.end(); ++it) {
      if (ready(*it)) return it;
      if (++looked == kSearchWindow) {
        windowFull_ = true;
        break;
      }
    }
    return pending_.end();
  }

  // Reads the pending folder at it without the lock and files its record and subfolders.
  // Called and returns with the lock held; it stays valid, as only the walk removes nodes
  // and only once they are read. After the walk has finished nothing is filed.
  void ReadTaken(NodeList::iterator it, std::unique_lock<std::mutex>& lock, Scratch& scratch,
                 ReaderSlot& slot) {
    Node& node = *it;
    node.state = Node::State::Reading;
    // A folder not opened ahead is opened through its parent, which stays open meanwhile.
    DirPtr parent;
    int parentFd = -1;
    if (!node.openedAhead) {
      parent = node.parentDir;
      ++parent->pins;
      parentFd = parent->fd;
    }
    lock.unlock();
    const std::int64_t since = NowNs();
    slot.sinceNs.store(since, std::memory_order_relaxed);
    int fd = -1;
    if (node.openedAhead) {
      fd = node.fd.Release();
      openedAhead_.fetch_sub(1, std::memory_order_relaxed);
    } else {
      fd = reader_.OpenAt(parentFd, node.name.c_str());
    }
    ReadFolder(fd, node, scratch, &slot);
    NodeList subs = SubfolderNodes(fd, node);
    const std::int64_t took = NowNs() - since;
    slot.sinceNs.store(0, std::memory_order_relaxed);
    slot.busyNs.fetch_add(took, std::memory_order_relaxed);
    lock.lock();
    if (parent && --parent->pins == 0 && parent->closeWhenFree) {
      ::close(parent->fd);
      parent->fd = -1;
      parent->closeWhenFree = false;
    }
    if (finished_) return;
    node.state = Node::State::Read;
    const std::size_t bytes = node.record.Bytes();
    records_.Filed(bytes, node.listing);
    records_.Met(node.largestSub);
    ++readAhead_;
    readAheadBytes_ += bytes;
    if (node.record.subfolders > 0) {
      pending_.splice(std::next(it), subs);
      // This reader goes on with one of them itself: wake others only for the rest. On a deep,
      // narrow tree a folder mostly has one subfolder, and waking a reader for it only to
      // find the work taken cost more in switches than the reading.
      for (std::int32_t i = 1; i < node.record.subfolders && i <= idle_; ++i) work_.notify_one();
    }
  }

  // The list nodes of the read folder's subfolders, in listing order, and what becomes of the
  // folder's descriptor fd: closed when it has no subfolders, else either kept in node.dir
  // for them, or (near the top of the tree, while descriptors allow) used at once to open
  // every subfolder ahead and then closed (not for the root).
  //
  // Opening ahead closes each folder right after its reader listed it, as a one-thread walk
  // would; kept open until the walk leaves it, the folder holds what the kernel caches of its
  // listing, which is then freed late, from cold memory and often on another processor. The
  // opens are the same calls, made earlier: the subfolders were just stated, so their inodes
  // are at hand even on a cold device. Deep in the tree subfolders are always opened through
  // their parent, so that the walk's way back through ".." (after closing ancestors to bound
  // the descriptors in use) finds every folder it climbs from open.
  //
  // Made without the lock: only the reader of the folder touches it until it is filed.
  NodeList SubfolderNodes(int fd, Node& node) {
    NodeList subs;
    const std::int32_t count = node.record.subfolders;
    if (count == 0) {
      if (fd >= 0) ::close(fd);
      return subs;
    }
    std::size_t k = 0;
    for (std::size_t i = 0; i < node.subNames.size(); ++k) {
      const std::size_t len = std::strlen(node.subNames.c_str() + i);
      Node& s = subs.emplace_back();
      s.name.assign(node.subNames, i, len);
      s.depth = node.depth + 1;
      s.listing = node.subListings[k];
      if (noteOthers_) s.mtime = node.subMtimes[k];
      if (needPath_) (s.path = node.path).append(s.name).push_back('/');
      i += len + 1;
    }
    node.subNames.clear();
    node.subNames.shrink_to_fit();
    node.subListings.clear();
    node.subListings.shrink_to_fit();
    node.subMtimes.clear();
    node.subMtimes.shrink_to_fit();
    std::int32_t ahead = 0;
    // Not the root's: that is read by the calling thread, which must never wait for a
    // system call once the readers run, so that it sees a stop.
    if (node.depth > 0 && node.depth < kOpenAheadDepth &&
        openedAhead_.fetch_add(count, std::memory_order_relaxed) + count <= kMaxOpenedAhead) {
      for (Node& s : subs) {
        const int sub = reader_.OpenAt(fd, s.name.c_str());
        // Out of descriptors: the rest are opened through the folder, as usual.
        if (sub < 0 && (errno == EMFILE || errno == ENFILE)) break;
        s.fd.Reset(sub);
        s.openedAhead = true;
        ++ahead;
      }
    }
    if (ahead < count) openedAhead_.fetch_sub(count - ahead, std::memory_order_relaxed);
    if (ahead == count) {
      ::close(fd);
      return subs;
    }
    node.dir = std::make_shared<DirHandle>();
    node.dir->fd = fd;
    for (Node& s : subs)
      if (!s.openedAhead) s.parentDir = node.dir;
    return subs;
  }

  // Reads the folder open as fd (or -1) into node with what the one-thread walk finds in it:
  // its subfolders on the drive's file system and its files in listing order, the files
  // only until a stop. One pass over the entries, each stated once: the one-thread walk's
  // two passes see the same entries in the same order. SubfolderNodes then decides what
  // becomes of fd.
  void ReadFolder(int fd, Node& node, Scratch& s, ReaderSlot* slot) const {
    // A folder some of whose entries could not be stated was not read whole either.
    node.record.readable = fd >= 0 && ReadEntries(fd, node, s, slot) && !node.record.statFailed;
  }

  // False when nothing could be read at all.
  bool ReadEntries(int fd, Node& node, Scratch& s, ReaderSlot* slot) const {
    return plainReader_ ? ReadEntriesWith<true>(fd, node, s, slot)
                        : ReadEntriesWith<false>(fd, node, s, slot);
  }

  // lstat through the scan's reader; the plain reader's call is made directly.
  template <bool Plain>
  int Stat(int fd, const char* nm, struct stat& st) const {
    if constexpr (Plain)
      return DirectoryReader::LStatAt(fd, nm, st);
    else
      return reader_.StatAt(fd, nm, st);
  }

  // What the entries of a folder add up to while its chunks are read: the counts are kept
  // here, in the reader's own frame, and written to the record after each chunk. Between two
  // stat calls the loop then touches as little memory as it can, which matters where each
  // system call costs the process its address translations (as in some virtual machines).
  struct Tally {
    const double floor;  // a file no larger never enters the largest list
    const dev_t dev;
    const std::int32_t unit;
    std::int32_t files;
    double used, allocated;
  };

  template <bool Plain>
  bool ReadEntriesWith(int fd, Node& node, Scratch& s, ReaderSlot* slot) const {
    Record& r = node.record;
    // A file no larger than the smallest of a full list never enters it, and that smallest
    // only grows: such a file keeps no name.
    Tally t{entryFloor_.load(std::memory_order_relaxed), driveDev_, unit_, 0, 0, 0};
    bool any = false;
    for (;;) {
      const long n = reader_.ReadEntries(fd, s.chunk.data(), s.chunk.size());
      if (n < 0) return any;
      if (n == 0) return true;
      any = true;
      t.files = r.files;
      t.used = r.used;
      t.allocated = r.allocated;
      std::int64_t handled = 0;
      if (!inodeOrder_.load(std::memory_order_relaxed)) {
        ForEachDirent(s.chunk.data(), n, [&](unsigned char type, const char* nm) {
          if (matchRules_) {
            const int rule = excludes_->Match(nm, node.path, s.exclude);
            if (rule >= 0) {
              if (noteOthers_) NoteExcluded(r, nm, rule);
              return;
            }
          }
          if (type != DT_DIR && type != DT_REG && type != DT_UNKNOWN) {
            if (noteOthers_) Note(r, nm, WalkEntry{WalkEntry::Kind::Other});
            return;
          }
          const bool files = Scanning.load(std::memory_order_relaxed);
          if (type == DT_REG && !files) return;
          ++handled;
          struct stat st {};
          if (Stat<Plain>(fd, nm, st) != 0) {
            StatFailed(r, errno);
            return;
          }
          Offer(fd, node, t, type, nm, files, st, s);
        });
      } else {
        // A seeking device: the stat calls go in inode order, which on most file systems
        // is the order of the inode tables on the disk; what they found is then offered in
        // listing order, as always.
        s.stated.clear();
        ForEachDirentWithInode(s.chunk.data(), n,
                               [&](std::uint64_t ino, unsigned char type, const char* nm) {
                                 const int rule =
                                     matchRules_ ? excludes_->Match(nm, node.path, s.exclude) : -1;
                                 if (rule >= 0) {
                                   if (noteOthers_)
                                     s.stated.push_back(Stated{ino, nm, type, false, true, rule});
                                   return;
                                 }
                                 const bool other =
                                     type != DT_DIR && type != DT_REG && type != DT_UNKNOWN;
                                 if (other && !noteOthers_) return;
                                 const bool files = Scanning.load(std::memory_order_relaxed);
                                 if (type == DT_REG && !files) return;
                                 s.stated.push_back(Stated{ino, nm, type, files, other});
                               });
        s.order.resize(s.stated.size());
        for (std::uint32_t i = 0; i < s.order.size(); ++i) s.order[i] = i;
        std::sort(s.order.begin(), s.order.end(), [&s](std::uint32_t a, std::uint32_t b) {
          return s.stated[a].ino < s.stated[b].ino;
        });
        for (const std::uint32_t i : s.order) {
          Stated& e = s.stated[i];
          if (e.other) continue;
          e.ok = Stat<Plain>(fd, e.name, e.st) == 0;
          if (!e.ok) e.error = errno;
          ++handled;
        }
        for (const Stated& e : s.stated) {
          if (e.rule >= 0)
            NoteExcluded(r, e.name, e.rule);
          else if (e.other)
            Note(r, e.name, WalkEntry{WalkEntry::Kind::Other});
          else if (e.ok)
            Offer(fd, node, t, e.type, e.name, e.files, e.st, s);
          else
            StatFailed(r, e.error);
        }
      }
      r.files = t.files;
      r.used = t.used;
      r.allocated = t.allocated;
      if (slot) slot->entries.fetch_add(handled, std::memory_order_relaxed);
    }
  }

  static void StatFailed(Record& r, int error) {
    if (!VanishedSinceListing(error)) r.statFailed = true;
  }

  // With a sink or kept entries: files one entry that is no counted file into the record, in
  // listing order (with a sink, files too).
  void Note(Record& r, const char* nm, const WalkEntry& e) const {
    if (keep_) {
      StoredEntry s;
      s.What = e.What == WalkEntry::Kind::OtherFs    ? StoredEntry::Kind::OtherFs
               : e.What == WalkEntry::Kind::Excluded ? StoredEntry::Kind::Excluded
                                                     : StoredEntry::Kind::Other;
      s.Reason = e.Reason;
      s.HasTime = e.Stated;
      s.Time = e.Mtime;
      s.Name = nm;
      r.packed.Add(s);
      return;
    }
    r.entries.push_back(e);
    r.entryNames.append(nm, std::strlen(nm) + 1);
  }

  // An entry an exclude rule leaves out (rule: its place).
  void NoteExcluded(Record& r, const char* nm, int rule) const {
    WalkEntry e{WalkEntry::Kind::Excluded};
    e.Reason = static_cast<std::uint32_t>(rule + 1);
    Note(r, nm, e);
  }

  // Files one stated entry of the folder open as fd into the folder's tally (counts) or
  // record (names).
  void Offer(int fd, Node& node, Tally& t, unsigned char type, const char* nm, bool files,
             const struct stat& st, Scratch& s) const {
    Record& r = node.record;
    if (S_ISDIR(st.st_mode)) {
      if (type == DT_REG) return;
      const MountPlan::Decision d = mounts_ ? mounts_->At(node.path, nm, s.mountPath)
                                    : st.st_dev != t.dev ? MountPlan::Decision::Mount
                                                         : MountPlan::Decision::None;
      if (d == MountPlan::Decision::Mount || d == MountPlan::Decision::Kernel ||
          d == MountPlan::Decision::Bind) {
        if (noteOthers_) {
          WalkEntry e{WalkEntry::Kind::OtherFs};
          e.Reason = d == MountPlan::Decision::Kernel ? StoredEntry::kReasonKernel
                     : d == MountPlan::Decision::Bind ? StoredEntry::kReasonBind
                                                      : StoredEntry::kReasonMount;
          Note(r, nm, e);
        }
        return;
      }
      if (cachesRule_ >= 0 && HoldsCacheTag(fd, nm)) {
        if (noteOthers_) NoteExcluded(r, nm, cachesRule_);
        return;
      }
      node.subNames.append(nm, std::strlen(nm) + 1);
      node.subListings.push_back(st.st_size);
      if (noteOthers_) node.subMtimes.push_back(st.st_mtim.tv_sec);
      node.largestSub = std::max<std::int64_t>(node.largestSub, st.st_size);
      ++r.subfolders;
      return;
    }
    if (type == DT_DIR || !files) return;
    if (!CountsAsFile(st.st_mode, nm)) {
      if (noteOthers_) {
        WalkEntry e{WalkEntry::Kind::Other, true};
        e.Mtime = st.st_mtim.tv_sec;
        Note(r, nm, e);
      }
      return;
    }
    const auto size = static_cast<double>(st.st_size);
    const double allocated = FileAllocated(st.st_blocks, size, t.unit);
    ++t.files;
    if (sink_) {
      WalkEntry e{WalkEntry::Kind::File, true};
      e.Size = static_cast<std::uint64_t>(st.st_size);
      e.Allocated = static_cast<std::uint64_t>(allocated);
      e.Inode = st.st_ino;
      e.Links = st.st_nlink;
      e.Mtime = st.st_mtim.tv_sec;
      Note(r, nm, e);
      return;
    }
    std::uint32_t record = 0;
    if (keep_) record = r.packed.Add(StoredFile(st, allocated, nm));
    std::int32_t link = -1;
    if (st.st_nlink > 1 && countOnce_) {
      link = static_cast<std::int32_t>(r.links.size());
      r.links.push_back(Record::Linked{FileId{st.st_dev, st.st_ino}, size, allocated});
      if (keep_) r.linkedAt.push_back(record);
    } else {
      t.used += size;
      t.allocated += allocated;
    }
    if (size > 0 && size > t.floor) {
      r.candidateSizes.push_back(size);
      r.candidateAllocated.push_back(allocated);
      r.candidateNames.append(nm, std::strlen(nm) + 1);
      r.candidateLink.push_back(link);
    }
  }

  // Makes the folder object of a read folder and offers its files, as the one-thread walk
  // does when it meets the folder. path_ holds the folder's path.
  DiskObject* Make(Node& node, std::string name, DiskObject* parent, bool isRoot) {
    const Record& r = node.record;
    if (sink_) {
      WalkFolder f;
      f.Root = isRoot;
      f.Name = name;
      f.Device = driveDev_;
      f.Mtime = node.mtime;
      f.Readable = r.readable;
      f.Entries = &r.entries;
      f.Names = &r.entryNames;
      if (!sink_->Folder(f)) sinkFailed_ = true;
      if (options_.Progress) {
        options_.Progress->Folders.fetch_add(1, std::memory_order_relaxed);
        options_.Progress->Files.fetch_add(r.files, std::memory_order_relaxed);
      }
      return nullptr;
    }
    const std::int32_t level = static_cast<std::int32_t>(frames_.size()) + 1;
    DiskObject* folder = AddScannedFolder(drive_, std::move(name), parent, isRoot, level, path_);
    folder->UsedSpace = folder->fUsedSpace = r.used;
    folder->AllocatedSpace = folder->fAllocatedSpace = r.allocated;
    folder->FileCount = folder->fFileCount = r.files;
    folder->FolderCount = folder->fFolderCount = r.subfolders;
    if (keep_) {
      linkPositions_ = r.linkedAt;
      folder->FilesAt = drive_.Drive().Files->AddFolder(
          StoredFolder{r.readable, node.mtime >= 0, node.mtime}, r.packed, &linkPositions_);
      keptBytes_.fetch_add(r.packed.Bytes().size(), std::memory_order_relaxed);
    }
    // A folder that could not be read whole may hold more: it keeps its expander.
    folder->Children = r.subfolders > 0 || !r.readable;
    // Names of linked files claim their file in the walk's order, as the one-thread walk does.
    linkCounts_.assign(r.links.size(), 0);
    for (std::size_t k = 0; k < r.links.size(); ++k) {
      const Record::Linked& l = r.links[k];
      if (!ClaimHardLink(drive_, options_, l.id, l.size, l.allocated, *folder)) {
        if (keep_) drive_.Drive().Files->SetCountedElsewhere(linkPositions_[k], true);
        continue;
      }
      linkCounts_[k] = 1;
      folder->UsedSpace = folder->fUsedSpace += l.size;
      folder->AllocatedSpace = folder->fAllocatedSpace += l.allocated;
    }
    std::size_t at = 0;
    for (std::size_t c = 0; c < r.candidateSizes.size(); ++c) {
      const double size = r.candidateSizes[c];
      const char* nm = r.candidateNames.c_str() + at;
      const std::size_t len = std::strlen(nm);
      at += len + 1;
      const std::int32_t link = r.candidateLink[c];
      if (link >= 0 && !linkCounts_[static_cast<std::size_t>(link)]) continue;
      OfferLargest(drive_, path_, std::string_view(nm, len), size, r.candidateAllocated[c],
                   keyCounter_, scratch_);
    }
    if (drive_.LargestFiles().Count() >= kLargestBound)
      entryFloor_.store(drive_.Drive().Smallest, std::memory_order_relaxed);
    if (options_.Progress) {
      options_.Progress->Folders.fetch_add(1, std::memory_order_relaxed);
      options_.Progress->Files.fetch_add(r.files, std::memory_order_relaxed);
    }
    if (options_.AfterFolder) options_.AfterFolder(*folder);
    return folder;
  }

  // Makes a folder taken from the head of the list under the top frame and moves the walk on.
  void MakeNext(Node& node) {
    Frame& top = frames_.back();
    --top.remaining;
    path_.resize(top.pathSize);
    path_.append(node.name).push_back('/');
    DiskObject* folder = Make(node, std::move(node.name), top.folder, false);
    if (node.record.subfolders > 0) {
      frames_.push_back(Frame{folder, std::move(node.dir), node.record.subfolders, path_.size()});
      LimitOpenFolders();
    } else {
      GiveLeave();
    }
    while (!frames_.empty() && frames_.back().remaining == 0) Leave();
  }

  // With a sink: the folder given last is complete.
  void GiveLeave() {
    if (sink_ && !sink_->Leave()) sinkFailed_ = true;
  }

  void LimitOpenFolders() {
    if (frames_.size() <= kMaxOpenFolders) return;
    const std::size_t at = frames_.size() - 1 - kMaxOpenFolders;
    Frame& f = frames_[at];
    // Folders near the top stay open (there are few of them): below them a subfolder may
    // have been opened ahead and closed, leaving no way back to reopen them from.
    if (at < static_cast<std::size_t>(kOpenAheadDepth) || !f.dir) return;
    f.limited = true;
    DirHandle& d = *f.dir;
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
    GiveLeave();
    Frame done = std::move(frames_.back());
    frames_.pop_back();
    if (!done.limited && (frames_.empty() || !frames_.back().limited)) {
      // Neither folder was ever closed early, so the parent is open and nothing waits to
      // close it; and every subfolder of the finished folder is made, so no reader pins it
      // (each let go before its subfolder was filed as read, under the lock this thread took
      // to make it). Nothing here needs the lock.
      if (done.dir && done.dir->fd >= 0) {
        ::close(done.dir->fd);
        done.dir->fd = -1;
      }
      return;
    }
    int closing = -1;
    std::unique_lock lock(mutex_);
    if (!frames_.empty() && frames_.back().dir) {
      DirHandle& p = *frames_.back().dir;
      // The parent is the walk's top again: a close still waiting for a reader to let go
      // of it must not happen now, or its remaining subfolders would find it closed.
      p.closeWhenFree = false;
      if (p.fd < 0 && !p.lost) {
        const int fd = done.dir && done.dir->fd >= 0 ? reader_.OpenAt(done.dir->fd, "..") : -1;
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_dev == p.dev && st.st_ino == p.ino) {
          p.fd = fd;
        } else {
          if (fd >= 0) ::close(fd);
          p.lost = true;
        }
        // Its remaining subfolders can be read now.
        if (idle_ > 0) work_.notify_all();
      }
    }
    if (done.dir && done.dir->fd >= 0 && done.dir->pins == 0) {
      // Closed after the lock is let go: closing a large folder frees what the kernel kept
      // of its listing, which takes long enough for the readers to queue on the lock.
      closing = done.dir->fd;
      done.dir->fd = -1;
    }
    lock.unlock();
    if (closing >= 0) ::close(closing);
  }

  DiskObject& drive_;
  std::int32_t& keyCounter_;
  const ScanOptions& options_;
  DirectoryReader defaultReader_;
  const std::shared_ptr<DirectoryReader> sharedReader_;  // kept alive for detached readers
  DirectoryReader& reader_;
  const bool detachable_;
  const ReaderPlan plan_;
  const std::int32_t unit_;
  const bool countOnce_ = options_.Links == HardLinkRule::Once;
  WalkSink* const sink_ = options_.Sink;
  // The drive keeps every entry (FileStore): the records pack them as they are read.
  const bool keep_ = !sink_ && drive_.Drive().Files != nullptr;
  const bool noteOthers_ = sink_ || keep_;
  // The exclude rules, held here: readers may outlive the call, and the caller's options.
  const std::shared_ptr<const ExcludeRules> excludes_ = options_.Excludes;
  const bool matchRules_ = excludes_ && excludes_->MatchesNames();
  const bool pathRules_ = excludes_ && excludes_->MatchesPaths();
  const int cachesRule_ = excludes_ ? excludes_->CachesRule() : -1;
  // Set before the readers start, then only read.
  std::shared_ptr<const MountPlan> mounts_;
  bool needPath_ = false;  // the nodes carry their paths (path rules, mount points below)
  bool sinkFailed_ = false;  // the sink refused a folder: the walk ends as on a stop
  // The caller's reader is the plain one: its calls can be made directly.
  const bool plainReader_ = typeid(reader_) == typeid(DirectoryReader);
  dev_t driveDev_ = 0;
  std::atomic<double> entryFloor_{0};
  std::atomic<bool> inodeOrder_{plan_.InodeOrder};
  std::atomic<std::int32_t> openedAhead_{0};  // descriptors of subfolders opened ahead
  std::atomic<std::size_t> keptBytes_{0};     // what the drive's store of entries took
  // Records that keep every entry hold each name once more, packed for the store: about twice
  // what a report's records hold for as many folders read ahead.
  const std::size_t readAheadBytesBound_ = keep_ ? 2 * kMaxReadAheadBytes : kMaxReadAheadBytes;

  std::mutex mutex_;
  std::condition_variable work_;    // readers with nothing to take
  std::condition_variable park_;    // readers beyond the allowed count
  std::condition_variable made_;    // the calling thread: the walk ended, or a turn did
  NodeList pending_;                // known folders not yet made, in depth-first order
  std::size_t readAhead_ = 0;       // read and not yet made
  std::size_t readAheadBytes_ = 0;  // what their records hold
  RecordEstimate records_;          // how large the records being read may get
  bool windowFull_ = false;         // a reader's search ended at kSearchWindow
  const std::size_t readAheadBound_ = ReadAheadBound(DescriptorLimit());
  std::int32_t idle_ = 0;   // readers waiting for work
  unsigned active_ = 0;     // readers allowed to take work
  bool making_ = false;     // a reader's turn to make folders is running
  bool walkEnded_ = false;  // every folder made, or a turn saw the stop
  bool stopped_ = false;    // a turn saw the stop before a folder
  bool finished_ = false;   // the walk is over: nothing more is taken or filed
  std::vector<std::thread> threads_;
  std::array<ReaderSlot, kMaxReaders> slots_;

  // Only the calling thread touches these.
  ReaderControl control_;
  ResidentMemory resident_;
  const std::size_t residentAtStart_ = resident_.Bytes();
  std::int64_t lastControl_ = 0;  // when the last period began
  const std::int64_t startNs_ = NowNs();
  // KESTRUM_SCAN_LOG's file, read when the scan starts; null without it (scan_log.h).
  const std::unique_ptr<ScanLog> log_ = ScanLog::FromEnvironment();
  // Only the thread whose turn it is to make folders touches these (the calling thread
  // before the readers start).
  std::vector<Frame> frames_;  // the walk's path
  std::string path_;           // the path of the folder being made, ending in "/"
  std::string scratch_;
  std::vector<char> linkCounts_;  // per linked name of the folder being made: it counts
  std::vector<std::uint64_t> linkPositions_;  // and its record in the drive's store
};

}  // namespace

bool ScanDriveParallel(DiskObject& drive, std::int32_t& keyCounter, const ScanOptions& options,
                       const ReaderPlan& plan) {
  // Shared with the readers, which may outlive this call after a stop.
  auto walk = std::make_shared<ParallelWalk>(drive, keyCounter, options, plan);
  return walk->Run();
}

}  // namespace kestrum
