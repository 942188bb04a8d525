#include "core/commands/folder_scan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "core/commands/command_recorder.h"
#include "core/commands/disk_loader.h"
#include "core/tree/discovery.h"
#include "core/tree/folder_entries.h"
#include "core/scan/scanning.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

class Drives : public DriveSource {
 public:
  bool IsReady(const std::string&) const override { return true; }
  std::int32_t AllocUnit(const std::string&) const override { return 4096; }
  void Space(const std::string&, double& total, double& free, const MessageSink&) const override {
    total = 1e9;
    free = 4e8;
  }
};

// Two volumes from a mount table of the test's own: "vol" (ext4) and "ram" (tmpfs); the
// folders to scan live inside "vol".
struct FolderScanTest : ::testing::Test {
  test::TempDir dir;
  test::CommandRecorder view;
  CommandSlot slot{view.queue};
  CExplorer explorer;
  std::unique_ptr<FileSystemService> fs;
  std::unique_ptr<DiskCollection> disks;
  std::vector<std::string> entries;
  std::string vol, ram, proj, other;
  void SetUp() override {
    vol = dir.Mkdir("vol");
    ram = dir.Mkdir("ram");
    proj = dir.Mkdir("vol/proj");
    dir.Write("vol/proj/a.bin", std::string(5000, 'x'));
    dir.Write("vol/proj/sub/b.bin", "12345");
    dir.Write("vol/proj/sub/deeper/c.bin", "");
    other = dir.Mkdir("vol/other");
    dir.Write("vol/other/z", "zz");
    const std::string table = dir.Write("mountinfo", "1 0 8:1 / " + vol +
                                                         " rw - ext4 /dev/sdz1 rw\n"
                                                         "2 0 0:9 / " +
                                                         ram + " rw - tmpfs tmpfs rw\n");
    fs = test::VolumesFromTable(table, dir.Path());
    view.explorer = &explorer;
    Scanning = false;
    Discover();
  }
  // What discovery does: the model of "My Computer", its volumes and the folder entries,
  // and a tree node for each.
  void Discover() {
    explorer.Init(nullptr);
    disks = DiscoverDrives(
        *fs, [](const std::string&) {}, entries);
    DiskObject* root = disks->Item(1);
    root->Node = explorer.AddNode(root->Label(), root, true);
    for (std::size_t i = 2; i <= disks->Count(); ++i) {
      DiskObject* d = disks->Item(i);
      d->Node = explorer.AddNode(d->Label(), d, d->Children, root->Node, std::nullopt, std::nullopt,
                                 true);
    }
  }
  FolderScanPlan Plan(const std::vector<std::string>& given) {
    return PlanFolderScan(*disks, *fs, explorer, entries, given);
  }
  void TearDown() override { Scanning = false; }
  std::vector<std::string> RootTexts() {
    std::vector<std::string> out;
    const CExplorer& ex = explorer;
    for (NodeId k : ex.Node(ex.FirstNode())->Kids) out.push_back(ex.Node(k)->Text);
    return out;
  }
};

TEST_F(FolderScanTest, EntriesComeAfterTheVolumesWithTheirVolumesFacts) {
  const auto plan = Plan({proj, dir.Path() + "/missing", dir.Path() + "/mountinfo"});
  ASSERT_EQ(plan.Targets.size(), 1u);
  DiskObject* e = plan.Targets[0];
  EXPECT_EQ(e->Class, ObjectClass::Drive);
  EXPECT_TRUE(e->Drive().FolderEntry);
  EXPECT_EQ(e->OwnPath(), proj);
  EXPECT_EQ(e->Name, "proj");
  EXPECT_EQ(e->Label(), "proj (" + proj + ")");
  EXPECT_EQ(e->Drive().RootFolder, proj + "/");
  EXPECT_EQ(e->SubClass(), "Fixed");
  EXPECT_EQ(e->Drive().FileSystem, "ext4");
  EXPECT_GT(e->Drive().DeviceSize, 0);
  EXPECT_EQ(e->Parent, disks->Item(1));
  EXPECT_EQ(disks->Item(4), e);
  EXPECT_EQ(RootTexts(),
            (std::vector<std::string>{"(" + vol + ")", "(" + ram + ")", "proj (" + proj + ")"}));
  EXPECT_EQ(entries, std::vector<std::string>{proj});
  ASSERT_EQ(plan.Messages.size(), 2u);
  EXPECT_EQ(plan.Messages[0],
            "Cannot scan \"" + dir.Path() + "/missing\": there is no such folder.");
  EXPECT_EQ(plan.Messages[1], "Cannot scan \"" + dir.Path() + "/mountinfo\": it is not a folder.");
  EXPECT_EQ(JoinMessages(plan.Messages), plan.Messages[0] + "\n" + plan.Messages[1]);
}

TEST_F(FolderScanTest, LinksResolvedOnceKnownEntriesAndVolumesAreNotAddedAgain) {
  const std::string link = dir.Path() + "/link-to-proj";
  ASSERT_EQ(::symlink(proj.c_str(), link.c_str()), 0);
  auto plan = Plan({link, proj + "/", proj + "/sub/..", vol});
  // One entry for the three spellings of proj, and the volume itself for its mount point.
  ASSERT_EQ(plan.Targets.size(), 2u);
  EXPECT_EQ(plan.Targets[0]->OwnPath(), proj);
  EXPECT_EQ(plan.Targets[1]->OwnPath(), vol);
  EXPECT_FALSE(plan.Targets[1]->Drive().FolderEntry);
  EXPECT_EQ(disks->Count(), 4u);
  // Given again later: scanned again, not added twice.
  plan = Plan({proj});
  ASSERT_EQ(plan.Targets.size(), 1u);
  EXPECT_EQ(disks->Count(), 4u);
  EXPECT_EQ(RootTexts().size(), 3u);
}

TEST_F(FolderScanTest, RediscoveryAddsEntriesAgainUnscanned) {
  Plan({proj, other});
  Discover();
  EXPECT_EQ(RootTexts(),
            (std::vector<std::string>{"(" + vol + ")", "(" + ram + ")", "proj (" + proj + ")",
                                      "other (" + other + ")"}));
  DiskObject* e = disks->Item(4);
  EXPECT_TRUE(e->Drive().FolderEntry);
  EXPECT_EQ(e->DiskObjectsIfAny(), nullptr);
  EXPECT_EQ(explorer.ChildCount(e->Node), 1);  // the placeholder of an unscanned drive

  // A folder that went away is still listed, as an entry that is not ready.
  ASSERT_EQ(std::system(("rm -rf '" + other + "'").c_str()), 0);
  Discover();
  DiskObject* gone = disks->Item(5);
  EXPECT_EQ(gone->OwnPath(), other);
  EXPECT_FALSE(gone->Children);
  EXPECT_EQ(gone->Drive().DeviceSize, 0);
}

TEST_F(FolderScanTest, FoldersAreScannedAsOneCommandAndTheFirstIsShown) {
  const auto plan = Plan({proj, other});
  Drives drives;
  DiskLoader loader(view, explorer, drives, slot);
  ASSERT_TRUE(loader.LoadFolders(plan.Targets, false));
  EXPECT_FALSE(loader.LoadFolders(plan.Targets, false));  // refused while busy
  view.Pump(slot);
  DiskObject* e = plan.Targets[0];
  EXPECT_EQ(e->UsedSpace, 5005);              // 5000 + 5 + 0 bytes
  EXPECT_EQ(e->AllocatedSpace, 8192 + 4096);  // 5000 and 5 bytes in 4096-byte units
  ASSERT_NE(e->DiskObjectsIfAny(), nullptr);
  EXPECT_EQ(e->DiskObjects().Count(), 3u);  // proj, sub, deeper
  EXPECT_EQ(e->DiskObjects().Item(1)->FileCount, 3);
  EXPECT_EQ(plan.Targets[1]->UsedSpace, 2);
  ASSERT_EQ(view.shown.size(), 1u);
  EXPECT_EQ(view.shown[0], e->Node);
  EXPECT_EQ(explorer.SelectedItem(), e->Node);
  EXPECT_FALSE(Scanning);

  // "My Computer" scans the entries with the volumes and then shows the root again.
  view.shown.clear();
  ASSERT_TRUE(loader.LoadDisk(disks->Item(1), *disks, false));
  view.Pump(slot);
  EXPECT_EQ(view.shown, std::vector<NodeId>{explorer.FirstNode()});
  EXPECT_EQ(plan.Targets[1]->UsedSpace, 2);
  EXPECT_EQ(disks->Item(2)->UsedSpace, 5005 + 2);  // the volume holds both
}

TEST_F(FolderScanTest, StopEndsTheWholeCommand) {
  const auto plan = Plan({proj, other});
  Drives drives;
  DiskLoader loader(view, explorer, drives, slot);
  loader.AfterFolder = [](const DiskObject&) { Scanning = false; };
  ASSERT_TRUE(loader.LoadFolders(plan.Targets, false));
  view.Pump(slot);
  EXPECT_LT(plan.Targets[0]->UsedSpace, 5005);              // stopped after its first folder
  EXPECT_EQ(plan.Targets[1]->DiskObjectsIfAny(), nullptr);  // never started
  EXPECT_EQ(view.shown, std::vector<NodeId>{plan.Targets[0]->Node});
}

// Each completed scan is kept in the history, a stopped one not; a history that cannot be
// written costs the final status line, not the scan.
TEST_F(FolderScanTest, CompletedScansAreKeptInTheHistory) {
  const auto plan = Plan({proj, other});
  Drives drives;
  DiskLoader loader(view, explorer, drives, slot);
  auto history = std::make_shared<const ScanHistory>(dir.Path() + "/data/history");
  loader.History = history;
  struct stat st {};
  ASSERT_EQ(::stat(proj.c_str(), &st), 0);
  const HistoryRoot root{proj, FileSystemUuid(st.st_dev)};
  ASSERT_TRUE(loader.LoadFolders(plan.Targets, false));
  view.Pump(slot);
  EXPECT_EQ(history->List(root).size(), 1u);
  EXPECT_EQ(view.Statuses().back(), "Done");

  loader.AfterFolder = [](const DiskObject&) { Scanning = false; };
  ASSERT_TRUE(loader.LoadFolders(plan.Targets, false));
  view.Pump(slot);
  EXPECT_EQ(history->List(root).size(), 1u);

  loader.AfterFolder = nullptr;
  loader.History = std::make_shared<const ScanHistory>(dir.Write("plain", "") + "/history");
  ASSERT_TRUE(loader.LoadFolders(plan.Targets, false));
  view.Pump(slot);
  EXPECT_EQ(plan.Targets[0]->UsedSpace, 5005);
  EXPECT_EQ(view.Statuses().back().rfind("The scan was not kept in the history: cannot make ", 0), 0u)
      << view.Statuses().back();
}

TEST(FolderEntries, VolumeHoldingAndLastName) {
  std::vector<DriveInfo> d(4);
  d[0].Path = "/";
  d[1].Path = "/home";
  d[2].Path = "/home/u/mnt";
  d[3].Path = "/ho";
  for (auto& x : d) x.IsReady = true;
  EXPECT_EQ(VolumeHolding(d, "/home/u/p")->Path, "/home");
  EXPECT_EQ(VolumeHolding(d, "/home/u/mnt")->Path, "/home/u/mnt");
  EXPECT_EQ(VolumeHolding(d, "/home/u/mntx")->Path, "/home");
  EXPECT_EQ(VolumeHolding(d, "/hox")->Path, "/");
  d[1].IsReady = false;
  EXPECT_EQ(VolumeHolding(d, "/home/u/p")->Path, "/");
  EXPECT_EQ(VolumeHolding({}, "/x"), nullptr);
  EXPECT_EQ(LastName("/home/u/project"), "project");
  EXPECT_EQ(LastName("/home/u/project/"), "project");
  EXPECT_EQ(LastName("/"), "/");
}

TEST(FolderEntries, UnusableArgumentsNameThemselves) {
  test::TempDir dir;
  const std::string locked = dir.Mkdir("locked");
  const auto a = ResolveFolderArgument("", {});
  EXPECT_EQ(a.What, FolderArgument::Unusable);
  EXPECT_EQ(ResolveFolderArgument(std::string("a\0b", 3), {}).What, FolderArgument::Unusable);
  const auto nested = ResolveFolderArgument(dir.Write("f", "x") + "/below", {});
  EXPECT_EQ(nested.Message, "Cannot scan \"" + dir.Path() + "/f/below\": it is not a folder.");
  const std::string odd = dir.Mkdir("with \"quotes\"\nand newline");
  const auto ok = ResolveFolderArgument(odd, {});
  EXPECT_EQ(ok.What, FolderArgument::Entry);
  EXPECT_EQ(ok.Path, odd);
  EXPECT_EQ(ResolveFolderArgument(locked, {locked}).What, FolderArgument::Volume);
}

}  // namespace
}  // namespace kestrum
