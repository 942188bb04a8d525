// The scan on several threads against the scan on one, field by field, on generated trees.
#include <fcntl.h>
#include <sys/resource.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/tree/largest.h"
#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/tree/file_store.h"
#include "core/tree/summary.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::TempDir;

struct Result {
  DiskObject drive;
  std::int32_t keys = 0;
  bool ok = false;
  std::int64_t folders = 0, files = 0;
};

Result ScanWith(const std::string& root, unsigned threads, ScanOptions o = {}) {
  Result r;
  r.drive.Class = ObjectClass::Drive;
  r.drive.SetPath(root);
  r.drive.DriveForChange().RootFolder = root + "/";
  r.drive.DriveForChange().AllocationUnit = 4096;
  ScanProgress p;
  o.Progress = &p;
  o.Threads = threads;
  Scanning = true;
  r.ok = ScanDrive(r.drive, r.keys, o);
  Scanning = false;
  SummarizeSizes(r.drive);
  r.folders = p.Folders.load();
  r.files = p.Files.load();
  return r;
}

void ExpectSameFolder(const DiskObject& a, const DiskObject& b) {
  EXPECT_EQ(a.Path(), b.Path());
  EXPECT_EQ(a.Name, b.Name) << a.Path();
  EXPECT_EQ(a.Class, b.Class) << a.Path();
  EXPECT_EQ(a.SubClass(), b.SubClass()) << a.Path();
  EXPECT_EQ(a.Level, b.Level) << a.Path();
  EXPECT_EQ(a.RootDirectory, b.RootDirectory) << a.Path();
  EXPECT_EQ(a.Children, b.Children) << a.Path();
  EXPECT_EQ(a.UsedSpace, b.UsedSpace) << a.Path();
  EXPECT_EQ(a.AllocatedSpace, b.AllocatedSpace) << a.Path();
  EXPECT_EQ(a.FileCount, b.FileCount) << a.Path();
  EXPECT_EQ(a.FolderCount, b.FolderCount) << a.Path();
  EXPECT_EQ(a.fUsedSpace, b.fUsedSpace) << a.Path();
  EXPECT_EQ(a.fAllocatedSpace, b.fAllocatedSpace) << a.Path();
  EXPECT_EQ(a.fFileCount, b.fFileCount) << a.Path();
  EXPECT_EQ(a.fFolderCount, b.fFolderCount) << a.Path();
}

// A folder's kept entries as text, one line each with every field, and a check that the files
// among them are what its own totals were made of.
std::string KeptEntries(const DiskObject& drive, const DiskObject& folder) {
  if (!drive.Drive().Files) return "none";
  const FileStore& store = *drive.Drive().Files;
  const StoredFolder info = store.FolderInfo(folder.FilesAt);
  std::string out = std::to_string(info.Readable) + " " + std::to_string(info.HasTime) + " " +
                    std::to_string(info.Time) + "\n";
  double used = 0, allocated = 0;
  std::int32_t files = 0;
  store.ForEach(folder.FilesAt, [&](const StoredEntry& e) {
    out += std::to_string(static_cast<int>(e.What)) + " " + std::string(e.Name) + " " +
           std::to_string(e.Size) + " " + std::to_string(e.Allocated) + " " +
           std::to_string(e.HasTime) + ":" + std::to_string(e.Time) + " x" +
           std::to_string(e.Executable) + " l" + std::to_string(e.Linked) + ":" +
           std::to_string(e.Inode) + ":" + std::to_string(e.Links) + " e" +
           std::to_string(e.CountedElsewhere) + " r" + std::to_string(e.Reason) + "\n";
    if (e.What != StoredEntry::Kind::File) return;
    ++files;
    if (e.CountedElsewhere) return;
    used += static_cast<double>(e.Size);
    allocated += static_cast<double>(e.Allocated);
  });
  EXPECT_EQ(files, folder.fFileCount) << folder.Path();
  EXPECT_EQ(used, folder.fUsedSpace) << folder.Path();
  EXPECT_EQ(allocated, folder.fAllocatedSpace) << folder.Path();
  return out;
}

// Everything a scan produces, compared field by field.
void ExpectSame(Result& one, Result& many) {
  EXPECT_EQ(one.ok, many.ok);
  DiskObject& a = one.drive;
  DiskObject& b = many.drive;
  ASSERT_EQ(a.DiskObjects().Count(), b.DiskObjects().Count());
  for (std::size_t i = 1; i <= a.DiskObjects().Count(); ++i) {
    const DiskObject& fa = *a.DiskObjects().Item(i);
    const DiskObject& fb = *b.DiskObjects().Item(i);
    ExpectSameFolder(fa, fb);
    EXPECT_EQ(KeptEntries(a, fa), KeptEntries(b, fb)) << fa.Path();
    if (i == 1) {
      EXPECT_EQ(fa.Parent, &a);
      EXPECT_EQ(fb.Parent, &b);
    } else {
      ASSERT_TRUE(fa.Parent && fb.Parent);
      EXPECT_EQ(fa.Parent->Path(), fb.Parent->Path()) << fa.Path();
    }
  }
  ASSERT_EQ(a.LargestFiles().Count(), b.LargestFiles().Count());
  for (std::size_t i = 1; i <= a.LargestFiles().Count(); ++i) {
    const FileObject& x = *a.LargestFiles().Item(i);
    const FileObject& y = *b.LargestFiles().Item(i);
    EXPECT_EQ(x.key, y.key) << i;
    EXPECT_EQ(x.Name, y.Name) << i;
    EXPECT_EQ(x.Size, y.Size) << i;
    EXPECT_EQ(x.Allocated, y.Allocated) << i;
  }
  EXPECT_EQ(a.Drive().Smallest, b.Drive().Smallest);
  EXPECT_EQ(a.Drive().SmallestIndex, b.Drive().SmallestIndex);
  EXPECT_EQ(a.Drive().DeepestLevel, b.Drive().DeepestLevel);
  EXPECT_EQ(a.UsedSpace, b.UsedSpace);
  EXPECT_EQ(a.AllocatedSpace, b.AllocatedSpace);
  EXPECT_EQ(one.keys, many.keys);
  EXPECT_EQ(one.folders, many.folders);
  EXPECT_EQ(one.files, many.files);
  ASSERT_TRUE(a.Drive().Folder100 && b.Drive().Folder100);
  ExpectSameFolder(*a.Drive().Folder100, *b.Drive().Folder100);
}

void WriteSized(const std::string& path, std::size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  if (size > 0) {
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
  }
  ::close(fd);
}

// A random tree: each folder under an earlier one, files spread at random with sizes from a
// small set so that many are equal, some folders left empty.
void MakeRandomTree(const std::string& root, int folders, int files, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::string> paths{root};
  for (int i = 1; i < folders; ++i) {
    const std::string p = paths[rng() % paths.size()] + "/d" + std::to_string(i);
    ASSERT_EQ(::mkdir(p.c_str(), 0755), 0);
    paths.push_back(p);
  }
  const std::size_t sizes[] = {0, 1, 4096, 4097, 5000, 5000, 5000, 10000, 123456};
  for (int i = 0; i < files; ++i) {
    const std::string& in = paths[rng() % paths.size()];
    WriteSized(in + "/f" + std::to_string(i), sizes[rng() % 9]);
    // Entries that count nothing are kept too, in listing order; and executables are marked.
    if (i % 11 == 0) {
      ASSERT_EQ(::symlink("f0", (in + "/l" + std::to_string(i)).c_str()), 0);
    }
    if (i % 13 == 0) {
      ASSERT_EQ(::chmod((in + "/f" + std::to_string(i)).c_str(), 0755), 0);
    }
  }
  ASSERT_EQ(::mkfifo((root + "/fifo").c_str(), 0644), 0);
}

void ExpectAllModesSame(const std::string& root, ScanOptions o = {}) {
  Result one = ScanWith(root, 1, o);
  for (unsigned threads : {2u, 3u, 8u}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    Result many = ScanWith(root, threads, o);
    ExpectSame(one, many);
  }
}

// Random sets of exclude rules of every kind, with cache tags right and wrong, on both orders
// of stat calls: the same result on any number of readers.
TEST(ParallelScan, RandomExcludeRules) {
  TempDir t;
  MakeRandomTree(t.Path(), 300, 2000, 13);
  const std::string tag = "Signature: 8a477f597d28d172789f06886806bc55";
  t.Write("d7/CACHEDIR.TAG", tag);
  t.Write("d20/CACHEDIR.TAG", tag + "\nmore");
  t.Write("d30/CACHEDIR.TAG", "Signature: 0");
  using K = ExcludeRule::Kind;
  std::vector<ExcludeRule> pool;
  for (const char* w : {"f1*", "*7", "d1?", "l*", "fifo", "f[0-3]5", "*.none", "D2*"})
    pool.push_back(ExcludeRule{K::Wildcard, false, w[0] != 'D', w});
  pool.push_back(ExcludeRule{K::Regex, false, true, "^d2"});
  pool.push_back(ExcludeRule{K::Regex, false, true, "9$"});
  pool.push_back(ExcludeRule{K::Wildcard, true, true, "*/d3/*"});
  pool.push_back(ExcludeRule{K::Regex, true, true, "/d1[0-9]/f"});
  pool.push_back(ExcludeRule{K::Caches, false, true, ""});
  std::mt19937 rng(21);
  for (int round = 0; round < 6; ++round) {
    std::shuffle(pool.begin(), pool.end(), rng);
    const std::vector<ExcludeRule> rules(pool.begin(), pool.begin() + 2 + rng() % 6);
    std::string names;
    for (const ExcludeRule& r : rules) names += r.Line() + " ";
    SCOPED_TRACE(names);
    std::string error;
    ScanOptions o;
    o.Excludes = ExcludeRules::Make(rules, error);
    ASSERT_TRUE(o.Excludes) << error;
    o.Rotational = round % 2 == 1;
    // Folders the mount table calls a pseudo file system, a bind mount, a mount not crossed
    // and one crossed into.
    const std::string root = t.Path() + "/";
    o.Mounts = MountPlan::FromTable({{"proc", root + "d5", "proc", "/", 7},
                                     {"/dev/b", root + "d9", "ext4", "/x", 8},
                                     {"/dev/c", root + "d12", "ext4", "/", 9},
                                     {"/dev/d", root + "d1/d15", "ext4", "/", 10}},
                                    root, 0, round % 3 == 0);
    ExpectAllModesSame(t.Path(), o);
  }
}

TEST(ParallelScan, RandomTreeWithEqualSizes) {
  TempDir t;
  MakeRandomTree(t.Path(), 400, 3000, 7);
  ExpectAllModesSame(t.Path());
}

TEST(ParallelScan, TiesAmongLargestFiles) {
  TempDir t;
  // Far more than 100 files of one size, in several folders, with larger ones in between:
  // which equal file keeps its place and which key it has depend on the order of offers.
  for (int d = 1; d < 6; ++d) t.Mkdir("d" + std::to_string(d));
  for (int d = 0; d < 6; ++d)
    for (int i = 0; i < 60; ++i)
      WriteSized(t.Path() + "/" + (d ? "d" + std::to_string(d) + "/" : std::string()) + "e" +
                     std::to_string(i),
                 (i % 17 == 0) ? 7000 + static_cast<std::size_t>(d) : 3000);
  for (int d = 1; d < 6; ++d) t.Mkdir("d" + std::to_string(d) + "/empty");
  ExpectAllModesSame(t.Path());
}

TEST(ParallelScan, WideAndEmptyFolders) {
  TempDir t;
  for (int i = 0; i < 1500; ++i) t.Mkdir("w" + std::to_string(i));
  for (int i = 0; i < 1500; i += 7) t.Write("w" + std::to_string(i) + "/f", std::string(i, 'x'));
  ExpectAllModesSame(t.Path());
}

TEST(ParallelScan, DeepTreeWithSideFolders) {
  TempDir t;
  // Deeper than the descriptors kept open along the path, with a side folder at every level
  // so that folders wait to be read under ancestors whose descriptors were closed.
  const int depth = 300;
  int fd = ::open(t.Path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < depth; ++i) {
    ASSERT_EQ(::mkdirat(fd, "side", 0755), 0);
    const int f = ::openat(fd, "side/f", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(f, 0);
    ASSERT_EQ(::write(f, "xyz", static_cast<std::size_t>(1 + i % 3)), 1 + i % 3);
    ::close(f);
    ASSERT_EQ(::mkdirat(fd, "down", 0755), 0);
    const int next = ::openat(fd, "down", O_RDONLY | O_DIRECTORY);
    ::close(fd);
    ASSERT_GE(next, 0);
    fd = next;
  }
  ::close(fd);
  Result one = ScanWith(t.Path(), 1);
  EXPECT_EQ(one.drive.Drive().DeepestLevel, depth + 1);
  EXPECT_EQ(one.drive.DiskObjects().Count(), static_cast<std::size_t>(2 * depth + 1));
  ExpectAllModesSame(t.Path());
  // The read-ahead follows the descriptors the process may open: at the usual soft limit it
  // is smallest, and the result the same.
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
  struct rlimit low = old;
  low.rlim_cur = std::min<rlim_t>(old.rlim_cur, 1024);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  ExpectAllModesSame(t.Path());
  ::setrlimit(RLIMIT_NOFILE, &old);
}

class FaultyReader : public DirectoryReader {
 public:
  std::set<std::string> locked, ghosts, unlisted;
  int OpenAt(int dirFd, const char* name) override {
    if (locked.count(name)) {
      errno = EACCES;
      return -1;
    }
    const int fd = DirectoryReader::OpenAt(dirFd, name);
    if (fd >= 0 && unlisted.count(name)) {
      std::lock_guard lock(m_);
      unlistedFds_.insert(fd);
    }
    return fd;
  }
  long ReadEntries(int dirFd, char* buffer, std::size_t size) override {
    {
      std::lock_guard lock(m_);
      if (unlistedFds_.erase(dirFd)) {
        errno = EIO;
        return -1;
      }
    }
    return DirectoryReader::ReadEntries(dirFd, buffer, size);
  }
  int StatAt(int dirFd, const char* name, struct stat& out) override {
    if (ghosts.count(name)) {
      errno = ENOENT;
      return -1;
    }
    return DirectoryReader::StatAt(dirFd, name, out);
  }

 private:
  std::mutex m_;
  std::set<int> unlistedFds_;
};

TEST(ParallelScan, UnreadableFoldersAndVanishedFiles) {
  TempDir t;
  MakeRandomTree(t.Path(), 200, 1500, 11);
  FaultyReader reader;
  reader.locked = {"d3", "d17", "d40", "d41", "d99"};
  reader.unlisted = {"d5", "d60", "d150"};
  for (int i = 0; i < 1500; i += 13) reader.ghosts.insert("f" + std::to_string(i));
  ScanOptions o;
  o.Reader = &reader;
  Result one = ScanWith(t.Path(), 1, o);
  std::size_t unreadable = 0;
  for (const auto& f : one.drive.DiskObjects())
    if (f->Children && f->fFolderCount == 0) ++unreadable;
  EXPECT_GE(unreadable, 1u);
  ExpectAllModesSame(t.Path(), o);
}

// Runs out of descriptors on the first folder opened under each folder but the root, and only
// then.
class ShortOfDescriptors : public DirectoryReader {
 public:
  explicit ShortOfDescriptors(const std::string& root) {
    struct stat st {};
    ::stat(root.c_str(), &st);
    seen_.insert({st.st_dev, st.st_ino});
  }
  int OpenAt(int dirFd, const char* name) override {
    struct stat st {};
    if (::fstat(dirFd, &st) == 0) {
      std::lock_guard lock(m_);
      if (seen_.insert({st.st_dev, st.st_ino}).second) {
        ++refused;
        errno = EMFILE;
        return -1;
      }
    }
    return DirectoryReader::OpenAt(dirFd, name);
  }
  std::atomic<int> refused{0};

 private:
  std::mutex m_;
  std::set<std::pair<dev_t, ino_t>> seen_;
};

TEST(ParallelScan, SubfoldersOpenedAheadFallBackWhenDescriptorsRunOut) {
  TempDir t;
  MakeRandomTree(t.Path(), 150, 600, 3);
  Result plain = ScanWith(t.Path(), 1);
  for (unsigned threads : {2u, 8u}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    // The parallel scan opens the subfolders of these shallow folders ahead, meets the
    // refusal at the first, and opens the rest, and that one again, through their parent:
    // nothing may end up unreadable.
    ShortOfDescriptors reader(t.Path());
    ScanOptions o;
    o.Reader = &reader;
    Result many = ScanWith(t.Path(), threads, o);
    EXPECT_GT(reader.refused.load(), 0);
    ExpectSame(plain, many);
  }
}

TEST(ParallelScan, StopAfterNFoldersGivesTheOneThreadPartialResult) {
  TempDir t;
  MakeRandomTree(t.Path(), 300, 2000, 5);
  for (int n : {1, 2, 10, 150}) {
    SCOPED_TRACE("stop after " + std::to_string(n));
    auto stopAfter = [n](int& seen) {
      ScanOptions o;
      o.AfterFolder = [n, &seen](const DiskObject&) {
        if (++seen == n) Scanning = false;
      };
      return o;
    };
    int seenOne = 0, seenMany = 0;
    Result one = ScanWith(t.Path(), 1, stopAfter(seenOne));
    Result many = ScanWith(t.Path(), 4, stopAfter(seenMany));
    EXPECT_EQ(many.drive.DiskObjects().Count(), static_cast<std::size_t>(n));
    ExpectSame(one, many);
  }
}

TEST(ParallelScan, StopFromAnotherThreadLeavesADepthFirstPrefix) {
  TempDir t;
  MakeRandomTree(t.Path(), 600, 6000, 3);
  Result full = ScanWith(t.Path(), 1);
  for (int round = 0; round < 5; ++round) {
    std::atomic<int> made{0};
    ScanOptions o;
    o.AfterFolder = [&made](const DiskObject&) { ++made; };
    o.Threads = 3;
    Result r;
    r.drive.Class = ObjectClass::Drive;
    r.drive.SetPath(t.Path());
    r.drive.DriveForChange().RootFolder = t.Path() + "/";
    r.drive.DriveForChange().AllocationUnit = 4096;
    Scanning = true;
    // The stop comes at a moment the scan does not choose: after a number of folders that
    // varies with the round, seen from another thread.
    std::thread stopper([&made, round] {
      while (made.load() < 20 * round && Scanning.load()) std::this_thread::yield();
      Scanning = false;
    });
    r.ok = ScanDrive(r.drive, r.keys, o);
    stopper.join();
    Scanning = false;
    SummarizeSizes(r.drive);
    const auto& part = r.drive.DiskObjects();
    const auto& all = full.drive.DiskObjects();
    ASSERT_GE(part.Count(), 1u);
    ASSERT_LE(part.Count(), all.Count());
    for (std::size_t i = 1; i <= part.Count(); ++i) {
      const DiskObject& p = *part.Item(i);
      const DiskObject& f = *all.Item(i);
      EXPECT_EQ(p.Path(), f.Path());
      EXPECT_EQ(p.Level, f.Level);
      EXPECT_EQ(p.fFolderCount, f.fFolderCount);
      if (i > 1) {
        // Every folder made after the root has all its own files.
        EXPECT_EQ(p.fFileCount, f.fFileCount) << p.Path();
        EXPECT_EQ(p.fUsedSpace, f.fUsedSpace) << p.Path();
      }
    }
    // The summary of the partial tree: the root's totals are the sum of the folders made.
    double used = 0;
    std::int64_t files = 0, folders = 0;
    for (const auto& f : part) {
      used += f->fUsedSpace;
      files += f->fFileCount;
      folders += f->fFolderCount;
    }
    EXPECT_EQ(part.Item(1)->UsedSpace, used);
    EXPECT_EQ(part.Item(1)->FileCount, files);
    EXPECT_EQ(part.Item(1)->FolderCount, folders);
    ASSERT_TRUE(r.drive.Drive().Folder100);
    EXPECT_EQ(r.drive.Drive().Folder100->fFileCount,
              static_cast<std::int32_t>(r.drive.LargestFiles().Count()));
  }
}

// Snapshot-style links: every file of a random tree gets further names in random folders
// (before and after it in the walk's order, and in its own folder), and a few files have a
// name outside the scanned folder. Once counts each inode's bytes once and every name as a
// file; Each counts every name; both give the one-thread result on any number of readers,
// and the largest list never holds one file twice.
TEST(ParallelScan, HardLinksCountOnceOnAnyNumberOfReaders) {
  TempDir t;
  const std::string root = t.Mkdir("scanned");
  MakeRandomTree(root, 60, 400, 11);
  std::mt19937 rng(5);
  std::vector<std::string> folders{root}, files;
  for (std::size_t i = 0; i < folders.size(); ++i)
    for (const std::string& n : test::Names(folders[i])) {
      const std::string p = folders[i] + "/" + n;
      struct stat st {};
      ::lstat(p.c_str(), &st);
      (S_ISDIR(st.st_mode) ? folders : files).push_back(p);
    }
  const std::string outside = t.Mkdir("outside");
  int made = 0;
  for (const std::string& f : files) {
    const int names = static_cast<int>(rng() % 4);  // 0 to 3 more names
    for (int k = 0; k < names; ++k) {
      const std::string& dir =
          (k == 0 && rng() % 10 == 0) ? outside : folders[rng() % folders.size()];
      ASSERT_EQ(::link(f.c_str(), (dir + "/L" + std::to_string(made++)).c_str()), 0);
    }
  }
  // An independent count: bytes per inode once, or per name; names as files either way.
  double once = 0, each = 0;
  std::int32_t names = 0;
  std::set<ino_t> seen;
  for (const std::string& dir : folders)
    for (const std::string& n : test::Names(dir)) {
      struct stat st {};
      ::lstat((dir + "/" + n).c_str(), &st);
      if (!S_ISREG(st.st_mode)) continue;
      ++names;
      each += static_cast<double>(st.st_size);
      if (seen.insert(st.st_ino).second) once += static_cast<double>(st.st_size);
    }
  for (const HardLinkRule rule : {HardLinkRule::Once, HardLinkRule::Each}) {
    SCOPED_TRACE(rule == HardLinkRule::Once ? "once" : "each");
    ScanOptions o;
    o.Links = rule;
    ExpectAllModesSame(root, o);
    Result r = ScanWith(root, 2, o);
    EXPECT_EQ(r.drive.UsedSpace, rule == HardLinkRule::Once ? once : each);
    EXPECT_EQ(r.drive.DiskObjects().Item(1)->FileCount, names);
    EXPECT_EQ(r.drive.HardLinks().Empty(), rule == HardLinkRule::Each);
    std::set<ino_t> listed;
    for (const auto& e : r.drive.LargestFiles()) {
      struct stat st {};
      ASSERT_EQ(::lstat(e->Name.c_str(), &st), 0) << e->Name;
      if (rule == HardLinkRule::Once) {
        EXPECT_TRUE(listed.insert(st.st_ino).second) << e->Name;
      }
    }
  }
}

// The table keeps finding every entry through growth, erasure in place (entries shifted back
// over freed slots, also across the array's end) and merging.
TEST(HardLinkTable, FindsEveryEntryAfterGrowthErasureAndMerge) {
  DiskObject folders[4];
  HardLinkTable t;
  std::mt19937 rng(3);
  std::vector<FileId> ids;
  for (int i = 0; i < 5000; ++i) {
    const FileId id{static_cast<dev_t>(rng() % 3), static_cast<ino_t>(rng() % 20000 + 1)};
    if (t.Claim(id, i, 2.0 * i, &folders[rng() % 3])) ids.push_back(id);
    EXPECT_FALSE(t.Claim(id, 0, 0, &folders[3]));
  }
  ASSERT_EQ(t.Count(), ids.size());
  const std::size_t gone = t.EraseIf([&](const DiskObject* f) { return f == &folders[1]; });
  std::size_t left = 0;
  for (const FileId& id : ids) {
    const HardLinkTable::Entry* e = t.Find(id);
    if (e) {
      EXPECT_NE(e->Folder, &folders[1]);
      ++left;
    }
  }
  EXPECT_EQ(left + gone, ids.size());
  EXPECT_EQ(t.Count(), left);
  HardLinkTable more;
  ASSERT_TRUE(more.Claim(ids.front(), 1, 1, &folders[2]));
  t.Merge(more, [&](const DiskObject*) { return &folders[3]; });
  EXPECT_EQ(t.Find(ids.front())->Folder, &folders[3]);
  EXPECT_TRUE(more.Empty());
}

TEST(ParallelScan, ThreadSetting) {
  ScanOptions o;
  o.Threads = 3;
  EXPECT_EQ(ScanThreads(o), 3u);
  o.Threads = 1000;
  EXPECT_EQ(ScanThreads(o), 64u);
  o.Threads = 0;
  ::setenv("KESTRUM_SCAN_THREADS", "5", 1);
  EXPECT_EQ(ScanThreads(o), 5u);
  ::setenv("KESTRUM_SCAN_THREADS", "many", 1);
  EXPECT_GE(ScanThreads(o), 1u);
  ::unsetenv("KESTRUM_SCAN_THREADS");
  const unsigned cores = std::thread::hardware_concurrency();
  EXPECT_EQ(ScanThreads(o), cores ? cores : 1u);
}

}  // namespace
}  // namespace kestrum
