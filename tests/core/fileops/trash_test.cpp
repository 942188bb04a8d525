#include "core/fileops/trash.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/fileops/fileops_support.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::Exists;
using test::TargetFor;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The home volume's trash of these tests: a fresh data folder on the home volume, set as
// XDG_DATA_HOME before GLib first reads it, so the user's own trash is never touched.
class HomeTrash : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* home = std::getenv("HOME");
    std::string base = std::string(home && *home ? home : "/root") + "/.cache";
    ::mkdir(base.c_str(), 0700);
    base += "/kestrum-trash-test-XXXXXX";
    if (!::mkdtemp(base.data())) return;
    Root = base;
    ::setenv("XDG_DATA_HOME", (Root + "/data").c_str(), 1);
  }
  void TearDown() override {
    if (!Root.empty()) std::system(("rm -rf '" + Root + "'").c_str());
  }
  static std::string Root;
};
std::string HomeTrash::Root;
[[maybe_unused]] auto* const kHomeTrash = ::testing::AddGlobalTestEnvironment(new HomeTrash);

TEST(TrashTarget, OnTheHomeVolumeGoesToTheUsersTrashWithItsInfo) {
  ASSERT_FALSE(HomeTrash::Root.empty());
  const std::string volume = HomeTrash::Root;  // below the home folder, on its volume
  const std::string folder = volume + "/work";
  ::mkdir(folder.c_str(), 0755);
  const std::string name = "odd \xff name";
  const std::string victim = folder + "/" + name;
  ::mkdir(victim.c_str(), 0755);
  ASSERT_TRUE(std::ofstream(victim + "/a.txt") << "a");
  ASSERT_EQ(::symlink("/etc/hostname", (victim + "/link").c_str()), 0);
  const std::string file = folder + "/plain.txt";
  ASSERT_TRUE(std::ofstream(file) << "p");

  OpControl c;
  OpResult r = TrashTarget(TargetFor(volume, victim, true), c);
  ASSERT_EQ(r.Status, OpStatus::Done) << r.Message;
  r = TrashTarget(TargetFor(volume, file, false), c);
  ASSERT_EQ(r.Status, OpStatus::Done) << r.Message;
  EXPECT_FALSE(Exists(victim));
  EXPECT_FALSE(Exists(file));

  const std::string trash = volume + "/data/Trash";
  EXPECT_TRUE(Exists(trash + "/files/" + name + "/a.txt"));
  EXPECT_TRUE(Exists(trash + "/files/" + name + "/link"));
  EXPECT_TRUE(Exists(trash + "/files/plain.txt"));
  const std::string info = ReadAll(trash + "/info/" + name + ".trashinfo");
  EXPECT_EQ(info.rfind("[Trash Info]\n", 0), 0u) << info;
  EXPECT_NE(info.find("Path=" + folder + "/odd%20%FF%20name\n"), std::string::npos) << info;
  EXPECT_NE(info.find("DeletionDate="), std::string::npos);
  EXPECT_NE(ReadAll(trash + "/info/plain.txt.trashinfo").find("Path=" + file + "\n"),
            std::string::npos);

  // Gone before the trash: reported, not a failure.
  r = TrashTarget(TargetFor(volume, file, false), c);
  EXPECT_EQ(r.Status, OpStatus::Vanished);
}

TEST(TrashTarget, AFolderHoldingAMountPointIsRefusedAndNothingMoves) {
  test::TempDir t;
  const std::string victim = t.Mkdir("victim");
  const std::string mnt = t.Mkdir("victim/inner/mnt");
  test::TestMount tmpfs("none", mnt, "tmpfs", 0, "size=1m");
  if (!tmpfs.Ok()) GTEST_SKIP() << "cannot mount a tmpfs here";
  OpControl c;
  const OpResult r = TrashTarget(TargetFor(t.Path(), victim, true), c);
  EXPECT_EQ(r.Status, OpStatus::Refused);
  EXPECT_EQ(r.Path, mnt);
  EXPECT_TRUE(Exists(mnt));
}

// An ordinary ext4 volume of its own: the trash is the volume's ".Trash-uid"; mounted read
// only, the trash fails and the object stays where it was.
TEST(TrashTarget, OnAnotherVolumeUsesItsOwnTrashAndAFailureDeletesNothing) {
  test::TempDir t;
  const std::string image = t.Path() + "/volume.img";
  const std::string mnt = t.Mkdir("mnt");
  const std::string make = "truncate -s 8M '" + image + "' && mkfs.ext4 -q -F '" + image +
                           "' >/dev/null 2>&1 && mount -o loop '" + image + "' '" + mnt +
                           "' 2>/dev/null";
  if (std::system(make.c_str()) != 0)
    GTEST_SKIP() << "this machine cannot make and mount an ext4 loop image (needs root and "
                    "loop devices)";
  struct Unmount {
    std::string m;
    ~Unmount() { std::system(("umount '" + m + "' 2>/dev/null").c_str()); }
  } unmount{mnt};

  const std::string victim = mnt + "/docs";
  ::mkdir(victim.c_str(), 0755);
  ASSERT_TRUE(std::ofstream(victim + "/d.txt") << "d");
  OpControl c;
  OpResult r = TrashTarget(TargetFor(mnt, victim, true), c);
  ASSERT_EQ(r.Status, OpStatus::Done) << r.Message;
  EXPECT_FALSE(Exists(victim));
  const std::string trash = mnt + "/.Trash-" + std::to_string(::getuid());
  EXPECT_TRUE(Exists(trash + "/files/docs/d.txt"));
  const std::string info = ReadAll(trash + "/info/docs.trashinfo");
  EXPECT_NE(info.find("Path="), std::string::npos) << info;
  EXPECT_NE(info.find("docs\n"), std::string::npos) << info;

  const std::string kept = mnt + "/kept.txt";
  ASSERT_TRUE(std::ofstream(kept) << "k");
  ASSERT_EQ(std::system(("mount -o remount,ro '" + mnt + "'").c_str()), 0);
  r = TrashTarget(TargetFor(mnt, kept, false), c);
  EXPECT_EQ(r.Status, OpStatus::Failed);
  EXPECT_NE(r.Message.find("nothing was deleted"), std::string::npos) << r.Message;
  EXPECT_TRUE(Exists(kept));
}

// GLib refuses some volumes on purpose; whatever it answers, the object is never lost.
TEST(TrashTarget, ARefusedTrashNeverFallsBackToDeleting) {
  test::TempDir t;
  const std::string mnt = t.Mkdir("ram");
  test::TestMount tmpfs("none", mnt, "tmpfs", 0, "size=1m");
  if (!tmpfs.Ok()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string file = mnt + "/f.txt";
  ASSERT_TRUE(std::ofstream(file) << "f");
  OpControl c;
  const OpResult r = TrashTarget(TargetFor(mnt, file, false), c);
  if (r.Status == OpStatus::Done) {
    EXPECT_TRUE(Exists(mnt + "/.Trash-" + std::to_string(::getuid()) + "/files/f.txt"));
  } else {
    EXPECT_EQ(r.Status, OpStatus::Failed);
    EXPECT_TRUE(Exists(file)) << r.Message;
  }
}

}  // namespace
}  // namespace kestrum
