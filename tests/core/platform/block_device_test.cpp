// The spinning-disk hint, looked up in made-up sysfs trees laid out as the kernel lays them
// out: /sys/dev/block/MAJ:MIN links into the device tree, partitions inside their disk's
// folder, stacked devices pointing at what is under them through "slaves".
#include "core/platform/block_device.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string>

#include "support/test_support.h"

namespace kestrum {
namespace {

class FakeSysfs {
 public:
  const std::string& Root() const { return dir_.Path(); }
  // A whole disk under devices/, with its flag ("" for none).
  void Disk(const std::string& where, const std::string& flag) {
    dir_.Mkdir(where);
    if (!flag.empty()) dir_.Write(where + "/queue/rotational", flag + "\n");
  }
  void Partition(const std::string& where) {
    dir_.Mkdir(where);
    dir_.Write(where + "/partition", "1\n");
  }
  // dev/block/MAJ:MIN and slaves/NAME are relative links, as in sysfs.
  void Number(const std::string& majMin, const std::string& where) {
    dir_.Mkdir("dev/block");
    Link("../../" + where, "dev/block/" + majMin);
  }
  void Slave(const std::string& device, const std::string& below) {
    dir_.Mkdir(device + "/slaves");
    const std::string name = below.substr(below.rfind('/') + 1);
    std::string up;
    for (char c : device + "/slaves")
      if (c == '/') up += "../";
    Link("../" + up + below, device + "/slaves/" + name);
  }

 private:
  void Link(const std::string& target, const std::string& at) {
    ASSERT_EQ(::symlink(target.c_str(), (dir_.Path() + "/" + at).c_str()), 0) << at;
  }
  test::TempDir dir_;
};

TEST(BlockDevice, DisksAndPartitions) {
  FakeSysfs s;
  s.Disk("devices/pci0/block/sda", "1");
  s.Partition("devices/pci0/block/sda/sda2");
  s.Disk("devices/pci0/block/nvme0n1", "0");
  s.Partition("devices/pci0/block/nvme0n1/nvme0n1p1");
  s.Number("8:0", "devices/pci0/block/sda");
  s.Number("8:2", "devices/pci0/block/sda/sda2");
  s.Number("259:1", "devices/pci0/block/nvme0n1/nvme0n1p1");
  EXPECT_EQ(DeviceIsRotational(makedev(8, 0), s.Root()), true);
  // A partition has no queue of its own: its disk answers.
  EXPECT_EQ(DeviceIsRotational(makedev(8, 2), s.Root()), true);
  EXPECT_EQ(DeviceIsRotational(makedev(259, 1), s.Root()), false);
}

TEST(BlockDevice, StackedDevicesAnswerForWhatIsUnderThem) {
  FakeSysfs s;
  s.Disk("devices/pci0/block/sda", "1");
  s.Partition("devices/pci0/block/sda/sda3");
  s.Disk("devices/pci0/block/nvme0n1", "0");
  s.Partition("devices/pci0/block/nvme0n1/nvme0n1p2");
  // An encrypted volume (dm-1) on a logical volume (dm-0) on a disk partition: device-mapper
  // devices claim not to spin whatever is under them.
  s.Disk("devices/virtual/block/dm-0", "0");
  s.Slave("devices/virtual/block/dm-0", "devices/pci0/block/sda/sda3");
  s.Disk("devices/virtual/block/dm-1", "0");
  s.Slave("devices/virtual/block/dm-1", "devices/virtual/block/dm-0");
  s.Number("253:1", "devices/virtual/block/dm-1");
  EXPECT_EQ(DeviceIsRotational(makedev(253, 1), s.Root()), true);
  // A volume over a spinning and a solid device seeks: one spinning disk is enough.
  s.Disk("devices/virtual/block/dm-2", "0");
  s.Slave("devices/virtual/block/dm-2", "devices/pci0/block/nvme0n1/nvme0n1p2");
  s.Slave("devices/virtual/block/dm-2", "devices/pci0/block/sda/sda3");
  s.Number("253:2", "devices/virtual/block/dm-2");
  EXPECT_EQ(DeviceIsRotational(makedev(253, 2), s.Root()), true);
  // Over solid devices only, it does not.
  s.Disk("devices/virtual/block/md0", "1");
  s.Slave("devices/virtual/block/md0", "devices/pci0/block/nvme0n1/nvme0n1p2");
  s.Number("9:0", "devices/virtual/block/md0");
  EXPECT_EQ(DeviceIsRotational(makedev(9, 0), s.Root()), false);
}

TEST(BlockDevice, WhatSysfsCannotSayIsUnknown) {
  FakeSysfs s;
  s.Disk("devices/pci0/block/sdb", "");  // no flag
  s.Number("8:16", "devices/pci0/block/sdb");
  s.Disk("devices/pci0/block/sdc", "maybe");  // garbled flag
  s.Number("8:32", "devices/pci0/block/sdc");
  s.Number("8:48", "devices/pci0/block/gone");  // dangling link
  EXPECT_EQ(DeviceIsRotational(makedev(8, 16), s.Root()), std::nullopt);
  EXPECT_EQ(DeviceIsRotational(makedev(8, 32), s.Root()), std::nullopt);
  EXPECT_EQ(DeviceIsRotational(makedev(8, 48), s.Root()), std::nullopt);
  EXPECT_EQ(DeviceIsRotational(makedev(8, 64), s.Root()), std::nullopt);  // not listed
  // Anonymous devices (tmpfs, overlay) have no block device.
  EXPECT_EQ(DeviceIsRotational(makedev(0, 42), s.Root()), std::nullopt);
  // Stacked devices whose lower devices say nothing fall back on their own flag; a stack that
  // points at itself ends.
  s.Disk("devices/virtual/block/dm-5", "0");
  s.Slave("devices/virtual/block/dm-5", "devices/pci0/block/sdb");
  s.Number("253:5", "devices/virtual/block/dm-5");
  EXPECT_EQ(DeviceIsRotational(makedev(253, 5), s.Root()), false);
  s.Disk("devices/virtual/block/dm-6", "");
  s.Slave("devices/virtual/block/dm-6", "devices/virtual/block/dm-6");
  s.Number("253:6", "devices/virtual/block/dm-6");
  EXPECT_EQ(DeviceIsRotational(makedev(253, 6), s.Root()), std::nullopt);
  // This machine's own root answers something or nothing, without failing.
  struct stat st {};
  ASSERT_EQ(::stat("/", &st), 0);
  (void)DeviceIsRotational(st.st_dev);
}

}  // namespace
}  // namespace kestrum
