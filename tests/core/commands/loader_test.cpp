#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "core/commands/attach_scan.h"
#include "core/commands/command_recorder.h"
#include "core/commands/disk_loader.h"
#include "core/scan/scanning.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::TempDir;

class FakeDrives : public DriveSource {
 public:
  std::set<std::string> ready;
  bool IsReady(const std::string& p) const override { return ready.count(p) > 0; }
  std::int32_t AllocUnit(const std::string&) const override { return 4096; }
  void Space(const std::string&, double& total, double& free, const MessageSink&) const override {
    total = 1e9;
    free = 4e8;
  }
};

struct World {
  TempDir a, b;
  std::unique_ptr<DiskCollection> disks = std::make_unique<DiskCollection>();
  CExplorer explorer;
  test::CommandRecorder window;
  CommandSlot slot{window.queue};
  FakeDrives drives;
  DiskObject* root;
  DiskObject* driveA;
  DiskObject* driveB;

  DiskObject* Add(ObjectClass cls, const std::string& path, std::optional<int> type) {
    auto d = std::make_unique<DiskObject>();
    d->Class = cls;
    d->SetPath(path);
    d->SetSubClass(type);
    d->DriveForChange().RootFolder = cls == ObjectClass::Drive ? path + "/" : "";
    DiskObject* p = disks->Add(std::move(d));
    p->Node = explorer.AddNode(p->Label(), ItemValue(p), true,
                               cls == ObjectClass::Root ? kNoNode : root->Node);
    return p;
  }
  World() {
    a.Write("f1", std::string(5000, 'x'));
    a.Write("s/f2", "12");
    b.Write("g", "123");
    root = Add(ObjectClass::Root, "My Computer", std::nullopt);
    driveA = Add(ObjectClass::Drive, a.Path(), kDriveFixed);
    driveB = Add(ObjectClass::Drive, b.Path(), kDriveCdRom);
    drives.ready = {a.Path(), b.Path()};
  }
  int ChildNodes(const DiskObject* d) const { return explorer.ChildCount(d->Node); }
};

TEST(DiskLoader, ScansOneDriveAndAttachesIt) {
  World w;
  DiskLoader loader(w.window, w.explorer, w.drives, w.slot);
  ASSERT_TRUE(loader.LoadDisk(w.driveA, *w.disks, false));
  EXPECT_TRUE(loader.Busy());
  EXPECT_FALSE(loader.LoadDisk(w.driveA, *w.disks, false));  // refused while busy
  w.window.Pump(w.slot);
  const std::vector<std::string> want = {"clearlist",
                                         "tree:off",
                                         "pathlabel",
                                         "timer:on",
                                         "status:Scanning disk (" + w.a.Path() + ")...",
                                         "status:Summarizing disk space...",
                                         "timer:off",
                                         "status:Done",
                                         "tree:on",
                                         "showroot"};
  EXPECT_EQ(w.window.calls, want);
  EXPECT_FALSE(Scanning);
  EXPECT_EQ(w.driveA->UsedSpace, 5002);
  EXPECT_EQ(w.driveA->AllocatedSpace, 8192 + 4096);
  EXPECT_EQ(w.driveA->Drive().DeviceSize, 1e9);
  ASSERT_EQ(w.driveA->DiskObjects().Count(), 2u);
  // The drive node holds the root folder's node only; expanded, that holds the subfolder and
  // the largest-files folder, sorted by text. Until then it has the placeholder alone.
  ASSERT_EQ(w.ChildNodes(w.driveA), 1);
  const DiskObject* rf = w.driveA->DiskObjects().Item(1);
  EXPECT_EQ(rf->Parent, w.driveA);
  EXPECT_EQ(w.explorer.ChildCount(rf->Node), 1);
  w.explorer.TV_Expand(rf->Node);
  ASSERT_EQ(w.explorer.ChildCount(rf->Node), 2);
  EXPECT_EQ(w.explorer.Node(w.explorer.Node(rf->Node)->Kids[0])->Text, "100 Largest Files");
  EXPECT_EQ(w.explorer.Node(w.explorer.Node(rf->Node)->Kids[1])->Text, "s");
  EXPECT_EQ(w.explorer.SelectedItem(), w.root->Node);
  EXPECT_EQ(loader.ProgressLine(), "(" + w.a.Path() + ") folders scanned: 2 for 2 files");

  // A rescan replaces the earlier subtree instead of adding a second one.
  const std::size_t nodes = w.explorer.NodeCount();
  w.a.Write("s/t/f3", "1");
  ASSERT_TRUE(loader.LoadDisk(w.driveA, *w.disks, false));
  w.window.Pump(w.slot);
  EXPECT_EQ(w.ChildNodes(w.driveA), 1);
  // The new root folder's node with its placeholder, for the old one with its two children.
  EXPECT_EQ(w.explorer.NodeCount(), nodes - 1);
  EXPECT_EQ(w.driveA->UsedSpace, 5003);
  EXPECT_EQ(w.driveA->LargestFiles().Item(1)->key, "K1");  // the counter starts again
}

TEST(DiskLoader, AllDrivesAndTheCdRule) {
  World w;
  DiskLoader loader(w.window, w.explorer, w.drives, w.slot);
  w.driveB->UsedSpace = 77;
  ASSERT_TRUE(loader.LoadDisk(w.root, *w.disks, false));
  w.window.Pump(w.slot);
  EXPECT_EQ(w.driveA->UsedSpace, 5002);
  EXPECT_EQ(w.driveB->UsedSpace, 0);  // CD-ROM left out: fresh capacity, zero totals
  EXPECT_EQ(w.driveB->Drive().DeviceSize, 1e9);
  EXPECT_EQ(w.driveB->DiskObjectsIfAny(), nullptr);

  ASSERT_TRUE(loader.LoadDisk(w.root, *w.disks, true));
  w.window.Pump(w.slot);
  EXPECT_EQ(w.driveB->UsedSpace, 3);
  // Keys stay unique across the drives of one command.
  EXPECT_EQ(w.driveA->LargestFiles().Item(1)->key, "K1");
  EXPECT_EQ(w.driveB->LargestFiles().Item(1)->key, "K3");
}

TEST(DiskLoader, NotReadyAndOtherSelections) {
  World w;
  DiskLoader loader(w.window, w.explorer, w.drives, w.slot);
  w.drives.ready.clear();
  ASSERT_TRUE(loader.LoadDisk(w.driveA, *w.disks, false));
  EXPECT_FALSE(loader.Busy());
  EXPECT_EQ(w.window.calls, (std::vector<std::string>{"clearlist", "tree:off",
                                                      "status:Drive not ready...", "tree:on"}));
  EXPECT_FALSE(Scanning);

  // Every drive not ready: nothing scanned, the final steps still run.
  w.window.calls.clear();
  ASSERT_TRUE(loader.LoadDisk(w.root, *w.disks, true));
  w.window.Pump(w.slot);
  EXPECT_TRUE(w.window.Has("status:Done"));
  EXPECT_EQ(w.driveA->DiskObjectsIfAny(), nullptr);
}

TEST(DiskLoader, StopKeepsPartialSummarisedResultAndSkipsLaterDrives) {
  World w;
  for (int i = 0; i < 20; ++i) w.a.Write("d" + std::to_string(i) + "/f", "1");
  DiskLoader loader(w.window, w.explorer, w.drives, w.slot);
  int seen = 0;
  loader.AfterFolder = [&](const DiskObject&) {
    if (++seen == 5) loader.Stop();
  };
  ASSERT_TRUE(loader.LoadDisk(w.root, *w.disks, true));
  w.window.Pump(w.slot);
  EXPECT_EQ(w.driveA->DiskObjects().Count(), 5u);
  EXPECT_EQ(w.driveA->UsedSpace, w.driveA->DiskObjects().Item(1)->UsedSpace);
  EXPECT_TRUE(w.driveA->Drive().Folder100);
  EXPECT_EQ(w.driveB->DiskObjectsIfAny(), nullptr);  // never started
  EXPECT_TRUE(w.window.Has("status:Done"));
}

TEST(DiskLoader, DestroyedMidScanStopsAndJoins) {
  World w;
  for (int i = 0; i < 50; ++i) w.a.Mkdir("d" + std::to_string(i));
  {
    DiskLoader loader(w.window, w.explorer, w.drives, w.slot);
    loader.AfterFolder = [](const DiskObject&) { std::this_thread::yield(); };
    ASSERT_TRUE(loader.LoadDisk(w.driveA, *w.disks, false));
  }
  EXPECT_FALSE(Scanning);
}

TEST(ProgressText, Format) {
  EXPECT_EQ(ProgressText("Data (/mnt/d)", 12, 345),
            "Data (/mnt/d) folders scanned: 12 for 345 files");
}

}  // namespace
}  // namespace kestrum
