#include "core/tree/discovery.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "core/tree/disk_model.h"
#include "core/platform/mounts.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::TempDir;

// Volumes whose sizes the test decides; a path listed in failing makes statvfs fail.
class FakeVolumes : public FileSystemService {
 public:
  using FileSystemService::FileSystemService;
  std::map<std::string, int> failing;
  int StatVolume(const std::string& path, struct statvfs& out) const override {
    if (auto it = failing.find(path); it != failing.end()) return it->second;
    out = {};
    out.f_frsize = 4096;
    out.f_bsize = 4096;
    out.f_blocks = 10ull * 1024 * 1024 * 1024 / 4096;  // 10 GiB
    out.f_bfree = 4ull * 1024 * 1024 * 1024 / 4096;    // 4 GiB free
    out.f_bavail = 3ull * 1024 * 1024 * 1024 / 4096;   // less free to the user
    return 0;
  }
};

struct Fixture {
  TempDir dir;
  VolumeSources src;
  std::string data, usb, space, nfs, tmp, cd, iso, over;

  Fixture() {
    data = dir.Mkdir("mnt/data");
    usb = dir.Mkdir("media/stick");
    space = dir.Mkdir("mnt/my disk");
    nfs = dir.Mkdir("net/share");
    tmp = dir.Mkdir("tmp");
    cd = dir.Mkdir("media/cdrom");
    // Fake sysfs: sda fixed with partition sda1, sdb removable, sdc a USB disk reporting
    // removable 0, sr0 mounted, sr1 empty.
    dir.Write("sys/block/sda/removable", "0\n");
    dir.Mkdir("sys/block/sda/sda1");
    dir.Write("sys/block/sdb/removable", "1\n");
    dir.Mkdir("sys/block/sdb/sdb1");
    dir.Write("sys/devices/pci0000:00/usb1/1-1/block/sdc/removable", "0\n");
    dir.Mkdir("sys/devices/pci0000:00/usb1/1-1/block/sdc/sdc1");
    symlink((dir.Path() + "/sys/devices/pci0000:00/usb1/1-1/block/sdc").c_str(),
            (dir.Path() + "/sys/block/sdc").c_str());
    dir.Mkdir("sys/block/sr0");
    dir.Mkdir("sys/block/sr1");
    // Labels, escaped as udev writes them, linking to fake device nodes.
    dir.Write("dev/sda1", "");
    dir.Write("dev/sdb1", "");
    dir.Mkdir("dev/disk/by-label");
    symlink((dir.Path() + "/dev/sda1").c_str(),
            (dir.Path() + "/dev/disk/by-label/Big\\x20Data").c_str());
    src.SysBlock = dir.Path() + "/sys/block";
    src.ByLabel = dir.Path() + "/dev/disk/by-label";
  }

  std::string Escape(const std::string& p) {
    std::string out;
    for (char c : p) out += c == ' ' ? std::string("\\040") : std::string(1, c);
    return out;
  }

  void Table(const std::string& body) { src.MountTable = dir.Write("mountinfo", body); }
};

TEST(Discovery, ClassifiesFiltersAndKeepsTableOrder) {
  Fixture f;
  const std::string t = f.dir.Path();
  f.Table(
      "1 0 0:30 / / rw - overlay overlay rw,lowerdir=/x\n"
      "2 1 0:4 / /proc rw - proc proc rw\n"
      "3 1 0:5 / /sys rw - sysfs sysfs rw\n"
      "4 1 0:6 / /dev/shm rw - tmpfs tmpfs rw\n"
      "5 1 0:7 / /run/user/1000 rw - tmpfs tmpfs rw\n"
      "6 1 8:1 / " +
      f.data +
      " rw - ext4 /dev/sda1 rw\n"
      "7 1 8:1 /sub " +
      t + "/bind rw - ext4 " + t +
      "/dev/sda1 rw\n"
      "8 1 8:17 / " +
      f.usb +
      " rw - vfat /dev/sdb1 rw\n"
      "9 1 8:33 / " +
      f.Escape(f.space) +
      " rw - exfat /dev/sdc1 rw\n"
      "10 1 0:40 / " +
      f.nfs +
      " rw - nfs4 server:/export rw\n"
      "11 1 0:41 / " +
      f.tmp +
      " rw - tmpfs tmpfs rw\n"
      "12 1 11:0 / " +
      f.cd +
      " ro - iso9660 /dev/sr0 ro\n"
      "13 1 7:0 / /snap/core/1 ro - squashfs /dev/loop0 ro\n"
      "14 1 0:42 / " +
      t +
      "/gone rw - fuse.sshfs me@host:/ rw\n"
      "15 1 0:43 / /var/lib/docker/overlay2/x/merged rw - overlay overlay rw\n");
  FakeVolumes fs(f.src);
  const auto drives = fs.Drives();
  std::vector<std::string> paths;
  for (const auto& d : drives) paths.push_back(d.Path);
  EXPECT_EQ(paths, (std::vector<std::string>{"/", f.data, f.usb, f.space, f.nfs, f.tmp, f.cd,
                                             t + "/gone", "/dev/sr1"}));
  std::vector<int> types;
  for (const auto& d : drives) types.push_back(d.DriveType);
  EXPECT_EQ(types, (std::vector<int>{2, 2, 1, 1, 3, 5, 4, 3, 4}));
  EXPECT_EQ(drives[1].VolumeName, "Big Data");
  EXPECT_EQ(drives[1].RootFolder, f.data + "/");
  EXPECT_EQ(drives[0].RootFolder, "/");
  EXPECT_EQ(drives[3].FileSystem, "exfat");
  EXPECT_FALSE(drives[7].IsReady);  // its mount point is missing
  EXPECT_FALSE(drives[8].IsReady);  // an optical drive without a medium
  EXPECT_TRUE(drives[6].IsReady);
}

TEST(Discovery, LaterMountOnTheSamePointWins) {
  Fixture f;
  f.Table("1 0 8:1 / " + f.data +
          " rw - ext4 /dev/sda1 rw\n"
          "2 0 0:50 / " +
          f.data + " rw - tmpfs tmpfs rw\n");
  FakeVolumes fs(f.src);
  const auto drives = fs.Drives();
  ASSERT_EQ(drives.size(), 3u);  // the tmpfs, then the two optical drives
  EXPECT_EQ(drives[0].FileSystem, "tmpfs");
}

TEST(Discovery, ModelTakesSizesAndReportsFailures) {
  Fixture f;
  f.Table("6 1 8:1 / " + f.data +
          " rw - ext4 /dev/sda1 rw\n"
          "8 1 8:17 / " +
          f.usb + " rw - vfat /dev/sdb1 rw\n");
  FakeVolumes fs(f.src);
  fs.failing[f.usb] = EACCES;
  std::vector<std::string> messages;
  const auto list = DiscoverDrives(fs, [&](const std::string& m) { messages.push_back(m); });
  ASSERT_EQ(list->Count(), 5u);
  const DiskObject* root = list->Item(1);
  EXPECT_EQ(root->Label(), "My Computer");
  EXPECT_EQ(root->ClosedIcon(), "MyComputer");
  EXPECT_TRUE(root->Children);

  const DiskObject* data = list->Find(f.data);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->Parent, root);
  EXPECT_EQ(data->Drive().DeviceSize, 10.0 * 1024 * 1024 * 1024);
  EXPECT_EQ(data->Drive().FreeSpace, 4.0 * 1024 * 1024 * 1024);
  EXPECT_EQ(data->UsedSpace, 6.0 * 1024 * 1024 * 1024);
  EXPECT_EQ(data->AllocatedSpace, data->UsedSpace);
  EXPECT_EQ(data->Drive().AllocationUnit, 4096);
  EXPECT_EQ(data->SubClass(), "Fixed");
  EXPECT_EQ(data->Label(), "Big Data (" + f.data + ")");

  const DiskObject* usb = list->Find(f.usb);
  EXPECT_EQ(usb->Drive().DeviceSize, 0);
  EXPECT_EQ(usb->UsedSpace, 0);
  EXPECT_EQ(usb->Drive().AllocationUnit, 1);  // its unit could not be read either
  EXPECT_EQ(usb->ClosedIcon(), "DisketteDrive");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "GetDiskFreeSpaceEx failed: (13) Permission denied");

  const DiskObject* empty = list->Find("/dev/sr0");
  ASSERT_NE(empty, nullptr);
  EXPECT_FALSE(empty->Children);
  EXPECT_EQ(empty->Label(), "(/dev/sr0)");
  EXPECT_EQ(empty->Drive().AllocationUnit, 1);
  EXPECT_EQ(empty->SubClass(), "CD-ROM");
  EXPECT_TRUE(empty->Drive().RootFolder.empty());
}

TEST(Discovery, UnreadableMountTableGivesOnlyTheRoot) {
  VolumeSources src;
  src.MountTable = "/nonexistent/mountinfo";
  src.SysBlock = "/nonexistent";
  FakeVolumes fs(src);
  EXPECT_EQ(DiscoverDrives(fs, {})->Count(), 1u);
  int err = 0;
  EXPECT_TRUE(ReadMountTable(src.MountTable, &err).empty());
  EXPECT_NE(err, 0);
}

TEST(Discovery, RealMachineHasARootVolume) {
  FileSystemService fs;
  double total = 0, free = 0;
  EXPECT_TRUE(GetDriveSpace(fs, "/", total, free, {}));
  EXPECT_GT(total, 0);
  EXPECT_GE(DriveAllocUnit(fs, "/"), 1);
  EXPECT_EQ(DriveAllocUnit(fs, "/nonexistent/path"), 1);
  char before[4096];
  ASSERT_NE(getcwd(before, sizeof before), nullptr);
  DriveAllocUnit(fs, "/tmp");
  char after[4096];
  ASSERT_NE(getcwd(after, sizeof after), nullptr);
  EXPECT_STREQ(before, after);
  int err = -1;
  EXPECT_FALSE(VolumeSerialText("/", &err).empty());
  EXPECT_EQ(err, 0);
  EXPECT_TRUE(VolumeSerialText("/nonexistent/x", &err).empty());
  EXPECT_EQ(err, ENOENT);
}

TEST(DiskModel, LabelsAndSubClasses) {
  DiskObject d;
  d.Class = ObjectClass::Drive;
  d.SetPath("/mnt/a");
  EXPECT_EQ(d.Label(), "(/mnt/a)");
  d.Name = "Archive";
  EXPECT_EQ(d.Label(), "Archive (/mnt/a)");
  d.SetSubClass(7);
  EXPECT_EQ(d.SubClass(), "");
  EXPECT_EQ(d.ClosedIcon(), "");
  d.SetSubClass(5);
  EXPECT_EQ(d.SubClass(), "RAM Disk");
  EXPECT_EQ(d.OpenIcon(), "HardDrive");

  DiskObject folder;
  folder.Class = ObjectClass::Folder;
  folder.SetPath("/mnt/a/x/");
  EXPECT_EQ(folder.Label(), "/mnt/a/x/");
  folder.SetSubClass();
  EXPECT_EQ(folder.ClosedIcon(), "ClosedFolder");
  EXPECT_EQ(folder.OpenIcon(), "OpenFolder");
  DiskObject other;
  other.Name = "n";
  EXPECT_EQ(other.Label(), "");

  d.UsedSpace = 10;
  d.AllocatedSpace = 12;
  EXPECT_EQ(d.Space(false), 10);
  EXPECT_EQ(d.Space(true), 12);
}

// Folders below the root folder hold no path; the list finds them by path all the same.
TEST(DiskModel, FolderListDerivesAndFindsPaths) {
  DiskObject drive;
  drive.SetPath("/mnt/a");
  FolderList& list = drive.DiskObjects();
  auto folder = [&](DiskObject* parent, const std::string& name) {
    auto o = std::make_unique<DiskObject>();
    o->Class = ObjectClass::Folder;
    o->Name = name;
    o->Parent = parent;
    if (parent == &drive) o->SetPath("/mnt/a/");
    return list.Add(std::move(o));
  };
  DiskObject* root = folder(&drive, "");
  DiskObject* x = folder(root, "x");
  DiskObject* odd = folder(x, "sp ace\n\xff");
  DiskObject* y = folder(root, "y");
  ASSERT_TRUE(root && x && odd && y);
  EXPECT_EQ(list.Find("/mnt/a/x/"), x);
  EXPECT_NE(folder(odd, "x"), nullptr);  // the same name elsewhere is another folder, and
                                         // one added after the first Find is found too

  EXPECT_EQ(odd->Path(), "/mnt/a/x/sp ace\n\xff/");
  EXPECT_EQ(odd->Label(), "sp ace\n\xff");
  EXPECT_EQ(root->Label(), "/mnt/a/");
  EXPECT_EQ(list.Find("/mnt/a/"), root);
  EXPECT_EQ(list.Find("/mnt/a/x/sp ace\n\xff/"), odd);
  EXPECT_EQ(list.Find("/mnt/a/x/sp ace\n\xff/x/"), list.Item(5));
  folder(root, "x");  // a second "x" under root cannot hide the first
  EXPECT_EQ(list.Find("/mnt/a/x/"), x);
  EXPECT_EQ(list.Find("/mnt/a/y/"), y);
  for (const char* missing : {"/mnt/a/x", "/mnt/a//x/", "/mnt/a/z/", "/mnt/b/", "", "/mnt/a/y/x/"})
    EXPECT_EQ(list.Find(missing), nullptr) << missing;

  std::vector<std::string> walked;
  list.ForEachWithPath([&](const DiskObject& f, const std::string& path) {
    EXPECT_EQ(path, f.Path());
    walked.push_back(path);
  });
  EXPECT_EQ(walked,
            (std::vector<std::string>{"/mnt/a/", "/mnt/a/x/", "/mnt/a/x/sp ace\n\xff/", "/mnt/a/y/",
                                      "/mnt/a/x/sp ace\n\xff/x/", "/mnt/a/x/"}));
  list.Clear();
  EXPECT_EQ(list.Find("/mnt/a/"), nullptr);
}

}  // namespace
}  // namespace kestrum
