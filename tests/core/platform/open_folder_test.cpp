#include "core/platform/open_folder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "support/test_support.h"

namespace kestrum {
namespace {

// The inode of the folder an open descriptor stands for.
ino_t InodeOf(const UniqueFd& fd) {
  struct stat st {};
  EXPECT_EQ(::fstat(fd.Get(), &st), 0);
  return st.st_ino;
}

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0);
  return st.st_ino;
}

TEST(OpenFolderBelow, WalksDownWithoutFollowingLinks) {
  test::TempDir t;
  t.Write("a/b\nc/\xff odd/f", "x");
  t.Mkdir("outside");
  ASSERT_EQ(::symlink((t.Path() + "/outside").c_str(), (t.Path() + "/a/link").c_str()), 0);

  // Exact bytes, trailing slash or not, root with or without one.
  const std::string odd = t.Path() + "/a/b\nc/\xff odd";
  OpenedFolder ok = OpenFolderBelow(t.Path() + "/", odd + "/");
  ASSERT_TRUE(ok.Fd) << ok.Error;
  EXPECT_EQ(InodeOf(ok.Fd), InodeOf(odd));
  EXPECT_TRUE(OpenFolderBelow(t.Path(), odd).Fd);
  // The root itself.
  EXPECT_EQ(InodeOf(OpenFolderBelow(t.Path(), t.Path() + "/").Fd), InodeOf(t.Path()));

  // A folder replaced by a link is refused, and the failing component is named.
  OpenedFolder viaLink = OpenFolderBelow(t.Path(), t.Path() + "/a/link");
  EXPECT_FALSE(viaLink.Fd);
  EXPECT_TRUE(viaLink.Error == ELOOP || viaLink.Error == ENOTDIR) << viaLink.Error;
  EXPECT_EQ(viaLink.FailedAt, t.Path() + "/a/link");

  // A file, a missing name, a path outside the root, "..", and a mere prefix of a name.
  EXPECT_EQ(OpenFolderBelow(t.Path(), odd + "/f").Error, ENOTDIR);
  EXPECT_EQ(OpenFolderBelow(t.Path(), t.Path() + "/gone").Error, ENOENT);
  EXPECT_EQ(OpenFolderBelow(t.Path() + "/a", t.Path() + "/outside").Error, EINVAL);
  EXPECT_EQ(OpenFolderBelow(t.Path() + "/a", t.Path() + "/a/../outside").Error, EINVAL);
  EXPECT_EQ(OpenFolderBelow(t.Path() + "/a", t.Path() + "/ab").Error, EINVAL);
  EXPECT_EQ(OpenFolderBelow("", "/").Error, EINVAL);
}

TEST(OpenFolderBelow, ReachesFoldersDeeperThanPathMax) {
  test::TempDir t;
  // Build a chain whose full path is far longer than PATH_MAX, one openat at a time.
  const std::string name(200, 'd');
  int fd = ::open(t.Path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  std::string full = t.Path();
  const int levels = PATH_MAX / 200 + 10;
  for (int i = 0; i < levels; ++i) {
    ASSERT_EQ(::mkdirat(fd, name.c_str(), 0700), 0);
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    ASSERT_GE(next, 0);
    fd = next;
    full += "/" + name;
  }
  ASSERT_EQ(::mkdirat(fd, "leaf", 0700), 0);
  ::close(fd);
  ASSERT_GT(full.size(), static_cast<std::size_t>(PATH_MAX));
  OpenedFolder deep = OpenFolderBelow(t.Path(), full);
  ASSERT_TRUE(deep.Fd) << deep.Error;
  struct stat st {};
  EXPECT_EQ(::fstatat(deep.Fd.Get(), "leaf", &st, AT_SYMLINK_NOFOLLOW), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  // TempDir's removal cannot take paths this long; take the chain down from inside.
  std::string rm = "rm -rf '" + t.Path() + "/" + name + "'";
  EXPECT_EQ(std::system(rm.c_str()), 0);
}

TEST(SplitLastName, FolderAndName) {
  EXPECT_EQ(SplitLastName("/a/b/").Folder, "/a/");
  EXPECT_EQ(SplitLastName("/a/b/").Name, "b");
  EXPECT_EQ(SplitLastName("/a").Folder, "/");
  EXPECT_EQ(SplitLastName("/a").Name, "a");
  EXPECT_EQ(SplitLastName("/").Name, "");
}

}  // namespace
}  // namespace kestrum
