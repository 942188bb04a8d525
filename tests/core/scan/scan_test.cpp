#include "core/scan/scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <set>

#include "core/tree/largest.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::TempDir;

// A drive object over a temporary tree, with a 4096-byte unit so rounding shows.
DiskObject DriveAt(const std::string& root, std::int32_t unit = 4096) {
  DiskObject d;
  d.Class = ObjectClass::Drive;
  d.SetPath(root);
  d.DriveForChange().RootFolder = root + "/";
  d.DriveForChange().AllocationUnit = unit;
  return d;
}

struct ScanRun {
  DiskObject drive;
  std::int32_t keys = 0;
  bool ok = false;
};

void Scan(ScanRun& r, const ScanOptions& o = {}) {
  Scanning = true;
  r.ok = ScanDrive(r.drive, r.keys, o);
  Scanning = false;
  SummarizeSizes(r.drive);
}

const DiskObject& FolderAt(DiskObject& drive, const std::string& path) {
  const DiskObject* f = drive.DiskObjects().Find(path);
  if (!f) throw std::runtime_error("no folder " + path);
  return *f;
}

// Every folder's totals are its own plus its subfolders' (the model's invariant), checked
// from the objects themselves, independently of how the summary computed them.
void ExpectConsistent(DiskObject& drive) {
  std::map<const DiskObject*, std::tuple<double, double, std::int64_t, std::int64_t>> sums;
  for (const auto& f : drive.DiskObjects()) {
    auto& s = sums[f.get()];
    std::get<0>(s) += f->fUsedSpace;
    std::get<1>(s) += f->fAllocatedSpace;
    std::get<2>(s) += f->fFileCount;
    std::get<3>(s) += f->fFolderCount;
  }
  // Children come after their parents: adding backwards finishes each before its parent.
  const auto& list = drive.DiskObjects();
  for (std::size_t i = list.Count(); i >= 2; --i) {
    const DiskObject* f = list.Item(i);
    auto& s = sums[f];
    auto& p = sums[f->Parent];
    std::get<0>(p) += std::get<0>(s);
    std::get<1>(p) += std::get<1>(s);
    std::get<2>(p) += std::get<2>(s);
    std::get<3>(p) += std::get<3>(s);
  }
  for (const auto& f : list) {
    const auto& s = sums[f.get()];
    EXPECT_EQ(f->UsedSpace, std::get<0>(s)) << f->Path();
    EXPECT_EQ(f->AllocatedSpace, std::get<1>(s)) << f->Path();
    EXPECT_EQ(f->FileCount, std::get<2>(s)) << f->Path();
    EXPECT_EQ(f->FolderCount, std::get<3>(s)) << f->Path();
    if (f->Level > 1) {
      EXPECT_EQ(f->Level, f->Parent->Level + 1) << f->Path();
    }
  }
}

// A chain of depth folders named name under root, one 1-byte file "f" in each but the last.
// Built through descriptors, as the paths soon pass PATH_MAX.
void MakeChain(const std::string& root, int depth, const char* name) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < depth; ++i) {
    const int f = ::openat(fd, "f", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(f, 0);
    ASSERT_EQ(::write(f, "x", 1), 1);
    ::close(f);
    ASSERT_EQ(::mkdirat(fd, name, 0755), 0);
    const int next = ::openat(fd, name, O_RDONLY | O_DIRECTORY);
    ::close(fd);
    ASSERT_GE(next, 0);
    fd = next;
  }
  ::close(fd);
}

TEST(ScanRules, AttributesAndAllocation) {
  EXPECT_EQ(LinuxAttributes(S_IFREG | 0644, "a"), kAttrNormal);
  EXPECT_EQ(LinuxAttributes(S_IFREG | 0444, ".a"), kAttrNormal | kAttrReadOnly | kAttrHidden);
  EXPECT_EQ(LinuxAttributes(S_IFDIR | 0755, "d"), kAttrDirectory);
  EXPECT_EQ(LinuxAttributes(S_IFLNK | 0777, "l"), kAttrReparsePoint);
  EXPECT_EQ(LinuxAttributes(S_IFIFO | 0644, "p"), kAttrDevice);
  EXPECT_EQ(LinuxAttributes(S_IFSOCK | 0644, "s"), kAttrDevice);
  EXPECT_TRUE(IsCountedFile(kAttrNormal | kAttrReadOnly | kAttrHidden | 0x4 | 0x20));
  EXPECT_FALSE(IsCountedFile(kAttrDirectory));
  EXPECT_FALSE(IsCountedFile(kAttrReparsePoint));
  EXPECT_FALSE(IsCountedFile(kAttrDevice));

  EXPECT_EQ(AllocatedSize(0, 4096), 0);
  EXPECT_EQ(AllocatedSize(1, 4096), 4096);
  EXPECT_EQ(AllocatedSize(4096, 4096), 4096);
  EXPECT_EQ(AllocatedSize(4097, 4096), 8192);
  EXPECT_EQ(AllocatedSize(12345, 1), 12345);
  EXPECT_EQ(AllocatedSize(5, 0), 5);
  EXPECT_EQ(AllocatedSize(1000, 3000), 3000);  // a unit that is no power of two
  EXPECT_EQ(AllocatedSize(6001, 3000), 9000);

  // The integer rounding gives what the plain division gives, on both sides of 2^53 and for
  // units that are powers of two and units that are not.
  const auto division = [](double size, std::int32_t unit) {
    const double u = unit < 1 ? 1.0 : unit;
    return std::ceil(size / u) * u;
  };
  std::mt19937_64 rng(7);
  for (const std::int32_t unit : {1, 512, 4096, 65536, 1 << 20, 3000, 4095, 1000000}) {
    for (int i = 0; i < 2000; ++i) {
      const int bits = static_cast<int>(rng() % 62) + 1;
      const double size = static_cast<double>(rng() >> (64 - bits));
      ASSERT_EQ(AllocatedSize(size, unit), division(size, unit)) << size << " " << unit;
    }
    for (const double size : {0x1p53 - 1, 0x1p53, 0x1p53 + 2, 0x1p62, 0x1p70})
      EXPECT_EQ(AllocatedSize(size, unit), division(size, unit)) << size << " " << unit;
  }
}

// A reader for a file system that reports no block count.
class BlocklessReader : public DirectoryReader {
 public:
  int StatAt(int dirFd, const char* name, struct stat& out) override {
    const int rc = DirectoryReader::StatAt(dirFd, name, out);
    out.st_blocks = -1;
    return rc;
  }
};

// Sparse, punched, preallocated, empty and ordinary files count the space the file system says they
// hold (lstat's blocks, the independent model here), in the folders' totals and the largest
// files alike, on one thread and on several; without a block count the rounding stands in.
TEST(ScanDrive, AllocatedIsTheSpaceTheFileSystemReports) {
  TempDir t;
  const std::string sparse = t.Write("sparse.img", "x");
  ASSERT_EQ(::truncate(sparse.c_str(), 64 << 20), 0);  // 64 MiB of which one block is written
  t.Write("empty", "");
  t.Write("plain.txt", std::string(5000, 'p'));
  const std::string pre = t.Write("sub/pre.bin", std::string(10, 'q'));
  const int fd = ::open(pre.c_str(), O_WRONLY | O_CLOEXEC);
  const bool preallocated = fd >= 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, 1 << 20) == 0;
  if (fd >= 0) ::close(fd);
  // A hole punched into written data gives its blocks back.
  const std::string punched = t.Write("punched", std::string(1 << 16, 'z'));
  const int pfd = ::open(punched.c_str(), O_WRONLY | O_CLOEXEC);
  if (pfd >= 0) {
    ::fsync(pfd);
    (void)::fallocate(pfd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, 1 << 15);
    ::close(pfd);
  }
  const auto held = [&t](const std::string& name) {
    struct stat st {};
    return ::lstat((t.Path() + "/" + name).c_str(), &st) == 0 ? st.st_blocks * 512.0 : -1.0;
  };
  if (held("sparse.img") >= 64 << 20) GTEST_SKIP() << "this file system keeps no sparse files";
  if (preallocated) {
    EXPECT_GE(held("sub/pre.bin"), 1 << 20);  // more than its size rounds to
  }
  const double own = held("sparse.img") + held("empty") + held("plain.txt") + held("punched");
  BlocklessReader blockless;
  for (const unsigned threads : {1u, 3u}) {
    for (DirectoryReader* reader :
         {static_cast<DirectoryReader*>(nullptr), static_cast<DirectoryReader*>(&blockless)}) {
      ScanRun r{DriveAt(t.Path())};
      ScanOptions o;
      o.Threads = threads;
      o.Reader = reader;
      Scan(r, o);
      const DiskObject& root = FolderAt(r.drive, t.Path() + "/");
      const FileObject* big = nullptr;
      for (const auto& f : r.drive.LargestFiles())
        if (f->Name == t.Path() + "/sparse.img") big = f.get();
      ASSERT_NE(big, nullptr);
      EXPECT_EQ(root.UsedSpace, (64 << 20) + 5000 + 10 + (1 << 16));
      if (reader) {  // the Part's rounding: whole 4096-byte units
        EXPECT_EQ(root.fAllocatedSpace, (64 << 20) + 8192 + (1 << 16)) << threads;
        EXPECT_EQ(root.AllocatedSpace, (64 << 20) + 8192 + (1 << 16) + 4096) << threads;
        EXPECT_EQ(big->Allocated, 64 << 20);
      } else {
        EXPECT_EQ(root.fAllocatedSpace, own) << threads;
        EXPECT_EQ(root.AllocatedSpace, own + held("sub/pre.bin")) << threads;
        EXPECT_EQ(big->Allocated, held("sparse.img"));
        EXPECT_LT(root.AllocatedSpace, root.UsedSpace);
      }
    }
  }
}

TEST(ScanDrive, TotalsLevelsAndOrder) {
  TempDir t;
  t.Write("a.txt", std::string(5000, 'x'));  // 8192 allocated
  t.Write("empty", "");                      // counted, 0 allocated, not largest
  t.Write("one/b", std::string(4096, 'y'));  // exactly one unit
  t.Write("one/two/c", std::string(10, 'z'));
  t.Mkdir("one/two/three");
  t.Mkdir("four");
  ScanRun r{DriveAt(t.Path())};
  Scan(r);
  ASSERT_TRUE(r.ok);
  auto& d = r.drive;
  ASSERT_EQ(d.DiskObjects().Count(), 5u);
  const std::string root = t.Path() + "/";
  const DiskObject& rf = *d.DiskObjects().Item(1);
  EXPECT_EQ(rf.Path(), root);
  EXPECT_EQ(rf.Level, 1);
  EXPECT_TRUE(rf.RootDirectory);
  EXPECT_EQ(rf.Parent, &d);
  EXPECT_EQ(rf.Name, "");
  EXPECT_EQ(rf.fFileCount, 2);
  EXPECT_EQ(rf.fUsedSpace, 5000);
  EXPECT_EQ(rf.fAllocatedSpace, 8192);
  EXPECT_EQ(rf.fFolderCount, 2);
  EXPECT_EQ(rf.FolderCount, 4);
  EXPECT_EQ(rf.FileCount, 4);
  EXPECT_EQ(rf.UsedSpace, 5000 + 4096 + 10);
  EXPECT_EQ(rf.AllocatedSpace, 8192 + 4096 + 4096);
  EXPECT_EQ(d.UsedSpace, rf.UsedSpace);
  EXPECT_EQ(d.AllocatedSpace, rf.AllocatedSpace);

  const DiskObject& one = FolderAt(d, root + "one/");
  EXPECT_EQ(one.Name, "one");
  EXPECT_EQ(one.Level, 2);
  EXPECT_EQ(one.FolderCount, 2);
  EXPECT_EQ(one.fFolderCount, 1);
  EXPECT_TRUE(one.Children);
  const DiskObject& three = FolderAt(d, root + "one/two/three/");
  EXPECT_EQ(three.Level, 4);
  EXPECT_FALSE(three.Children);
  EXPECT_EQ(d.Drive().DeepestLevel, 4);
  EXPECT_EQ(FolderAt(d, root + "four/").Parent, &rf);
  ExpectConsistent(d);

  // Depth first: every folder directly follows its parent's subtree siblings, so a
  // folder's descendants form one run after it.
  std::set<const DiskObject*> closed;
  const DiskObject* prev = nullptr;
  for (const auto& f : d.DiskObjects()) {
    if (prev) {
      for (const DiskObject* p = prev; p && p != f->Parent; p = p->Parent) closed.insert(p);
    }
    EXPECT_FALSE(closed.count(f->Parent)) << f->Path();
    prev = f.get();
  }

  ASSERT_EQ(d.LargestFiles().Count(), 3u);
  ASSERT_TRUE(d.Drive().Folder100);
  EXPECT_EQ(d.Drive().Folder100->Path(), root + "100 Largest Files");
  EXPECT_EQ(d.Drive().Folder100->Class, ObjectClass::Folder100);
  EXPECT_EQ(d.Drive().Folder100->Parent, &rf);
  EXPECT_EQ(d.Drive().Folder100->Level, 1);
  EXPECT_EQ(d.Drive().Folder100->fFileCount, 3);
  EXPECT_EQ(d.Drive().Folder100->UsedSpace, 5000 + 4096 + 10);
  EXPECT_EQ(d.Drive().Folder100->AllocatedSpace, 8192 + 4096 + 4096);
  EXPECT_EQ(d.Drive().Folder100->FileCount, 0);
}

TEST(ScanDrive, OddEntriesAndNames) {
  TempDir t;
  t.Write(".hidden", "abc");
  const std::string ro = t.Write("readonly", "abcd");
  ::chmod(ro.c_str(), 0444);
  const std::string odd[] = {
      "with space", "quo\"te's", "new\nline", "tab\there", std::string("bad\xff\xfe", 5),
      "back\\slash"};
  for (const auto& n : odd) t.Write("names/" + n, "12");
  t.Mkdir(std::string("dir \xc3\x28 odd\n"));
  ASSERT_EQ(::symlink("readonly", (t.Path() + "/link-to-file").c_str()), 0);
  ASSERT_EQ(::symlink("..", (t.Path() + "/names/loop").c_str()), 0);
  ASSERT_EQ(::symlink("/", (t.Path() + "/rootlink").c_str()), 0);
  ASSERT_EQ(::mkfifo((t.Path() + "/fifo").c_str(), 0644), 0);
  ScanRun r{DriveAt(t.Path(), 1)};
  Scan(r);
  auto& d = r.drive;
  const std::string root = t.Path() + "/";
  ASSERT_EQ(d.DiskObjects().Count(), 3u);  // root, names, the odd folder; no link entered
  const DiskObject& rf = *d.DiskObjects().Item(1);
  EXPECT_EQ(rf.fFileCount, 2);  // hidden and read-only; links and the FIFO are not files
  EXPECT_EQ(rf.fUsedSpace, 7);
  const DiskObject& names = FolderAt(d, root + "names/");
  EXPECT_EQ(names.fFileCount, 6);
  EXPECT_EQ(names.fFolderCount, 0);
  EXPECT_NE(d.DiskObjects().Find(root + std::string("dir \xc3\x28 odd\n") + "/"), nullptr);
  std::set<std::string> largest;
  for (const auto& e : d.LargestFiles()) largest.insert(e->Name);
  for (const auto& n : odd) EXPECT_TRUE(largest.count(root + "names/" + n)) << n;
  EXPECT_EQ(rf.FileCount, 8);
  ExpectConsistent(d);
}

TEST(ScanDrive, DeepTreeBeyondPathMax) {
  TempDir t;
  const int depth = 1500;  // paths grow to about 16 KB, far beyond PATH_MAX
  ASSERT_NO_FATAL_FAILURE(MakeChain(t.Path(), depth, "deep-name"));
  ScanRun r{DriveAt(t.Path())};
  Scan(r);
  auto& d = r.drive;
  EXPECT_EQ(d.DiskObjects().Count(), static_cast<std::size_t>(depth + 1));
  EXPECT_EQ(d.Drive().DeepestLevel, depth + 1);
  EXPECT_GT(d.DiskObjects().Item(depth + 1)->Path().size(), static_cast<std::size_t>(PATH_MAX));
  EXPECT_EQ(d.DiskObjects().Item(1)->FileCount, depth);
  EXPECT_EQ(d.DiskObjects().Item(1)->FolderCount, depth);
  EXPECT_EQ(d.LargestFiles().Count(), 100u);
  ExpectConsistent(d);
  // The temporary folder's own clean-up walks by path and stops at PATH_MAX.
  EXPECT_EQ(std::system(("rm -rf '" + t.Path() + "/deep-name'").c_str()), 0);
}

// A hundred thousand levels: no recursion on the stack, and memory in the number of
// folders. Were each folder to hold its full path, the paths alone would take 10 GB.
TEST(ScanDrive, HundredThousandLevels) {
  TempDir t;
  const int depth = 100000;
  ASSERT_NO_FATAL_FAILURE(MakeChain(t.Path(), depth, "d"));
  std::string deepest = t.Path() + "/";
  for (int i = 0; i < depth; ++i) deepest += "d/";
  for (unsigned threads : {1u, 2u}) {
    struct rusage before {};
    ::getrusage(RUSAGE_SELF, &before);
    ScanRun r{DriveAt(t.Path())};
    ScanOptions o;
    o.Threads = threads;
    Scan(r, o);
    struct rusage after {};
    ::getrusage(RUSAGE_SELF, &after);
    auto& d = r.drive;
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(d.DiskObjects().Count(), static_cast<std::size_t>(depth + 1));
    EXPECT_EQ(d.Drive().DeepestLevel, depth + 1);
    const DiskObject& top = *d.DiskObjects().Item(1);
    EXPECT_EQ(top.FileCount, depth);
    EXPECT_EQ(top.FolderCount, depth);
    EXPECT_EQ(top.UsedSpace, depth);
    EXPECT_EQ(top.AllocatedSpace, 4096.0 * depth);
    const DiskObject* last = d.DiskObjects().Item(depth + 1);
    EXPECT_EQ(d.DiskObjects().Find(deepest), last);
    EXPECT_EQ(last->Path(), deepest);
    EXPECT_EQ(last->Level, depth + 1);
    EXPECT_EQ(d.LargestFiles().Count(), 100u);
    std::string hundredth = t.Path() + "/";
    for (int i = 0; i < 99; ++i) hundredth += "d/";
    EXPECT_EQ(d.LargestFiles().Item(100)->Name, hundredth + "f");
    ExpectConsistent(d);
    // Peak memory may not grow by more than half a gigabyte (it grows by about 100 MB).
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 512L * 1024) << threads << " threads";
  }
  EXPECT_EQ(std::system(("rm -rf '" + t.Path() + "/d'").c_str()), 0);
}

TEST(ScanDrive, StopAfterNFoldersLeavesConsistentPartialTree) {
  TempDir t;
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 4; ++j)
      t.Write("d" + std::to_string(i) + "/e" + std::to_string(j) + "/f", "12345");
  ScanOptions o;
  int seen = 0;
  o.AfterFolder = [&](const DiskObject&) {
    if (++seen == 7) Scanning = false;
  };
  ScanRun r{DriveAt(t.Path())};
  Scan(r, o);
  auto& d = r.drive;
  EXPECT_EQ(d.DiskObjects().Count(), 7u);
  ExpectConsistent(d);
  ASSERT_TRUE(d.Drive().Folder100);
  EXPECT_EQ(d.Drive().Folder100->fFileCount, static_cast<std::int32_t>(d.LargestFiles().Count()));
  EXPECT_EQ(d.Drive().Folder100->UsedSpace, d.DiskObjects().Item(1)->UsedSpace);
  EXPECT_EQ(d.DiskObjects().Item(1)->fFolderCount, 6);  // listed, if not all entered
}

TEST(ScanDrive, StopBeforeFirstFile) {
  TempDir t;
  t.Write("a", "1");
  t.Write("sub/b", "1");
  ScanRun r{DriveAt(t.Path())};
  std::int32_t keys = 0;
  Scanning = false;  // a stop that came before the scan read anything
  ScanDrive(r.drive, keys);
  SummarizeSizes(r.drive);
  EXPECT_EQ(r.drive.DiskObjects().Count(), 1u);
  EXPECT_EQ(r.drive.DiskObjects().Item(1)->FileCount, 0);
  EXPECT_TRUE(r.drive.Drive().Folder100);
}

// Makes named folders unreadable, named files vanish and one folder look like a mount.
class FaultyReader : public DirectoryReader {
 public:
  std::set<std::string> locked, ghosts;
  std::string foreign;
  int OpenAt(int dirFd, const char* name) override {
    if (locked.count(name)) {
      errno = EACCES;
      return -1;
    }
    return DirectoryReader::OpenAt(dirFd, name);
  }
  int StatAt(int dirFd, const char* name, struct stat& out) override {
    if (ghosts.count(name)) {
      errno = ENOENT;
      return -1;
    }
    const int rc = DirectoryReader::StatAt(dirFd, name, out);
    if (rc == 0 && name == foreign) out.st_dev += 1;
    return rc;
  }
};

TEST(ScanDrive, UnreadableVanishedAndForeignFolders) {
  TempDir t;
  t.Write("locked/inner/f", "1234");
  t.Write("locked/g", "1234");
  t.Write("ghost", "12345678");
  t.Write("kept", "12");
  t.Write("mnt/x", "123");
  FaultyReader reader;
  reader.locked = {"locked"};
  reader.ghosts = {"ghost"};
  reader.foreign = "mnt";
  ScanOptions o;
  o.Reader = &reader;
  o.Mounts = MountPlan::FromTable({{"/dev/x", t.Path() + "/mnt", "ext4", "/", 99}}, t.Path() + "/",
                                  0, false);
  ScanRun r{DriveAt(t.Path())};
  Scan(r, o);
  auto& d = r.drive;
  const std::string root = t.Path() + "/";
  ASSERT_EQ(d.DiskObjects().Count(), 2u);  // root and the locked folder; not the mount
  const DiskObject& locked = FolderAt(d, root + "locked/");
  EXPECT_TRUE(locked.Children);
  EXPECT_EQ(locked.FolderCount, 0);
  EXPECT_EQ(locked.fFileCount, 0);
  EXPECT_EQ(locked.UsedSpace, 0);
  const DiskObject& rf = *d.DiskObjects().Item(1);
  EXPECT_EQ(rf.fFileCount, 1);
  EXPECT_EQ(rf.fUsedSpace, 2);
  EXPECT_EQ(rf.fFolderCount, 1);
  ExpectConsistent(d);
}

TEST(ScanDrive, UnreadableRoot) {
  TempDir t;
  ScanRun r{DriveAt(t.Path() + "/missing")};
  Scan(r);
  EXPECT_FALSE(r.ok);
  ASSERT_EQ(r.drive.DiskObjects().Count(), 1u);
  EXPECT_TRUE(r.drive.DiskObjects().Item(1)->Children);
  ASSERT_TRUE(r.drive.Drive().Folder100);
  EXPECT_EQ(r.drive.Drive().Folder100->fFileCount, 0);
  EXPECT_EQ(r.drive.UsedSpace, 0);
}

TEST(ScanDrive, ProgressCounts) {
  TempDir t;
  t.Write("a", "1");
  t.Write("s/b", "1");
  t.Write("s/c", "");
  ScanProgress p;
  ScanOptions o;
  o.Progress = &p;
  ScanRun r{DriveAt(t.Path())};
  Scan(r, o);
  EXPECT_EQ(p.Folders.load(), 2);
  EXPECT_EQ(p.Files.load(), 3);
}

}  // namespace
}  // namespace kestrum

namespace kestrum {
namespace {

// Mount points below the folder, as the mount table tells them: entered on request, never a
// pseudo file system or a bind mount; a change of device the table does not know (a btrfs
// subvolume) is a folder like any other.
TEST(ScanDrive, MountPointsFollowTheMountTable) {
  TempDir t;
  for (const char* f : {"proc/x", "bind/x", "twice/x", "disk/x", "disk/inner/x", "subvol/x"})
    t.Write(f, "1234");
  FaultyReader reader;
  reader.foreign = "subvol";
  const std::string root = t.Path() + "/";
  const std::vector<MountEntry> table{
      {"/dev/root", "/", "ext4", "/", 1},
      {"proc", root + "proc", "proc", "/", 40},
      {"/dev/b", root + "bind", "ext4", "/home", 41},
      {"/dev/d", root + "disk", "xfs", "/", 42},
      {"/dev/d", root + "twice", "xfs", "/", 42},
  };
  for (const bool cross : {false, true}) {
    SCOPED_TRACE(cross);
    ScanOptions o;
    o.Reader = &reader;
    o.CrossFileSystems = cross;
    o.Mounts = MountPlan::FromTable(table, root, 0, cross);
    ScanRun r{DriveAt(t.Path())};
    Scan(r, o);
    std::set<std::string> folders, others;
    for (const auto& f : r.drive.DiskObjects()) {
      folders.insert(f->Path().substr(root.size()));
      r.drive.Drive().Files->ForEach(f->FilesAt, [&](const StoredEntry& e) {
        if (e.What == StoredEntry::Kind::OtherFs)
          others.insert(std::string(e.Name) + "=" + std::to_string(e.Reason));
      });
    }
    EXPECT_EQ(r.drive.Drive().CrossFileSystems, cross);
    if (cross) {
      EXPECT_EQ(folders, (std::set<std::string>{"", "disk/", "disk/inner/", "subvol/"}));
      EXPECT_EQ(others, (std::set<std::string>{"proc=1", "bind=2", "twice=2"}));
      EXPECT_EQ(r.drive.DiskObjects().Item(1)->FileCount, 3);
    } else {
      EXPECT_EQ(folders, (std::set<std::string>{"", "subvol/"}));
      EXPECT_EQ(others, (std::set<std::string>{"proc=1", "bind=2", "disk=0", "twice=0"}));
    }
  }
  // Pseudo file systems by type.
  EXPECT_TRUE(IsKernelFileSystem("cgroup2"));
  EXPECT_FALSE(IsKernelFileSystem("tmpfs"));
}

}  // namespace
}  // namespace kestrum
