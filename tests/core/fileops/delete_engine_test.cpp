#include "core/fileops/delete_engine.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "core/fileops/fileops_support.h"
#include "core/fileops/mount_guard.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::Exists;
using test::TargetFor;
using test::TempDir;

// Sets or clears an inode flag (immutable, append-only); false when the file system or the
// user cannot.
bool SetInodeFlag(const std::string& path, int flag, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | flag) : (flags & ~flag);
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

TEST(DeleteTarget, FileIsRemovedWhateverItsBitsAndAGoneFileIsReportedNotFatal) {
  TempDir t;
  const std::string ro = t.Write("ro.txt", "data");
  ASSERT_EQ(::chmod(ro.c_str(), 0444), 0);
  const std::string odd = t.Write("bad \xff\xfe name\n\"q\"", "x");
  OpControl c;
  std::atomic<std::int64_t> removed{0};
  c.Removed = &removed;

  OpResult r = DeleteTarget(TargetFor(t.Path(), ro, false), c);
  EXPECT_EQ(r.Status, OpStatus::Done) << r.Message;
  EXPECT_FALSE(Exists(ro));
  r = DeleteTarget(TargetFor(t.Path(), odd, false), c);
  EXPECT_EQ(r.Status, OpStatus::Done) << r.Message;
  EXPECT_FALSE(Exists(odd));
  EXPECT_EQ(removed.load(), 2);

  r = DeleteTarget(TargetFor(t.Path(), ro, false), c);
  EXPECT_EQ(r.Status, OpStatus::Vanished);
  EXPECT_TRUE(IsGone(r));
  EXPECT_NE(r.Message.find(ro), std::string::npos);
  EXPECT_NE(r.Message.find("no longer exists"), std::string::npos);
}

TEST(DeleteTarget, FolderGoesWholeButLinksInsideAreRemovedAsLinks) {
  TempDir t;
  const std::string outsideFile = t.Write("outside/keep.txt", "keep");
  const std::string outsideDir = t.Mkdir("outside/dir");
  t.Write("outside/dir/inner.txt", "keep too");
  const std::string victim = t.Mkdir("victim");
  t.Write("victim/a/b/c.txt", "c");
  t.Write("victim/\xc3\x28 bad utf8/x", "x");
  const std::string ro = t.Write("victim/a/readonly.txt", "r");
  ASSERT_EQ(::chmod(ro.c_str(), 0400), 0);
  ASSERT_EQ(::symlink(outsideFile.c_str(), (victim + "/link-to-file").c_str()), 0);
  ASSERT_EQ(::symlink(outsideDir.c_str(), (victim + "/a/link-to-dir").c_str()), 0);
  ASSERT_EQ(::symlink("/nonexistent/target", (victim + "/dangling").c_str()), 0);
  ASSERT_EQ(::mkfifo((victim + "/fifo").c_str(), 0600), 0);

  OpControl c;
  const OpResult r = DeleteTarget(TargetFor(t.Path(), victim, true), c);
  EXPECT_EQ(r.Status, OpStatus::Done) << r.Message;
  EXPECT_FALSE(Exists(victim));
  EXPECT_TRUE(Exists(outsideFile));
  EXPECT_TRUE(Exists(outsideDir + "/inner.txt"));
  EXPECT_EQ(r.Removed, 11);  // 7 files, links and pipes, 4 folders
}

TEST(DeleteTarget, RefusesAFolderWholeWhenAnythingInItCannotGo) {
  TempDir t;
  const std::string victim = t.Mkdir("victim");
  t.Write("victim/first.txt", "1");
  t.Write("victim/z/locked/inside.txt", "2");
  const std::string locked = victim + "/z/locked";
  ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
  OpControl c;
  OpResult r = DeleteTarget(TargetFor(t.Path(), victim, true), c);
  EXPECT_EQ(r.Status, OpStatus::Refused);
  EXPECT_EQ(r.Path, locked);
  EXPECT_NE(r.Message.find("read-only folder"), std::string::npos) << r.Message;
  EXPECT_NE(r.Message.find(locked), std::string::npos);
  // Nothing at all was deleted, not even what the walk met first.
  EXPECT_TRUE(Exists(victim + "/first.txt"));
  EXPECT_TRUE(Exists(locked + "/inside.txt"));
  EXPECT_EQ(CheckFolderTree(TargetFor(t.Path(), victim, true), c).Status, OpStatus::Refused);

  // The selected folder itself read-only: refused too.
  ASSERT_EQ(::chmod(locked.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(victim.c_str(), 0500), 0);
  r = DeleteTarget(TargetFor(t.Path(), victim, true), c);
  EXPECT_EQ(r.Status, OpStatus::Refused);
  EXPECT_EQ(r.Path, victim);
  ASSERT_EQ(::chmod(victim.c_str(), 0755), 0);

  // An immutable or append-only entry anywhere blocks the whole folder.
  const std::string pinned = t.Write("victim/z/pinned.txt", "p");
  if (!SetInodeFlag(pinned, FS_IMMUTABLE_FL, true)) {
    GTEST_SKIP() << "this file system or user cannot mark files immutable";
  }
  r = DeleteTarget(TargetFor(t.Path(), victim, true), c);
  EXPECT_EQ(r.Status, OpStatus::Refused);
  EXPECT_EQ(r.Path, pinned);
  EXPECT_NE(r.Message.find("immutable"), std::string::npos);
  EXPECT_TRUE(Exists(victim + "/first.txt"));
  ASSERT_TRUE(SetInodeFlag(pinned, FS_IMMUTABLE_FL, false));
  const std::string logdir = victim + "/z";
  ASSERT_TRUE(SetInodeFlag(logdir, FS_APPEND_FL, true));
  r = DeleteTarget(TargetFor(t.Path(), victim, true), c);
  EXPECT_EQ(r.Status, OpStatus::Refused);
  EXPECT_EQ(r.Path, logdir);
  EXPECT_NE(r.Message.find("append-only"), std::string::npos);
  ASSERT_TRUE(SetInodeFlag(logdir, FS_APPEND_FL, false));

  r = DeleteTarget(TargetFor(t.Path(), victim, true), c);
  EXPECT_EQ(r.Status, OpStatus::Done) << r.Message;
  EXPECT_FALSE(Exists(victim));
}

TEST(DeleteTarget, AFolderSwappedForALinkIsNotFollowed) {
  TempDir t;
  t.Write("elsewhere/precious.txt", "p");
  t.Write("scanned/sub/file.txt", "f");
  // Since the scan, "scanned" was replaced by a link to "elsewhere".
  ASSERT_EQ(::rename((t.Path() + "/scanned").c_str(), (t.Path() + "/moved").c_str()), 0);
  ASSERT_EQ(::symlink("elsewhere", (t.Path() + "/scanned").c_str()), 0);
  OpControl c;
  OpResult r = DeleteTarget(TargetFor(t.Path(), t.Path() + "/scanned/precious.txt", false), c);
  EXPECT_EQ(r.Status, OpStatus::Failed);
  EXPECT_TRUE(Exists(t.Path() + "/elsewhere/precious.txt"));
  // The folder row itself now a link: refused, its target untouched.
  ASSERT_EQ(::symlink((t.Path() + "/elsewhere").c_str(), (t.Path() + "/moved/sub2").c_str()), 0);
  r = DeleteTarget(TargetFor(t.Path(), t.Path() + "/moved/sub2", true), c);
  EXPECT_EQ(r.Status, OpStatus::Failed);
  EXPECT_NE(r.Message.find("no longer a folder"), std::string::npos) << r.Message;
  EXPECT_TRUE(Exists(t.Path() + "/elsewhere/precious.txt"));
  r = DeleteTarget(TargetFor(t.Path(), t.Path() + "/gone-folder", true), c);
  EXPECT_EQ(r.Status, OpStatus::Vanished);
}

TEST(DeleteTarget, AChainOneHundredThousandDeepGoes) {
  TempDir t;
  // On a memory volume when the machine lets us mount one: a disk's journal makes a chain
  // this deep slow to build and to remove, for any tool.
  const std::string ram = t.Mkdir("ram");
  test::TestMount tmpfs("none", ram, "tmpfs", 0, "size=64m,nr_inodes=400k");
  const std::string top = t.Mkdir("ram/deep");
  ASSERT_TRUE(test::MakeDeepChain(top, 100000));
  OpControl c;
  const OpResult r = DeleteTarget(TargetFor(tmpfs.Ok() ? ram : t.Path(), top, true), c);
  EXPECT_EQ(r.Status, OpStatus::Done) << r.Message;
  EXPECT_EQ(r.Removed, 200001);
  EXPECT_FALSE(Exists(top));
}

// Failures injected through the seam.
TEST(DeleteTarget, EntriesVanishingMeanwhileAreSkippedAndRealFailuresNamed) {
  TempDir t;
  const std::string victim = t.Mkdir("victim");
  t.Write("victim/a.txt", "a");
  t.Write("victim/b.txt", "b");
  t.Write("victim/sub/c.txt", "c");
  OpControl c;
  // Someone else removes a.txt and sub between the check and the delete.
  const FileOpsSeam sys = c.Seam;
  c.Seam.UnlinkAt = [sys](int dirFd, const char* name, int flags) {
    if (std::string(name) == "a.txt") sys.UnlinkAt(dirFd, name, flags);
    return sys.UnlinkAt(dirFd, name, flags);
  };
  int opens = 0;
  c.Seam.OpenAt = [sys, &opens](int dirFd, const char* name, int flags) {
    if (std::string(name) == "sub" && ++opens == 2) {  // the delete pass's open
      ::unlinkat(dirFd, "sub/c.txt", 0);
      ::unlinkat(dirFd, "sub", AT_REMOVEDIR);
    }
    return sys.OpenAt(dirFd, name, flags);
  };
  OpResult r = DeleteTarget(TargetFor(t.Path(), victim, true), c);
  EXPECT_EQ(r.Status, OpStatus::Done) << r.Message;
  EXPECT_FALSE(Exists(victim));

  // A disk error while reading a folder ends the delete, naming the folder and the error.
  t.Write("victim2/keep/k.txt", "k");
  OpControl e;
  e.Seam.GetDents = [sys](int fd, void* buffer, unsigned long size) -> long {
    const std::string path = CanonicalPathOf(fd);
    if (path.size() >= 5 && path.substr(path.size() - 5) == "/keep") {
      errno = EIO;
      return -1;
    }
    return sys.GetDents(fd, buffer, size);
  };
  r = DeleteTarget(TargetFor(t.Path(), t.Path() + "/victim2", true), e);
  EXPECT_EQ(r.Status, OpStatus::Failed);
  EXPECT_EQ(r.Error, EIO);
  EXPECT_EQ(r.Path, t.Path() + "/victim2/keep");
  EXPECT_NE(r.Message.find("Input/output error"), std::string::npos) << r.Message;
  EXPECT_TRUE(Exists(t.Path() + "/victim2/keep/k.txt"));  // the check failed: nothing went
}

TEST(DeleteTarget, StopEndsBetweenEntriesAndSaysWhatWent) {
  TempDir t;
  const std::string victim = t.Mkdir("victim");
  for (int i = 0; i < 20; ++i) t.Write("victim/f" + std::to_string(i), "x");
  OpControl c;
  std::atomic<std::int64_t> removed{0};
  c.Removed = &removed;
  c.StopRequested = [&removed] { return removed.load() >= 5; };
  const OpResult r = DeleteTarget(TargetFor(t.Path(), victim, true), c);
  EXPECT_EQ(r.Status, OpStatus::Stopped);
  EXPECT_EQ(r.Removed, 5);
  EXPECT_TRUE(Exists(victim));
  EXPECT_NE(r.Message.find("5 objects removed"), std::string::npos) << r.Message;
}

TEST(MountGuard, FindsMountPointsAtOrBelowAPathInATable) {
  TempDir t;
  const std::string table =
      t.Write("mountinfo",
              "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
              "30 22 0:40 / /home/u/data rw - tmpfs tmpfs rw\n"
              "31 22 8:1 /x /home/u/databank rw - ext4 /dev/sda1 rw\n"
              "32 22 8:1 /y /home/u/with\\040space/in rw - ext4 /dev/sda1 rw\n");
  EXPECT_EQ(MountPointAtOrBelow("/home/u", nullptr, table), "/home/u/data");
  EXPECT_EQ(MountPointAtOrBelow("/home/u/data", nullptr, table), "/home/u/data");
  EXPECT_EQ(MountPointAtOrBelow("/home/u/dat", nullptr, table), "");
  EXPECT_EQ(MountPointAtOrBelow("/home/u/databank/x", nullptr, table), "");
  EXPECT_EQ(MountPointAtOrBelow("/home/u/with space", nullptr, table), "/home/u/with space/in");
  int error = 0;
  EXPECT_EQ(MountPointAtOrBelow("/home", &error, t.Path() + "/missing"), "");
  EXPECT_NE(error, 0);
}

TEST(DeleteTarget, AMountPointInsideStopsEverything) {
  TempDir t;
  const std::string victim = t.Mkdir("victim");
  t.Write("victim/a.txt", "a");
  const std::string mnt = t.Mkdir("victim/sub/mnt");
  test::TestMount tmpfs("none", mnt, "tmpfs", 0, "size=1m");
  if (!tmpfs.Ok()) GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  ASSERT_TRUE(std::ofstream(mnt + "/on-the-mount.txt") << "m");
  OpControl c;
  OpResult r = DeleteTarget(TargetFor(t.Path(), victim, true), c);
  EXPECT_EQ(r.Status, OpStatus::Refused);
  EXPECT_EQ(r.Path, mnt);
  EXPECT_NE(r.Message.find("mount point"), std::string::npos) << r.Message;
  EXPECT_TRUE(Exists(victim + "/a.txt"));
  EXPECT_TRUE(Exists(mnt + "/on-the-mount.txt"));

  // The mount table unread (a mount the table does not show): the walk's mount ids still
  // refuse it before anything is deleted.
  c.MountTable = t.Path() + "/no-such-table";
  r = DeleteTarget(TargetFor(t.Path(), victim, true), c);
  EXPECT_EQ(r.Status, OpStatus::Refused);
  EXPECT_EQ(r.Path, mnt);
  EXPECT_TRUE(Exists(victim + "/a.txt"));
  EXPECT_TRUE(Exists(mnt + "/on-the-mount.txt"));
}

TEST(DeleteTarget, ABindMountOfTheSameVolumeInsideIsAMountPointToo) {
  TempDir t;
  const std::string victim = t.Mkdir("victim");
  const std::string source = t.Mkdir("source");
  t.Write("source/precious.txt", "p");
  const std::string mnt = t.Mkdir("victim/bound");
  test::TestMount bind(source, mnt, nullptr, MS_BIND);
  if (!bind.Ok()) GTEST_SKIP() << "cannot bind-mount here";
  OpControl c;
  c.MountTable = t.Path() + "/no-such-table";  // only the mount ids to go by
  OpResult r = DeleteTarget(TargetFor(t.Path(), victim, true), c);
  EXPECT_EQ(r.Status, OpStatus::Refused);
  EXPECT_TRUE(Exists(source + "/precious.txt"));
  c.MountTable = "/proc/self/mountinfo";
  r = DeleteTarget(TargetFor(t.Path(), victim, true), c);
  EXPECT_EQ(r.Status, OpStatus::Refused);
  EXPECT_EQ(r.Path, mnt);
  // The mount point itself selected.
  r = DeleteTarget(TargetFor(t.Path(), mnt, true), c);
  EXPECT_EQ(r.Status, OpStatus::Refused);
  EXPECT_TRUE(Exists(source + "/precious.txt"));
}

}  // namespace
}  // namespace kestrum
